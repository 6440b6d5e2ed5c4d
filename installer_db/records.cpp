#include "installer_db/records.h"

#include "installer_db/cleaner_common.h"
#include "installer_db/installer_keys.h"
#include "installer_db/packed_guid.h"
#include "installer_db/registry_text.h"
#include "tessel/log/log.h"
#include "tessel/lower_case.h"
#include "tessel/registry2/key.h"
#include "toolbox/environment.h"
#include "toolbox/registry_cleaning.h"

#include <optional>
#include <span>
#include <vector>

using namespace installer_db_detail;
using tessel::unique_hkey;
using tessel::registry2::delete_subkey;
using tessel::registry2::open_subkey;
using tessel::registry2::view;

namespace installer_db_detail {

std::vector<std::wstring> subkey_names(HKEY key, DWORD name_chars)
{
    std::vector<std::wstring> names;
    walk_until_error(tessel::registry2::subkeys(key, name_chars),
                     [&](const std::wstring& name) { names.push_back(name); });
    return names;
}

unique_hkey open_reported(const std::wstring& path, REGSAM access, view in, const std::wstring& shown)
{
    return open_or_report(HKEY_LOCAL_MACHINE, path, access, in, L"HKLM\\" + (shown.empty() ? path : shown));
}

} // namespace installer_db_detail

