#include "installer_db/cleaner.h"

#include "installer_db/cleaner_common.h"
#include "installer_db/packed_guid.h"
#include "installer_db/registry_text.h"
#include "tessel/log/log.h"
#include "tessel/registry2/key.h"

using namespace installer_db_detail;

namespace {

using tessel::unique_hkey;
using tessel::registry2::view;

// Every key is opened and deleted in the 64-bit view.
constexpr REGSAM locate_access = KEY_READ;                                         // 0x20119 with the view
constexpr REGSAM change_access = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;  // 0x2011F with the view

constexpr DWORD name_chars = 300;
constexpr DWORD data_bytes = 300;

// Empty when the key cannot be opened; status, when given, receives the result.
unique_hkey open_raw(HKEY parent, const std::wstring& path, REGSAM access, LONG* status = nullptr)
{
    return tessel::registry2::open_subkey(parent, path, access, view::view_64, status);
}

LONG delete_key(HKEY parent, const std::wstring& name)
{
    return tessel::registry2::delete_subkey(parent, name, view::view_64);
}

// A store path names its root by its first component; the rest is the path
// below that root.
HKEY root_of(const std::wstring& path)
{
    const std::wstring name = path.substr(0, path.find(L'\\'));
    if (name == L"HKCR")
        return HKEY_CLASSES_ROOT;
    if (name == L"HKLM")
        return HKEY_LOCAL_MACHINE;
    if (name == L"HKCU")
        return HKEY_CURRENT_USER;
    return HKEY_USERS;
}

std::wstring below_root(const std::wstring& path)
{
    const std::size_t separator = path.find(L'\\');
    return separator == std::wstring::npos ? std::wstring() : path.substr(separator + 1);
}

unique_hkey open_in_store(const std::wstring& store_path, const std::wstring& rest, REGSAM access)
{
    const std::wstring below = below_root(store_path);
    return open_raw(root_of(store_path), below.empty() ? rest : below + L"\\" + rest, access);
}

} // namespace

installer_db_cleaner64::installer_db_cleaner64(const std::wstring& upgrade_code)
{
    try {
        if (!tessel::registry2::has_view_aware_deletion()) {
            tessel::log::info(L"Error in GetProcAddress of function for work with registry");
            tessel::log::info(long_rule);
            tessel::log::info(L"");
        } else {
            tessel::log::info(L"**** Cleaning Installation Database (64) ****");
            const std::wstring packed = pack_guid(upgrade_code);
            if (!packed.empty())
                upgrade_codes_.insert(packed);
            clean();
        }
    } catch (...) {
        // The cleaning reports what it did; an error ends it there.
    }
}

void installer_db_cleaner64::clean()
{
    log_section(L"Locating Windows Installer Root Stores", long_rule);
    locate_root_stores();
    for (const store& root : root_stores_)
        add_user_data_stores(root);

    log_section(L"Upgrade Codes Removed", long_rule);
    for (const store& root : root_stores_)
        remove_upgrade_codes(root);

    log_section(L"Product Codes Removed", short_rule);
    for (const store& user_data : user_data_stores_)
        remove_products(user_data);

    log_section(L"Component Codes Removed", short_rule);
    for (const store& user_data : user_data_stores_)
        remove_components(user_data);

    log_section(L"Key Files Removed", short_rule);
    decrement_key_file_counters(key_files_);
    tessel::log::info(L"");
}

void installer_db_cleaner64::locate_root_stores()
{
    // The classes root is only tested, not searched: it is a view of
    // HKLM\SOFTWARE\Classes, which the machine's search reaches.
    const unique_hkey installer = open_raw(HKEY_CLASSES_ROOT, L"installer", locate_access);
    if (!installer)
        tessel::log::info(L"RegOpenKeyEx HKEY_CLASSES_ROOT\\Installer failed");
    else if (open_raw(installer.get(), L"UpgradeCodes", locate_access))
        add_root_store(L"HKCR");

    std::wstring path = L"HKLM";
    if (const unique_hkey machine = open_raw(HKEY_LOCAL_MACHINE, L"", locate_access))
        m_search64(machine.get(), path);
    else
        tessel::log::info(L"RegOpenKeyEx HKEY_LOCAL_MACHINE failed");
    path = L"HKCU";
    if (const unique_hkey user = open_raw(HKEY_CURRENT_USER, L"", locate_access))
        m_search64(user.get(), path);
    path = L"HKU";
    if (const unique_hkey users = open_raw(HKEY_USERS, L"", locate_access))
        m_search64(users.get(), path);
}

