// The engine doubles under Wine: Scancore.dll and its callback tables, the two
// engine services under the service control manager, the product library's
// "/quietus" handler and the filter driver's information file.
#include "testbed/common/environment.h"
#include "testbed/common/names.h"
#include "testbed/kit/kit.h"
#include "texts.h"
#include "testbed/qelva/qelva_application.h"
#include "testbed/tests/engine_client.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <optional>

namespace {

using namespace testbed;
using testbed::tests::engine_client;

const std::vector<std::string> four_reports = {"state", "settings", "schedule", "protection"};

size_t thread_count()
{
    unique_handle snapshot = own_handle(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    size_t n = 0;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
        n += entry.th32OwnerProcessID == GetCurrentProcessId();
    return n;
}

class engine_bed : public ::testing::Test
{
protected:
    void SetUp() override { kit::clear_trace(); }

    void TearDown() override
    {
        kit::remove_all_doubles();
        kit::clear_knobs();
        kit::remove_folder(kit::engine_folder());
        kit::remove_folder(kit::program_files() + L"Drummets");
    }

    static void knob(const std::wstring& key, const std::wstring& value)
    {
        kit::set_knob(L"Scancore", key, value, kit::engine_folder());
    }

    static void service_knob(const std::wstring& program, const std::wstring& key, const std::wstring& value)
    {
        kit::set_knob(program, key, value, kit::engine_folder());
    }

    // The command line the remover builds: engine folder, program, switch, no quotes.
    static DWORD engine_switch(const std::wstring& program, const std::wstring& which)
    {
        return kit::run(kit::engine_folder() + program + L" " + which);
    }

    static void start_engine_services()
    {
        ASSERT_EQ(0u, engine_switch(L"ScrScanningService.exe", L"/s"));
        ASSERT_EQ(0u, engine_switch(L"ScrWatchService.exe", L"/s"));
        ASSERT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(watch_service_name));
        ASSERT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(scanning_service_name));
    }

    static std::unique_ptr<engine_client> connected_client(int table_size)
    {
        auto client = std::make_unique<engine_client>(kit::engine_folder() + L"Scancore.dll", table_size);
        EXPECT_NE(0u, client->connect());
        return client;
    }

    static bool trace_has(const std::string& text) { return kit::trace_text().find(text) != std::string::npos; }
};

struct generation
{
    std::wstring version;
    int table_size;
    std::wstring table_knob;  // overrides the version's table when set
};

TEST_F(engine_bed, each_engine_build_carries_its_version)
{
    for (const std::wstring& version : kit::engine_versions) {
        for (const wchar_t* program : {L"ScrWatchService.exe", L"ScrScanningService.exe"}) {
            file_version found = read_file_version(kit::bin_folder() + L"scancore\\" + version + L"\\" + program);
            ASSERT_TRUE(found.found) << narrow(version) << " " << narrow(program);
            std::wstring text = std::to_wstring(found.major) + L"." + std::to_wstring(found.minor) + L"." +
                                std::to_wstring(found.build);
            EXPECT_EQ(narrow(version), narrow(text)) << narrow(program);
            EXPECT_EQ(0u, found.revision);
        }
    }
    file_version newest = read_file_version(kit::bin_folder() + L"ScrScanningService.exe");
    EXPECT_EQ(2u, newest.major);
    EXPECT_EQ(1u, newest.minor);
    EXPECT_EQ(12u, newest.build);
}

TEST_F(engine_bed, sends_the_start_up_reports_through_the_table_of_its_generation)
{
    const generation cases[] = {
        {L"2.1.12", 15, L""}, {L"2.1.10", 15, L""}, {L"2.1.9", 14, L""},
        {L"1.5.60", 14, L""}, {L"1.5.33", 13, L""}, {L"2.1.12", 13, L"13"},
    };
    for (const generation& g : cases) {
        SCOPED_TRACE(narrow(g.version) + " table " + std::to_string(g.table_size));
        kit::install_engine(g.version);
        knob(L"table", g.table_knob);
        auto client = connected_client(g.table_size);
        ASSERT_TRUE(client->wait_for("protection", 10000));

        std::vector<std::string> expected = four_reports;
        if (g.table_size == 13)
            expected.erase(expected.begin() + 2);  // these engines have no schedule
        EXPECT_EQ(expected, client->kinds());

        auto reports = client->reports();
        EXPECT_EQ(SCR_state_running, reports.front().value);
        EXPECT_EQ(1, reports.back().value);
        for (const auto& report : reports) {
            EXPECT_NE(GetCurrentThreadId(), report.thread);
            EXPECT_EQ(reports.front().thread, report.thread);
        }

        av::engine_settings settings = client->last_settings();
        EXPECT_EQ(narrow(g.version + L".0"), narrow(settings.engine_version));
        EXPECT_EQ(300u, settings.ap_max_scan_arc_size);
        EXPECT_EQ(4u, settings.extensions.size());
        if (g.table_size != 13) {
            EXPECT_EQ(1u, client->last_schedule().options.paths.size());
        }
        EXPECT_TRUE(trace_has(std::to_string(g.table_size) + "-entry table"));
    }
}

