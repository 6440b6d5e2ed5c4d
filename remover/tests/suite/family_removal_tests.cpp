// The last product of the family leaves a machine laid by the family's own
// packages: the suite stage removes the framework, then the tray stage the
// common tray, each leaving alone what is not theirs. One test, as the two
// stages follow each other on one machine (the packages install once a prefix).
#include "suite_bed.h"

#include "remover/common_tray.h"
#include "remover/sundrel.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <msi.h>

namespace {

using namespace suite_bed;
namespace kit = testbed::kit;
using lines = std::vector<std::string>;

const std::vector<std::wstring> suite_files = {L"DrummetSuiteService.exe", L"DrummetLauncher.exe", L"qzhtml.dll",
                                               L"Tracegather.exe",         L"Hostmark.exe",        L"HostmarkGateway.dll",
                                               L"Harrowlink.dll"};
const std::vector<std::wstring> suite_key_paths = {L"Drummets\\DrummetSuiteService.exe", L"Drummets\\DrummetLauncher.exe",
                                                   L"Drummets\\qzhtml.dll",              L"Drummets\\Tracegather.exe",
                                                   L"Drummets\\Hostmark.exe",            L"Drummets\\HostmarkGateway.dll"};
const wchar_t tray_product[] = L"{CF6B13EA-1408-4C58-8484-99F0081933AA}";
const wchar_t suite_product[] = L"{F6B1BCC9-942B-4725-B0AA-F4488C80C788}";
const wchar_t tray_uninstall_entry[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{CF6B13EA-1408-4C58-8484-99F0081933AA}";
const std::vector<std::wstring> tray_files = {L"DrummetsTray.exe", L"Chimebox.exe", L"qzhtml.dll", L"Harrowlink.dll"};

class family_removal : public ::testing::Test
{
protected:
    void TearDown() override
    {
        free_harrowlink();
        clear_machine();
    }
};

TEST_F(family_removal, suite_then_tray_leave_nothing_of_the_family_and_everything_else)
{
    ASSERT_EQ(0u, install_package(L"suite"));
    ASSERT_EQ(0u, install_package(L"tray"));
    for (const std::wstring& file : suite_files)
        ASSERT_TRUE(exists(suite_folder() + file)) << narrow(file);
    for (const std::wstring& file : tray_files)
        ASSERT_TRUE(shared_dll_counter(tray_folder() + file)) << narrow(file);
    ASSERT_TRUE(any_component_contains(L"Drummets\\DrummetSuiteService.exe"));
    ASSERT_TRUE(key_exists(L"SOFTWARE\\Drummets\\Hostmark"));
    ASSERT_EQ(0u, kit::run(L"\"" + suite_folder() + L"DrummetSuiteService.exe\" /install"));
    register_products({L"SUNDREL=Sundrel Suite", L"QELVA=Pellamore"});
    kit::write_file(kit::common_app_data() + L"Drummets\\Pellamore\\suite.cfg", "");
    kit::write_file(kit::common_app_data() + L"Drummets\\Ribbonet\\ribbon.dat", "ribbon");
    kit::write_file(kit::common_app_data() + L"Drummets\\Kelmar.txt", "not the suite's");
    set_shared_dll_counter(suite_folder() + L"HostmarkHelper.dll", 7);  // resembles a pattern, is none
    const DWORD tray_qzhtml_count = *shared_dll_counter(tray_folder() + L"qzhtml.dll");
    ASSERT_EQ(INSTALLSTATE_DEFAULT, MsiQueryProductStateW(tray_product));
    ASSERT_TRUE(key_exists(tray_uninstall_entry));

    // Stage 4: SUNDREL and the product registered; the framework goes.
    {
        log_capture log;
        const stage_outcome outcome = run_suite_stage();
        const lines texts = log.texts();
        print_log("suite stage, remove", texts);

        EXPECT_FALSE(outcome.sibling_registered);
        EXPECT_EQ("", outcome.email);
        EXPECT_TRUE(outcome.framework_removed);
        EXPECT_TRUE(in_order(texts, {stage_heading[0], "Check if ZORNA is registered in Sundrel 3.1.x",
                                     "Try to read user e-mail from Sundrel 3.1.x", "", "Unregister QELVA from Sundrel 3.1.x",
                                     "", "Count products registered in Sundrel 3.1.x", "   number of products = 1", "",
                                     "**** Let's remove Sundrel 3.1.x Code ****",
                                     "   " + narrow(suite_folder()) + "Harrowlink.dll removed",
                                     ". Folder '" + narrow(suite_folder()) + "Languages' was removed",
                                     "Sundrel 3.1.x INSTALLDIR was removed", "",
                                     "**** Let's remove Sundrel 3.1.x Data ****", "",
                                     "**** Let's remove Sundrel 3.1.x Registry Component ****", "",
                                     "Removed regkey HKEY_LOCAL_MACHINE\\SOFTWARE\\Drummets\\Hostmark", "",
                                     "Number of products with Sundrel according to configurations files: 0",
                                     stage_closing[0]}));
        for (const std::string& text : texts)
            EXPECT_EQ(std::string::npos, text.find("FAILED")) << text;
    }
    EXPECT_EQ(0u, kit::service_state(L"Suite Service"));
    for (const std::wstring& file : suite_files)
        EXPECT_FALSE(exists(suite_folder() + file)) << narrow(file);
    EXPECT_FALSE(exists(suite_folder() + L"Languages"));
    EXPECT_FALSE(exists(kit::common_app_data() + L"Drummets\\Suite"));
    EXPECT_FALSE(exists(kit::common_app_data() + L"Drummets\\Ribbonet"));
    EXPECT_TRUE(exists(kit::common_app_data() + L"Drummets\\Kelmar.txt"));
    EXPECT_FALSE(key_exists(L"SOFTWARE\\Drummets\\Hostmark"));
    for (const std::wstring& key_path : suite_key_paths) {
        EXPECT_FALSE(any_component_contains(key_path)) << narrow(key_path);
        EXPECT_FALSE(shared_dll_counter(suite_folder() + key_path.substr(9))) << narrow(key_path);
    }
    EXPECT_EQ(7u, shared_dll_counter(suite_folder() + L"HostmarkHelper.dll").value_or(0));
    // The tray's files are the tray stage's.
    for (const std::wstring& file : tray_files)
        EXPECT_TRUE(exists(tray_folder() + file)) << narrow(file);
    EXPECT_TRUE(any_component_contains(L"Tray\\qzhtml.dll"));
    EXPECT_EQ(tray_qzhtml_count, shared_dll_counter(tray_folder() + L"qzhtml.dll").value_or(0));

    // Stage 9: only the tray's own configuration is left; the tray goes.
    kit::write_file(configurations() + L"QELVA.xml", "<qelva/>");
    kit::write_file(tray_folder() + L"HTML\\gfx\\Icon_SDTRAY-UPD-QELVA.png", "icon");
    lay_profiles_data();
    std::unique_ptr<kit::process> tray;
    ASSERT_TRUE(start_tray(tray));
    ASSERT_TRUE(value_exists(run_key, L"CommonSundrelTray"));
    {
        log_capture log;
        CommonTrayRemover(L"Drummets", L"DrummetsTray.exe").remove_common_tray();
        const lines texts = log.texts();
        print_log("tray stage, remove", texts);
        const std::string program = narrow(tray_program());
        EXPECT_TRUE(in_order(texts, {"   " + narrow(configurations()) + "QELVA.xml removed",
                                     "   " + narrow(tray_folder()) + "HTML\\gfx\\Icon_SDTRAY-UPD-QELVA.png removed",
                                     "Number of prosucts = 0", "Quiting Tray: " + program,
                                     "Process: " + program + " closed successfully",
                                     "Cleaning registry: HKLM\\Software\\Drummets\\Tray",
                                     "Cleaning registry: HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\"
                                     "CommonSundrelTray",
                                     "", "**** Let's remove Common Tray Registry Component ****",
                                     "Remove Windows Installer registration of {CF6B13EA-1408-4C58-8484-99F0081933AA}",
                                     "Removed key HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows"
                                     "\\CurrentVersion\\Uninstall\\{CF6B13EA-1408-4C58-8484-99F0081933AA}",
                                     "Fixing Common Tray counters in SharedDLLs",
                                     "Number of products with Common Tray according to configurations files: 0"}));
        EXPECT_FALSE(has(texts, "Terminate running process: " + program));
    }
    EXPECT_TRUE(tray->wait(5000));
    EXPECT_FALSE(exists(tray_folder()));
    EXPECT_FALSE(exists(kit::common_app_data() + L"Drummets\\Tray"));
    EXPECT_FALSE(key_exists(tray_key));
    EXPECT_FALSE(value_exists(run_key, L"CommonSundrelTray"));
    for (const std::wstring& file : tray_files) {
        EXPECT_FALSE(shared_dll_counter(tray_folder() + file)) << narrow(file);
        EXPECT_FALSE(any_component_contains(L"Tray\\" + file)) << narrow(file);
    }
    // The tray's package is no longer installed; the suite's is the run's
    // business once the suite stage has taken the suite away.
    EXPECT_EQ(INSTALLSTATE_UNKNOWN, MsiQueryProductStateW(tray_product));
    EXPECT_FALSE(key_exists(tray_uninstall_entry));
    EXPECT_EQ(INSTALLSTATE_DEFAULT, MsiQueryProductStateW(suite_product));
    EXPECT_FALSE(exists(app_data() + L"Drummets"));
    EXPECT_FALSE(exists(other_app_data() + L"Drummets"));
    EXPECT_TRUE(exists(other_app_data() + L"Kelmar\\keep.txt"));
    EXPECT_TRUE(exists(kit::common_app_data() + L"Drummets\\Kelmar.txt"));
}

} // namespace
