#include "installer_db/registration.h"

#include "installer_db/cleaner_common.h"
#include "installer_db/installer_keys.h"
#include "installer_db/packed_guid.h"
#include "installer_db/registry_text.h"
#include "tessel/log/log.h"
#include "tessel/lower_case.h"
#include "tessel/registry2/key.h"
#include "toolbox/environment.h"
#include "toolbox/path_rules.h"
#include "toolbox/registry_cleaning.h"

#include <vector>

using namespace installer_db_detail;
using tessel::unique_hkey;
using tessel::registry2::delete_subkey;
using tessel::registry2::open_subkey;
using tessel::registry2::view;

namespace {

// A packed code as the installer writes it, in upper case.
std::wstring upper_case(std::wstring code)
{
    for (wchar_t& c : code)
        if (c >= L'a' && c <= L'z')
            c = wchar_t(c - L'a' + L'A');
    return code;
}

const wchar_t classes_installer_path[] = L"SOFTWARE\\Classes\\Installer";
const wchar_t machine_installer_path[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer";
const wchar_t uninstall_entries_path[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The names of a key's subkeys, read before anything below it is deleted; the
// enumeration goes by index.
std::vector<std::wstring> subkeys_of(const std::wstring& path, view in)
{
    const unique_hkey key = open_subkey(HKEY_LOCAL_MACHINE, path, read_access, in);
    return key ? subkey_names(key.get(), 300) : std::vector<std::wstring>();
}

bool key_exists(const std::wstring& path, view in)
{
    return bool(open_subkey(HKEY_LOCAL_MACHINE, path, read_access, in));
}

// A string value of the key at path; empty when there is none.
std::wstring string_value(const std::wstring& path, const wchar_t* name, view in)
{
    const unique_hkey key = open_subkey(HKEY_LOCAL_MACHINE, path, read_access, in);
    if (!key)
        return {};
    alignas(wchar_t) BYTE data[2 * 1024];
    DWORD type = 0;
    DWORD length = sizeof data;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, data, &length) != ERROR_SUCCESS || type != REG_SZ)
        return {};
    return text_of(data, length);
}

// Windows Installer's cache of installed packages, "%WINDIR%\Installer\";
// empty when the system does not say where Windows is.
std::wstring installer_cache_folder()
{
    wchar_t windows[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    std::wstring folder(windows, length);
    if (folder.back() != L'\\')
        folder += L'\\';
    return folder + L"Installer\\";
}

// Whether path names an entry directly in folder (which ends with a
// backslash): no further folder, no parent reference, no stream or wildcard.
bool directly_in(const std::wstring& path, const std::wstring& folder)
{
    if (folder.empty() || path.size() <= folder.size() ||
        tessel::lower_ascii(path.substr(0, folder.size())) != tessel::lower_ascii(folder))
        return false;
    return is_plain_name(path.substr(folder.size()));
}

// A product code as the registry names it: packed, upper case; empty when the
// text is neither a packed nor a braced code.
std::wstring packed_product_code(const std::wstring& code)
{
    if (is_packed_code(code))
        return upper_case(code);
    if (is_braced_guid(code))
        return pack_guid(code);
    return {};
}

// The removal of one product's registration, in the installer's view.
class registration_removal
{
public:
    explicit registration_removal(std::wstring packed) : packed_(std::move(packed)), in_(installer_registry_view()) {}

    void run()
    {
        const std::wstring classes = classes_installer_path;
        const std::wstring user_data = user_data_path;
        const std::vector<std::wstring> sids = subkeys_of(user_data, in_);
        const bool registered = is_product_registered(packed_);
        const std::set<std::wstring> packages = cached_packages_of(packed_);

        remove_tree(classes + L"\\Products", packed_, in_);
        remove_tree(classes + L"\\Features", packed_, in_);
        remove_value_in_each(classes + L"\\UpgradeCodes");
        remove_value_in_each(std::wstring(machine_installer_path) + L"\\UpgradeCodes");
        for (const std::wstring& sid : sids) {
            remove_tree(user_data + L"\\" + sid + L"\\Products", packed_, in_);
            remove_value_in_each(user_data + L"\\" + sid + L"\\Components");
        }
        // An entry named by a code the installer never registered is no
        // installer record: it is left to whoever made it.
        if (registered)
            remove_uninstall_entries();
        for (const std::wstring& package : packages)
            if (remove_cached_package(package))
                ++removed_;
        if (removed_ == 0)
            tessel::log::info(L"No Windows Installer registration of %ls found", unpack_guid(packed_).c_str());
    }

private:
    // The key name below parent, with its subtree; shown_parent names parent
    // in the line when its view's own name differs.
    void remove_tree(const std::wstring& parent, const std::wstring& name, view in,
                     const std::wstring& shown_parent = {})
    {
        const unique_hkey key = open_reported(parent, change_access, in, shown_parent);
        if (!key)
            return;
        const LONG result = delete_subkey(key.get(), name, in, tessel::registry2::subtree::attempt_each);
        if (result == ERROR_FILE_NOT_FOUND)
            return;
        const std::wstring path = (shown_parent.empty() ? parent : shown_parent) + L"\\" + name;
        if (result == ERROR_SUCCESS) {
            ++removed_;
            tessel::log::info(L"Removed key HKEY_LOCAL_MACHINE\\%ls", path.c_str());
        } else {
            tessel::log::info(L"! ERROR remove key %ls failed: %d", path.c_str(), int(result));
        }
    }

    // The product's value in each subkey of parent; a subkey left with nothing
    // in it goes too.
    void remove_value_in_each(const std::wstring& parent)
    {
        const unique_hkey keys = open_reported(parent, read_access, in_);
        if (!keys)
            return;
        for (const std::wstring& name : subkeys_of(parent, in_)) {
            const std::wstring path = parent + L"\\" + name;
            const unique_hkey key = open_or_report(keys.get(), name, change_access, in_, L"HKLM\\" + path);
            if (!key)
                continue;
            const LONG result = tessel::registry2::delete_value_status(key.get(), packed_);
            if (result == ERROR_FILE_NOT_FOUND)
                continue;
            if (result != ERROR_SUCCESS) {
                tessel::log::info(L"! ERROR remove value %ls from %ls failed: %d", packed_.c_str(), path.c_str(),
                                  int(result));
                continue;
            }
            ++removed_;
            if (is_empty(key.get()) && delete_subkey(keys.get(), name, in_) == ERROR_SUCCESS)
                tessel::log::info(L"Removed key HKEY_LOCAL_MACHINE\\%ls", path.c_str());
            else
                tessel::log::info(L"Removed value %ls from HKEY_LOCAL_MACHINE\\%ls", packed_.c_str(), path.c_str());
        }
    }

    static bool is_empty(HKEY key)
    {
        DWORD subkeys = 0;
        DWORD values = 0;
        return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                                nullptr, nullptr) == ERROR_SUCCESS &&
               subkeys == 0 && values == 0;
    }

    // Under WOW64 a package's entry may lie in either view; 32-bit installers
    // write theirs in the 32-bit one.
    void remove_uninstall_entries()
    {
        const std::wstring entry = unpack_guid(packed_);
        if (in_ == view::default_view) {
            remove_tree(uninstall_entries_path, entry, view::default_view);
            return;
        }
        remove_tree(uninstall_entries_path, entry, view::view_64);
        remove_tree(uninstall_entries_path, entry, view::view_32,
                    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
    }

    std::wstring packed_;
    view in_;
    int removed_ = 0;
};

} // namespace

std::set<std::wstring> products_of_upgrade_code(const std::wstring& upgrade_code)
{
    std::set<std::wstring> products;
    try {
        const std::wstring packed = pack_guid(upgrade_code);
        if (packed.empty())
            return products;
        const view current = installer_registry_view();
        for (const std::wstring& codes : {std::wstring(classes_installer_path) + L"\\UpgradeCodes\\" + packed,
                                          std::wstring(machine_installer_path) + L"\\UpgradeCodes\\" + packed}) {
            const unique_hkey key = open_subkey(HKEY_LOCAL_MACHINE, codes, read_access, current);
            if (!key)
                continue;
            walk_until_error(tessel::registry2::values(key.get(), 300), [&](const tessel::registry2::value_entry& value) {
                if (value.read && is_packed_code(value.name))
                    products.insert(upper_case(value.name));
            });
        }
    } catch (...) {
        // What was found so far.
    }
    return products;
}

bool is_product_registered(const std::wstring& product_code)
{
    try {
        const std::wstring packed = packed_product_code(product_code);
        if (packed.empty())
            return false;
        const view current = installer_registry_view();
        if (key_exists(std::wstring(classes_installer_path) + L"\\Products\\" + packed, current))
            return true;
        for (const std::wstring& sid : subkeys_of(user_data_path, current))
            if (key_exists(std::wstring(user_data_path) + L"\\" + sid + L"\\Products\\" + packed, current))
                return true;
    } catch (...) {
    }
    return false;
}

std::set<std::wstring> cached_packages_of(const std::wstring& product_code)
{
    std::set<std::wstring> packages;
    try {
        const std::wstring packed = packed_product_code(product_code);
        if (packed.empty())
            return packages;
        const view current = installer_registry_view();
        for (const std::wstring& sid : subkeys_of(user_data_path, current)) {
            const std::wstring package = string_value(std::wstring(user_data_path) + L"\\" + sid + L"\\Products\\" +
                                                          packed + L"\\InstallProperties",
                                                      L"LocalPackage", current);
            if (!package.empty())
                packages.insert(package);
        }
    } catch (...) {
        // What was found so far.
    }
    return packages;
}

// Only the installer's own cache: the path comes from the registry, and
// anything else it names may be anyone's file.
bool remove_cached_package(const std::wstring& package)
{
    try {
        const std::wstring cache = installer_cache_folder();
        if (!directly_in(package, cache)) {
            tessel::log::info(L"Cached package %ls is not in %ls: it stays", package.c_str(), cache.c_str());
            return false;
        }
        if (DeleteFileW(package.c_str())) {
            tessel::log::info(L"Removed cached package %ls", package.c_str());
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            tessel::log::info(L"! ERROR remove cached package %ls failed: %d", package.c_str(), int(error));
    } catch (...) {
    }
    return false;
}

void remove_product_registration(const std::wstring& product_code)
{
    try {
        const std::wstring packed = packed_product_code(product_code);
        if (packed.empty()) {
            tessel::log::info(L"Not a product code: %ls", product_code.c_str());
            return;
        }
        tessel::log::info(L"Remove Windows Installer registration of %ls", unpack_guid(packed).c_str());
        registration_removal(packed).run();
    } catch (...) {
        // Ends quietly.
    }
}