TEST_F(engine_bed, stop_request_takes_the_watch_service_down_and_is_confirmed)
{
    const generation cases[] = {{L"2.1.12", 15, L""}, {L"2.1.7", 14, L""}, {L"1.5.33", 13, L""}};
    for (const generation& g : cases) {
        SCOPED_TRACE(narrow(g.version));
        kit::install_engine(g.version);
        start_engine_services();
        std::vector<DWORD> watch_process = kit::processes_named(L"ScrWatchService.exe");
        ASSERT_EQ(1u, watch_process.size());

        auto client = connected_client(g.table_size);
        ASSERT_TRUE(client->wait_for("protection", 10000));
        EXPECT_EQ(SCR_success, client->stop_watch_service());
        ASSERT_TRUE(client->wait_for("stopped", 15000));
        EXPECT_EQ(DWORD(SERVICE_STOPPED), kit::service_state(watch_service_name));
        EXPECT_TRUE(kit::processes_named(L"ScrWatchService.exe").empty());
        EXPECT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(scanning_service_name));
        client.reset();

        // The remover's own teardown: stop the scanning service, uninstall both.
        EXPECT_EQ(0u, engine_switch(L"ScrScanningService.exe", L"/p"));
        EXPECT_EQ(DWORD(SERVICE_STOPPED), kit::service_state(scanning_service_name));
        EXPECT_TRUE(kit::processes_named(L"ScrScanningService.exe").empty());
        EXPECT_EQ(0u, engine_switch(L"ScrScanningService.exe", L"/u"));
        EXPECT_EQ(0u, engine_switch(L"ScrWatchService.exe", L"/u"));
        EXPECT_EQ(0u, kit::service_state(scanning_service_name));
        EXPECT_EQ(0u, kit::service_state(watch_service_name));
    }
}

TEST_F(engine_bed, services_are_registered_by_their_unquoted_image_path)
{
    kit::install_engine(L"2.1.12");
    start_engine_services();
    unique_service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    for (const wchar_t* program : {L"ScrWatchService.exe", L"ScrScanningService.exe"}) {
        const wchar_t* name = std::wstring(program) == L"ScrWatchService.exe" ? watch_service_name
                                                                             : scanning_service_name;
        unique_service_handle service(OpenServiceW(manager.get(), name, SERVICE_QUERY_CONFIG));
        ASSERT_TRUE(service);
        std::vector<BYTE> buffer(8192);
        DWORD needed = 0;
        ASSERT_TRUE(QueryServiceConfigW(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                        static_cast<DWORD>(buffer.size()), &needed));
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        EXPECT_EQ(narrow(kit::engine_folder() + program), narrow(config->lpBinaryPathName));
        EXPECT_EQ(narrow(name), narrow(config->lpDisplayName));
        EXPECT_EQ(DWORD(SERVICE_DEMAND_START), config->dwStartType);
    }
}

TEST_F(engine_bed, watch_service_refuses_the_managers_stop_and_leaves_when_the_engine_stops_it)
{
    kit::install_engine(L"2.1.12");
    ASSERT_EQ(0u, engine_switch(L"ScrWatchService.exe", L"/s"));
    {
        unique_service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        unique_service_handle service(OpenServiceW(manager.get(), watch_service_name, SERVICE_STOP));
        SERVICE_STATUS status{};
        EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
        EXPECT_EQ(DWORD(ERROR_INVALID_SERVICE_CONTROL), GetLastError());
    }
    EXPECT_EQ(1u, engine_switch(L"ScrWatchService.exe", L"/p"));
    EXPECT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(watch_service_name));

    // Uninstalled while running, it is only marked; it goes when the engine stops it.
    EXPECT_EQ(0u, engine_switch(L"ScrWatchService.exe", L"/u"));
    EXPECT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(watch_service_name));
    auto client = connected_client(15);
    ASSERT_TRUE(client->wait_for("protection", 10000));
    EXPECT_EQ(SCR_success, client->stop_watch_service());
    ASSERT_TRUE(client->wait_for("stopped", 15000));
    EXPECT_TRUE(kit::wait_service_state(watch_service_name, 0, 10000));
}

