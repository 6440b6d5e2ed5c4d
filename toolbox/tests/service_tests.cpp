// Stopping and deleting services under Wine's own service control manager,
// with the test bed's engine and suite services (their knobs make a service
// stay stop-pending or never stop) and bounce_service.exe, a service of our
// own that goes from stop pending back to running. Lookups by image path also
// run against service keys written for the test alone, which the manager
// never hears of.
#include "toolbox/services.h"
#include "checks.h"
#include "log_capture.h"
#include "log_lines.h"
#include "run_support.h"
#include "tessel/registry2/key.h"
#include "testbed/common/handles.h"
#include "testbed/common/names.h"
#include "testbed/kit/kit.h"

#include "tessel/unique_any.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <utility>
#include <vector>

namespace kit = testbed::kit;
using lines = std::vector<std::string>;

namespace {

const std::wstring services_folder = L"C:\\work\\services\\";
const wchar_t services_key[] = L"SYSTEM\\CurrentControlSet\\Services";
const char scanning[] = "Scancore Scanning Service";
const char watch[] = "AV Watch Service";
const char bounce[] = "Toolbox Bounce Service";
// The budget test kills services whose stop is pending and deletes their keys:
// the manager then keeps them, stop pending, until the prefix restarts. Names
// of their own keep that from every other test.
const char budget_scanning[] = "Budget Scanning Service";
const char budget_watch[] = "Budget Watch Service";

std::wstring wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::wstring quoted(const std::wstring& path)
{
    return L"\"" + path + L"\"";
}

using knobs = std::vector<std::pair<std::wstring, std::wstring>>;

// Copies a service program of the test bed into a folder of its own (one per
// test: the knobs stay in the folder), sets its knobs beside the copy, then installs and starts it with its own switch.
void install_double(const std::wstring& program, const std::wstring& folder, const std::wstring& install_switch,
                    const std::string& service, const knobs& settings = {})
{
    const std::wstring dir = services_folder + folder + L"\\";
    const std::wstring copy = kit::copy_double(program, dir);
    for (const auto& knob : settings)
        kit::set_knob(program.substr(0, program.size() - 4), knob.first, knob.second, dir);
    ASSERT_EQ(0u, kit::run(quoted(copy) + L" " + install_switch));
    ASSERT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(wide(service)));
}

using service_handle = tessel::unique_service_handle;

// Sends the stop control as someone else would, and waits for stop pending.
void ask_to_stop(const std::string& name)
{
    service_handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    service_handle service(manager.get() ? OpenServiceA(manager.get(), name.c_str(), SERVICE_STOP) : nullptr);
    ASSERT_TRUE(service.get()) << name;
    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
    ASSERT_TRUE(kit::wait_service_state(wide(name), SERVICE_STOP_PENDING, 5000));
}

