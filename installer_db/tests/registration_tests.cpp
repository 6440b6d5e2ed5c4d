// Removal of one product's whole Windows Installer registration, on the tray's
// and Ostravel's packages as Wine's msiexec installed them and on products laid
// by hand beside them, in this 32-bit process under WOW64 (so in the 64-bit
// view, with the Uninstall entries of 32-bit packages in the 32-bit one).
#include "installer_db/packed_guid.h"
#include "installer_db/records.h"
#include "installer_db/registration.h"
#include "installer_support.h"
#include "checks.h"
#include "log_capture.h"
#include "tessel/unique_any.h"
#include "uninstall_entry.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace installer_test;

namespace {

// A product of no package: it shares the tray's upgrade code and one of its
// components.
const wchar_t other_packed[] = L"0123456789ABCDEF0123456789ABCDEF";
// A product laid by hand for the cached-package cases.
const wchar_t laid_packed[] = L"FEDCBA9876543210FEDCBA9876543210";

const std::wstring machine = L"HKEY_LOCAL_MACHINE\\";
const std::wstring uninstall_32 = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::wstring products_key(const std::wstring& packed)
{
    return std::wstring(classes_installer) + L"\\Products\\" + packed;
}

std::wstring user_data_product(const std::wstring& packed)
{
    return std::wstring(system_user_data) + L"\\Products\\" + packed;
}

std::wstring components()
{
    return std::wstring(system_user_data) + L"\\Components";
}

std::wstring local_package_of(const std::wstring& packed)
{
    tessel::unique_hkey properties;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, (user_data_product(packed) + L"\\InstallProperties").c_str(), 0,
                  KEY_READ | KEY_WOW64_64KEY, properties.put());
    wchar_t path[MAX_PATH] = L"";
    DWORD size = sizeof path - sizeof(wchar_t);
    if (properties)
        RegQueryValueExW(properties.get(), L"LocalPackage", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size);
    return path;
}

void write_file(const std::wstring& path)
{
    const tessel::unique_file_handle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << narrow(path);
}

std::wstring windows_folder()
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length) + L"\\";
}

class registration : public testing::Test
{
protected:
    static void SetUpTestSuite() { setup_error_ = install_packages({"tray", "ostravel"}); }

    void SetUp() override { ASSERT_EQ(setup_error_, "") << "msiexec failed"; }

    static std::string setup_error_;
};

std::string registration::setup_error_;

TEST_F(registration, removes_exactly_the_products_keys_and_values)
{
    const std::wstring tray = pack_guid(common_tray_product);
    const std::wstring upgrade = pack_guid(common_tray_upgrade);
    const std::wstring shared = components() + L"\\" + pack_guid(common_tray_qzhtml);
    write_string(shared, other_packed, L"C:\\Other\\qzhtml.dll");
    for (const std::wstring& codes : {std::wstring(classes_installer), std::wstring(machine_installer)})
        write_string(codes + L"\\UpgradeCodes\\" + upgrade, other_packed, L"");
    ASSERT_EQ(products_of_upgrade_code(common_tray_upgrade), (std::set<std::wstring>{other_packed, tray}));
    ASSERT_EQ(product_state(common_tray_product), INSTALLSTATE_DEFAULT);
    ASSERT_TRUE(key_exists(uninstall_32 + common_tray_product, KEY_WOW64_32KEY));
    const std::wstring package = local_package_of(tray);
    ASSERT_EQ(package.rfind(windows_folder() + L"Installer\\", 0), 0u) << narrow(package);
    ASSERT_TRUE(file_exists(package));
    // The tray's components: each goes whole, but the one it shares.
    std::set<std::string> component_lines;
    for (const std::wstring& component : subkeys_of(components())) {
        const std::set<std::wstring> values = values_of(components() + L"\\" + component);
        if (!values.count(tray))
            continue;
        const std::wstring path = machine + components() + L"\\" + component;
        component_lines.insert(narrow(values.size() == 1 ? L"Removed key " + path
                                                         : L"Removed value " + tray + L" from " + path));
    }
    ASSERT_EQ(component_lines.size(), 7u);
    const std::set<std::wstring> ostravel_before = values_of(user_data_product(pack_guid(ostravel_product)));

    const log_capture log;
    remove_product_registration(common_tray_product);

    std::vector<std::string> texts = log.texts();
    ASSERT_EQ(texts.size(), 15u);
    const std::vector<std::string> first = {
        "Remove Windows Installer registration of {CF6B13EA-1408-4C58-8484-99F0081933AA}",
        narrow(L"Removed key " + machine + classes_installer + L"\\Products\\" + tray),
        narrow(L"Removed key " + machine + classes_installer + L"\\Features\\" + tray),
        narrow(L"Removed value " + tray + L" from " + machine + classes_installer + L"\\UpgradeCodes\\" + upgrade),
        narrow(L"Removed value " + tray + L" from " + machine + machine_installer + L"\\UpgradeCodes\\" + upgrade),
        narrow(L"Removed key " + machine + user_data_product(tray)),
    };
    EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 6), first);
    EXPECT_EQ(std::set<std::string>(texts.begin() + 6, texts.begin() + 13), component_lines);
    EXPECT_EQ(texts[13], "Removed key HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion"
                         "\\Uninstall\\{CF6B13EA-1408-4C58-8484-99F0081933AA}");
    EXPECT_EQ(texts[14], narrow(L"Removed cached package " + package));

    EXPECT_EQ(product_state(common_tray_product), INSTALLSTATE_UNKNOWN);
    EXPECT_FALSE(key_exists(products_key(tray)));
    EXPECT_FALSE(key_exists(std::wstring(classes_installer) + L"\\Features\\" + tray));
    EXPECT_FALSE(key_exists(user_data_product(tray)));
    EXPECT_FALSE(key_exists(uninstall_32 + common_tray_product, KEY_WOW64_32KEY));
    EXPECT_FALSE(file_exists(package));
    // What is another product's stays.
    EXPECT_EQ(values_of(shared), std::set<std::wstring>{other_packed});
    EXPECT_EQ(products_of_upgrade_code(common_tray_upgrade), std::set<std::wstring>{other_packed});
    EXPECT_EQ(product_state(ostravel_product), INSTALLSTATE_DEFAULT);
    EXPECT_EQ(related_products(ostravel_upgrade), std::vector<std::wstring>{ostravel_product});
    EXPECT_EQ(values_of(user_data_product(pack_guid(ostravel_product))), ostravel_before);
    EXPECT_TRUE(key_exists(uninstall_32 + ostravel_product, KEY_WOW64_32KEY));
    EXPECT_TRUE(file_exists(local_package_of(pack_guid(ostravel_product))));
    EXPECT_EQ(component_state(ostravel_product, shared_languages_component), INSTALLSTATE_LOCAL);
}