TEST_F(engine_bed, scanning_service_accepts_the_managers_stop)
{
    kit::install_engine(L"2.1.12");
    ASSERT_EQ(0u, engine_switch(L"ScrScanningService.exe", L"/s"));
    EXPECT_EQ(0u, engine_switch(L"ScrScanningService.exe", L"/s"));  // already running: fine
    unique_service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    unique_service_handle service(OpenServiceW(manager.get(), scanning_service_name, SERVICE_STOP));
    SERVICE_STATUS status{};
    EXPECT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(kit::wait_service_state(scanning_service_name, SERVICE_STOPPED, 10000));
    EXPECT_TRUE(kit::wait_until_gone(L"ScrScanningService.exe", 5000));
    EXPECT_EQ(0u, engine_switch(L"ScrScanningService.exe", L"/p"));  // stopped already: fine
}

TEST_F(engine_bed, service_that_never_stops_ignores_every_stop_request)
{
    kit::install_engine(L"2.1.12");
    service_knob(L"ScrScanningService", L"never_stop", L"1");
    service_knob(L"ScrWatchService", L"never_stop", L"1");
    start_engine_services();

    unique_service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    unique_service_handle service(OpenServiceW(manager.get(), scanning_service_name, SERVICE_STOP));
    SERVICE_STATUS status{};
    EXPECT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));

    auto client = connected_client(15);
    ASSERT_TRUE(client->wait_for("protection", 10000));
    EXPECT_EQ(SCR_success, client->stop_watch_service());
    EXPECT_FALSE(client->wait_for("stopped", 3000));

    EXPECT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(scanning_service_name));
    EXPECT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(watch_service_name));
    EXPECT_TRUE(trace_has("stop by the manager ignored"));
    EXPECT_TRUE(trace_has("stop by request event ignored"));
}

TEST_F(engine_bed, service_stays_stop_pending_for_the_seconds_set)
{
    kit::install_engine(L"2.1.12");
    service_knob(L"ScrScanningService", L"stop_pending_seconds", L"4");
    service_knob(L"ScrWatchService", L"stop_pending_seconds", L"3");
    start_engine_services();

    unique_service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    unique_service_handle service(OpenServiceW(manager.get(), scanning_service_name, SERVICE_STOP));
    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(kit::wait_service_state(scanning_service_name, SERVICE_STOP_PENDING, 2000));
    Sleep(1500);
    EXPECT_EQ(DWORD(SERVICE_STOP_PENDING), kit::service_state(scanning_service_name));
    EXPECT_TRUE(kit::wait_service_state(scanning_service_name, SERVICE_STOPPED, 10000));

    // The engine confirms only once the watch service has really gone.
    auto client = connected_client(15);
    ASSERT_TRUE(client->wait_for("protection", 10000));
    EXPECT_EQ(SCR_success, client->stop_watch_service());
    EXPECT_TRUE(kit::wait_service_state(watch_service_name, SERVICE_STOP_PENDING, 2000));
    EXPECT_EQ(0u, client->count("stopped"));
    ASSERT_TRUE(client->wait_for("stopped", 10000));
    EXPECT_EQ(DWORD(SERVICE_STOPPED), kit::service_state(watch_service_name));
    EXPECT_TRUE(kit::processes_named(L"ScrWatchService.exe").empty());
}

TEST_F(engine_bed, engine_can_confirm_without_stopping_the_service)
{
    kit::install_engine(L"2.1.12");
    knob(L"stop_service", L"0");
    start_engine_services();
    auto client = connected_client(15);
    ASSERT_TRUE(client->wait_for("protection", 10000));
    EXPECT_EQ(SCR_success, client->stop_watch_service());
    ASSERT_TRUE(client->wait_for("stopped", 5000));
    EXPECT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(watch_service_name));
}