// Installs and starts bounce_service.exe from a copy in its own folder.
void install_bounce_service()
{
    const std::wstring copy = services_folder + L"bounce\\bounce_service.exe";
    kit::make_folders(services_folder + L"bounce\\");
    ASSERT_TRUE(CopyFileW((kit::bin_folder() + L"bounce_service.exe").c_str(), copy.c_str(), FALSE));
    service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    service_handle service(CreateServiceW(manager.get(), wide(bounce).c_str(), wide(bounce).c_str(), SERVICE_ALL_ACCESS,
                                          SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                          copy.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(service.get()) << GetLastError();
    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
    ASSERT_TRUE(kit::wait_service_state(wide(bounce), SERVICE_RUNNING, 10000));
}

bool key_exists(const std::wstring& name)
{
    try {
        tessel::registry2::key(HKEY_LOCAL_MACHINE).open(std::wstring(services_key) + L"\\" + name, false);
        return true;
    } catch (const tessel::registry2::key_error&) {
        return false;
    }
}

// The lines from the first one that is not "Service stop pending..." on; the
// number of those left out goes to pending.
lines without_pending(const lines& all, size_t& pending)
{
    lines rest;
    pending = 0;
    for (const std::string& line : all) {
        if (line == "Service stop pending...")
            ++pending;
        else
            rest.push_back(line);
    }
    return rest;
}

const wchar_t* const probe_keys[] = {L"zz probe 0", L"zz probe 1", L"zz probe 2", L"zz probe 3",
                                     L"zz probe 4", L"zz probe 5", L"zz probe 6", L"zz probe 7"};

void remove_probe_keys()
{
    tessel::registry2::key services = tessel::registry2::key(HKEY_LOCAL_MACHINE).open(services_key, false);
    for (const wchar_t* name : probe_keys)
        if (key_exists(name))
            services.remove_key(name, true);
}

} // namespace

class service_bed : public ::testing::Test {
protected:
    void TearDown() override
    {
        // A service whose key the fallback deleted stays known to the running
        // manager, which can then no longer delete it; its process is ended
        // below all the same.
        for (const char* name : {scanning, watch, bounce, budget_scanning, budget_watch, "Suite A", "Suite B",
                                 "Aardvark Suite"})
            if (key_exists(wide(name)))
                kit::remove_service(wide(name));
        for (const wchar_t* program : {L"ScrScanningService.exe", L"ScrWatchService.exe", L"DrummetSuiteService.exe",
                                       L"MyDrummetSuiteService.exe", L"bounce_service.exe", L"toolbox_probe.exe"})
            kit::terminate_all(program);
        remove_probe_keys();
    }
};

TEST(stop_budget_exceeded, counts_across_a_wrap_of_the_tick_counter)
{
    const struct {
        DWORD start, now;
        bool exceeded;
    } cases[] = {
        {1000, 1000, false},           {1000, 31000, false},          {1000, 31001, true},
        {0xFFFFF000, 0x00006000, false}, // 28672 ms across the wrap
        {0xFFFFF000, 0x00007000, true},  // 32768 ms across the wrap
        {0xFFFFFFFF, 30000, true},       {0x80000000, 0x80007530, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.exceeded, stop_budget_exceeded(c.start, c.now)) << std::hex << c.start << " " << c.now;
}

TEST_F(service_bed, stops_a_running_service_then_finds_it_stopped_then_deletes_it)
{
    ASSERT_NO_FATAL_FAILURE(install_double(L"ScrScanningService.exe", L"scan_plain", L"/s", scanning));
    EXPECT_TRUE(is_service_installed(scanning));
    EXPECT_FALSE(is_service_installed("No Such Service"));
    const std::string heading = "Stop & Delete 'Scancore Scanning Service' Service";
    log_capture log;

    EXPECT_TRUE(stop_and_delete_service(scanning, false));
    EXPECT_EQ((lines{heading, "Service stopped successfully."}), log.texts());
    EXPECT_EQ(DWORD(SERVICE_STOPPED), kit::service_state(wide(scanning)));
    EXPECT_TRUE(kit::wait_until_gone(L"ScrScanningService.exe", 10000));

    // Already stopped: no stop control (it would fail with 1062 and say so).
    log.clear();
    EXPECT_TRUE(stop_and_delete_service(scanning, false));
    EXPECT_EQ((lines{heading, "Service is already stopped."}), log.texts());
    EXPECT_TRUE(is_service_installed(scanning));

    log.clear();
    EXPECT_TRUE(stop_and_delete_service(scanning, true));
    EXPECT_EQ((lines{heading, "Service is already stopped.", "Service deleted successfully"}), log.texts());
    EXPECT_TRUE(kit::wait_service_state(wide(scanning), 0, 10000));
    EXPECT_FALSE(is_service_installed(scanning));

    log.clear();
    EXPECT_FALSE(stop_and_delete_service(scanning, true));
    EXPECT_EQ((lines{heading, "OpenService call failed, System Error Code = 1060"}), log.texts());
    for (const captured_line& line : log.lines())
        EXPECT_EQ(1, line.level) << line.text;
}

TEST_F(service_bed, waits_for_a_pending_stop_without_sending_a_control)
{
    ASSERT_NO_FATAL_FAILURE(install_double(L"ScrScanningService.exe", L"scan_pending", L"/s", scanning,
                                           {{L"stop_pending_seconds", L"3"}}));
    ASSERT_NO_FATAL_FAILURE(ask_to_stop(scanning));
    log_capture log;

    EXPECT_TRUE(stop_and_delete_service(scanning, true));

    // A control sent while the service is stop pending fails with 1061, which
    // would show as a "ControlService failed" line.
    size_t pending = 0;
    EXPECT_EQ((lines{"Stop & Delete 'Scancore Scanning Service' Service", "Service stopped successfully.",
                     "Service deleted successfully"}),
              without_pending(log.texts(), pending));
    EXPECT_GE(pending, 2u);
    EXPECT_LE(pending, 5u);
    // One pending line a second.
    DWORD previous = 0;
    for (const captured_line& line : log.lines()) {
        if (line.text != "Service stop pending...")
            continue;
        if (previous) {
            EXPECT_GE(line.tick - previous, 900u);
        }
        previous = line.tick;
    }
    EXPECT_TRUE(kit::wait_service_state(wide(scanning), 0, 10000));
}

TEST_F(service_bed, sends_the_stop_control_when_a_pending_stop_turns_running)
{
    ASSERT_NO_FATAL_FAILURE(install_bounce_service());
    // The service goes stop pending by itself: under Wine a service that was
    // sent the stop control once refuses every later control (1061).
    {
        testbed::unique_handle pending(OpenEventA(EVENT_MODIFY_STATE, FALSE, "Global\\ToolboxBouncePending"));
        ASSERT_TRUE(pending && SetEvent(pending.get()));
        ASSERT_TRUE(kit::wait_service_state(wide(bounce), SERVICE_STOP_PENDING, 5000));
    }
    log_capture log;

    // The service stops only on the stop control.
    EXPECT_TRUE(stop_and_delete_service(bounce, true));
    size_t pending = 0;
    EXPECT_EQ((lines{"Stop & Delete 'Toolbox Bounce Service' Service", "Service stopped successfully.",
                     "Service deleted successfully"}),
              without_pending(log.texts(), pending));
    EXPECT_GE(pending, 1u);
    EXPECT_LE(pending, 4u);
    EXPECT_TRUE(kit::wait_service_state(wide(bounce), 0, 10000));
    EXPECT_TRUE(kit::wait_until_gone(L"bounce_service.exe", 10000));
}

TEST_F(service_bed, a_service_counts_as_deleted_once_marked_for_deletion_or_gone)
{
    ASSERT_NO_FATAL_FAILURE(install_double(L"ScrWatchService.exe", L"watch_marked", L"/s", watch));
    EXPECT_FALSE(is_service_deleted(watch));
    EXPECT_TRUE(is_service_deleted("No Such Service"));

    // The running watch service refuses the stop control: deleting it only
    // marks it, and the manager still opens it by name.
    {
        service_handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
        service_handle service(manager.get() ? OpenServiceA(manager.get(), watch, DELETE) : nullptr);
        ASSERT_TRUE(service.get()) << GetLastError();
        ASSERT_TRUE(DeleteService(service.get())) << GetLastError();
    }
    EXPECT_TRUE(is_service_installed(watch));
    EXPECT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(wide(watch)));
    EXPECT_TRUE(is_service_deleted(watch));

    // Stopped, it leaves.
    {
        testbed::unique_handle request(OpenEventW(EVENT_MODIFY_STATE, FALSE, testbed::watch_stop_request_event));
        ASSERT_TRUE(request && SetEvent(request.get()));
    }
    ASSERT_TRUE(kit::wait_service_state(wide(watch), 0, 10000));
    EXPECT_TRUE(is_service_deleted(watch));
}

TEST_F(service_bed, ends_the_process_of_a_service_that_refuses_to_stop)
{
    // The watch service does not accept the manager's stop control.
    ASSERT_NO_FATAL_FAILURE(install_double(L"ScrWatchService.exe", L"watch_plain", L"/s", watch));
    log_capture log;

    remove_service(watch, "ScrWatchService.exe", false);
    EXPECT_EQ((lines{"Stop & Delete 'AV Watch Service' Service", "ControlService failed, System Error Code = 1052",
                     "Dealing with 'ScrWatchService.exe' process ....",
                     "Process with name 'ScrWatchService.exe' is running, let us close it"}),
              log.texts());
    EXPECT_TRUE(kit::wait_until_gone(L"ScrWatchService.exe", 10000));
    // Only stopped: the key stays.
    EXPECT_TRUE(key_exists(wide(watch)));
}

TEST_F(service_bed, finds_a_service_of_unknown_name_by_its_executable_first_key_first)
{
    // Two suite services of one program file; "Suite A" sorts first. Before
    // both, another vendor's service whose program name ends with the same.
    ASSERT_NO_FATAL_FAILURE(install_double(L"DrummetSuiteService.exe", L"suite_b", L"/install", "Suite B",
                                           {{L"service_name", L"Suite B"}}));
    ASSERT_NO_FATAL_FAILURE(install_double(L"DrummetSuiteService.exe", L"suite_a", L"/install", "Suite A",
                                           {{L"service_name", L"Suite A"}}));
    const std::wstring lookalike = services_folder + L"lookalike\\MyDrummetSuiteService.exe";
    kit::make_folders(services_folder + L"lookalike\\");
    ASSERT_TRUE(CopyFileW((kit::bin_folder() + L"DrummetSuiteService.exe").c_str(), lookalike.c_str(), FALSE));
    kit::set_knob(L"MyDrummetSuiteService", L"service_name", L"Aardvark Suite", services_folder + L"lookalike\\");
    ASSERT_EQ(0u, kit::run(quoted(lookalike) + L" /install"));
    ASSERT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(L"Aardvark Suite"));
    log_capture log;

    remove_service("Suite", "DrummetSuiteService.exe", true);
    EXPECT_EQ((lines{"The specified service (Suite) does not exist as an installed service.",
                     "Search if DrummetSuiteService.exe service is installed", "Service found. Display Name: Suite A",
                     "Stop & Delete 'Suite A' Service", "Service stopped successfully.",
                     "Service deleted successfully"}),
              log.texts());
    EXPECT_TRUE(kit::wait_service_state(L"Suite A", 0, 10000));
    EXPECT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(L"Suite B"));

    log.clear();
    remove_service("Suite", "DRUMMETSUITESERVICE.EXE", false);
    EXPECT_EQ((lines{"The specified service (Suite) does not exist as an installed service.",
                     "Search if DRUMMETSUITESERVICE.EXE service is installed", "Service found. Display Name: Suite B",
                     "Stop & Delete 'Suite B' Service", "Service stopped successfully."}),
              log.texts());
    EXPECT_EQ(DWORD(SERVICE_STOPPED), kit::service_state(L"Suite B"));

    // Nothing by that name or executable: only the process fallback runs.
    log.clear();
    remove_service("No Such Service", "nothing_like_it.exe", true);
    EXPECT_EQ((lines{"The specified service (No Such Service) does not exist as an installed service.",
                     "Search if nothing_like_it.exe service is installed", "Service not found",
                     "Dealing with 'nothing_like_it.exe' process ....",
                     "Process with name 'nothing_like_it.exe' is NOT running ..."}),
              log.texts());

    // The look-alike was never taken for the suite's service.
    EXPECT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(L"Aardvark Suite"));
    EXPECT_FALSE(kit::processes_named(L"MyDrummetSuiteService.exe").empty());
}

