// Single-record removal on the installer data of the test bed's packages, as
// Wine's msiexec installed them, in this 32-bit process under WOW64 (so in the
// 64-bit view).
#include "installer_db/packed_guid.h"
#include "installer_db/records.h"
#include "installer_support.h"
#include "checks.h"
#include "log_capture.h"

#include <gtest/gtest.h>

using namespace installer_test;

namespace {

const wchar_t suite_product[] = L"{F6B1BCC9-942B-4725-B0AA-F4488C80C788}";
const wchar_t suite_qzhtml[] = L"{920652E8-00EB-4D22-A178-6066E90D59C7}";
const wchar_t suite_harrowlink[] = L"{897A2E47-2887-481B-8B35-298578CD2638}";
const wchar_t unknown_upgrade[] = L"{0D1C2B3A-4F5E-4D6C-8B7A-9F8E7D6C5B4A}";

const wchar_t user_data[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";
const wchar_t user_sid[] = L"S-1-5-21-0-0-0-1000";

std::wstring component_in(const wchar_t* sid, const std::wstring& packed)
{
    return std::wstring(user_data) + L"\\" + sid + L"\\Components\\" + packed;
}

// A component (packed code) in the local system's user data.
std::wstring component_key_of(const std::wstring& packed)
{
    return std::wstring(system_user_data) + L"\\Components\\" + packed;
}

class records : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        setup_error_ = install_packages({"pellamore", "ostravel", "viewer", "suite", "tray"});
    }

    void SetUp() override { ASSERT_EQ(setup_error_, "") << "msiexec failed"; }

    static std::string setup_error_;
};

std::string records::setup_error_;

TEST_F(records, finds_the_first_product_of_an_upgrade_code)
{
    const log_capture log;
    EXPECT_EQ(find_product_code_by_upgrade_code(pellamore_upgrade), L"A52D47477B558BC4D939F12B1B3F27B6");
    EXPECT_EQ(find_product_code_by_upgrade_code(unknown_upgrade), L"not found");
    EXPECT_EQ(log.texts(), (std::vector<std::string>{
                               "    Find ProductCode by UpgradeCode {5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}",
                               "    ProductCode is A52D47477B558BC4D939F12B1B3F27B6 "
                               "({7474D25A-55B7-4CB8-9D93-1FB2B1F3726B})",
                               "    Find ProductCode by UpgradeCode {0D1C2B3A-4F5E-4D6C-8B7A-9F8E7D6C5B4A}",
                           }));
}

TEST_F(records, removes_components_by_the_key_path_of_their_first_value_in_every_user)
{
    // What no installer here writes: a user's own component with a subkey
    // and its key path in another letter case, and a component whose matching
    // key path is only in its second value.
    const std::wstring own = component_in(user_sid, L"0123456789ABCDEF0123456789ABCDEF");
    write_string(own, pack_guid(pellamore_product), L"c:\\program files (x86)\\drummets\\QzHtml.DLL");
    write_string(own + L"\\Extra", L"Note", L"left by a repair");
    const std::wstring second = component_in(user_sid, L"FEDCBA9876543210FEDCBA9876543210");
    write_string(second, L"00000000000000000000000000000001", L"C:\\Other\\other.dll");
    write_string(second, L"FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", L"C:\\Other\\qzhtml.dll");

    const log_capture log;
    const std::vector<component_value> removed = remove_components_by_key_path(L"QZHTML.DLL");

    const std::string prefix = "Removed Component  HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion"
                               "\\Installer\\UserData\\";
    EXPECT_EQ(log.texts(), (std::vector<std::string>{
                               "Search Component QZHTML.DLL ",
                               prefix + "S-1-5-18\\Components\\" + narrow(pack_guid(common_tray_qzhtml)),
                               prefix + "S-1-5-18\\Components\\" + narrow(pack_guid(suite_qzhtml)),
                               prefix + "S-1-5-21-0-0-0-1000\\Components\\0123456789ABCDEF0123456789ABCDEF",
                           }));
    // Whose the removed components were, as they were.
    std::set<std::pair<std::wstring, std::wstring>> owners;
    for (const component_value& value : removed)
        owners.emplace(value.product, value.key_path);
    EXPECT_EQ(owners.size(), 3u);
    EXPECT_TRUE(owners.count({pack_guid(pellamore_product), L"c:\\program files (x86)\\drummets\\QzHtml.DLL"}));
    EXPECT_TRUE(owners.count({pack_guid(suite_product), L"C:\\Program Files (x86)\\Drummets\\qzhtml.dll"}));
    EXPECT_TRUE(owners.count({pack_guid(common_tray_product),
                              L"C:\\Program Files (x86)\\Drummets\\Tray\\qzhtml.dll"}));
    EXPECT_FALSE(key_exists(own));
    EXPECT_TRUE(key_exists(second));
    EXPECT_NE(component_state(suite_product, suite_qzhtml), INSTALLSTATE_LOCAL);
    EXPECT_EQ(component_state(suite_product, suite_harrowlink), INSTALLSTATE_LOCAL);
    EXPECT_EQ(product_state(suite_product), INSTALLSTATE_DEFAULT);
}