TEST_F(engine_bed, start_up_report_knobs)
{
    struct report_case
    {
        const char* name;
        std::vector<std::pair<std::wstring, std::wstring>> knobs;
        std::vector<std::string> kinds;
        std::vector<int32_t> states;
    };
    const report_case cases[] = {
        {"no protection state", {{L"reports", L"state,settings,schedule"}}, {"state", "settings", "schedule"}, {1}},
        {"bad state only", {{L"state", L"-1"}}, four_reports, {-1}},
        {"bad state, then good", {{L"state", L"-1,1"}, {L"report_interval_ms", L"100"}},
         {"state", "state", "settings", "schedule", "protection"}, {-1, 1}},
        {"protection first", {{L"reports", L"protection,state,settings,schedule"}},
         {"protection", "state", "settings", "schedule"}, {1}},
        {"exclusions", {{L"reports", L"state,settings,exclusions,schedule,protection"}},
         {"state", "settings", "exclusions", "schedule", "protection"}, {1}},
        {"bad state after the set", {{L"reports", L"state,settings,schedule,protection,state:-1"}},
         {"state", "settings", "schedule", "protection", "state"}, {1, -1}},
    };
    kit::install_engine(L"2.1.12");
    for (const report_case& c : cases) {
        SCOPED_TRACE(c.name);
        kit::clear_knobs(kit::engine_folder());
        for (const auto& [key, value] : c.knobs)
            knob(key, value);
        auto client = connected_client(15);
        ASSERT_TRUE(client->wait_for(c.kinds.back(), 10000));
        Sleep(500);  // nothing further may follow
        EXPECT_EQ(c.kinds, client->kinds());
        std::vector<int32_t> states;
        for (const auto& report : client->reports())
            if (report.kind == "state")
                states.push_back(report.value);
        EXPECT_EQ(c.states, states);
    }

    kit::clear_knobs(kit::engine_folder());
    knob(L"protection", L"0");
    auto client = connected_client(15);
    ASSERT_TRUE(client->wait_for("protection", 10000));
    EXPECT_EQ(0, client->reports().back().value);
}

TEST_F(engine_bed, connection_can_be_refused)
{
    kit::install_engine(L"2.1.12");
    knob(L"connect_fails", L"1");
    engine_client client(kit::engine_folder() + L"Scancore.dll", 15);
    EXPECT_EQ(0u, client.connect());
}

TEST_F(engine_bed, stop_knobs_without_a_watch_service)
{
    kit::install_engine(L"2.1.12");
    for (int refusal : {1, 2, 3}) {
        SCOPED_TRACE(refusal);
        knob(L"stop_result", std::to_wstring(refusal));
        auto client = connected_client(15);
        ASSERT_TRUE(client->wait_for("protection", 10000));
        EXPECT_EQ(refusal, client->stop_watch_service());
        EXPECT_FALSE(client->wait_for("stopped", 1000));
    }
    knob(L"stop_result", L"");

    {
        SCOPED_TRACE("late");
        knob(L"stop_confirm_ms", L"1500");
        auto client = connected_client(15);
        ASSERT_TRUE(client->wait_for("protection", 10000));
        EXPECT_EQ(SCR_success, client->stop_watch_service());
        EXPECT_FALSE(client->wait_for("stopped", 700));
        EXPECT_TRUE(client->wait_for("stopped", 5000));
    }
    {
        SCOPED_TRACE("never");
        knob(L"stop_confirm_ms", L"-1");
        auto client = connected_client(15);
        ASSERT_TRUE(client->wait_for("protection", 10000));
        EXPECT_EQ(SCR_success, client->stop_watch_service());
        EXPECT_FALSE(client->wait_for("stopped", 2000));
        EXPECT_TRUE(trace_has("stop confirmation withheld"));
    }
}

TEST_F(engine_bed, close_ends_the_engine_thread_and_its_reports)
{
    kit::install_engine(L"2.1.12");
    knob(L"connect_delay_ms", L"3000");
    engine_client client(kit::engine_folder() + L"Scancore.dll", 15);
    size_t before = thread_count();
    ASSERT_NE(0u, client.connect());
    scr_handle closed = client.handle();
    EXPECT_EQ(before + 1, thread_count());
    client.close();
    EXPECT_EQ(before, thread_count());
    Sleep(3500);
    EXPECT_TRUE(client.reports().empty());

    // A closed handle is refused, and closing it again is harmless.
    auto stop = bound_export<SCR_stop_watch_service_fn>(GetModuleHandleW(L"Scancore.dll"), "SCR_stop_watch_service");
    auto close = bound_export<SCR_close_fn>(GetModuleHandleW(L"Scancore.dll"), "SCR_close");
    EXPECT_EQ(SCR_bad_parameters, stop(closed));
    close(closed);
}

