#include "remover/product.h"

#include "tessel/exception.h"
#include "tessel/format.h"
#include "tessel/log/log.h"
#include "tessel/lower_case.h"
#include "tessel/registry2/key.h"
#include "tessel/unicode/unicode.h"

#include <windows.h>
#include <set>

namespace {

ProductProfile loaded_profile = default_product_profile();

const char uninstall_path[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t uninstall_path_wide[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::wstring load_resource_string(int id)
{
    wchar_t text[260] = {};
    if (LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id), text, 260) <= 0)
        throw tessel::exception(tessel::format("resource string %d is not found", id));
    return text;
}

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
            const std::string display_name =
                tessel::registry2::up_to_first_nul(uninstall.open(name, false).read_string("DisplayName"));
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

const wchar_t sibling_upgrade_code[] = L"{9E4D2B71-0C3A-4F85-B6D9-2E17A5C0F348}";

ProductProfile default_product_profile()
{
    return {L"Drummets", L"Pellamore", L"{5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}", L"Ostravel", L"Kessavane"};
}

const ProductProfile& product_profile()
{
    return loaded_profile;
}

void load_product_profile()
{
    try {
        ProductProfile loaded;
        loaded.maker_folder = load_resource_string(2001);
        loaded.product_name = load_resource_string(2002);
        loaded.product_id = load_resource_string(2003);
        loaded.sibling_name = load_resource_string(2004);
        loaded.tools_folder = load_resource_string(2005);
        loaded_profile = loaded;
    } catch (...) {
        // All or nothing: a half-relabelled profile would mix two products.
        loaded_profile = default_product_profile();
    }
}

bool is_default_maker()
{
    return product_profile().maker_folder == L"Drummets";
}

std::string to_narrow_name(const std::wstring& name)
{
    return tessel::unicode::to_narrow(name, 0, false);
}

std::string maker_narrow() { return to_narrow_name(product_profile().maker_folder); }
std::string product_narrow() { return to_narrow_name(product_profile().product_name); }
std::string sibling_narrow() { return to_narrow_name(product_profile().sibling_name); }
std::string tools_narrow() { return to_narrow_name(product_profile().tools_folder); }

std::string launcher_program()
{
    return is_default_maker() ? "DrummetLauncher.exe" : maker_narrow() + "Launcher.exe";
}

std::string suite_name()
{
    return is_default_maker() ? "Suite" : maker_narrow() + " Suite";
}

std::string suite_service_name()
{
    return is_default_maker() ? "Suite Service" : maker_narrow() + " Suite Service";
}

std::string suite_service_program()
{
    return is_default_maker() ? "DrummetSuiteService.exe" : "SuiteService.exe";
}

std::wstring administrator_test_title()
{
    return product_profile().product_name + L" force remover";
}

int parse_product_version(const std::string& s)
{
    const size_t n = s.size();
    if ((n != 5 && n != 6 && n != 7) || s[1] != '.' || s[3] != '.')
        return -1;
    auto d = [&s](size_t i) { return s[i] - '0'; };
    const int head = d(0) * 10000 + d(2) * 1000;
    if (n == 5)
        return head + d(4);
    if (n == 6)
        return head + d(4) * 10 + d(5);
    return head + d(4) * 100 + d(5) * 10 + d(6);
}

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
