#include "installer_db/cleaner.h"

#include "installer_db/cleaner_common.h"
#include "installer_db/packed_guid.h"
#include "installer_db/registry_text.h"
#include "tessel/log/log.h"
#include "toolbox/environment.h"

#include <optional>
#include <utility>

using namespace installer_db_detail;

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

std::optional<key> open_optional(const key& parent, const std::wstring& path)
{
    try {
        return parent.open(path, false);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

installer_db_cleaner32::installer_db_cleaner32(const std::wstring& upgrade_code)
{
    try {
        tessel::log::info(L"**** Cleaning Installation Database (32) ****");
        const std::wstring packed = pack_guid(upgrade_code);
        if (!packed.empty())
            upgrade_codes_.insert(packed);
        clean();
    } catch (...) {
        // An error outside the per-code loops ends the cleaning there.
    }
}

void installer_db_cleaner32::clean()
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

void installer_db_cleaner32::locate_root_stores()
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

void installer_db_cleaner32::m_search32(const key& parent, std::wstring& path)
{
    // path grows by one name for each level and is cut back afterwards: the
    // search visits every key, and builds no text for the ones it passes.
    const std::size_t length = path.size();
    for (const std::wstring& name : parent.subkey_names()) {
        try {
            if (is_named(name, L"installer")) {
                // A root store: its installer data is not searched further.
                if (parent.open(name, false).subkey_names().count(L"UpgradeCodes"))
                    add_root_store(parent, path);
            } else if (!is_named(name, L"virtualstore")) {
                path.append(1, L'\\').append(name);
                m_search32(parent.open(name, false), path);
            }
        } catch (...) {
            // This subkey could not be read through: the search goes on.
        }
        path.resize(length);
    }
}

void installer_db_cleaner32::add_root_store(const key& found, const std::wstring& path)
{
    key duplicate(found);
    root_stores_.push_back({++number_, std::move(duplicate)});
    tessel::log::info(L"Root: %i  %ls", number_, path.c_str());
}

void installer_db_cleaner32::use_fixed_root_stores()
{
    root_stores_.clear();
    root_stores_.push_back({1, key(HKEY_CLASSES_ROOT)});
    tessel::log::info(L"Root hc: 1  HKCR");
    root_stores_.push_back({2, open_machine_key(current_version)});
    tessel::log::info(L"Root hc: 2  HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
    number_ = 2;
}

void installer_db_cleaner32::add_user_data_stores(const store& root)
{
    try {
        key installer = root.key.open(L"Installer", false);
        user_data_stores_.push_back({++number_, std::move(installer)});
        tessel::log::info(L"UserData: %i  %i  Installer", root.number, number_);

        const key user_data = root.key.open(L"Installer\\UserData", false);
        for (const std::wstring& sid : user_data.subkey_names()) {
            key opened = user_data.open(sid, false);
            user_data_stores_.push_back({++number_, std::move(opened)});
            tessel::log::info(L"UserData: %i  %i  Installer\\UserData\\%ls", root.number, number_, sid.c_str());
        }
    } catch (...) {
        // No (readable) per-user data: the store keeps what it has.
    }
}

void installer_db_cleaner32::remove_upgrade_codes(const store& root)
{
    const std::optional<key> codes = open_optional(root.key, L"Installer\\UpgradeCodes");
    if (!codes)
        return;
    for (const std::wstring& code : upgrade_codes_) {
        try {
            for (const std::wstring& product : codes->open(code, false).value_names())
                if (is_packed_code(product))
                    product_codes_.insert(product);
            codes->remove_key(code, true);
            tessel::log::info(L"%i  %ls", root.number, unpack_guid(code).c_str());
        } catch (...) {
            // Not here, or already gone through another view of the same key.
        }
    }
}

void installer_db_cleaner32::remove_products(const store& user_data)
{
    remove_product_keys(user_data, L"Products", true);
    // The classes' store keeps each product's feature list beside its
    // registration; Windows Installer's own uninstall removes both.
    remove_product_keys(user_data, L"Features", false);
}

void installer_db_cleaner32::remove_product_keys(const store& user_data, const wchar_t* list, bool report)
{
    const std::optional<key> keys = open_optional(user_data.key, list);
    if (!keys)
        return;
    for (const std::wstring& product : product_codes_) {
        try {
            keys->remove_key(product, true);
            if (report)
                tessel::log::info(L"%i  %ls", user_data.number, unpack_guid(product).c_str());
        } catch (...) {
            // Not registered here, or not wholly deletable: no line.
        }
    }
}

void installer_db_cleaner32::remove_components(const store& user_data)
{
    const std::optional<key> components = open_optional(user_data.key, L"Components");
    if (!components)
        return;
    for (const std::wstring& component : components->subkey_names()) {
        try {
            if (!clean_component(*components, component))
                continue;
            tessel::log::info(L"%i  %ls", user_data.number, unpack_guid(component).c_str());
            components->remove_key(component, false);
        } catch (...) {
            // This component stays as far as it got.
        }
    }
}

bool installer_db_cleaner32::clean_component(const key& components, const std::wstring& component)
{
    const key opened = components.open(component, false);
    const std::set<std::wstring> values = opened.value_names();
    std::vector<std::wstring> ours;
    for (const std::wstring& value : values) {
        if (!product_codes_.count(value))
            continue;
        const std::wstring path = file_path_of(tessel::registry2::up_to_first_nul(opened.read_string(value)));
        if (!path.empty())
            key_files_.insert(path);
        ours.push_back(value);
    }
    for (const std::wstring& value : ours)
        opened.remove_value(value);
    return !ours.empty() && ours.size() == values.size();
}