namespace {

const wchar_t upgrade_codes_path[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\";
const wchar_t not_found[] = L"not found";


// The name of a key's first subkey; nothing when it has none or the listing
// fails.
std::optional<std::wstring> first_subkey(HKEY key, DWORD name_chars)
{
    try {
        tessel::registry2::subkeys walk(key, name_chars);
        const auto first = walk.begin();
        if (!(first == walk.end()))
            return *first;
    } catch (const tessel::registry2::generic&) {
    }
    return std::nullopt;
}

// The name of a key's first value, read into a buffer of name_chars
// characters, with up to data_bytes of its data as text; nothing when there
// is none or it does not fit.
std::optional<component_value> first_value(HKEY key, DWORD name_chars, DWORD data_bytes)
{
    tessel::registry2::values walk(key, name_chars, data_bytes);
    const auto first = walk.begin();
    if (first == walk.end() || !first->read)
        return std::nullopt;
    const std::span<const BYTE> data = first->data;
    return component_value{first->name, data.empty() ? std::wstring() : text_of(data.data(), DWORD(data.size()))};
}

// Whether text holds part, both with A to Z folded.
bool contains_ignoring_case(const std::wstring& text, const std::wstring& part)
{
    return tessel::lower_ascii(text).find(tessel::lower_ascii(part)) != std::wstring::npos;
}

// The key path in a component's first value; empty when there is none or
// it cannot be read.
std::wstring first_key_path(HKEY component)
{
    try {
        const std::optional<component_value> first = first_value(component, 3000, 3000);
        return first ? first->key_path : std::wstring();
    } catch (const tessel::registry2::generic&) {
        return {};
    }
}

// Every value of a component: whose it is and the key path it holds. A value
// that changed while being read is passed over.
std::vector<component_value> values_with_key_paths(HKEY component)
{
    std::vector<component_value> values;
    try {
        walk_until_error(tessel::registry2::values::whole(component), [&](const tessel::registry2::value_entry& value) {
            if (value.read)
                values.push_back({value.name, text_of(value.data.data(), DWORD(value.data.size()))});
        });
    } catch (const tessel::registry2::generic&) {
        // The key's sizes could not be had: nothing is known of its values.
    }
    return values;
}

struct noted_component
{
    std::wstring path;  // below HKEY_LOCAL_MACHINE
    view in;
    std::vector<component_value> values;
};

bool remove_noted(const noted_component& noted)
{
    if (noted.in != view::default_view && !tessel::registry2::has_view_aware_deletion())
        return false;  // not on this system: nothing to say
    const LONG result = delete_subkey(HKEY_LOCAL_MACHINE, noted.path, noted.in);
    if (result == ERROR_SUCCESS)
        tessel::log::info(L"Removed Component  HKEY_LOCAL_MACHINE\\%ls", noted.path.c_str());
    else
        tessel::log::info(L"! ERROR remove component %ls failed: %d", noted.path.c_str(), int(result));
    return result == ERROR_SUCCESS;
}

// What the product's own values were in one component key.
struct component_values
{
    std::vector<std::wstring> ours;
    int others = 0;  // other products' values, and names too long to read
};

component_values values_of(HKEY component, const std::wstring& product)
{
    component_values found;
    walk_until_error(tessel::registry2::values(component, 260), [&](const tessel::registry2::value_entry& value) {
        // An unread name is never the product's to remove.
        if (value.read && value.name == product)
            found.ours.push_back(value.name);
        else
            ++found.others;
    });
    return found;
}

} // namespace

std::wstring find_product_code_by_upgrade_code(const std::wstring& upgrade_code)
{
    try {
        tessel::log::info(L"    Find ProductCode by UpgradeCode %ls", upgrade_code.c_str());
        const view current = installer_registry_view();
        const std::wstring packed = pack_guid(upgrade_code);
        if (packed.empty())
            return not_found;
        const unique_hkey codes = open_reported(upgrade_codes_path + packed, read_access, current);
        if (!codes)
            return not_found;
        const std::optional<component_value> first = first_value(codes.get(), 300, 0);
        if (!first)
            return not_found;
        const std::wstring& product = first->product;
        if (!is_packed_code(product))
            return not_found;  // no product's name: the key is not the installer's
        tessel::log::info(L"    ProductCode is %ls (%ls)", product.c_str(), unpack_guid(product).c_str());
        return product;
    } catch (...) {
        return not_found;
    }
}

std::vector<component_value> remove_components_by_key_path(const std::wstring& text)
{
    std::vector<component_value> removed;
    try {
        tessel::log::info(L"Search Component %ls ", text.c_str());
        const view current = installer_registry_view();
        const unique_hkey user_data = open_reported(user_data_path, read_access, current);
        if (!user_data)
            return removed;

        std::vector<noted_component> noted;
        for (const std::wstring& sid : subkey_names(user_data.get(), 3000)) {
            const std::wstring components_path = std::wstring(user_data_path) + L"\\" + sid + L"\\Components";
            const unique_hkey components = open_reported(components_path, read_access, current);
            if (!components)
                continue;
            walk_until_error(tessel::registry2::subkeys(components.get(), 3000), [&](const std::wstring& component) {
                const unique_hkey opened =
                    open_or_report(components.get(), component, read_access, current,
                                   L"HKLM\\" + components_path + L"\\" + component);
                if (!opened || !contains_ignoring_case(first_key_path(opened.get()), text))
                    return;
                if (const std::optional<std::wstring> below = first_subkey(opened.get(), 3000)) {
                    const LONG result = delete_subkey(opened.get(), *below, current);
                    if (result != ERROR_SUCCESS)
                        tessel::log::info(L"! ERROR remove subkey failed: %d", int(result));
                }
                noted.push_back({std::wstring(user_data_path) + L"\\" + sid + L"\\Components\\" + component,
                                 current, values_with_key_paths(opened.get())});
            });
        }
        // Deleted after the walk, which goes by index: plain ones first.
        const auto remove = [&](const noted_component& component) {
            if (remove_noted(component))
                removed.insert(removed.end(), component.values.begin(), component.values.end());
        };
        for (const noted_component& component : noted)
            if (component.in == view::default_view)
                remove(component);
        for (const noted_component& component : noted)
            if (component.in != view::default_view)
                remove(component);
    } catch (...) {
        // Ends quietly.
    }
    return removed;
}

void remove_product_component(const std::wstring& upgrade_code, const std::wstring& packed_component)
{
    try {
        const std::wstring product = find_product_code_by_upgrade_code(upgrade_code);
        tessel::log::info(L"Search Component %ls ", packed_component.c_str());
        const view current = installer_registry_view();
        const unique_hkey user_data = open_reported(user_data_path, read_access, current);
        if (!user_data)
            return;

        for (const std::wstring& sid : subkey_names(user_data.get(), 260)) {
            const std::wstring components_path = std::wstring(user_data_path) + L"\\" + sid + L"\\Components";
            const unique_hkey components = open_reported(components_path, read_access, current);
            if (!components)
                continue;
            const unique_hkey component = open_or_report(components.get(), packed_component, change_access, current,
                                                         L"HKLM\\" + components_path + L"\\" + packed_component);
            if (!component)
                continue;
            const component_values values = values_of(component.get(), product);
            // A value that cannot go has no line of its own.
            for (const std::wstring& value : values.ours)
                tessel::registry2::delete_value_status(component.get(), value);
            if (values.ours.empty())
                continue;
            if (values.others > 0) {
                tessel::log::info(L"    only 1 value was removed from key %ls", packed_component.c_str());
                continue;
            }
            const LONG result = delete_subkey(components.get(), packed_component, current);
            if (result == ERROR_SUCCESS)
                tessel::log::info(L"Removed Component  HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion"
                                  L"\\Installer\\UserData\\%ls\\Components\\%ls",
                                  sid.c_str(), packed_component.c_str());
            else if (result != ERROR_FILE_NOT_FOUND)
                tessel::log::info(L"! ERROR remove component %ls failed: %d", packed_component.c_str(), int(result));
        }
    } catch (...) {
        // Ends quietly.
    }
}

void remove_product_feature(const std::wstring& upgrade_code, const std::wstring& feature)
{
    try {
        const std::wstring product = find_product_code_by_upgrade_code(upgrade_code);
        tessel::log::info(L"Search %ls feature in %ls product", feature.c_str(), product.c_str());
        const view current = installer_registry_view();
        const unique_hkey user_data = open_reported(user_data_path, change_access, current);
        if (!user_data)
            return;

        for (const std::wstring& sid : subkey_names(user_data.get(), 260)) {
            const unique_hkey features = open_reported(
                std::wstring(user_data_path) + L"\\" + sid + L"\\Products\\" + product + L"\\Features", change_access,
                current);
            if (!features)
                continue;
            const LONG result = tessel::registry2::delete_value_status(features.get(), feature);
            if (result == ERROR_SUCCESS)
                tessel::log::info(L"Removed feature %ls from HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows"
                                  L"\\CurrentVersion\\Installer\\UserData\\%ls\\Products\\%ls\\Features",
                                  feature.c_str(), sid.c_str(), product.c_str());
            else if (result != ERROR_FILE_NOT_FOUND)
                tessel::log::info(L"! ERROR remove feature %ls failed: %d", feature.c_str(), int(result));
        }
    } catch (...) {
        // Ends quietly.
    }
}
