#include "installer_db/cleaner.h"

#include "installer_db/cleaner_common.h"
#include "installer_db/cleaners.h"
#include "installer_db/packed_guid.h"
#include "installer_db/registry_text.h"
#include "tessel/log/log.h"
#include "tessel/registry2/key.h"
#include "toolbox/registry_cleaning.h"

namespace installer_db_detail {

namespace {

using tessel::unique_hkey;
using tessel::registry2::view;

// Every key is opened and deleted in the 64-bit view.
constexpr REGSAM locate_access = KEY_READ;                                         // 0x20119 with the view
constexpr REGSAM change_access = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;  // 0x2011F with the view

constexpr DWORD name_chars = 300;
constexpr DWORD data_bytes = 300;

// Empty when the key cannot be opened, whatever the reason: for the opens the
// cleaner reports with lines of its own.
unique_hkey open_raw(HKEY parent, const std::wstring& path, REGSAM access)
{
    return tessel::registry2::open_subkey(parent, path, access, view::view_64);
}

// Empty when the key is absent, or (with the line "! ERROR open key %ls
// failed: %d" and shown) when it is there but cannot be opened.
unique_hkey open_reported(HKEY parent, const std::wstring& path, REGSAM access, const std::wstring& shown)
{
    return open_or_report(parent, path, access, view::view_64, shown);
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
    return open_reported(root_of(store_path), below.empty() ? rest : below + L"\\" + rest, access,
                         store_path + L"\\" + rest);
}

} // namespace

bool means64::may_run()
{
    if (tessel::registry2::has_view_aware_deletion())
        return true;
    tessel::log::info(L"Error in GetProcAddress of function for work with registry");
    tessel::log::info(long_rule);
    tessel::log::info(L"");
    return false;
}

void means64::locate_root_stores()
{
    // The classes root is only tested, not searched: it is a view of
    // HKLM\SOFTWARE\Classes, which the machine's search reaches.
    const unique_hkey installer = open_raw(HKEY_CLASSES_ROOT, L"installer", locate_access);
    if (!installer)
        tessel::log::info(L"RegOpenKeyEx HKEY_CLASSES_ROOT\\Installer failed");
    else if (open_reported(installer.get(), L"UpgradeCodes", locate_access, L"HKCR\\installer\\UpgradeCodes"))
        add_root_store(L"HKCR");

    std::wstring path = L"HKLM";
    if (const unique_hkey machine = open_raw(HKEY_LOCAL_MACHINE, L"", locate_access))
        m_search64(machine.get(), path);
    else
        tessel::log::info(L"RegOpenKeyEx HKEY_LOCAL_MACHINE failed");
    path = L"HKCU";
    if (const unique_hkey user = open_reported(HKEY_CURRENT_USER, L"", locate_access, path))
        m_search64(user.get(), path);
    path = L"HKU";
    if (const unique_hkey users = open_reported(HKEY_USERS, L"", locate_access, path))
        m_search64(users.get(), path);
}

void means64::m_search64(HKEY key, std::wstring& path)
{
    // path grows by one name for each level and is cut back afterwards.
    const std::size_t length = path.size();
    try {
        walk_until_error(tessel::registry2::subkeys(key, name_chars), [&](const std::wstring& name) {
            if (is_named(name, L"installer")) {
                // A root store: its installer data is not searched further.
                if (open_reported(key, name + L"\\UpgradeCodes", locate_access, path + L"\\" + name + L"\\UpgradeCodes"))
                    add_root_store(path);
                return;
            }
            // The 32-bit view and the per-user virtual copies are no installer data.
            if (is_named(name, L"wow6432node") || is_named(name, L"virtualstore"))
                return;
            path.append(1, L'\\').append(name);
            if (const unique_hkey child = open_reported(key, name, locate_access, path))
                m_search64(child.get(), path);
            path.resize(length);
        });
    } catch (...) {
        tessel::log::info(L"m_search64 exeption");
    }
    path.resize(length);
}

void means64::add_root_store(const std::wstring& path)
{
    root_stores_.push_back({++number_, path});
    tessel::log::info(L"Root: %i  %ls", number_, path.c_str());
}

void means64::add_user_data_stores(const store& root)
{
    user_data_stores_.push_back({++number_, root.path + L"\\Installer"});
    tessel::log::info(L"UserData: %i  %i  Installer", root.number, number_);

    const unique_hkey user_data = open_in_store(root.path, L"Installer\\UserData", locate_access);
    if (!user_data)
        return;
    walk_until_error(tessel::registry2::subkeys(user_data.get(), name_chars), [&](const std::wstring& sid) {
        user_data_stores_.push_back({++number_, root.path + L"\\Installer\\UserData\\" + sid});
        tessel::log::info(L"UserData: %i  %i  Installer\\UserData\\%ls", root.number, number_, sid.c_str());
    });
}

void means64::remove_upgrade_codes(const store& root)
{
    const unique_hkey codes = open_in_store(root.path, L"Installer\\UpgradeCodes", change_access);
    if (!codes)
        return;
    for (const std::wstring& code : upgrade_codes_) {
        {
            // Absent where another view of the same key already lost it.
            const unique_hkey products = open_reported(codes.get(), code, locate_access,
                                                       root.path + L"\\Installer\\UpgradeCodes\\" + code);
            if (!products)
                continue;
            walk_until_error(tessel::registry2::values(products.get(), name_chars),
                             [&](const tessel::registry2::value_entry& value) {
                                 if (value.read && is_packed_code(value.name))
                                     product_codes_.insert(value.name);
                             });
        }
        const LONG result = tessel::registry2::delete_subkey(codes.get(), code, view::view_64);
        if (result != ERROR_SUCCESS)
            tessel::log::info(L"Error %i", static_cast<int>(result));
        tessel::log::info(L"%i  %ls", root.number, unpack_guid(code).c_str());
    }
}

void means64::remove_product_keys(const store& user_data, const wchar_t* list, bool report)
{
    const unique_hkey keys = open_in_store(user_data.path, list, change_access);
    if (!keys)
        return;
    for (const std::wstring& product : product_codes_) {
        if (!open_reported(keys.get(), product, locate_access, user_data.path + L"\\" + list + L"\\" + product))
            continue;
        const LONG result =
            tessel::registry2::delete_subkey(keys.get(), product, view::view_64, tessel::registry2::subtree::attempt_each);
        if (result != ERROR_SUCCESS)
            tessel::log::info(L"Error %i", static_cast<int>(result));
        if (report)
            tessel::log::info(L"%i  %ls", user_data.number, unpack_guid(product).c_str());
    }
}

void means64::remove_components(const store& user_data)
{
    const std::wstring shown = user_data.path + L"\\Components";
    const unique_hkey components = open_in_store(user_data.path, L"Components", change_access);
    if (!components)
        return;
    // Deleted after the walk, which goes by index.
    std::vector<std::wstring> doomed;
    walk_until_error(tessel::registry2::subkeys(components.get(), name_chars), [&](const std::wstring& component) {
        if (clean_component(components.get(), component, shown + L"\\" + component))
            doomed.push_back(component);
    });
    // A component that stays is no line of this report.
    for (const std::wstring& component : doomed) {
        tessel::log::info(L"%i  %ls", user_data.number, unpack_guid(component).c_str());
        tessel::registry2::delete_subkey(components.get(), component, view::view_64);
    }
}

bool means64::clean_component(HKEY components, const std::wstring& component, const std::wstring& shown)
{
    const unique_hkey key = open_reported(components, component, change_access, shown);
    if (!key)
        return false;

    int others = 0;  // values of other products, and values too long to read
    std::vector<std::wstring> ours;
    std::vector<std::wstring> key_paths;
    walk_until_error(tessel::registry2::values(key.get(), name_chars, data_bytes),
                     [&](const tessel::registry2::value_entry& value) {
                         // Unread, so never removed; and it may be another
                         // product's, so the component must not go with it.
                         if (!value.read || !product_codes_.count(value.name)) {
                             ++others;
                             return;
                         }
                         ours.push_back(value.name);
                         key_paths.push_back(file_path_of(text_of(value.data.data(), DWORD(value.data.size()))));
                     });
    // A value that cannot go has no line in this report.
    for (const std::wstring& value : ours)
        tessel::registry2::delete_value_status(key.get(), value);

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

} // namespace installer_db_detail

void clean_installer_database64(const std::wstring& upgrade_code)
{
    installer_db_cleaner64 cleaning(upgrade_code);
}
