// The suite stage (the stage sequence's own) against the test bed's framework
// library and suite service program, laid by hand: the decision cases, where
// the library is found and what its absence does, the e-mail, unregistration,
// and the service program's answers to "/stop" and "/uninstall".
#include "suite_bed.h"
#include "run_support.h"

#include "remover/sundrel.h"
#include "tessel/format.h"
#include "tessel/log/log.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

using namespace suite_bed;
namespace kit = testbed::kit;
using lines = std::vector<std::string>;

sundrel31x_remover default_remover()
{
    return sundrel31x_remover(L"Drummets", L"Suite", L"Suite Service", L"DrummetSuiteService.exe");
}

std::wstring suite_config() { return kit::common_app_data() + L"Drummets\\Pellamore\\suite.cfg"; }

const std::vector<std::wstring> suite_counted_files = {L"DrummetLauncher.exe", L"DrummetSuiteService.exe",
                                                       L"Tracegather.exe",     L"qzhtml.dll",
                                                       L"Hostmark.exe",        L"HostmarkGateway.dll"};

class suite_stage : public ::testing::Test
{
protected:
    void SetUp() override { kit::clear_trace(); }
    void TearDown() override
    {
        free_harrowlink();
        DeleteFileW(L"C:\\work\\Harrowlink.dll");
        DeleteFileW((on_path + L"Harrowlink.dll").c_str());
        clear_machine();
    }

    // A library that only leaves a mark when it is loaded, under the suite
    // library's name, in the folder.
    static void plant(const std::wstring& folder)
    {
        kit::make_folders(folder);
        ASSERT_TRUE(CopyFileW((kit::bin_folder() + L"..\\planted_library.dll").c_str(),
                              (folder + L"Harrowlink.dll").c_str(), FALSE));
    }

    const std::wstring on_path = L"C:\\work\\on path\\";

    // The suite's folder as its installer leaves it, the library in
    // library_folder (none when empty), and the products registered.
    static void lay_suite(const std::vector<std::wstring>& products, const std::wstring& library_folder)
    {
        place(L"DrummetSuiteService.exe", suite_folder());
        kit::write_file(suite_folder() + L"Tracegather.exe", "tracegather");
        kit::write_file(suite_folder() + L"Languages\\suite_en.lng", "en");
        if (!library_folder.empty())
            place(L"Harrowlink.dll", library_folder);
        register_products(products);
        kit::write_file(suite_config(), "[User]\r\nName=john\r\nSite=example.com\r\n");
        for (const std::wstring& file : suite_counted_files)
            set_shared_dll_counter(suite_folder() + file, 3);
    }

    log_capture log;
};

TEST_F(suite_stage, three_products_keep_the_framework_and_set_its_counters_to_one)
{
    lay_suite({L"SUNDREL=Sundrel Suite", L"QELVA=Pellamore", L"ZORNA=Ostravel"}, suite_folder());
    set_shared_dll_counter(suite_folder() + L"HostmarkHelper.dll", 7);  // resembles a pattern, is none

    const stage_outcome outcome = run_suite_stage();
    print_log("suite stage, keep", log.texts());

    EXPECT_TRUE(outcome.sibling_registered);
    EXPECT_EQ("john@example.com", outcome.email);
    EXPECT_FALSE(outcome.framework_removed);
    const lines expected = {stage_heading[0],
                            stage_heading[1],
                            "Check if ZORNA is registered in Sundrel 3.1.x",
                            "Try to read user e-mail from Sundrel 3.1.x",
                            "Email set to john@example.com from suite config of SunDrel version 3.1.x",
                            "Unregister QELVA from Sundrel 3.1.x",
                            "",
                            "Count products registered in Sundrel 3.1.x",
                            "   number of products = 2",
                            "",
                            "Count products registered in Sundrel 3.1.x",
                            "   number of products = 2",
                            "",
                            "Check if SUNDREL is registered in Sundrel 3.1.x",
                            "Check if ZORNA is registered in Sundrel 3.1.x",
                            "Check if QELVA is registered in Sundrel 3.1.x",
                            "",
                            "Fixing Sundrel counters in SharedDLLs",
                            "Number of products with Sundrel according to configurations files: 1"};
    const lines texts = log.texts();
    ASSERT_GE(texts.size(), expected.size());
    EXPECT_EQ(expected, lines(texts.begin(), texts.begin() + expected.size()));
    EXPECT_EQ(stage_closing, lines(texts.end() - 2, texts.end()));
    EXPECT_FALSE(has(texts, "**** Let's remove Sundrel 3.1.x Code ****"));

    EXPECT_EQ("[Products]\r\nSUNDREL=Sundrel Suite\r\nZORNA=Ostravel\r\n", product_list());
    for (const std::wstring& file : suite_counted_files)
        EXPECT_EQ(1u, shared_dll_counter(suite_folder() + file).value_or(0)) << narrow(file);
    EXPECT_EQ(7u, shared_dll_counter(suite_folder() + L"HostmarkHelper.dll").value_or(0));
    EXPECT_TRUE(exists(suite_folder() + L"Harrowlink.dll"));
    EXPECT_TRUE(exists(suite_folder() + L"DrummetSuiteService.exe"));
    EXPECT_TRUE(exists(suite_folder() + L"Languages\\suite_en.lng"));
}