// What a system call sees of an image path ends at its first NUL: a doubled
// terminator changes nothing, and a program named after a NUL is no match.
TEST_F(service_bed, an_image_path_ends_at_its_first_nul)
{
    {
        tessel::registry2::key services = tessel::registry2::key(HKEY_LOCAL_MACHINE).open(services_key, false);
        auto add = [&](const wchar_t* name, const std::wstring& display_name, const std::wstring& image) {
            const tessel::registry2::key k = services.open(name, true);
            for (const auto& [value, text] : {std::pair(L"DisplayName", display_name), std::pair(L"ImagePath", image)})
                ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(k.handle(), value, 0, REG_SZ,
                                                        reinterpret_cast<const BYTE*>(text.data()),
                                                        DWORD(text.size() * sizeof(wchar_t))));
        };
        add(L"zz probe 0", std::wstring(L"Hidden\0", 7),
            std::wstring(L"C:\\Probe\\Other.exe\0C:\\Probe\\NulSvc.exe\0", 38));
        add(L"zz probe 1", std::wstring(L"Doubled\0\0", 9), std::wstring(L"C:\\Probe\\NulSvc.exe\0\0", 22));
    }
    log_capture log;
    EXPECT_EQ("zz probe 1", find_service_by_image("NulSvc.exe"));
    EXPECT_EQ((lines{"Search if NulSvc.exe service is installed", "Service found. Display Name: Doubled"}), log.texts());
}