TEST_F(records, removes_only_the_products_value_from_a_shared_component)
{
    const std::wstring packed = pack_guid(shared_languages_component);
    ASSERT_EQ(packed, L"17E4A1C502B3D4F6A8C9E0F1B2D3C4A5");

    const log_capture log;
    remove_product_component(pellamore_upgrade, packed);

    EXPECT_EQ(log.texts(), (std::vector<std::string>{
                               "    Find ProductCode by UpgradeCode {5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}",
                               "    ProductCode is A52D47477B558BC4D939F12B1B3F27B6 "
                               "({7474D25A-55B7-4CB8-9D93-1FB2B1F3726B})",
                               "Search Component 17E4A1C502B3D4F6A8C9E0F1B2D3C4A5 ",
                               "    only 1 value was removed from key 17E4A1C502B3D4F6A8C9E0F1B2D3C4A5",
                           }));
    EXPECT_EQ(values_of(component_key_of(packed)), std::set<std::wstring>{pack_guid(ostravel_product)});
    EXPECT_EQ(component_state(ostravel_product, shared_languages_component), INSTALLSTATE_LOCAL);
    EXPECT_NE(component_state(pellamore_product, shared_languages_component), INSTALLSTATE_LOCAL);
}

TEST_F(records, removes_a_component_that_only_the_product_uses)
{
    const std::wstring packed = pack_guid(help_component);

    const log_capture log;
    remove_product_component(pellamore_upgrade, packed);

    EXPECT_EQ(log.texts(), (std::vector<std::string>{
                               "    Find ProductCode by UpgradeCode {5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}",
                               "    ProductCode is A52D47477B558BC4D939F12B1B3F27B6 "
                               "({7474D25A-55B7-4CB8-9D93-1FB2B1F3726B})",
                               "Search Component " + narrow(packed) + " ",
                               "Removed Component  HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion"
                               "\\Installer\\UserData\\S-1-5-18\\Components\\" + narrow(packed),
                           }));
    EXPECT_FALSE(key_exists(component_key_of(packed)));
}