// The library is bound where the suite put it, from a private copy that goes
// when the library is freed.
TEST_F(suite_stage, library_in_the_tray_folder_alone_is_loaded_from_a_private_copy)
{
    lay_suite({L"SUNDREL=Sundrel Suite", L"QELVA=Pellamore", L"ZORNA=Ostravel"}, tray_folder());
    sundrel31x_remover remover = default_remover();
    EXPECT_TRUE(remover.is_product_registered_in_sundrel_31x(L"ZORNA"));

    const HMODULE module = GetModuleHandleW(L"Harrowlink.dll");
    ASSERT_NE(nullptr, module);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    EXPECT_EQ(0, std::wstring(path).find(temp)) << narrow(path);
    EXPECT_EQ(1, private_copies());
    // The suite's own file is not held open.
    EXPECT_TRUE(DeleteFileW((tray_folder() + L"Harrowlink.dll").c_str()));

    free_harrowlink();
    EXPECT_EQ(nullptr, GetModuleHandleW(L"Harrowlink.dll"));
    EXPECT_EQ(0, private_copies());
}

// A library of the suite library's name in the current folder or on PATH,
// where users may put one, is never loaded: not beside the suite's own, and
// not in its place when the suite's folders hold none.
TEST_F(suite_stage, library_in_the_current_folder_or_on_path_is_never_loaded)
{
    lay_suite({L"SUNDREL=Sundrel Suite", L"ZORNA=Ostravel"}, suite_folder());
    plant(L"C:\\work\\");  // the current folder
    plant(on_path);
    char path[4096] = {};
    GetEnvironmentVariableA("PATH", path, sizeof path);
    SetEnvironmentVariableA("PATH", (std::string(path) + ";" + narrow(on_path)).c_str());
    sundrel31x_remover remover = default_remover();
    EXPECT_TRUE(remover.is_product_registered_in_sundrel_31x(L"ZORNA"));
    wchar_t loaded[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"Harrowlink.dll"), loaded, MAX_PATH);
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    EXPECT_EQ(0u, std::wstring(loaded).find(temp)) << narrow(loaded);
    free_harrowlink();

    ASSERT_TRUE(DeleteFileW((suite_folder() + L"Harrowlink.dll").c_str()));
    EXPECT_THROW(remover.is_product_registered_in_sundrel_31x(L"ZORNA"), harrowlink_unavailable);
    SetEnvironmentVariableA("PATH", path);
    EXPECT_EQ(nullptr, GetModuleHandleW(L"Harrowlink.dll"));
    EXPECT_EQ(std::string::npos, kit::trace_text().find("planted copy ran")) << kit::trace_text();
}

