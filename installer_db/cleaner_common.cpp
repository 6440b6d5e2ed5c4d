#include "installer_db/cleaner_common.h"

#include "tessel/log/log.h"
#include "tessel/registry2/key.h"
#include "toolbox/registry_cleaning.h"
#include "toolbox/shared_dlls.h"

#include <optional>
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

const wchar_t shared_dlls_path[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

} // namespace

void decrement_key_file_counters(const std::set<std::wstring>& key_files)
{
    std::optional<tessel::registry2::key> shared_dlls = open_or_report(
        tessel::registry2::key(HKEY_LOCAL_MACHINE), shared_dlls_path, L"HKLM\\" + std::wstring(shared_dlls_path));
    if (shared_dlls)
        decrement_shared_dll_counters(key_files, std::move(*shared_dlls));
}

} // namespace installer_db_detail
