// The product profile's defaults, version parsing, and the names the family's
// table derives from the profile, for the default maker and for another.
#include "family/names.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

TEST(product_profile, defaults_when_the_image_has_no_string_table)
{
    load_product_profile(); // this test program carries no strings 2001 to 2005
    const ProductProfile& p = product_profile();
    EXPECT_EQ(L"Drummets", p.maker_folder);
    EXPECT_EQ(L"Pellamore", p.product_name);
    EXPECT_EQ(L"{5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}", p.product_id);
    EXPECT_EQ(L"Ostravel", p.sibling_name);
    EXPECT_EQ(L"Kessavane", p.tools_folder);
    EXPECT_TRUE(is_default_maker());
    const family::names names = family::names_of(p);
    EXPECT_EQ("DrummetLauncher.exe", names.product.programs.back());
    EXPECT_EQ(L"Suite", names.suite.name);
    EXPECT_EQ(L"Suite Service", names.suite.service_name);
    EXPECT_EQ(L"DrummetSuiteService.exe", names.suite.service_program);
    EXPECT_EQ(L"Pellamore force remover", names.product.administrator_test_title);
}

TEST(parse_product_version, accepts_three_shapes_only)
{
    const std::vector<std::pair<std::string, int>> cases = {
        {"4.1.265", 41265}, {"4.1.50", 41050}, {"4.1.5", 41005}, {"3.6.81", 36081}, {"4.1.2", 41002},
        {"4.1.26", 41026},  {"4.10.2", -1},    {"41.1.2", -1},   {"4.1", -1},       {"4.1.", -1},
        {"4.1.2650", -1},   {"", -1},          {"4-1-2", -1}};
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(expected, parse_product_version(text)) << "'" << text << "'";
}

