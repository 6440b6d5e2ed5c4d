// The 32-bit cleaner, as the remover runs it on 32-bit Windows: a child
// process under Wine's default version setting, told to use this cleaner
// (under WOW64 the remover's own choice is the 64-bit one).
//
// Under WOW64 a 32-bit process's own view reaches the installer data of the
// shared classes root, but not the user data that the installer keeps in the
// 64-bit view. The scenario therefore also holds a copy of that data in the
// 32-bit view, where a 32-bit Windows keeps it, so that every step of the
// cleaner has data to work on.
#include "cleaning_suite.h"

#include <gtest/gtest.h>

using namespace installer_test;

namespace {

struct thirty_two
{
    static const REGSAM user_data_view = KEY_WOW64_32KEY;

    static void before_scenario() {}

    static void after_scenario()
    {
        copy_to_32_bit_view(std::wstring(machine_installer) + L"\\UpgradeCodes");
        copy_to_32_bit_view(std::wstring(machine_installer) + L"\\UserData");
    }

    static program_run run() { return run_cleaning(false, true); }
};

using cleaner32 = cleaning<thirty_two>;

} // namespace

namespace installer_test {
INSTANTIATE_TYPED_TEST_SUITE_P(thirty_two, cleaning, thirty_two);
}

namespace {

TEST_F(cleaner32, reports_every_store_and_removal)
{
    const std::vector<std::string> expected = {
        "**** Cleaning Installation Database (32) ****",
        "",
        "Locating Windows Installer Root Stores",
        "==================================================",
        "Root: 1  HKCR",
        "Root: 2  HKLM\\Software\\Classes",
        "Root: 3  HKLM\\Software\\Microsoft\\Windows\\CurrentVersion",
        "UserData: 1  4  Installer",
        "UserData: 2  5  Installer",
        "UserData: 3  6  Installer",
        "UserData: 3  7  Installer\\UserData\\S-1-5-18",
        "",
        "Upgrade Codes Removed",
        "==================================================",
        "1  {5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}",
        "3  {5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}",
        "",
        "Product Codes Removed",
        "=================================================",
        "4  {0B5E2C47-9A13-4E8D-B6F0-3C2A1D7E9F58}",
        "4  {7474D25A-55B7-4CB8-9D93-1FB2B1F3726B}",
        "7  {0B5E2C47-9A13-4E8D-B6F0-3C2A1D7E9F58}",
        "7  {7474D25A-55B7-4CB8-9D93-1FB2B1F3726B}",
        "",
        "Component Codes Removed",
        "=================================================",
        "7  {2D7F4A90-6C1E-4B3D-8E52-A9F0C6B71D34}",
        "7  {8E3A5C71-2B4D-4F69-A0C8-1D3E5F7A9B2C}",
        "7  {E6E9F4C1-8AB2-4529-AED7-11814F8A5F88}",
        "7  {BEBA90D3-1FB1-44FB-A1A0-57C4528A3045}",
        "7  {DA098D1D-2742-413C-B929-F2D9D64F77B1}",
        "",
        "Key Files Removed",
        "=================================================",
        // Key paths are kept wherever the product had a value: the shared
        // library loses Pellamore's count although its component stays.
        "  C:\\Program Files (x86)\\Common Files\\Kelmar\\kelzip.dll      is decremented to 1",
        "  C:\\Program Files (x86)\\Drummets\\Pellamore\\QELVA.dll",
        "  C:\\Program Files (x86)\\Drummets\\Pellamore\\x.dll      is decremented to 2",
        "",
    };
    EXPECT_EQ(cleaned().lines, expected);
}

TEST_F(cleaner32, leaves_the_64_bit_user_data_to_the_64_bit_view)
{
    // Wine's installer still enumerates the products of the upgrade code from
    // the 64-bit view's UpgradeCodes key, which this view does not reach.
    EXPECT_EQ(related_products(pellamore_upgrade),
              (std::vector<std::wstring>{tools_product, pellamore_product}));
    EXPECT_TRUE(key_exists(product_key(pellamore_product)));
    EXPECT_EQ(values_of(component_key(kelzip_component)),
              (std::set<std::wstring>{pack_guid(viewer_product), pack_guid(pellamore_product)}));
}

} // namespace