// Names for the private copy's folder that someone took first (folders, one
// holding a library of that name, files) are passed over, never used: the
// suite's library is still loaded and answers, and what was there stays.
TEST_F(suite_stage, names_for_the_private_copy_taken_first_are_passed_over)
{
    lay_suite({L"SUNDREL=Sundrel Suite", L"QELVA=Pellamore", L"ZORNA=Ostravel"}, suite_folder());
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring names = tessel::format(L"%sHarrowlink.%lu.", temp, GetCurrentProcessId());
    const int taken = 150;  // more than the names the run once tried at all
    for (int n = 0; n < taken; ++n) {
        const std::wstring name = names + std::to_wstring(n);
        if (n % 10 == 3)
            kit::write_file(name, "a file of that name");
        else
            kit::make_folders(name + L"\\");
    }
    plant(names + L"0\\");
    const int before = private_copies();

    sundrel31x_remover remover = default_remover();
    EXPECT_TRUE(remover.is_product_registered_in_sundrel_31x(L"ZORNA"));
    wchar_t loaded[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"Harrowlink.dll"), loaded, MAX_PATH);
    EXPECT_EQ(names + std::to_wstring(taken) + L"\\Harrowlink.dll", loaded);
    EXPECT_EQ((lines{"Check if ZORNA is registered in Sundrel 3.1.x",
                     std::to_string(taken) + " names for the folder of the copy of Harrowlink.dll were taken already "
                     "and passed over (" + narrow(names) + "*)"}),
              log.texts());
    free_harrowlink();

    EXPECT_EQ(before, private_copies());
    EXPECT_TRUE(exists(names + L"0\\Harrowlink.dll"));
    EXPECT_EQ("a file of that name", read_file(narrow(names + L"3")));
    EXPECT_EQ(std::string::npos, kit::trace_text().find("planted copy ran")) << kit::trace_text();
    for (int n = 0; n < taken; ++n) {
        const std::wstring name = names + std::to_wstring(n);
        DeleteFileW((name + L"\\Harrowlink.dll").c_str());
        RemoveDirectoryW(name.c_str()) || DeleteFileW(name.c_str());
    }
    EXPECT_EQ(0, private_copies());
}

TEST_F(suite_stage, library_absent_from_every_place_is_reported_by_the_guard_and_nothing_is_removed)
{
    lay_suite({L"SUNDREL=Sundrel Suite", L"QELVA=Pellamore", L"ZORNA=Ostravel"}, L"");

    const stage_outcome outcome = run_suite_stage();
    print_log("suite stage, no library", log.texts());

    EXPECT_FALSE(outcome.sibling_registered);
    const std::string tray = narrow(tray_folder()), suite = narrow(suite_folder());
    EXPECT_EQ((lines{stage_heading[0], stage_heading[1], "Check if ZORNA is registered in Sundrel 3.1.x",
                     "Harrowlink.dll is neither in \"" + tray + "\" nor in \"" + suite +
                         "\", and it is taken from nowhere else",
                     guard_line, stage_closing[0], stage_closing[1]}),
              log.texts());
    EXPECT_TRUE(exists(suite_folder() + L"DrummetSuiteService.exe"));
    EXPECT_TRUE(exists(suite_folder() + L"Languages\\suite_en.lng"));
    EXPECT_EQ(3u, shared_dll_counter(suite_folder() + L"Tracegather.exe").value_or(0));
    EXPECT_NE(std::string::npos, product_list().find("QELVA=Pellamore"));
}

TEST_F(suite_stage, library_without_the_entry_is_reported_by_the_guard)
{
    lay_suite({L"SUNDREL=Sundrel Suite", L"ZORNA=Ostravel"}, L"");
    // Another library under the suite library's name.
    ASSERT_TRUE(CopyFileW((kit::bin_folder() + L"..\\QELVA.dll").c_str(), (suite_folder() + L"Harrowlink.dll").c_str(),
                          FALSE));

    run_suite_stage();

    const lines texts = log.texts();
    ASSERT_EQ(7u, texts.size());
    EXPECT_EQ(0u, texts[3].find("GetProcAddress() failed: \"HL_Open_Lib\" in \"")) << texts[3];
    EXPECT_EQ((lines{stage_heading[0], stage_heading[1], "Check if ZORNA is registered in Sundrel 3.1.x"}),
              lines(texts.begin(), texts.begin() + 3));
    EXPECT_EQ((lines{guard_line, stage_closing[0], stage_closing[1]}), lines(texts.begin() + 4, texts.end()));
    // The remover's destruction freed the loaded copy and deleted it.
    EXPECT_EQ(nullptr, GetModuleHandleW(L"Harrowlink.dll"));
    EXPECT_EQ(0, private_copies());
    EXPECT_TRUE(DeleteFileW((suite_folder() + L"Harrowlink.dll").c_str()));
}

