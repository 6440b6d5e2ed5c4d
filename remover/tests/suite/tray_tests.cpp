// The common tray stage on trays laid by hand: the count of products left,
// the tray kept while one is left, and the ways a tray is closed.
#include "suite_bed.h"

#include "remover/common_tray.h"
#include "tessel/registry2/key.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

using namespace suite_bed;
namespace kit = testbed::kit;
using lines = std::vector<std::string>;

class tray_stage : public ::testing::Test
{
protected:
    void TearDown() override
    {
        SetFileAttributesW((configurations() + L"QELVA.xml").c_str(), FILE_ATTRIBUTE_NORMAL);
        clear_machine();
    }

    static void remove_tray() { CommonTrayRemover(L"Drummets", L"DrummetsTray.exe").remove_common_tray(); }

    // The neighbour of the tray's counters: its path holds "tray", not "Drummets\Tray".
    static std::wstring neighbour() { return suite_folder() + L"Pellamore\\tray.dll"; }

    log_capture log;
};

struct count_case {
    const char* name;
    std::vector<std::wstring> files;
    std::vector<std::wstring> folders;
    int count;
};

class tray_count : public tray_stage, public ::testing::WithParamInterface<count_case>
{
};

TEST_P(tray_count, counts_the_products_by_their_configuration_files)
{
    for (const std::wstring& file : GetParam().files)
        kit::write_file(configurations() + file, "<c/>");
    for (const std::wstring& folder : GetParam().folders)
        kit::make_folders(configurations() + folder + L"\\");
    EXPECT_EQ(GetParam().count, count_tray_products(configurations()));
}

INSTANTIATE_TEST_SUITE_P(
    tray_stage, tray_count,
    ::testing::Values(count_case{"no_folder", {}, {}, 0}, count_case{"only_the_trays_own", {L"sdtray.xml"}, {}, 0},
                      count_case{"own_in_capitals", {L"SDTRAY.XML"}, {}, 0},
                      count_case{"sibling", {L"sdtray.xml", L"zorna.xml"}, {}, 1},
                      count_case{"sibling_and_this_product", {L"sdtray.xml", L"zorna.xml", L"QELVA.xml"}, {}, 1},
                      count_case{"this_product_alone", {L"qelva.xml"}, {}, 1},
                      count_case{"two_others", {L"sdtray.xml", L"other.xml", L"third.xml"}, {}, 2},
                      count_case{"not_xml_and_folders", {L"sdtray.xml", L"notes.txt"}, {L"folder.xml"}, 0}),
    [](const ::testing::TestParamInfo<count_case>& info) { return std::string(info.param.name); });

TEST_F(tray_stage, sibling_left_keeps_the_tray_and_sets_its_counters_to_one)
{
    lay_tray({L"sdtray.xml", L"zorna.xml", L"QELVA.xml"}, true);
    const std::wstring tray_package = L"1A2B3C4D5E6F708192A3B4C5D6E7F801";
    lay_installer_product(tray_package, {tray_folder() + L"qzhtml.dll"});
    // This product's file cannot be deleted.
    SetFileAttributesW((configurations() + L"QELVA.xml").c_str(), FILE_ATTRIBUTE_READONLY);
    set_shared_dll_counter(neighbour(), 5);
    std::unique_ptr<kit::process> tray;
    ASSERT_TRUE(start_tray(tray));

    remove_tray();
    const lines texts = log.texts();
    // A read-only file refuses with "access denied" without being in use: it
    // stays, with its failure line, and nothing waits for the restart.
    EXPECT_EQ((lines{"FAILED TO remove '" + narrow(configurations()) + "QELVA.xml'; error 5 !",
                     "   " + narrow(tray_folder()) + "HTML\\gfx\\Icon_SDTRAY-UPD-QELVA.png removed",
                     "Number of prosucts = 1", "Fixing Common Tray counters in SharedDLLs",
                     "Number of products with Common Tray according to configurations files: 1"}),
              lines(texts.begin(), texts.begin() + std::min<size_t>(texts.size(), 5)));

    EXPECT_TRUE(tray->running());
    EXPECT_TRUE(exists(tray_program()));
    EXPECT_TRUE(key_exists(tray_key));
    EXPECT_TRUE(value_exists(run_key, L"CommonSundrelTray"));
    EXPECT_EQ(1u, shared_dll_counter(tray_program()).value_or(0));
    EXPECT_EQ(1u, shared_dll_counter(tray_folder() + L"qzhtml.dll").value_or(0));
    EXPECT_EQ(5u, shared_dll_counter(neighbour()).value_or(0));
    // The tray stays installed, and so does its package.
    EXPECT_TRUE(installer_product_registered(tray_package));
    EXPECT_TRUE(any_component_contains(L"Tray\\qzhtml.dll"));
}