void installer_db_cleaner64::m_search64(HKEY key, std::wstring& path)
{
    // path grows by one name for each level and is cut back afterwards.
    const std::size_t length = path.size();
    try {
        wchar_t name[name_chars];
        for (DWORD index = 0;; ++index) {
            path.resize(length);
            DWORD name_length = name_chars;
            if (RegEnumKeyExW(key, index, name, &name_length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            if (is_named(name, name_length, L"installer")) {
                // A root store: its installer data is not searched further.
                if (open_raw(key, std::wstring(name, name_length) + L"\\UpgradeCodes", locate_access))
                    add_root_store(path);
                continue;
            }
            // The 32-bit view and the per-user virtual copies are no installer data.
            if (is_named(name, name_length, L"wow6432node") || is_named(name, name_length, L"virtualstore"))
                continue;
            const unique_hkey child = open_raw(key, std::wstring(name, name_length), locate_access);
            if (!child)
                continue;
            path.append(1, L'\\').append(name, name_length);
            m_search64(child.get(), path);
        }
    } catch (...) {
        tessel::log::info(L"m_search64 exeption");
    }
    path.resize(length);
}

void installer_db_cleaner64::add_root_store(const std::wstring& path)
{
    root_stores_.push_back({++number_, path});
    tessel::log::info(L"Root: %i  %ls", number_, path.c_str());
}

void installer_db_cleaner64::add_user_data_stores(const store& root)
{
    user_data_stores_.push_back({++number_, root.path + L"\\Installer"});
    tessel::log::info(L"UserData: %i  %i  Installer", root.number, number_);

    const unique_hkey user_data = open_in_store(root.path, L"Installer\\UserData", locate_access);
    if (!user_data)
        return;
    wchar_t name[name_chars];
    for (DWORD index = 0;; ++index) {
        DWORD length = name_chars;
        if (RegEnumKeyExW(user_data.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return;
        const std::wstring sid(name, length);
        user_data_stores_.push_back({++number_, root.path + L"\\Installer\\UserData\\" + sid});
        tessel::log::info(L"UserData: %i  %i  Installer\\UserData\\%ls", root.number, number_, sid.c_str());
    }
}

void installer_db_cleaner64::remove_upgrade_codes(const store& root)
{
    const unique_hkey codes = open_in_store(root.path, L"Installer\\UpgradeCodes", change_access);
    if (!codes)
        return;
    for (const std::wstring& code : upgrade_codes_) {
        {
            const unique_hkey products = open_raw(codes.get(), code, locate_access);
            if (!products)
                continue;  // not here, or already gone through another view of the same key
            wchar_t name[name_chars];
            for (DWORD index = 0;; ++index) {
                DWORD length = name_chars;
                if (RegEnumValueW(products.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                    ERROR_SUCCESS)
                    break;
                const std::wstring product(name, length);
                if (is_packed_code(product))
                    product_codes_.insert(product);
            }
        }
        const LONG result = delete_key(codes.get(), code);
        if (result != ERROR_SUCCESS)
            tessel::log::info(L"Error %i", static_cast<int>(result));
        tessel::log::info(L"%i  %ls", root.number, unpack_guid(code).c_str());
    }
}

void installer_db_cleaner64::remove_products(const store& user_data)
{
    remove_product_keys(user_data, L"Products", true);
    // The classes' store keeps each product's feature list beside its
    // registration; Windows Installer's own uninstall removes both.
    remove_product_keys(user_data, L"Features", false);
}

void installer_db_cleaner64::remove_product_keys(const store& user_data, const wchar_t* list, bool report)
{
    const unique_hkey keys = open_in_store(user_data.path, list, change_access);
    if (!keys)
        return;
    for (const std::wstring& product : product_codes_) {
        if (!open_raw(keys.get(), product, locate_access))
            continue;
        const LONG result = delete_tree(keys.get(), product, view::view_64);
        if (result != ERROR_SUCCESS)
            tessel::log::info(L"Error %i", static_cast<int>(result));
        if (report)
            tessel::log::info(L"%i  %ls", user_data.number, unpack_guid(product).c_str());
    }
}

void installer_db_cleaner64::remove_components(const store& user_data)
{
    const unique_hkey components = open_in_store(user_data.path, L"Components", change_access);
    if (!components)
        return;
    // Deleted after the walk, which goes by index.
    std::vector<std::wstring> doomed;
    wchar_t name[name_chars];
    for (DWORD index = 0;; ++index) {
        DWORD length = name_chars;
        if (RegEnumKeyExW(components.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        const std::wstring component(name, length);
        if (clean_component(components.get(), component))
            doomed.push_back(component);
    }
    for (const std::wstring& component : doomed) {
        tessel::log::info(L"%i  %ls", user_data.number, unpack_guid(component).c_str());
        const LONG result = delete_key(components.get(), component);
        if (result != ERROR_SUCCESS)
            tessel::log::info(L"Error %i", static_cast<int>(result));
    }
}

bool installer_db_cleaner64::clean_component(HKEY components, const std::wstring& component)
{
    const unique_hkey key = open_raw(components, component, change_access);
    if (!key)
        return false;

    int others = 0;  // values of other products, and values too long to read
    std::vector<std::wstring> ours;
    std::vector<std::wstring> key_paths;
    wchar_t name[name_chars];
    alignas(wchar_t) BYTE data[data_bytes];
    for (DWORD index = 0;; ++index) {
        DWORD name_length = name_chars;
        DWORD data_length = data_bytes;
        const LONG result = RegEnumValueW(key.get(), index, name, &name_length, nullptr, nullptr, data, &data_length);
        if (result == ERROR_MORE_DATA) {
            // Unread, so never removed; and it may be another product's, so
            // the component must not go with it.
            ++others;
            continue;
        }
        if (result != ERROR_SUCCESS)
            break;
        const std::wstring value(name, name_length);
        if (!product_codes_.count(value)) {
            ++others;
            continue;
        }
        ours.push_back(value);
        key_paths.push_back(file_path_of(text_of(data, data_length)));
    }
    for (const std::wstring& value : ours)
        RegDeleteValueW(key.get(), value.c_str());

    if (ours.empty())
        return false;
    if (others > 0) {
        tessel::log::info(L"    only 1 value was removed from key %ls", unpack_guid(component).c_str());
        return false;
    }
    for (const std::wstring& path : key_paths)
        if (!path.empty())
            key_files_.insert(path);
    return true;
}