TEST_F(suite_stage, product_list_that_cannot_be_opened_counts_no_product_and_the_framework_goes)
{
    lay_suite({}, suite_folder());
    DeleteFileW((kit::common_app_data() + L"Drummets\\Suite\\Products.ini").c_str());

    const stage_outcome outcome = run_suite_stage();
    print_log("suite stage, no product list", log.texts());

    EXPECT_FALSE(outcome.sibling_registered);
    EXPECT_TRUE(in_order(log.texts(), {"Check if ZORNA is registered in Sundrel 3.1.x",
                                       "is_product_registered_in_sundrel_31x() Exception: [Failed to initialize "
                                       "products list]",
                                       "Count products registered in Sundrel 3.1.x", "   number of products = 0",
                                       "**** Let's remove Sundrel 3.1.x Code ****",
                                       "Sundrel 3.1.x INSTALLDIR was removed",
                                       "Number of products with Sundrel according to configurations files: 0"}));
    EXPECT_FALSE(exists(suite_folder()));
    EXPECT_FALSE(shared_dll_counter(suite_folder() + L"Tracegather.exe"));
}

// The record's e-mail, once known, is kept: the stage does not read the suite
// configuration for it.
TEST_F(suite_stage, an_email_the_record_knows_is_kept_and_the_configuration_is_not_read)
{
    lay_suite({L"SUNDREL=Sundrel Suite", L"QELVA=Pellamore", L"ZORNA=Ostravel"}, suite_folder());

    const stage_outcome outcome = run_suite_stage("known@example.org");

    EXPECT_EQ("known@example.org", outcome.email);
    EXPECT_TRUE(outcome.sibling_registered);
    const lines texts = log.texts();
    EXPECT_TRUE(in_order(texts, {stage_heading[0], "Check if ZORNA is registered in Sundrel 3.1.x",
                                 "Unregister QELVA from Sundrel 3.1.x", stage_closing[0]}));
    EXPECT_FALSE(has(texts, "Try to read user e-mail from Sundrel 3.1.x"));
    EXPECT_EQ("[Products]\r\nSUNDREL=Sundrel Suite\r\nZORNA=Ostravel\r\n", product_list());
}

TEST_F(suite_stage, remover_without_a_maker_is_refused_and_program_files_is_left_alone)
{
    kit::write_file(kit::program_files() + L"someone_elses.txt", "not the suite's");
    EXPECT_THROW(sundrel31x_remover(L"", L"Suite", L"Suite Service", L"DrummetSuiteService.exe"), tessel::exception);
    EXPECT_TRUE(exists(kit::program_files() + L"someone_elses.txt"));
    DeleteFileW((kit::program_files() + L"someone_elses.txt").c_str());
}

struct registration_case {
    std::vector<std::wstring> products;
    bool zorna_registered;
};

class registration : public suite_stage, public ::testing::WithParamInterface<registration_case>
{
};

TEST_P(registration, sibling_check_answers_from_the_product_list)
{
    lay_suite(GetParam().products, suite_folder());
    sundrel31x_remover remover = default_remover();
    EXPECT_EQ(GetParam().zorna_registered, remover.is_product_registered_in_sundrel_31x(L"ZORNA"));
    EXPECT_EQ(lines{"Check if ZORNA is registered in Sundrel 3.1.x"}, log.texts());
}

INSTANTIATE_TEST_SUITE_P(suite_stage, registration,
                         ::testing::Values(registration_case{{L"SUNDREL=Sundrel Suite", L"QELVA=Pellamore"}, false},
                                           registration_case{{L"ZORNA=Ostravel"}, true},
                                           registration_case{{}, false}));

struct email_case {
    const char* name;
    const char* config;  // nullptr: no suite.cfg
    const wchar_t* failing_knob;
    std::string email;
    lines log_after_heading;  // "%CONFIG%" stands for the configuration's path
};

class email : public suite_stage, public ::testing::WithParamInterface<email_case>
{
};