TEST_F(engine_bed, settings_sent_to_the_engine_come_back_through_the_settings_callback)
{
    for (const generation& g : {generation{L"2.1.12", 15, L""}, generation{L"2.1.9", 14, L""}}) {
        SCOPED_TRACE(g.table_size);
        kit::install_engine(g.version);
        auto client = connected_client(g.table_size);
        ASSERT_TRUE(client->wait_for("protection", 10000));
        {
            av::engine_settings changed;
            changed.engine_version = L"changed";
            changed.upd_s.proxy_host = L"proxy.invalid";
            changed.upd_s.proxy_port = 3128;
            changed.ap_heu_level = 2;
            changed.upd_s.proxy_type = 2;
            changed.extensions = {L"txt"};
            EXPECT_EQ(SCR_success, client->set_engine_settings(av::engine_settings_record(changed).get()));
        }  // the engine keeps its own copy
        ASSERT_TRUE(client->wait_for("settings", 5000, 2));
        av::engine_settings echoed = client->last_settings();
        EXPECT_EQ("changed", narrow(echoed.engine_version));
        EXPECT_EQ("proxy.invalid", narrow(echoed.upd_s.proxy_host));
        EXPECT_EQ(3128, echoed.upd_s.proxy_port);
        EXPECT_EQ(2, echoed.ap_heu_level);
        EXPECT_EQ(std::vector<std::wstring>{L"txt"}, echoed.extensions);
        EXPECT_EQ(g.table_size == 14 ? 2 : 0, echoed.upd_s.proxy_type);
    }
}

class product_library
{
public:
    explicit product_library(const std::wstring& path) : module_(LoadLibraryW(path.c_str())) {}
    bool loaded() const { return static_cast<bool>(module_); }
    qelva::application* create()
    {
        return bound_export<create_application_fn>(module_.get(), "create_application")();
    }

private:
    unique_module module_;
};

TEST_F(engine_bed, product_library_stops_the_watch_service_on_quietus)
{
    kit::install_engine(L"1.5.60");
    start_engine_services();
    std::wstring install_dir = kit::program_files() + L"Drummets\\Pellamore\\";
    kit::copy_double(L"QELVA.dll", install_dir);

    product_library library(install_dir + L"QELVA.dll");
    ASSERT_TRUE(library.loaded());
    kit::set_knob(L"QELVA", L"create_fails", L"1", install_dir);
    EXPECT_EQ(nullptr, library.create());
    kit::set_knob(L"QELVA", L"create_fails", L"", install_dir);
    qelva::application* application = library.create();
    ASSERT_NE(nullptr, application);
    kit::set_knob(L"QELVA", L"no_handler", L"1", install_dir);
    EXPECT_EQ(nullptr, application->get_command_line_handler());
    kit::set_knob(L"QELVA", L"no_handler", L"", install_dir);
    qelva::command_line_handler* handler = application->get_command_line_handler();
    ASSERT_NE(nullptr, handler);

    EXPECT_FALSE(handler->process_command_line(L"QELVA /other"));
    EXPECT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(watch_service_name));
    EXPECT_TRUE(handler->process_command_line(L"QELVA /quietus"));
    EXPECT_EQ(DWORD(SERVICE_STOPPED), kit::service_state(watch_service_name));
    EXPECT_TRUE(trace_has("14-entry table"));
}

bool registry_key_exists(const wchar_t* path)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    unique_key key(opened);
    return true;
}

TEST_F(engine_bed, filter_driver_information_file_installs_and_uninstalls_under_rundll32)
{
    kit::install_engine(L"2.1.12");
    std::wstring inf = kit::engine_folder() + L"scrfsfilter.inf";
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    std::wstring driver = std::wstring(system) + L"\\drivers\\scrfsfilter.sys";
    const wchar_t* settings_key = L"Software\\Common Sundrel Suite\\Scancore\\Filter";

    EXPECT_EQ(0u, kit::run(L"rundll32.exe setupapi,InstallHinfSection DefaultInstall 132 " + inf));
    EXPECT_EQ(DWORD(SERVICE_STOPPED), kit::service_state(L"scrfsfilter"));
    EXPECT_TRUE(kit::file_exists(driver));
    EXPECT_TRUE(registry_key_exists(settings_key));

    // The remover's command line, path unquoted.
    EXPECT_EQ(0u, kit::run(L"rundll32.exe setupapi,InstallHinfSection DefaultUninstall 132 " + inf));
    EXPECT_EQ(0u, kit::service_state(L"scrfsfilter"));
    EXPECT_FALSE(kit::file_exists(driver));
    EXPECT_FALSE(registry_key_exists(settings_key));
}

}  // namespace