TEST_F(records, removes_one_feature_of_the_product)
{
    const std::wstring features =
        std::wstring(system_user_data) + L"\\Products\\A52D47477B558BC4D939F12B1B3F27B6\\Features";
    ASSERT_EQ(values_of(features), (std::set<std::wstring>{L"QLV", L"Shared"}));

    const log_capture log;
    remove_product_feature(pellamore_upgrade, L"QLV");
    remove_product_feature(pellamore_upgrade, L"QLV");  // gone: nothing more to say

    const std::vector<std::string> find = {
        "    Find ProductCode by UpgradeCode {5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}",
        "    ProductCode is A52D47477B558BC4D939F12B1B3F27B6 ({7474D25A-55B7-4CB8-9D93-1FB2B1F3726B})",
        "Search QLV feature in A52D47477B558BC4D939F12B1B3F27B6 product",
    };
    std::vector<std::string> expected = find;
    expected.push_back("Removed feature QLV from HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion"
                       "\\Installer\\UserData\\S-1-5-18\\Products\\A52D47477B558BC4D939F12B1B3F27B6\\Features");
    expected.insert(expected.end(), find.begin(), find.end());
    EXPECT_EQ(log.texts(), expected);
    EXPECT_EQ(values_of(features), std::set<std::wstring>{L"Shared"});
}

TEST_F(records, an_unknown_upgrade_code_changes_nothing)
{
    const std::wstring features =
        std::wstring(system_user_data) + L"\\Products\\" + pack_guid(ostravel_product) + L"\\Features";
    const std::set<std::wstring> before = values_of(features);

    const log_capture log;
    remove_product_feature(unknown_upgrade, L"ZRN");
    remove_product_component(unknown_upgrade, pack_guid(kelzip_component));

    EXPECT_EQ(log.texts(), (std::vector<std::string>{
                               "    Find ProductCode by UpgradeCode {0D1C2B3A-4F5E-4D6C-8B7A-9F8E7D6C5B4A}",
                               "Search ZRN feature in not found product",
                               "    Find ProductCode by UpgradeCode {0D1C2B3A-4F5E-4D6C-8B7A-9F8E7D6C5B4A}",
                               "Search Component 93C1F7C36FB8F45428FF39C7E2A1764A ",
                           }));
    EXPECT_EQ(values_of(features), before);
    EXPECT_EQ(values_of(component_key_of(pack_guid(kelzip_component))).size(), 2u);
}

// Last: the sealed keys stay for the rest of the program.
TEST_F(records, names_a_record_it_cannot_open_with_the_code)
{
    // What no installer here writes: a user's component of Pellamore's and
    // Pellamore's feature list in that user's data, both of which nobody may
    // open.
    const std::wstring packed = L"00112233445566778899AABBCCDDEEFF";
    const std::wstring component = component_in(user_sid, packed);
    write_string(component, pack_guid(pellamore_product), L"C:\\Other\\sealed.dll");
    seal_key(HKEY_LOCAL_MACHINE, component, KEY_WOW64_64KEY);
    const std::wstring features =
        std::wstring(user_data) + L"\\" + user_sid + L"\\Products\\A52D47477B558BC4D939F12B1B3F27B6\\Features";
    write_string(features, L"Sealed", L"");
    seal_key(HKEY_LOCAL_MACHINE, features, KEY_WOW64_64KEY);

    const log_capture log;
    remove_product_component(pellamore_upgrade, packed);
    remove_product_feature(pellamore_upgrade, L"Sealed");

    const std::vector<std::string> find = {
        "    Find ProductCode by UpgradeCode {5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}",
        "    ProductCode is A52D47477B558BC4D939F12B1B3F27B6 ({7474D25A-55B7-4CB8-9D93-1FB2B1F3726B})",
    };
    std::vector<std::string> expected = find;
    expected.push_back("Search Component " + narrow(packed) + " ");
    expected.push_back("! ERROR open key HKLM\\" + narrow(component) + " failed: 5");
    expected.insert(expected.end(), find.begin(), find.end());
    expected.push_back("Search Sealed feature in A52D47477B558BC4D939F12B1B3F27B6 product");
    expected.push_back("! ERROR open key HKLM\\" + narrow(features) + " failed: 5");
    EXPECT_EQ(log.texts(), expected);
    EXPECT_TRUE(key_is_sealed(HKEY_LOCAL_MACHINE, component, KEY_WOW64_64KEY));
}

} // namespace
