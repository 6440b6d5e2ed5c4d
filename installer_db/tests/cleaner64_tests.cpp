// The 64-bit cleaner as the remover runs it on 64-bit Windows: a child process
// under Wine's "winxp64" version setting (and, on the bare machine, under the
// default one) cleans Pellamore's upgrade code from the installer data that
// Wine's msiexec wrote.
#include "cleaning_suite.h"

#include <gtest/gtest.h>

using namespace installer_test;

namespace {

struct sixty_four
{
    static const REGSAM user_data_view = KEY_WOW64_64KEY;

    // First on the machine as it was booted, before any package, under the
    // default version setting: on every 64-bit Windows the remover's choice
    // is this cleaner, as on XP below.
    static void before_scenario() { bare_lines = texts_of(parse_log(run_cleaning(false).console)); }

    // A subkey that can be neither opened nor deleted, inside Pellamore's
    // registration: the depth-first deletion must give up on it.
    static void after_scenario() { make_dangling_link(product_key(pellamore_product) + L"\\Broken"); }

    static program_run run() { return run_cleaning(true); }

    static std::vector<std::string> bare_lines;
};

std::vector<std::string> sixty_four::bare_lines;

using cleaner64 = cleaning<sixty_four>;

} // namespace

namespace installer_test {
INSTANTIATE_TYPED_TEST_SUITE_P(sixty_four, cleaning, sixty_four);
}

namespace {

TEST_F(cleaner64, says_so_when_the_classes_root_holds_no_installer_data)
{
    const std::vector<std::string> expected = {
        "**** Cleaning Installation Database (64) ****",
        "",
        "Locating Windows Installer Root Stores",
        "==================================================",
        "RegOpenKeyEx HKEY_CLASSES_ROOT\\Installer failed",
        "",
        "Upgrade Codes Removed",
        "==================================================",
        "",
        "Product Codes Removed",
        "=================================================",
        "",
        "Component Codes Removed",
        "=================================================",
        "",
        "Key Files Removed",
        "=================================================",
        "",
    };
    EXPECT_EQ(sixty_four::bare_lines, expected);
}

TEST_F(cleaner64, reports_every_store_and_removal)
{
    const std::vector<std::string> expected = {
        "**** Cleaning Installation Database (64) ****",
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
        // The classes root and HKLM\Software\Classes are one key: the second
        // visit finds the code gone and says nothing.
        "1  {5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}",
        "3  {5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}",
        "",
        "Product Codes Removed",
        "=================================================",
        "4  {0B5E2C47-9A13-4E8D-B6F0-3C2A1D7E9F58}",
        "4  {7474D25A-55B7-4CB8-9D93-1FB2B1F3726B}",
        "7  {0B5E2C47-9A13-4E8D-B6F0-3C2A1D7E9F58}",
        // The link inside Pellamore's registration was given up.
        "Error 2",
        "7  {7474D25A-55B7-4CB8-9D93-1FB2B1F3726B}",
        "",
        "Component Codes Removed",
        "=================================================",
        "    only 1 value was removed from key {54FB2DF0-C2D1-476D-A8C0-D2BAC7D98B55}",
        "    only 1 value was removed from key {5C1A4E71-3B20-6F4D-8A9C-0E1F2B3D4C5A}",
        "    only 1 value was removed from key {816C3991-9A6D-457C-83A5-149F48E710B2}",
        "    only 1 value was removed from key {3FCD7FB1-5FE1-4FA4-9ED6-CA91196D28BE}",
        "    only 1 value was removed from key {E0D9C7B2-A6F4-C1B8-D3E5-F7A9B0C2D4E6}",
        "    only 1 value was removed from key {E667DA36-FD9B-4390-8318-173F0B41B23E}",
        "    only 1 value was removed from key {DE1BBD66-70EA-4C4E-95A3-D493E28E9252}",
        "    only 1 value was removed from key {3C7F1C39-8BF6-454F-82FF-937C2E1A67A4}",
        "    only 1 value was removed from key {E876709C-ED00-4885-95C0-BA68B5B08857}",
        "7  {2D7F4A90-6C1E-4B3D-8E52-A9F0C6B71D34}",
        "7  {E6E9F4C1-8AB2-4529-AED7-11814F8A5F88}",
        "7  {BEBA90D3-1FB1-44FB-A1A0-57C4528A3045}",
        "7  {DA098D1D-2742-413C-B929-F2D9D64F77B1}",
        "",
        "Key Files Removed",
        "=================================================",
        "  C:\\Program Files (x86)\\Drummets\\Pellamore\\QELVA.dll",
        "  C:\\Program Files (x86)\\Drummets\\Pellamore\\x.dll      is decremented to 2",
        "",
    };
    EXPECT_EQ(cleaned().lines, expected);
}

TEST_F(cleaner64, leaves_no_product_under_the_upgrade_code)
{
    EXPECT_TRUE(related_products(pellamore_upgrade).empty());
}

TEST_F(cleaner64, counts_the_key_files_of_removed_components_only)
{
    EXPECT_EQ(shared_dll_counter(qelva_library), std::nullopt);
    EXPECT_EQ(shared_dll_counter(private_file), 2u);  // its key path was written "C?\..."
    // The shared component stays, so its file's counter is left alone.
    EXPECT_EQ(shared_dll_counter(kelzip_library), 2u);
}

TEST_F(cleaner64, never_removes_a_component_value_it_could_not_read)
{
    // Pellamore's own over-long value is not read, so it stays. (Its help
    // component, with another product's value too long for the buffer, stays
    // with that value: components_keep_other_products_values.)
    EXPECT_EQ(values_of(component_key(long_path_component)), std::set<std::wstring>{pack_guid(pellamore_product)});
    EXPECT_FALSE(key_exists(component_key(private_component)));
    EXPECT_FALSE(key_exists(component_key(tray_component)));
}

TEST_F(cleaner64, gives_up_on_a_subkey_it_cannot_delete)
{
    EXPECT_EQ(subkeys_of(product_key(pellamore_product)), std::set<std::wstring>{L"Broken"});
    EXPECT_FALSE(key_exists(product_key(tools_product)));
}

} // namespace
