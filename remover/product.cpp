#include "remover/product.h"

#include "tessel/log/log.h"
#include "tessel/lower_case.h"
#include "tessel/registry2/key.h"
#include "toolbox/registry_cleaning.h"

#include <windows.h>
#include <optional>
#include <set>

namespace {

const char uninstall_path[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t uninstall_path_wide[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

bool ends_with(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::vector<std::wstring> matching_uninstall_keys(const std::string& product)
{
    std::vector<std::wstring> found;
    std::set<std::wstring> names;
    tessel::registry2::key uninstall(HKEY_LOCAL_MACHINE);
    try {
        uninstall = uninstall.open(std::wstring(uninstall_path_wide), false);
        names = uninstall.subkey_names();
    } catch (const std::exception&) {
        return found;
    }
    const std::string wanted = tessel::lower_ascii(product);
    for (const std::wstring& name : names) {
        try {
            // An entry that is there but cannot be opened is named with its code.
            const std::optional<tessel::registry2::key> entry =
                open_or_report(uninstall, name, L"HKLM\\" + std::wstring(uninstall_path_wide) + L"\\" + name);
            if (!entry)
                continue;
            const std::string display_name = tessel::registry2::up_to_first_nul(entry->read_string("DisplayName"));
            if (tessel::lower_ascii(display_name) != wanted)
                continue;
        } catch (const std::exception&) {
            continue; // no readable display name: not ours
        }
        // A wide line: a key name need not fit the code page.
        tessel::log::info(L". Product information is found in the key HKLM\\%ls\\%ls", uninstall_path_wide, name.c_str());
        found.push_back(name);
    }
    return found;
}

// Reads one value of an Uninstall entry; empty optional-like result on failure.
bool read_entry_value(const std::wstring& entry, const char* value, std::string& out)
{
    try {
        tessel::registry2::key uninstall(HKEY_LOCAL_MACHINE);
        out = tessel::registry2::up_to_first_nul(
            uninstall.open(std::wstring(uninstall_path_wide) + L"\\" + entry, false).read_string(value));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

bool find_product_info(ProductInfo& info)
{
    tessel::log::info("**** Search %s info ****", info.product_name.c_str());
    tessel::log::info("");

    info.uninstall_keys = matching_uninstall_keys(info.product_name);
    for (const std::wstring& entry : info.uninstall_keys) {
        bool version_found = true;
        if (read_entry_value(entry, "DisplayVersion", info.version_text)) {
            tessel::log::info(". Product version: '%s'", info.version_text.c_str());
            info.version = parse_product_version(info.version_text);
            if (info.version < 0) {
                tessel::log::info("The version '%s' has strange format, expected 9.9.99 or 9.9.9",
                                  info.version_text.c_str());
                info.version = 0;
            }
        } else {
            tessel::log::info(L"ATTENTION: could not find DisplayVersion in '%ls' !", entry.c_str());
            version_found = false;
        }
        if (read_entry_value(entry, "InstallLocation", info.install_dir)) {
            tessel::log::info(". Installation directory: '%s'", info.install_dir.c_str());
            if (version_found)
                break;
        } else {
            tessel::log::info(L"ATTENTION: could not find InstallLocation in '%ls' !", entry.c_str());
        }
    }
    if (info.uninstall_keys.empty())
        tessel::log::info("ATTENTION: could not find keys about '%s' in 'HKLM\\%s' !", info.product_name.c_str(),
                          uninstall_path);
    return !info.version_text.empty() && !info.install_dir.empty();
}

std::string fixed_install_dir(const std::string& install_dir, const std::string& product,
                              const std::string& default_dir)
{
    if (install_dir.empty())
        return default_dir;
    // A location written without its trailing backslash names the same folder.
    std::string dir = ends_with(install_dir, "\\") ? install_dir : install_dir + "\\";
    if (!ends_with(dir, product + "\\"))
        dir += product + "\\";
    return dir;
}