namespace {

// What the table derives from one profile, as the stages and the relabelled
// program need it.
struct derived_case {
    const char* name;
    ProductProfile profile;
    std::vector<std::string> programs;
    std::wstring suite_name;
    std::wstring suite_service;
    std::wstring suite_program;
    std::wstring suite_folder;  // below Program Files
    std::vector<std::wstring> suite_components;
    std::vector<std::wstring> suite_counters;
    std::wstring tray_program;
    std::wstring tray_folder;  // below Program Files
    std::vector<std::wstring> tray_components;
    std::string virtual_store;
    std::string tools_shortcut;
    std::wstring tools_picture;  // below Program Files
    std::wstring sibling_tray;   // below Program Files
    std::vector<std::wstring> guard_autoruns;
    std::wstring install_folder; // below Program Files
};

class derived_names : public ::testing::TestWithParam<derived_case>
{
};

TEST_P(derived_names, follow_the_maker_product_sibling_and_tools_folder)
{
    const derived_case& c = GetParam();
    const family::names names = family::names_of(c.profile);
    EXPECT_EQ(c.programs, names.product.programs);
    EXPECT_EQ(c.suite_name, names.suite.name);
    EXPECT_EQ(c.suite_service, names.suite.service_name);
    EXPECT_EQ(c.suite_program, names.suite.service_program);
    EXPECT_EQ(CSIDL_PROGRAM_FILES, names.suite.folder.shell_folder);
    EXPECT_EQ(c.suite_folder, names.suite.folder.path);
    EXPECT_EQ(c.suite_components, names.suite.component_key_paths);
    EXPECT_EQ(c.suite_counters, names.suite.counter_patterns);
    EXPECT_EQ(c.tray_program, names.tray.program);
    EXPECT_EQ(c.tray_folder, names.tray.folder.path);
    EXPECT_EQ(c.tray_components, names.tray.component_key_paths);
    EXPECT_EQ(c.virtual_store, names.maker.virtual_store);
    EXPECT_EQ(c.tools_shortcut, names.product.tools_shortcut);
    EXPECT_EQ(c.tools_picture, names.product.tools_picture.path);
    EXPECT_EQ(c.sibling_tray, names.sibling.tray_path.path);
    EXPECT_EQ(c.guard_autoruns, names.product.guard_autoruns);
    EXPECT_EQ(c.install_folder, names.product.install_folder.path);

    // The suite and the tray of the same maker, as their removals make them.
    const family::suite_names suite = family::suite_of(c.profile.maker_folder);
    EXPECT_EQ(names.suite.component_key_paths, suite.component_key_paths);
    EXPECT_EQ(names.suite.counter_patterns, suite.counter_patterns);
    EXPECT_EQ(names.tray.component_key_paths, family::tray_of(c.profile.maker_folder).component_key_paths);
}

INSTANTIATE_TEST_SUITE_P(
    family_names, derived_names,
    ::testing::Values(
        derived_case{"default_maker",
                     default_product_profile(),
                     {"qelvaTray.exe", "Chimebox.exe", "DrummetLauncher.exe"},
                     L"Suite",
                     L"Suite Service",
                     L"DrummetSuiteService.exe",
                     L"Drummets\\",
                     {L"DrummetLauncher.exe", L"DrummetSuiteService.exe", L"Drummets\\qzhtml.dll",
                      L"Drummets\\Tracegather.exe", L"Drummets\\Hostmark.exe", L"Drummets\\HostmarkGateway.dll"},
                     {L"Drummets\\DrummetLauncher", L"Drummets\\DrummetSuiteService", L"Drummets\\Tracegather",
                      L"Drummets\\qzhtml", L"Drummets\\Hostmark.exe", L"Drummets\\HostmarkGateway"},
                     L"DrummetsTray.exe",
                     L"Drummets\\Tray\\",
                     {L"DrummetsTray.exe", L"Tray\\Chimebox.exe", L"Tray\\qzhtml.dll", L"Tray\\Harrowlink.dll"},
                     "Drummets",
                     "Kessavane",
                     L"Drummets\\Kessavane\\Pellamore\\Folder.jpg",
                     L"Drummets\\Ostravel\\zornaTray.exe",
                     {L"QELVAguard", L"pellamoreguard", L"Pellamoreguard"},
                     L"Drummets\\Pellamore\\"},
        // The relabelled program's strings: the names that follow the maker
        // change, the tray's installer components keep the default maker's.
        derived_case{"another_maker",
                     {L"Vellacorp", L"Brightwarden", L"{11111111-2222-3333-4444-555555555555}", L"Duskwarden",
                      L"VellaTools"},
                     {"qelvaTray.exe", "Chimebox.exe", "VellacorpLauncher.exe"},
                     L"Vellacorp Suite",
                     L"Vellacorp Suite Service",
                     L"SuiteService.exe",
                     L"Vellacorp\\",
                     {L"VellacorpLauncher.exe", L"SuiteService.exe", L"Vellacorp\\qzhtml.dll",
                      L"Vellacorp\\Tracegather.exe", L"Vellacorp\\Hostmark.exe", L"Vellacorp\\HostmarkGateway.dll"},
                     {L"Vellacorp\\VellacorpLauncher", L"Vellacorp\\SuiteService", L"Vellacorp\\Tracegather",
                      L"Vellacorp\\qzhtml", L"Vellacorp\\Hostmark.exe", L"Vellacorp\\HostmarkGateway"},
                     L"VellacorpTray.exe",
                     L"Vellacorp\\Tray\\",
                     {L"DrummetsTray.exe", L"Tray\\Chimebox.exe", L"Tray\\qzhtml.dll", L"Tray\\Harrowlink.dll"},
                     "Vellacorp",
                     "VellaTools",
                     L"Vellacorp\\VellaTools\\Brightwarden\\Folder.jpg",
                     L"Vellacorp\\Duskwarden\\zornaTray.exe",
                     {L"QELVAguard", L"pellamoreguard", L"Brightwardenguard"},
                     L"Vellacorp\\Brightwarden\\"}),
    [](const ::testing::TestParamInfo<derived_case>& info) { return std::string(info.param.name); });

} // namespace
