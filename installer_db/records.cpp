#include "installer_db/records.h"

#include "installer_db/cleaner_common.h"
#include "installer_db/packed_guid.h"
#include "installer_db/registry_text.h"
#include "tessel/log/log.h"
#include "tessel/lower_case.h"
#include "tessel/registry2/key.h"
#include "toolbox/environment.h"

#include <vector>

using namespace installer_db_detail;
using tessel::unique_hkey;
using tessel::registry2::delete_subkey;
using tessel::registry2::open_subkey;
using tessel::registry2::view;

namespace {

const wchar_t user_data_path[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";
const wchar_t upgrade_codes_path[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\";
const wchar_t not_found[] = L"not found";

constexpr REGSAM read_access = KEY_READ;                                         // 0x20019
constexpr REGSAM change_access = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;  // 0x2001F

// The registry view of one operation: the 64-bit one under WOW64, where the
// installer keeps its data, else the only one there is.
view installer_view()
{
    return is_wow64() ? view::view_64 : view::default_view;
}

// The name of a key's subkey at index, read into buffer (its size is the
// longest name taken); false at the end or on any error.
bool subkey_at(HKEY key, DWORD index, std::vector<wchar_t>& buffer, std::wstring& result)
{
    DWORD length = DWORD(buffer.size());
    if (RegEnumKeyExW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    result.assign(buffer.data(), length);
    return true;
}

// Whether text holds part, both with A to Z folded.
bool contains_ignoring_case(const std::wstring& text, const std::wstring& part)
{
    return tessel::lower_ascii(text).find(tessel::lower_ascii(part)) != std::wstring::npos;
}

// The key path in a component's first value; empty when there is none.
std::wstring first_key_path(HKEY component)
{
    std::vector<wchar_t> name(3000);
    alignas(wchar_t) BYTE data[3000];
    DWORD name_length = DWORD(name.size());
    DWORD data_length = sizeof data;
    if (RegEnumValueW(component, 0, name.data(), &name_length, nullptr, nullptr, data, &data_length) != ERROR_SUCCESS)
        return {};
    return text_of(data, data_length);
}

struct noted_component
{
    std::wstring path;  // below HKEY_LOCAL_MACHINE
    view in;
};

void remove_noted(const noted_component& noted)
{
    if (noted.in != view::default_view && !tessel::registry2::has_view_aware_deletion())
        return;  // not on this system: nothing to say
    const LONG result = delete_subkey(HKEY_LOCAL_MACHINE, noted.path, noted.in);
    if (result == ERROR_SUCCESS)
        tessel::log::info(L"Removed Component  HKEY_LOCAL_MACHINE\\%ls", noted.path.c_str());
    else
        tessel::log::info(L"! ERROR remove component %ls failed: %d", noted.path.c_str(), int(result));
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
    wchar_t name[260];
    for (DWORD index = 0;; ++index) {
        DWORD length = 260;
        const LONG result = RegEnumValueW(component, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA) {
            ++found.others;  // unread, so never the product's to remove
            continue;
        }
        if (result != ERROR_SUCCESS)
            return found;
        const std::wstring value(name, length);
        if (value == product)
            found.ours.push_back(value);
        else
            ++found.others;
    }
}

} // namespace

std::wstring find_product_code_by_upgrade_code(const std::wstring& upgrade_code)
{
    try {
        tessel::log::info(L"    Find ProductCode by UpgradeCode %ls", upgrade_code.c_str());
        const view current = installer_view();
        const std::wstring packed = pack_guid(upgrade_code);
        if (packed.empty())
            return not_found;
        const unique_hkey codes = open_subkey(HKEY_LOCAL_MACHINE, upgrade_codes_path + packed, read_access, current);
        if (!codes)
            return not_found;
        wchar_t name[300];
        DWORD length = 300;
        if (RegEnumValueW(codes.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return not_found;
        const std::wstring product(name, length);
        if (!is_packed_code(product))
            return not_found;  // no product's name: the key is not the installer's
        tessel::log::info(L"    ProductCode is %ls (%ls)", product.c_str(), unpack_guid(product).c_str());
        return product;
    } catch (...) {
        return not_found;
    }
}

void remove_components_by_key_path(const std::wstring& text)
{
    try {
        tessel::log::info(L"Search Component %ls ", text.c_str());
        const view current = installer_view();
        const unique_hkey user_data = open_subkey(HKEY_LOCAL_MACHINE, user_data_path, read_access, current);
        if (!user_data)
            return;

        std::vector<noted_component> noted;
        std::vector<wchar_t> buffer(3000);
        std::wstring sid;
        for (DWORD s = 0; subkey_at(user_data.get(), s, buffer, sid); ++s) {
            const unique_hkey components = open_subkey(user_data.get(), sid + L"\\Components", read_access, current);
            if (!components)
                continue;
            std::wstring component;
            for (DWORD c = 0; subkey_at(components.get(), c, buffer, component); ++c) {
                const unique_hkey opened = open_subkey(components.get(), component, read_access, current);
                if (!opened || !contains_ignoring_case(first_key_path(opened.get()), text))
                    continue;
                std::wstring first_subkey;
                if (subkey_at(opened.get(), 0, buffer, first_subkey)) {
                    const LONG result = delete_subkey(opened.get(), first_subkey, current);
                    if (result != ERROR_SUCCESS)
                        tessel::log::info(L"! ERROR remove subkey failed: %d", int(result));
                }
                noted.push_back({std::wstring(user_data_path) + L"\\" + sid + L"\\Components\\" + component,
                                 current});
            }
        }
        // Deleted after the walk, which goes by index: plain ones first.
        for (const noted_component& component : noted)
            if (component.in == view::default_view)
                remove_noted(component);
        for (const noted_component& component : noted)
            if (component.in != view::default_view)
                remove_noted(component);
    } catch (...) {
        // Ends quietly.
    }
}

void remove_product_component(const std::wstring& upgrade_code, const std::wstring& packed_component)
{
    try {
        const std::wstring product = find_product_code_by_upgrade_code(upgrade_code);
        tessel::log::info(L"Search Component %ls ", packed_component.c_str());
        const view current = installer_view();
        const unique_hkey user_data = open_subkey(HKEY_LOCAL_MACHINE, user_data_path, read_access, current);
        if (!user_data)
            return;

        std::vector<wchar_t> buffer(260);
        std::wstring sid;
        for (DWORD s = 0; subkey_at(user_data.get(), s, buffer, sid); ++s) {
            const unique_hkey components = open_subkey(user_data.get(), sid + L"\\Components", read_access, current);
            if (!components)
                continue;
            const unique_hkey component = open_subkey(components.get(), packed_component, change_access, current);
            if (!component)
                continue;
            const component_values values = values_of(component.get(), product);
            for (const std::wstring& value : values.ours)
                RegDeleteValueW(component.get(), value.c_str());
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
        const view current = installer_view();
        const unique_hkey user_data = open_subkey(HKEY_LOCAL_MACHINE, user_data_path, change_access, current);
        if (!user_data)
            return;

        std::vector<wchar_t> buffer(260);
        std::wstring sid;
        for (DWORD s = 0; subkey_at(user_data.get(), s, buffer, sid); ++s) {
            const unique_hkey features = open_subkey(user_data.get(), sid + L"\\Products\\" + product + L"\\Features",
                                              change_access, current);
            if (!features)
                continue;
            const LONG result = RegDeleteValueW(features.get(), feature.c_str());
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
