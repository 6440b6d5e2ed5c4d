#include "toolbox/shared_dlls.h"

#include "tessel/log/log.h"
#include "tessel/lower_case.h"
#include "tessel/registry2/key.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <set>
#include <vector>

namespace {

const wchar_t shared_dlls_key[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

// The counter as the signed number installers mean it.
int counter(const tessel::registry2::key& key, const std::wstring& name)
{
    return static_cast<int>(key.read_dword(name));
}

// A counter another program stored as text or binary is still the counter of
// the file it names: it is listed as such and then set or removed like the
// others, so that it does not keep the following ones from being handled.
std::optional<int> counter_if_number(const tessel::registry2::key& key, const std::wstring& name)
{
    try {
        return counter(key, name);
    } catch (const tessel::registry2::type_mismatch&) {
        return std::nullopt;
    }
}

} // namespace

void set_shared_dll_counters(const std::wstring& pattern, int count)
{
    // The 32-bit view, which 32-bit installers count in, whatever view the
    // calling process has.
    const tessel::registry2::key shared_dlls = tessel::registry2::key(HKEY_LOCAL_MACHINE)
                                                   .open(shared_dlls_key, false, tessel::registry2::view::view_32);

    const std::wstring wanted = tessel::lower_ascii(pattern);
    std::set<std::wstring> names; // as the calls below see them
    for (const std::wstring& name : shared_dlls.value_names())
        names.insert(tessel::registry2::up_to_first_nul(name));
    std::vector<std::wstring> selected;
    for (const std::wstring& name : names)
        if (tessel::lower_ascii(name).find(wanted) != std::wstring::npos)
            selected.push_back(name);

    tessel::log::info(L"Counters for %ls pattern in SharedDLLs key:", pattern.c_str());
    for (const std::wstring& name : selected) {
        if (const std::optional<int> current = counter_if_number(shared_dlls, name))
            tessel::log::info(L"   %ls - %d", name.c_str(), *current);
        else
            tessel::log::info(L"   %ls - not a number", name.c_str());
    }

    for (const std::wstring& name : selected) {
        const std::optional<int> current = counter_if_number(shared_dlls, name);
        // No file is used by a negative number of programs: such a count
        // removes the counter like 0 does.
        if (count <= 0) {
            shared_dlls.remove_value(name);
            tessel::log::info(L"Removed registry value %ls", name.c_str());
        } else if (current != count) {
            shared_dlls.write_dword(name, static_cast<std::uint32_t>(count));
            tessel::log::info(L"%ls is set to %d", name.c_str(), count);
        }
    }
}

void decrement_shared_dll_counters(const std::set<std::wstring>& files, tessel::registry2::key shared_dlls)
{
    for (const std::wstring& file : files) {
        try {
            tessel::registry2::key key(shared_dlls);
            const int current = counter(key, file);
            // A counter that already holds 0 or less has no user left either.
            if (current <= 1) {
                key.remove_value(file);
                tessel::log::info(L"  %ls", file.c_str());
            } else {
                key.write_dword(file, static_cast<std::uint32_t>(current - 1));
                tessel::log::info(L"  %ls      is decremented to %d", file.c_str(), current - 1);
            }
        } catch (...) {
            // No counter for this file, or one that cannot be changed: the
            // others still are.
        }
    }
}
