#include "installer_db/cleaner.h"

#include "installer_db/cleaner_common.h"
#include "installer_db/cleaners.h"
#include "installer_db/packed_guid.h"
#include "installer_db/registry_text.h"
#include "tessel/log/log.h"
#include "toolbox/environment.h"
#include "toolbox/registry_cleaning.h"

#include <optional>
#include <utility>

namespace installer_db_detail {

namespace {

using tessel::registry2::key;

const wchar_t current_version[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

// A key of the local machine, in the 64-bit view under WOW64. The registry
// layer opens the keys below it without a view, as the system does for every
// open: a redirected key on the way (SOFTWARE below the machine's root) leads
// back into this process's own view, while keys below one that is already
// past the redirection (CurrentVersion) stay in the 64-bit view.
key open_machine_key(const std::wstring& path)
{
    if (!is_wow64())
        return path.empty() ? key(HKEY_LOCAL_MACHINE) : key(HKEY_LOCAL_MACHINE).open(path, false);
    const tessel::registry2::view view_64 = tessel::registry2::view::view_64;
    return path.empty() ? key(HKEY_LOCAL_MACHINE, view_64) : key(HKEY_LOCAL_MACHINE).open(path, false, view_64);
}

// The key at rest below a store: nothing when it is absent, or (with the
// line "! ERROR open key %ls failed: %d") when it cannot be opened.
std::optional<key> open_in_store(const key_store& in, const std::wstring& rest)
{
    return open_or_report(in.key, rest, in.path + L"\\" + rest);
}

} // namespace

void means32::locate_root_stores()
{
    try {
        std::wstring path;
        for (const auto& [root, name] : {std::pair{HKEY_CLASSES_ROOT, L"HKCR"}, std::pair{HKEY_CURRENT_USER, L"HKCU"},
                                         std::pair{HKEY_USERS, L"HKU"}}) {
            path = name;
            m_search32(key(root), path);
        }
        path = L"HKLM";
        m_search32(open_machine_key(L""), path);
    } catch (...) {
        use_fixed_root_stores();
    }
}

void means32::m_search32(const key& parent, std::wstring& path)
{
    // path grows by one name for each level and is cut back afterwards: the
    // search visits every key, and builds no text for the ones it passes.
    const std::size_t length = path.size();
    for (const std::wstring& name : parent.subkey_names()) {
        try {
            if (is_named(name, L"installer")) {
                // A root store: its installer data is not searched further.
                const std::optional<key> installer = open_or_report(parent, name, path + L"\\" + name);
                if (installer && installer->subkey_names().count(L"UpgradeCodes"))
                    add_root_store(parent, path);
            } else if (!is_named(name, L"virtualstore")) {
                path.append(1, L'\\').append(name);
                if (const std::optional<key> child = open_or_report(parent, name, path))
                    m_search32(*child, path);
            }
        } catch (...) {
            // This subkey could not be read through: the search goes on.
        }
        path.resize(length);
    }
}

void means32::add_root_store(const key& found, const std::wstring& path)
{
    key duplicate(found);
    root_stores_.push_back({++number_, std::move(duplicate), path});
    tessel::log::info(L"Root: %i  %ls", number_, path.c_str());
}

void means32::use_fixed_root_stores()
{
    root_stores_.clear();
    root_stores_.push_back({1, key(HKEY_CLASSES_ROOT), L"HKCR"});
    tessel::log::info(L"Root hc: 1  HKCR");
    root_stores_.push_back({2, open_machine_key(current_version), L"HKLM\\" + std::wstring(current_version)});
    tessel::log::info(L"Root hc: 2  HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
    number_ = 2;
}

void means32::add_user_data_stores(const store& root)
{
    try {
        std::optional<key> installer = open_in_store(root, L"Installer");
        if (!installer)
            return;
        user_data_stores_.push_back({++number_, std::move(*installer), root.path + L"\\Installer"});
        tessel::log::info(L"UserData: %i  %i  Installer", root.number, number_);

        const std::optional<key> user_data = open_in_store(root, L"Installer\\UserData");
        if (!user_data)
            return;
        const std::wstring user_data_path = root.path + L"\\Installer\\UserData\\";
        for (const std::wstring& sid : user_data->subkey_names()) {
            std::optional<key> opened = open_or_report(*user_data, sid, user_data_path + sid);
            if (!opened)
                return;
            user_data_stores_.push_back({++number_, std::move(*opened), user_data_path + sid});
            tessel::log::info(L"UserData: %i  %i  Installer\\UserData\\%ls", root.number, number_, sid.c_str());
        }
    } catch (...) {
        // No readable per-user data: the store keeps what it has.
    }
}

void means32::remove_upgrade_codes(const store& root)
{
    const std::optional<key> codes = open_in_store(root, L"Installer\\UpgradeCodes");
    if (!codes)
        return;
    for (const std::wstring& code : upgrade_codes_) {
        // Absent where another view of the same key already lost it.
        const std::optional<key> products =
            open_or_report(*codes, code, root.path + L"\\Installer\\UpgradeCodes\\" + code);
        if (!products)
            continue;
        try {
            for (const std::wstring& product : products->value_names())
                if (is_packed_code(product))
                    product_codes_.insert(product);
            codes->remove_key(code, true);
            tessel::log::info(L"%i  %ls", root.number, unpack_guid(code).c_str());
        } catch (...) {
            // Not wholly readable or deletable: no line.
        }
    }
}

void means32::remove_product_keys(const store& user_data, const wchar_t* list, bool report)
{
    const std::optional<key> keys = open_in_store(user_data, list);
    if (!keys)
        return;
    const std::wstring shown = user_data.path + L"\\" + list + L"\\";
    for (const std::wstring& product : product_codes_) {
        if (!open_or_report(*keys, product, shown + product))
            continue;  // not registered here
        try {
            keys->remove_key(product, true);
            if (report)
                tessel::log::info(L"%i  %ls", user_data.number, unpack_guid(product).c_str());
        } catch (...) {
            // Not wholly deletable: no line.
        }
    }
}

void means32::remove_components(const store& user_data)
{
    const std::optional<key> components = open_in_store(user_data, L"Components");
    if (!components)
        return;
    const std::wstring shown = user_data.path + L"\\Components\\";
    for (const std::wstring& component : components->subkey_names()) {
        const std::optional<key> opened = open_or_report(*components, component, shown + component);
        if (!opened)
            continue;
        try {
            if (!clean_component(*opened))
                continue;
            tessel::log::info(L"%i  %ls", user_data.number, unpack_guid(component).c_str());
            components->remove_key(component, false);
        } catch (...) {
            // This component stays as far as it got.
        }
    }
}

bool means32::clean_component(const key& component)
{
    const std::set<std::wstring> values = component.value_names();
    std::vector<std::wstring> ours;
    for (const std::wstring& value : values) {
        if (!product_codes_.count(value))
            continue;
        const std::wstring path = file_path_of(tessel::registry2::up_to_first_nul(component.read_string(value)));
        if (!path.empty())
            key_files_.insert(path);
        ours.push_back(value);
    }
    for (const std::wstring& value : ours)
        component.remove_value(value);
    return !ours.empty() && ours.size() == values.size();
}

} // namespace installer_db_detail

void clean_installer_database32(const std::wstring& upgrade_code)
{
    installer_db_cleaner32 cleaning(upgrade_code);
}
