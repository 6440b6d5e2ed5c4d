#include "toolbox/registry_cleaning.h"

#include "toolbox/environment.h"
#include "family/names.h"
#include "tessel/log/log.h"
#include "tessel/registry2/key.h"

#include <optional>

namespace {

const wchar_t run_key[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t uninstall_key[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The one autorun value that lives in the current user's Run key.
const std::wstring current_user_autorun = family::sibling_names().third_product_autorun;

void report_open_failure(const std::wstring& shown, long code)
{
    tessel::log::info(L"! ERROR open key %ls failed: %d", shown.c_str(), int(code));
}

} // namespace

std::optional<tessel::registry2::key> open_or_report(const tessel::registry2::key& parent, const std::wstring& path,
                                                     const std::wstring& shown, tessel::registry2::view in)
{
    try {
        return parent.open_if_present(path, in);
    } catch (const tessel::registry2::generic& e) {
        report_open_failure(shown, e.code());
        return std::nullopt;
    }
}

tessel::unique_hkey open_or_report(HKEY parent, const std::wstring& path, REGSAM access, tessel::registry2::view in,
                                   const std::wstring& shown)
{
    try {
        return tessel::registry2::open_if_present(parent, path, access, in);
    } catch (const tessel::registry2::generic& e) {
        report_open_failure(shown, e.code());
        return {};
    }
}

bool remove_regkey(HKEY root, const std::wstring& parent_path, const std::wstring& subkey, bool recursive)
{
    const std::wstring root_name = registry_root_name(root);
    std::optional<tessel::registry2::key> parent;
    // Only a parent that is not there means there is nothing to remove; one
    // that cannot be opened gets the same line, but the removal failed.
    bool absent = false;
    try {
        parent = tessel::registry2::key(root).open_if_present(parent_path);
        absent = !parent;
    } catch (const std::exception&) {
    }
    if (!parent) {
        tessel::log::info(L"!  Subkey %ls NOT removed as %ls\\%ls not FOUND !", subkey.c_str(), root_name.c_str(),
                          parent_path.c_str());
        return absent;
    }
    try {
        parent->remove_key(subkey, recursive);
        tessel::log::info(L"  Removed regkey '%ls\\%ls\\%ls'", root_name.c_str(), parent_path.c_str(), subkey.c_str());
        return true;
    } catch (const std::exception&) {
        tessel::log::info(L"!  Failed to remove regkey '%ls\\%ls\\%ls' !", root_name.c_str(), parent_path.c_str(),
                          subkey.c_str());
        return false;
    }
}

bool remove_uninstall_entries(const std::vector<std::wstring>& product_codes)
{
    for (const std::wstring& code : product_codes)
        remove_regkey(HKEY_LOCAL_MACHINE, uninstall_key, code, true);
    return !product_codes.empty();
}

bool remove_autorun(const std::wstring& value_name)
{
    tessel::log::info(L"Let's remove autorun of %ls", value_name.c_str());
    const bool current_user = value_name == current_user_autorun;
    const wchar_t* const shown_key = current_user ? L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
                                                  : L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    try {
        tessel::registry2::key(current_user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE)
            .open(run_key, false)
            .remove_value(value_name);
        tessel::log::info(L"%ls\\%ls removed OK", shown_key, value_name.c_str());
        return true;
    } catch (const std::exception&) {
        tessel::log::info(L"Failed to remove %ls\\%ls !", shown_key, value_name.c_str());
        return false;
    }
}

void remove_context_menu(const std::wstring& product_name)
{
    tessel::log::info(L"");
    tessel::log::info(L" Let's remove right-click context menu 'Scan with %ls'", product_name.c_str());
    const std::wstring command = L"scan_with_" + product_name;
    remove_regkey(HKEY_CLASSES_ROOT, L"*\\shell", command, true);
    remove_regkey(HKEY_CLASSES_ROOT, L"Directory\\shell", command, true);
}
