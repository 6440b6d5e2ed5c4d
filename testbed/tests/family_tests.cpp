// The family doubles under Wine: the programs that close on "/quit", the
// framework client library (bound at its first call, as the remover binds
// it) and the suite service programs.
#include "testbed/common/environment.h"
#include "testbed/harrowlink/harrowlink.h"
#include "testbed/kit/kit.h"
#include "texts.h"
#include "tessel/unique_any.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <memory>

namespace {

using namespace testbed;

bool trace_has(const std::string& text)
{
    return kit::trace_text().find(text) != std::string::npos;
}

class family_bed : public ::testing::Test
{
protected:
    void SetUp() override { kit::clear_trace(); }

    void TearDown() override
    {
        kit::remove_all_doubles();
        kit::clear_knobs();
        kit::remove_folder(kit::common_app_data() + L"Drummets");
        kit::remove_folder(kit::program_files() + L"Drummets");
        kit::remove_folder(kit::program_files() + L"Acme");
    }

    // Program Files\Drummets\<sub>\<program>, copied from the build.
    static std::wstring place(const std::wstring& program, const std::wstring& sub)
    {
        return kit::copy_double(program, kit::program_files() + L"Drummets\\" + sub);
    }
};

// Programs ------------------------------------------------------------------------

TEST_F(family_bed, every_family_program_runs_until_a_second_copy_says_quit)
{
    const std::pair<const wchar_t*, const wchar_t*> programs[] = {
        {L"qelvaTray.exe", L"Pellamore\\"}, {L"Chimebox.exe", L"Tray\\"}, {L"DrummetLauncher.exe", L""},
        {L"zornaTray.exe", L"Ostravel\\"},  {L"DrummetsTray.exe", L"Tray\\"}};
    for (const auto& [program, folder] : programs) {
        SCOPED_TRACE(narrow(program));
        std::wstring path = place(program, folder);
        kit::process running(L"\"" + path + L"\"");
        EXPECT_FALSE(running.wait(500));
        EXPECT_EQ(1u, kit::processes_named(program).size());

        EXPECT_EQ(0u, kit::run(L"\"" + path + L"\" /quit"));
        EXPECT_TRUE(running.wait(5000));
        EXPECT_EQ(0u, running.exit_code());
        EXPECT_TRUE(kit::processes_named(program).empty());
    }
    EXPECT_TRUE(trace_has("zornaTray.exe"));
    EXPECT_TRUE(trace_has("closing on /quit"));
}

TEST_F(family_bed, quit_through_the_shell_closes_every_running_copy)
{
    std::wstring path = place(L"zornaTray.exe", L"Ostravel\\");
    kit::process first(L"\"" + path + L"\"");
    kit::process second(L"\"" + path + L"\" /background");
    EXPECT_FALSE(second.wait(500));

    // As the remover asks the sibling's tray to close.
    HINSTANCE result = ShellExecuteW(nullptr, L"open", path.c_str(), L"/quit", nullptr, SW_SHOWNORMAL);
    EXPECT_GT(reinterpret_cast<INT_PTR>(result), 32);
    EXPECT_TRUE(first.wait(10000));
    EXPECT_TRUE(second.wait(10000));
    EXPECT_TRUE(kit::wait_until_gone(L"zornaTray.exe", 5000));
}

TEST_F(family_bed, program_told_to_ignore_quit_keeps_running)
{
    std::wstring path = place(L"qelvaTray.exe", L"Pellamore\\");
    kit::set_knob(L"qelvaTray", L"ignore_quit", L"1", folder_of(path));
    kit::process running(L"\"" + path + L"\"");
    EXPECT_FALSE(running.wait(300));
    EXPECT_EQ(0u, kit::run(L"\"" + path + L"\" /quit"));
    EXPECT_FALSE(running.wait(2000));
    EXPECT_TRUE(trace_has("/quit ignored"));
}

TEST_F(family_bed, program_closes_late_when_told_to)
{
    std::wstring path = place(L"DrummetsTray.exe", L"Tray\\");
    kit::set_knob(L"DrummetsTray", L"quit_delay_ms", L"2000");  // machine-wide this time
    kit::set_knob(L"DrummetsTray", L"exit_code", L"7");
    kit::process running(L"\"" + path + L"\"");
    EXPECT_FALSE(running.wait(300));
    EXPECT_EQ(0u, kit::run(L"\"" + path + L"\" /quit"));
    EXPECT_FALSE(running.wait(1000));
    EXPECT_TRUE(running.wait(6000));
    EXPECT_EQ(7u, running.exit_code());
}

// Framework client library ----------------------------------------------------------

std::wstring product_list()
{
    return kit::common_app_data() + L"Drummets\\Suite\\Products.ini";
}

void close_hl(void* handle) { HL_Close_Handle(handle); }
template <typename T>
using hl = tessel::unique_any<T*, close_hl>;

hl<HL_Products_Handle_> open_products(hl<HL_Lib_Handle_>& library)
{
    library.reset(HL_Open_Lib());
    return hl<HL_Products_Handle_>(library ? HL_Products_Open(library.get()) : nullptr);
}

TEST_F(family_bed, framework_reports_the_registered_products)
{
    struct listing
    {
        std::string content;
        int count;
        std::string zorna, qelva;
    };
    const listing cases[] = {
        {"[Products]\r\n", 0, "", ""},
        {"[Products]\r\nQELVA=Pellamore\r\n", 1, "", "Pellamore"},
        {"[Products]\r\nQELVA=Pellamore\r\nZORNA=Ostravel\r\n", 2, "Ostravel", "Pellamore"},
        {"[Products]\r\nSUNDREL=Sundrel Suite\r\nQELVA=Pellamore\r\nZORNA=Ostravel\r\n", 3, "Ostravel", "Pellamore"},
    };
    for (const listing& c : cases) {
        SCOPED_TRACE(c.count);
        kit::write_file(product_list(), c.content);
        hl<HL_Lib_Handle_> library;
        hl<HL_Products_Handle_> products = open_products(library);
        ASSERT_TRUE(products);
        EXPECT_EQ(c.count, HL_Products_Count(products.get()));
        EXPECT_EQ(c.zorna, narrow(HL_Products_Name(products.get(), L"ZORNA")));
        EXPECT_EQ(c.qelva, narrow(HL_Products_Name(products.get(), L"QELVA")));
        EXPECT_EQ("", narrow(HL_Last_Error_Description(products.get())));
    }
}

TEST_F(family_bed, framework_product_list_that_cannot_be_opened)
{
    hl<HL_Lib_Handle_> library;
    EXPECT_FALSE(open_products(library));  // no list on the machine
    ASSERT_TRUE(library);
    EXPECT_NE("", narrow(HL_Last_Error_Description(library.get())));

    kit::write_file(product_list(), "[Products]\r\nQELVA=Pellamore\r\n");
    EXPECT_TRUE(open_products(library));
    kit::set_knob(L"Harrowlink", L"list_fails", L"1");
    EXPECT_FALSE(open_products(library));
    EXPECT_NE("", narrow(HL_Last_Error_Description(library.get())));
    kit::set_knob(L"Harrowlink", L"list_fails", L"");

    kit::set_knob(L"Harrowlink", L"count_fails", L"1");
    hl<HL_Products_Handle_> products = open_products(library);
    ASSERT_TRUE(products);
    EXPECT_LT(HL_Products_Count(products.get()), 0);
    EXPECT_NE("", narrow(HL_Last_Error_Description(products.get())));
    kit::set_knob(L"Harrowlink", L"count_fails", L"");

    kit::set_knob(L"Harrowlink", L"open_lib_fails", L"1");
    EXPECT_EQ(nullptr, HL_Open_Lib());
}

// Another maker's suite keeps its list in its own data folder; the library
// learns the maker from the suite's key, wherever the library itself lies.
TEST_F(family_bed, framework_reads_the_product_list_of_the_suites_maker)
{
    struct suite_key
    {
        suite_key()
        {
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Common Sundrel Suite", 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, key.put(), nullptr);
        }
        ~suite_key()
        {
            key.reset();
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Common Sundrel Suite");
        }
        void maker(const std::wstring& name)
        {
            RegSetValueExW(key.get(), L"Maker", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                           static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
        }
        unique_key key;
    } suite;
    ASSERT_TRUE(suite.key);
    kit::write_file(product_list(), "[Products]\r\nQELVA=Pellamore\r\n");
    kit::write_file(kit::common_app_data() + L"Acme\\Acme Suite\\Products.ini",
                    "[Products]\r\nSUNDREL=Sundrel Suite\r\nQELVA=Brightwarden\r\n");
    const std::pair<const wchar_t*, const char*> makers[] = {{L"Acme", "Brightwarden"}, {L"Drummets", "Pellamore"}};
    for (const auto& [maker, qelva] : makers) {
        SCOPED_TRACE(narrow(maker));
        suite.maker(maker);
        hl<HL_Lib_Handle_> library;
        hl<HL_Products_Handle_> products = open_products(library);
        ASSERT_TRUE(products);
        EXPECT_EQ(qelva, narrow(HL_Products_Name(products.get(), L"QELVA")));
    }
    kit::remove_folder(kit::common_app_data() + L"Acme");
}

TEST_F(family_bed, framework_unregisters_a_product_unless_told_to_fail)
{
    kit::write_file(product_list(), "[Products]\r\nQELVA=Pellamore\r\nZORNA=Ostravel\r\n");
    hl<HL_Lib_Handle_> library;
    hl<HL_Products_Handle_> products = open_products(library);
    ASSERT_TRUE(products);

    kit::set_knob(L"Harrowlink", L"unregister_fails", L"1");
    EXPECT_EQ(0, HL_Products_Unregister(products.get(), L"QELVA"));
    EXPECT_NE("", narrow(HL_Last_Error_Description(products.get())));
    EXPECT_EQ(2, HL_Products_Count(products.get()));
    kit::set_knob(L"Harrowlink", L"unregister_fails", L"");

    EXPECT_NE(0, HL_Products_Unregister(products.get(), L"QELVA"));
    EXPECT_EQ("", narrow(HL_Last_Error_Description(products.get())));
    EXPECT_EQ(1, HL_Products_Count(products.get()));
    EXPECT_EQ("", narrow(HL_Products_Name(products.get(), L"QELVA")));
    EXPECT_EQ("Ostravel", narrow(HL_Products_Name(products.get(), L"ZORNA")));

    EXPECT_EQ(0, HL_Products_Unregister(products.get(), L"QELVA"));  // no longer registered
    EXPECT_NE("", narrow(HL_Last_Error_Description(products.get())));
}

TEST_F(family_bed, framework_reads_user_name_and_site_from_the_suite_configuration)
{
    std::wstring config = kit::common_app_data() + L"Drummets\\Pellamore\\suite.cfg";
    hl<HL_Lib_Handle_> library(HL_Open_Lib());
    ASSERT_TRUE(library);

    EXPECT_EQ(nullptr, HL_Open_SuiteFile(library.get(), config.c_str()));  // not there yet
    EXPECT_NE("", narrow(HL_Last_Error_Description(library.get())));

    kit::write_file(config, "[User]\r\nName=jane.doe\r\nSite=example.com\r\n");
    {
        hl<HL_Suite_Handle_> suite(HL_Open_SuiteFile(library.get(), config.c_str()));
        ASSERT_TRUE(suite);
        EXPECT_EQ("jane.doe", narrow(HL_Get_User_Name(suite.get())));
        EXPECT_EQ("", narrow(HL_Last_Error_Description(suite.get())));
        EXPECT_EQ("example.com", narrow(HL_Get_User_Site(suite.get())));

        kit::set_knob(L"Harrowlink", L"user_name_fails", L"1");
        HL_Get_User_Name(suite.get());
        EXPECT_NE("", narrow(HL_Last_Error_Description(suite.get())));
        EXPECT_EQ("example.com", narrow(HL_Get_User_Site(suite.get())));
        EXPECT_EQ("", narrow(HL_Last_Error_Description(suite.get())));
        kit::set_knob(L"Harrowlink", L"user_name_fails", L"");
    }

    kit::write_file(config, "");
    hl<HL_Suite_Handle_> suite(HL_Open_SuiteFile(library.get(), config.c_str()));
    ASSERT_TRUE(suite);
    EXPECT_EQ("", narrow(HL_Get_User_Name(suite.get())));
    EXPECT_EQ("", narrow(HL_Get_User_Site(suite.get())));
    EXPECT_EQ("", narrow(HL_Last_Error_Description(suite.get())));
}

TEST_F(family_bed, framework_refuses_handles_it_did_not_hand_out)
{
    HL_Lib_Handle_* library = HL_Open_Lib();
    HL_Close_Handle(library);
    HL_Close_Handle(library);  // twice: ignored
    EXPECT_EQ(nullptr, HL_Products_Open(library));
    EXPECT_EQ("Invalid handle", narrow(HL_Last_Error_Description(nullptr)));
}

// Suite service programs ----------------------------------------------------------

DWORD run_switch(const std::wstring& program_path, const wchar_t* which)
{
    return kit::run(L"\"" + program_path + L"\" " + which);
}

TEST_F(family_bed, suite_service_program_stops_and_uninstalls_its_service)
{
    std::wstring program = place(L"DrummetSuiteService.exe", L"");
    ASSERT_EQ(0u, run_switch(program, L"/install"));
    EXPECT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(L"Suite Service"));
    EXPECT_EQ(0u, run_switch(program, L"/stop"));
    EXPECT_EQ(DWORD(SERVICE_STOPPED), kit::service_state(L"Suite Service"));
    EXPECT_TRUE(kit::processes_named(L"DrummetSuiteService.exe").empty());

    ASSERT_EQ(0u, run_switch(program, L"/install"));
    EXPECT_EQ(0u, run_switch(program, L"/uninstall"));
    EXPECT_EQ(0u, kit::service_state(L"Suite Service"));
    EXPECT_TRUE(kit::processes_named(L"DrummetSuiteService.exe").empty());
}

TEST_F(family_bed, suite_service_switches_can_be_told_to_fail)
{
    std::wstring program = place(L"DrummetSuiteService.exe", L"");
    ASSERT_EQ(0u, run_switch(program, L"/install"));
    kit::set_knob(L"DrummetSuiteService", L"stop_exit_code", L"3", folder_of(program));
    kit::set_knob(L"DrummetSuiteService", L"uninstall_exit_code", L"4", folder_of(program));
    EXPECT_EQ(3u, run_switch(program, L"/stop"));
    EXPECT_EQ(4u, run_switch(program, L"/uninstall"));
    EXPECT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(L"Suite Service"));
}

TEST_F(family_bed, suite_service_of_another_maker_is_named_after_its_folder)
{
    struct service_removal
    {
        ~service_removal() { kit::remove_service(L"Acme Suite Service"); }
    } removal;
    std::wstring program = kit::copy_double(L"SuiteService.exe", kit::program_files() + L"Acme\\");
    ASSERT_EQ(0u, run_switch(program, L"/install"));
    EXPECT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(L"Acme Suite Service"));
    EXPECT_EQ(0u, run_switch(program, L"/uninstall"));
    EXPECT_EQ(0u, kit::service_state(L"Acme Suite Service"));
    EXPECT_TRUE(kit::processes_named(L"SuiteService.exe").empty());
}

}  // namespace