struct package_case {
    const char* name;
    std::wstring folder;  // below the Windows folder
    std::wstring file;
    bool removed;
};

// Needs no package: the product is laid by hand.
class cached_package : public testing::TestWithParam<package_case>
{
};

TEST_P(cached_package, goes_only_from_the_installer_folder_itself)
{
    const std::wstring folder = windows_folder() + GetParam().folder;
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring package = folder + GetParam().file;
    write_file(package);
    write_string(products_key(laid_packed), L"ProductName", L"Laid by hand");
    write_string(user_data_product(laid_packed) + L"\\InstallProperties", L"LocalPackage", package);

    const log_capture log;
    remove_product_registration(laid_packed);  // in its packed form

    const std::string last = log.texts().back();
    if (GetParam().removed) {
        EXPECT_EQ(last, narrow(L"Removed cached package " + package));
        EXPECT_FALSE(file_exists(package));
    } else {
        EXPECT_EQ(last,
                  narrow(L"Cached package " + package + L" is not in " + windows_folder() + L"Installer\\: it stays"));
        EXPECT_TRUE(file_exists(package));
    }
    EXPECT_FALSE(key_exists(products_key(laid_packed)));
    EXPECT_FALSE(key_exists(user_data_product(laid_packed)));
}

INSTANTIATE_TEST_SUITE_P(
    registration, cached_package,
    testing::Values(package_case{"in_the_folder", L"Installer\\", L"laid.msi", true},
                    package_case{"in_another_letter_case", L"INSTALLER\\", L"Laid.MSI", true},
                    package_case{"in_a_subfolder", L"Installer\\Laid\\", L"laid.msi", false},
                    package_case{"through_the_parent", L"Installer\\..\\", L"laid.msi", false},
                    package_case{"in_the_windows_folder", L"", L"laid.msi", false},
                    package_case{"in_a_folder_named_alike", L"Installer2\\", L"laid.msi", false}),
    [](const testing::TestParamInfo<package_case>& info) { return std::string(info.param.name); });

TEST_F(registration, a_product_that_is_not_registered_changes_nothing)
{
    // An entry named by a code the installer does not know is not its record.
    const std::wstring code = L"{0D1C2B3A-4F5E-4D6C-8B7A-9F8E7D6C5B4A}";
    const uninstall_entry entry(code, {{L"DisplayName", L"Not an installer's"}});

    const log_capture log;
    remove_product_registration(code);

    EXPECT_EQ(log.texts(), (std::vector<std::string>{
                               "Remove Windows Installer registration of {0D1C2B3A-4F5E-4D6C-8B7A-9F8E7D6C5B4A}",
                               "No Windows Installer registration of {0D1C2B3A-4F5E-4D6C-8B7A-9F8E7D6C5B4A} found",
                           }));
    EXPECT_TRUE(key_exists(uninstall_32 + code, KEY_WOW64_32KEY));
}

TEST_F(registration, a_malformed_code_is_refused_with_a_line)
{
    const std::wstring ostravel = ostravel_product;
    for (const std::wstring& code :
         {std::wstring(), std::wstring(L"Drummets"), ostravel.substr(0, 37), ostravel + L"x", L"x" + ostravel,
          ostravel.substr(1, 36), pack_guid(ostravel_product).substr(1), L"{" + pack_guid(ostravel_product) + L"}",
          std::wstring(L"{7DD6CF44-030E-4C40-8ED6-4CAED4A9754G}")}) {
        const log_capture log;
        remove_product_registration(code);
        EXPECT_EQ(log.texts(), std::vector<std::string>{"Not a product code: " + narrow(code)}) << narrow(code);
    }
    EXPECT_EQ(product_state(ostravel_product), INSTALLSTATE_DEFAULT);
}

} // namespace
