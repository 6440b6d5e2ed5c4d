#include "installer_db/cleaner_common.h"

#include "tessel/log/log.h"
#include "tessel/registry2/key.h"
#include "toolbox/shared_dlls.h"

#include <optional>
#include <set>
#include <utility>

namespace installer_db_detail {

const wchar_t long_rule[] = L"==================================================";
const wchar_t short_rule[] = L"=================================================";

bool is_packed_code(const std::wstring& name)
{
    if (name.size() != 32)
        return false;
    for (wchar_t c : name)
        if (!((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f')))
            return false;
    return true;
}

void log_section(const wchar_t* title, const wchar_t* rule)
{
    tessel::log::info(L"");
    tessel::log::info(title);
    tessel::log::info(rule);
}

std::wstring file_path_of(std::wstring key_path)
{
    if (key_path.size() >= 2 && key_path[1] == L'?')
        key_path[1] = L':';
    return key_path;
}

namespace {

std::optional<tessel::registry2::key> open_shared_dlls()
{
    try {
        return tessel::registry2::key(HKEY_LOCAL_MACHINE)
            .open(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls", false);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

// The subkeys are deleted by enumerating from an index that starts at 0. Each
// subkey is attempted once: one that is still there afterwards (it could not
// be opened or deleted) is given up, and the index moves past it, so the walk
// always ends. What is given up stays, with the key above it, whose own
// deletion then fails.
LONG delete_tree(HKEY parent, const std::wstring& name, tessel::registry2::view in)
{
    LONG first_failure = ERROR_SUCCESS;
    {
        LONG status = ERROR_SUCCESS;
        const tessel::unique_hkey key =
            tessel::registry2::open_subkey(parent, name, KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, in, &status);
        if (!key)
            return status;
        std::set<std::wstring> attempted;
        wchar_t child[300];
        for (DWORD index = 0;;) {
            DWORD length = 300;
            if (RegEnumKeyExW(key.get(), index, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            std::wstring subkey(child, length);
            if (!attempted.insert(subkey).second) {
                ++index;  // still there after its attempt: given up
                continue;
            }
            const LONG result = delete_tree(key.get(), subkey, in);
            if (result != ERROR_SUCCESS && first_failure == ERROR_SUCCESS)
                first_failure = result;
        }
    }
    const LONG result = tessel::registry2::delete_subkey(parent, name, in);
    return first_failure != ERROR_SUCCESS ? first_failure : result;
}

void decrement_key_file_counters(const std::set<std::wstring>& key_files)
{
    std::optional<tessel::registry2::key> shared_dlls = open_shared_dlls();
    if (shared_dlls)
        decrement_shared_dll_counters(key_files, std::move(*shared_dlls));
}

} // namespace installer_db_detail