TEST_F(tray_stage, only_the_trays_own_packages_lose_their_registration)
{
    lay_tray({}, true);
    const std::wstring tray = tray_folder();
    std::wstring tray_with_question_mark = tray + L"Chimebox.exe";
    tray_with_question_mark[1] = L'?';
    const std::wstring trays_own = L"1A2B3C4D5E6F708192A3B4C5D6E7F801";
    lay_installer_product(trays_own, {tray + L"DrummetsTray.exe", tray_with_question_mark});
    // Its component's path merely ends like the tray's: the search takes the
    // component, but the product is not the tray's.
    const std::wstring neighbour = L"2A2B3C4D5E6F708192A3B4C5D6E7F802";
    lay_installer_product(neighbour, {L"C:\\Program Files (x86)\\Halvard Media\\Tray\\qzhtml.dll"});
    const std::wstring siblings = L"3A2B3C4D5E6F708192A3B4C5D6E7F803";
    lay_installer_product(siblings, {tray + L"qzhtml.dll"}, L"{9E4D2B71-0C3A-4F85-B6D9-2E17A5C0F348}");
    const std::wstring partly_elsewhere = L"4A2B3C4D5E6F708192A3B4C5D6E7F804";
    lay_installer_product(partly_elsewhere, {tray + L"Harrowlink.dll", L"C:\\Elsewhere\\Tray\\Harrowlink.dll"});
    // In the tray folder, but in no component the stage removes.
    const std::wstring untouched = L"5A2B3C4D5E6F708192A3B4C5D6E7F805";
    lay_installer_product(untouched, {tray + L"HTML\\gfx\\tray.png"});

    remove_tray();
    const lines texts = log.texts();
    const std::string removal = "Remove Windows Installer registration of ";
    lines removals;
    for (const std::string& text : texts)
        if (text.compare(0, removal.size(), removal) == 0)
            removals.push_back(text);
    EXPECT_EQ(lines{removal + "{D4C3B2A1-F6E5-1807-293A-4B5C6D7E8F10}"}, removals);
    EXPECT_TRUE(in_order(texts, {"**** Let's remove Common Tray Registry Component ****",
                                 removal + "{D4C3B2A1-F6E5-1807-293A-4B5C6D7E8F10}",
                                 "Fixing Common Tray counters in SharedDLLs"}));
    EXPECT_FALSE(installer_product_registered(trays_own));
    EXPECT_FALSE(any_component_contains(L"Halvard Media"));
    for (const std::wstring& product : {neighbour, siblings, partly_elsewhere, untouched})
        EXPECT_TRUE(installer_product_registered(product)) << narrow(product);
    EXPECT_TRUE(any_component_contains(L"tray.png"));
}