TEST_F(service_bed, service_keys_are_matched_by_the_whole_file_name_of_their_program)
{
    // Keys the manager never hears of, visited in this order.
    {
        tessel::registry2::key services = tessel::registry2::key(HKEY_LOCAL_MACHINE).open(services_key, false);
        auto add = [&](const wchar_t* name, const wchar_t* display_name) {
            tessel::registry2::key k = services.open(name, true);
            if (display_name)
                k.write_string(L"DisplayName", display_name);
            return k;
        };
        // Another vendor's programs whose names end with the one looked for.
        add(L"zz probe 0", L"Look-alike").write_string(L"ImagePath", L"C:\\Probe\\MyProbeSvc.exe");
        add(L"zz probe 1", L"Quoted look-alike").write_string(L"ImagePath", L"\"C:\\Probe\\XProbeSvc.exe\" /service");
        add(L"zz probe 2", L"No image path");
        add(L"zz probe 3", L"Number").write_dword(L"ImagePath", 7);
        add(L"zz probe 4", nullptr).write_string(L"ImagePath", L"C:\\Probe\\ProbeSvc.exe");
        // Matches only once the variable is expanded.
        const std::wstring expandable = L"C:\\Probe\\%TOOLBOX_PROBE_IMAGE%";
        tessel::registry2::key five = add(L"zz probe 5", L"Probe Five");
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(five.handle(), L"ImagePath", 0, REG_EXPAND_SZ,
                                                reinterpret_cast<const BYTE*>(expandable.c_str()),
                                                DWORD((expandable.size() + 1) * sizeof(wchar_t))));
        five.open(L"Parameters\\Deeper", true).write_string(L"x", L"y");
        // The program's path in quotes, or with arguments after it, blanks in
        // its folders: the program is still the one named.
        add(L"zz probe 6", L"Quoted").write_string(L"ImagePath", L"\"C:\\Probe Files\\PROBESVC.EXE\" /service");
        add(L"zz probe 7", L"Arguments").write_string(L"ImagePath", L"C:\\Probe Files\\ProbeSvc.exe -k probes");
    }
    log_capture log;

    EXPECT_EQ("zz probe 6", find_service_by_image("probesvc.exe"));
    EXPECT_EQ((lines{"Search if probesvc.exe service is installed", "Service found. Display Name: Quoted"}),
              log.texts());

    scoped_environment image("TOOLBOX_PROBE_IMAGE", "ProbeSvc.exe");
    log.clear();
    EXPECT_EQ("zz probe 5", find_service_by_image("ProbeSvc.exe"));
    EXPECT_EQ((lines{"Search if ProbeSvc.exe service is installed", "Service found. Display Name: Probe Five"}),
              log.texts());

    // A name that is not a whole file name, and the empty name, match nothing.
    log.clear();
    EXPECT_EQ("", find_service_by_image("robeSvc.exe"));
    EXPECT_EQ("", find_service_by_image(""));
    EXPECT_FALSE(remove_service_by_image(""));
    EXPECT_EQ((lines{"Search if robeSvc.exe service is installed", "Service not found",
                     "Search if  service is installed", "Service not found"}),
              log.texts());

    // Removal walks the same way, one key (with its subkeys) a call.
    log.clear();
    EXPECT_TRUE(remove_service_by_image("probesvc.exe"));
    EXPECT_FALSE(key_exists(L"zz probe 5"));
    EXPECT_TRUE(remove_service_by_image("probesvc.exe"));
    EXPECT_FALSE(key_exists(L"zz probe 6"));
    EXPECT_TRUE(remove_service_by_image("probesvc.exe"));
    EXPECT_FALSE(key_exists(L"zz probe 7"));
    EXPECT_FALSE(remove_service_by_image("probesvc.exe"));
    EXPECT_EQ((lines{"Service zz probe 5 is killed", "Service zz probe 6 is killed", "Service zz probe 7 is killed"}),
              log.texts());
    for (const wchar_t* kept : {L"zz probe 0", L"zz probe 1", L"zz probe 2", L"zz probe 3", L"zz probe 4"})
        EXPECT_TRUE(key_exists(kept)) << std::string(kept, kept + wcslen(kept));
}