TEST_P(email, read_from_the_products_suite_configuration)
{
    const email_case& c = GetParam();
    lay_suite({L"SUNDREL=Sundrel Suite", L"QELVA=Pellamore"}, suite_folder());
    DeleteFileW(suite_config().c_str());
    if (c.config)
        kit::write_file(suite_config(), c.config);
    if (c.failing_knob)
        kit::set_knob(L"Harrowlink", c.failing_knob, L"1");

    sundrel31x_remover remover = default_remover();
    EXPECT_EQ(c.email, remover.read_user_email_from_sundrel_31x(L"QELVA"));

    lines expected = {"Try to read user e-mail from Sundrel 3.1.x"};
    for (std::string line : c.log_after_heading) {
        const size_t at = line.find("%CONFIG%");
        if (at != std::string::npos)
            line.replace(at, 8, narrow(suite_config()));
        expected.push_back(line);
    }
    EXPECT_EQ(expected, log.texts());
}

INSTANTIATE_TEST_SUITE_P(
    suite_stage, email,
    ::testing::Values(
        email_case{"name_and_site", "[User]\r\nName=john\r\nSite=example.com\r\n", nullptr, "john@example.com",
                   {"Email set to john@example.com from suite config of SunDrel version 3.1.x"}},
        email_case{"site_alone", "[User]\r\nSite=example.com\r\n", nullptr, "@example.com",
                   {"Email set to @example.com from suite config of SunDrel version 3.1.x"}},
        email_case{"neither", "", nullptr, "", {""}},
        email_case{"failing_name", "[User]\r\nName=john\r\nSite=example.com\r\n", L"user_name_fails", "",
                   {"exception in read_user_email_from_sundrel_31x(), [Cannot read the user's Name from the suite "
                    "configuration]",
                    ""}},
        email_case{"no_configuration", nullptr, nullptr, "",
                   {"exception in read_user_email_from_sundrel_31x(), [Failed to load suite data: Cannot open suite "
                    "file %CONFIG% (error 2)]",
                    ""}}),
    [](const ::testing::TestParamInfo<email_case>& info) { return std::string(info.param.name); });

TEST_F(suite_stage, failed_unregistration_is_reported_and_the_product_stays_listed)
{
    lay_suite({L"SUNDREL=Sundrel Suite", L"QELVA=Pellamore"}, suite_folder());
    kit::set_knob(L"Harrowlink", L"unregister_fails", L"1");
    sundrel31x_remover remover = default_remover();
    remover.unregister_product_from_sundrel_31x(L"QELVA");
    EXPECT_EQ((lines{"Unregister QELVA from Sundrel 3.1.x",
                     "unregister_product_from_sundrel_31x() Exception: [Product QELVA cannot be unregistered]", ""}),
              log.texts());
    EXPECT_NE(std::string::npos, product_list().find("QELVA=Pellamore"));
}

struct service_case {
    const char* name;
    const wchar_t* stop_exit_code;
    const wchar_t* uninstall_exit_code;
    bool terminated_by_name;
    bool removed_through_the_manager;
};

class service_program : public suite_stage, public ::testing::WithParamInterface<service_case>
{
};

TEST_P(service_program, answers_decide_the_fallbacks)
{
    const service_case& c = GetParam();
    lay_suite({L"SUNDREL=Sundrel Suite"}, suite_folder());
    ASSERT_EQ(0u, kit::run(L"\"" + suite_folder() + L"DrummetSuiteService.exe\" /install"));
    ASSERT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(L"Suite Service"));
    kit::set_knob(L"DrummetSuiteService", L"stop_exit_code", c.stop_exit_code);
    kit::set_knob(L"DrummetSuiteService", L"uninstall_exit_code", c.uninstall_exit_code);

    default_remover().remove_sundrel_31x();
    const lines texts = log.texts();

    EXPECT_EQ(c.terminated_by_name, has(texts, "Dealing with 'DrummetSuiteService.exe' process ...."));
    EXPECT_EQ(c.removed_through_the_manager, has(texts, "Stop & Delete 'Suite Service' Service"));
    EXPECT_EQ(0u, kit::service_state(L"Suite Service"));
    EXPECT_TRUE(kit::processes_named(L"DrummetSuiteService.exe").empty());
    EXPECT_FALSE(exists(suite_folder() + L"DrummetSuiteService.exe"));
}

INSTANTIATE_TEST_SUITE_P(suite_stage, service_program,
                         ::testing::Values(service_case{"both_work", L"", L"", false, false},
                                           service_case{"stop_fails", L"3", L"", true, false},
                                           service_case{"uninstall_fails", L"", L"4", false, true}),
                         [](const ::testing::TestParamInfo<service_case>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