TEST_F(tray_stage, no_configurations_folder_removes_a_tray_that_is_not_running)
{
    lay_tray({}, true);
    set_shared_dll_counter(neighbour(), 5);

    remove_tray();
    const lines texts = log.texts();
    const std::string program = narrow(tray_program());
    EXPECT_TRUE(in_order(texts, {"Number of prosucts = 0", "Quiting Tray: " + program,
                                 "Process: " + program + " closed successfully",
                                 "Cleaning registry: HKLM\\Software\\Drummets\\Tray",
                                 "Cleaning registry: HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\"
                                 "CommonSundrelTray",
                                 "Number of products with Common Tray according to configurations files: 0"}));
    EXPECT_FALSE(has(texts, "Terminate running process: " + program));
    EXPECT_FALSE(exists(tray_folder()));
    EXPECT_FALSE(key_exists(tray_key));
    EXPECT_FALSE(value_exists(run_key, L"CommonSundrelTray"));
    EXPECT_FALSE(shared_dll_counter(tray_program()));
    EXPECT_EQ(5u, shared_dll_counter(neighbour()).value_or(0));
}

TEST_F(tray_stage, tray_that_closes_seconds_after_quit_is_waited_for_not_terminated)
{
    lay_tray({L"sdtray.xml"}, true);
    kit::set_knob(L"DrummetsTray", L"quit_delay_ms", L"2500");
    std::unique_ptr<kit::process> tray;
    ASSERT_TRUE(start_tray(tray));

    remove_tray();
    const lines texts = log.texts();
    const std::string program = narrow(tray_program());
    EXPECT_TRUE(in_order(texts, {"Quiting Tray: " + program, "Process: " + program + " closed successfully"}));
    EXPECT_FALSE(has(texts, "Terminate running process: " + program));
    EXPECT_TRUE(tray->wait(5000));
    EXPECT_EQ(0u, tray->exit_code());
    EXPECT_FALSE(exists(tray_folder()));
}

TEST_F(tray_stage, tray_without_a_maker_is_refused_with_a_line)
{
    lay_tray({}, false);
    CommonTrayRemover(L"", L"DrummetsTray.exe").remove_common_tray();
    EXPECT_EQ((lines{"remove_common_tray() Exception: [No maker or tray folder name: the tray folder cannot be "
                     "told]"}),
              log.texts());
    EXPECT_TRUE(exists(tray_program()));
}

TEST_F(tray_stage, autorun_value_goes_also_when_the_trays_key_is_already_gone)
{
    lay_tray({}, false);
    tessel::registry2::key(HKEY_LOCAL_MACHINE).open(L"SOFTWARE\\Drummets", false).remove_key(L"Tray", true);

    remove_tray();
    EXPECT_FALSE(has(log.texts(), "Cleaning registry: HKLM\\Software\\Drummets\\Tray"));
    EXPECT_TRUE(has(log.texts(),
                    "Cleaning registry: HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\CommonSundrelTray"));
    EXPECT_FALSE(value_exists(run_key, L"CommonSundrelTray"));
}

TEST_F(tray_stage, without_qzhtml_no_quit_is_sent_and_the_running_tray_is_terminated)
{
    lay_tray({L"sdtray.xml"}, false);
    lay_profiles_data();
    std::unique_ptr<kit::process> tray;
    ASSERT_TRUE(start_tray(tray));

    remove_tray();
    const lines texts = log.texts();
    const std::string program = narrow(tray_program());
    EXPECT_FALSE(has(texts, "Quiting Tray: " + program));
    EXPECT_TRUE(in_order(texts, {"Number of prosucts = 0", "Terminate running process: " + program,
                                 "Dealing with 'DrummetsTray.exe' process ....",
                                 "Process: " + program + " closed successfully"}));
    EXPECT_TRUE(tray->wait(5000));
    EXPECT_EQ(255u, tray->exit_code());
    EXPECT_FALSE(exists(tray_folder()));
    EXPECT_FALSE(exists(app_data() + L"Drummets"));
    EXPECT_FALSE(exists(other_app_data() + L"Drummets"));
    EXPECT_TRUE(exists(other_app_data() + L"Kelmar\\keep.txt"));
}

} // namespace