// Waits out the 30-second budget, for two services at once: here one that
// ignores the stop control, and in a child process one that stays stop
// pending (under Wine, two threads of one process that talk to the service
// manager at the same time get error 6 from its calls).
TEST_F(service_bed, budget_of_30_seconds_then_process_and_key_are_removed)
{
    ASSERT_NO_FATAL_FAILURE(
        install_double(L"ScrScanningService.exe", L"scan_never", L"/s", budget_scanning,
                       {{L"never_stop", L"1"}, {L"service_name", wide(budget_scanning)}}));
    ASSERT_NO_FATAL_FAILURE(
        install_double(L"ScrWatchService.exe", L"watch_pending", L"/s", budget_watch,
                       {{L"stop_pending_seconds", L"90"}, {L"service_name", wide(budget_watch)}}));
    {
        testbed::unique_handle request(OpenEventW(EVENT_MODIFY_STATE, FALSE, testbed::watch_stop_request_event));
        ASSERT_TRUE(request && SetEvent(request.get()));
        ASSERT_TRUE(kit::wait_service_state(wide(budget_watch), SERVICE_STOP_PENDING, 5000));
    }
    const std::wstring child_folder = services_folder + L"child\\";
    kit::make_folders(child_folder);
    log_capture log;

    const DWORD child_started = GetTickCount();
    kit::process child(quoted(kit::bin_folder() + L"toolbox_probe.exe") +
                           L" remove_service \"Budget Watch Service\" ScrWatchService.exe 1",
                       child_folder);
    remove_service(budget_scanning, "ScrScanningService.exe", true);
    ASSERT_TRUE(child.wait(60000));
    const DWORD child_spent = GetTickCount() - child_started;

    EXPECT_EQ((lines{"Stop & Delete 'Budget Scanning Service' Service", "Wait timed out",
                     "Dealing with 'ScrScanningService.exe' process ....",
                     "Process with name 'ScrScanningService.exe' is running, let us close it",
                     "Service Budget Scanning Service is killed"}),
              log.texts());
    const std::vector<captured_line> all = log.lines();
    ASSERT_EQ(5u, all.size());
    // The budget runs from the start of the call.
    EXPECT_GE(all[1].tick - all[0].tick, 30000u);
    EXPECT_LE(all[1].tick - all[0].tick, 32500u);

    size_t pending = 0;
    EXPECT_EQ((lines{"Stop & Delete 'Budget Watch Service' Service", "Service stop timed out.",
                     "Dealing with 'ScrWatchService.exe' process ....",
                     "Process with name 'ScrWatchService.exe' is running, let us close it",
                     "Service Budget Watch Service is killed"}),
              without_pending(texts_of(parse_log(read_file(narrow(child_folder) + "probe.log.txt"))), pending));
    EXPECT_GE(pending, 29u);
    EXPECT_LE(pending, 32u);
    EXPECT_GE(child_spent, 30000u);

    EXPECT_TRUE(kit::wait_until_gone(L"ScrScanningService.exe", 10000));
    EXPECT_TRUE(kit::wait_until_gone(L"ScrWatchService.exe", 10000));
    EXPECT_FALSE(key_exists(wide(budget_scanning)));
    EXPECT_FALSE(key_exists(wide(budget_watch)));
}
