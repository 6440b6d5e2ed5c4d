#include "watch_stop/teardown.h"

#include "family/names.h"
#include "tessel/exception.h"
#include "tessel/log/log.h"
#include "tessel/system_error_text.h"
#include "tessel/unicode/unicode.h"
#include "tessel/unique_any.h"
#include "toolbox/environment.h"
#include "toolbox/folders.h"
#include "toolbox/processes.h"
#include "toolbox/registry_cleaning.h"
#include "toolbox/services.h"
#include "toolbox/shared_dlls.h"
#include "toolbox/waits.h"
#include "watch_stop/product_library.h"
#include "watch_stop/stopper.h"

#include <windows.h>

#include <cstdio>
#include <tuple>

namespace {

using namespace product_library;

const family::engine_names engine;
const std::string& scanning_service_exe = engine.scanning.program;
const std::string& watch_service_exe = engine.watch.program;

// How long the stage waits, at most, for each thing it waits for.
const DWORD stop_limit_ms = 15 * 1000;       // a service's program to end once asked to stop
const DWORD uninstall_limit_ms = 1000;       // a service to leave after its program's " /u"
const DWORD legacy_settle_limit_ms = 1000;   // the old engine's programs to end
const DWORD restart_limit_ms = 2000;         // both services to run again

std::string engine_folder()
{
    return path_of(engine.folder);
}

bool is_running(const std::string& exe)
{
    return is_process_running(adjust_process_name(exe));
}

bool watch_service_runs()
{
    return is_running(watch_service_exe);
}

bool scanning_service_runs()
{
    return is_running(scanning_service_exe);
}

void terminate(const std::string& exe)
{
    terminate_processes(adjust_process_name(exe), false);
}

bool neither_service_runs()
{
    return !watch_service_runs() && !scanning_service_runs();
}

// Runs the service program's " /u", then waits until the service has left the
// service control manager (or is marked to leave when it stops) and its
// program has ended: its files are deleted later in the run.
void uninstall_service(const std::string& folder, const family::service& service)
{
    run_and_wait(folder, service.program, "/u");
    wait_until([&] { return is_service_deleted(service.name) && !is_running(service.program); }, uninstall_limit_ms);
}

// The last look at a service's program, logged with one of the two texts; a
// look that fails counts as still up.
bool report_gone(const std::string& exe, const char* gone_text, const char* up_text)
{
    bool gone = false;
    try {
        gone = !is_running(exe);
    } catch (...) {
    }
    tessel::log::info("%s", gone ? gone_text : up_text);
    return gone;
}

bool below(unsigned major, unsigned minor, unsigned build, unsigned than_major, unsigned than_minor,
           unsigned than_build)
{
    return std::tie(major, minor, build) < std::tie(than_major, than_minor, than_build);
}



// Asks the product library to stop the watch service: "<abbreviation> /quietus".
// The library is loaded by its full path; the libraries it needs come from
// its own folder and the system folder, never from the current folder.
void stop_through_product_library(const ProductInfo& info, const std::wstring& abbreviation)
{
    const std::wstring path = tessel::unicode::from_ansi(info.install_dir) + abbreviation + L".dll";
    if (!is_full_path(path))
        throw tessel::exception_w(L"%s is not a full path: the product library is not loaded", path.c_str());
    const tessel::unique_module library(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!library) {
        const DWORD code = GetLastError();
        throw tessel::exception_w(L"failed to load %s: %S (0x%08X)", path.c_str(), tessel::system_error_text(code).c_str(),
                                  static_cast<unsigned>(code));
    }
    const auto create = reinterpret_cast<create_application_fn>(
        reinterpret_cast<void*>(GetProcAddress(library.get(), "create_application")));
    if (!create)
        throw tessel::exception_w(L"create_application() entry is not found in %s DLL", path.c_str());
    application* app = create();
    if (!app)
        throw tessel::exception_w(L"Failed to initialize application");
    if (command_line_handler* handler = app->get_command_line_handler()) {
        const std::wstring command_line = abbreviation + L" /quietus";
        if (handler->process_command_line(command_line.c_str()))
            tessel::log::info(L"Command line processed");
    }
}

// Quietus runs from the remover's own folder, where the two builds are
// shipped beside it, and in that folder; it is never looked for elsewhere.
void launch(const std::string& program)
{
    tessel::log::info("launch %s", program.c_str());
    const std::string folder = get_own_program_folder();
    if (is_full_path(folder) && GetFileAttributesA((folder + program).c_str()) == INVALID_FILE_ATTRIBUTES) {
        tessel::log::info("%s is not in the remover's folder %s: it is not started from anywhere else",
                          program.c_str(), folder.c_str());
        return;
    }
    run_and_wait(folder, program, "");
}

void stop_watch_service_by_version(const ProductInfo& info, const std::wstring& abbreviation)
{
    unsigned major = 0, minor = 0, build = 0;
    const bool readable = read_engine_version(major, minor, build);
    switch (watch_stop_way_for(readable, major, minor, build)) {
    case watch_stop_way::in_process:
        av::stop_av_watch_service(30);
        break;
    case watch_stop_way::quietus_2_1_5:
        launch(engine.stopper_2_1_5);
        break;
    case watch_stop_way::quietus_2_1_1:
        launch(engine.stopper_2_1_1);
        break;
    case watch_stop_way::product_library:
    case watch_stop_way::legacy:  // not chosen here: the caller takes the legacy stop itself
        stop_through_product_library(info, abbreviation);
        break;
    }
}

// Engine code -1 is the bad state; the oldest engines pass the context back.
HANDLE legacy_ready = nullptr;
HANDLE legacy_stopped = nullptr;

void SCR_CALL legacy_state_callback(void*, std::int32_t state)
{
    if (state != SCR_state_bad)
        SetEvent(legacy_ready);
}

void SCR_CALL legacy_stopped_callback(void*)
{
    SetEvent(legacy_stopped);
}

template<class F>
F legacy_entry(HMODULE library, const char* name)
{
    F entry = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    if (!entry)
        tessel::log::info("%s is not found in Scancore.dll. errCode %d", name, static_cast<int>(GetLastError()));
    return entry;
}

void run_legacy_session(SCR_connect_fn connect, SCR_close_fn close, SCR_stop_watch_service_fn stop)
{
    const tessel::unique_handle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const tessel::unique_handle stopped(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    legacy_ready = ready.get();
    legacy_stopped = stopped.get();
    scr_callbacks13 table{};
    table.engine_state = legacy_state_callback;
    table.watch_service_stopped = legacy_stopped_callback;
    static std::int32_t context = 1;
    tessel::log::info("Doing SCR_connect");
    const scr_handle handle = connect(&context, &table);
    if (!handle) {
        tessel::log::info("SCR_connect returned 0. Bailing out.");
        return;
    }
    if (WaitForSingleObject(ready.get(), 30000) != WAIT_OBJECT_0) {
        tessel::log::info("Tried to connect to engine, but the engine did not responded within %d seconds. Giving up.",
                          30);
    } else {
        tessel::log::info("Doing SCR_stop_watch_service");
        const std::int32_t result = stop(handle);
        if (result != SCR_success)
            tessel::log::info("SCR_stop_watch_service did not return SCR_success. Return value is %d. Giving up.",
                              static_cast<int>(result));
        else if (WaitForSingleObject(stopped.get(), 30000) == WAIT_OBJECT_0)
            tessel::log::info("Service stopped successfully");
        else
            tessel::log::info("Sent stop request but watch service did not stop within %d seconds", 30);
    }
    // The connection ends before the events close: no callback can reach a
    // closed handle.
    close(handle);
    legacy_ready = legacy_stopped = nullptr;
}

} // namespace

bool read_engine_version(unsigned& major, unsigned& minor, unsigned& build)
{
    major = minor = build = 0;
    const std::string version = get_file_version(engine_folder() + scanning_service_exe);
    unsigned a = 0, b = 0, c = 0;
    if (std::sscanf(version.c_str(), "%u.%u.%u", &a, &b, &c) != 3)
        return false;
    major = a;
    minor = b;
    build = c;
    return true;
}

bool is_engine_version_above(unsigned major, unsigned minor, unsigned build)
{
    unsigned installed_major = 0, installed_minor = 0, installed_build = 0;
    if (!read_engine_version(installed_major, installed_minor, installed_build))
        return true;
    return below(major, minor, build, installed_major, installed_minor, installed_build);
}

watch_stop_way watch_stop_way_for(bool readable, unsigned major, unsigned minor, unsigned build)
{
    if (!readable || !below(major, minor, build, 2, 1, 10))
        return watch_stop_way::in_process;
    if (below(2, 1, 4, major, minor, build))
        return watch_stop_way::quietus_2_1_5;
    if (below(1, 5, 90, major, minor, build))
        return watch_stop_way::quietus_2_1_1;
    if (below(major, minor, build, 1, 5, 34))
        return watch_stop_way::legacy;
    return watch_stop_way::product_library;
}

void stop_and_delete_services(const ProductInfo& info, const std::wstring& abbreviation, bool uninstall)
{
    try {
        const std::string folder = engine_folder();
        bool stopped = false;
        if (watch_service_runs()) {
            tessel::log::info("scancore version: %s", get_file_version(folder + scanning_service_exe).c_str());
            unsigned major = 0, minor = 0, build = 0;
            if (read_engine_version(major, minor, build) &&
                watch_stop_way_for(true, major, minor, build) == watch_stop_way::legacy)
                stopped = stop_services_legacy(folder);
            else
                stopped = stop_scancore_watch_service(info, abbreviation);
        }
        if (scanning_service_runs()) {
            const bool scanning_stopped = stop_scanning_service();
            stopped = stopped && scanning_stopped;
        }
        tessel::log::info("scancore_stoped=%d", stopped ? 1 : 0);
        if (!uninstall)
            return;
        tessel::log::info("Uninstalling Scancore Scan service");
        uninstall_service(folder, engine.scanning);
        tessel::log::info("Uninstalling Scancore Watch service");
        uninstall_service(folder, engine.watch);
        if (!stopped) {
            remove_service(engine.scanning.name, engine.scanning.program, true);
            remove_service(engine.watch.name, engine.watch.program, true);
        }
        tessel::log::info("Done removing Scancore services");
    } catch (...) {
        tessel::log::error("scancore::stop_and_delete_services");
    }
}

bool stop_scancore_watch_service(const ProductInfo& info, const std::wstring& abbreviation)
{
    tessel::log::info("stop AV Watch Service");
    if (watch_service_runs()) {
        // A way that raises skips the polling.
        try {
            stop_watch_service_by_version(info, abbreviation);
            wait_until_ended(watch_service_exe, stop_limit_ms);
        } catch (const std::exception& e) {
            tessel::log::info("stop_scancore_watch_service exception: %s", e.what());
        } catch (...) {
            tessel::log::info("stop_scancore_watch_service unhandled exception");
        }
    }
    return report_gone(watch_service_exe, "AV Watch Service was stopped succesfully",
                       "AV Watch Service looks to be still up");
}

bool stop_scanning_service()
{
    tessel::log::info("stopping AV Scanning Service");
    try {
        if (scanning_service_runs()) {
            run_and_wait(engine_folder(), scanning_service_exe, "/p");
            if (!wait_until_ended(scanning_service_exe, stop_limit_ms)) {
                tessel::log::info("Attempting to kill AV Scanning Service");
                terminate(scanning_service_exe);
            }
        }
    } catch (...) {
    }
    return report_gone(scanning_service_exe, "AV Scanning Service was stopped succesfully",
                       "AV Scanning Service looks to be still up");
}

bool stop_services_legacy(const std::string& folder)
{
    tessel::log::info("Stopping Scancore Services v1.5.33");
    if (watch_service_runs())
        stop_watch_service_legacy();
    if (scanning_service_runs()) {
        tessel::log::info("stopping AV Scanning Service");
        run_and_wait(folder, scanning_service_exe, "/p");
        wait_until(neither_service_runs, legacy_settle_limit_ms);
        if (watch_service_runs() || scanning_service_runs()) {
            tessel::log::info("Attempting to kill both services");
            terminate(scanning_service_exe);
            terminate(watch_service_exe);
        }
    }
    wait_until(neither_service_runs, legacy_settle_limit_ms);
    const bool watch_up = watch_service_runs();
    const bool scanning_up = scanning_service_runs();
    if (!watch_up && !scanning_up) {
        tessel::log::info("Scancore services were stopped succesfully");
        return true;
    }
    if (watch_up)
        tessel::log::info("Watch svc looks to be still up");
    if (scanning_up)
        tessel::log::info("Scan svc looks to be still up");
    return false;
}

void stop_watch_service_legacy()
{
    tessel::log::info("stopping AV Watch Service 1.5.33");
    std::string path;
    try {
        path = path_of(engine.folder) + tessel::unicode::to_ansi(engine.library);
    } catch (const std::exception&) {
        tessel::log::info("failed to get CSIDL_PROGRAM_FILES_COMMON, exiting");
        return;
    }
    tessel::log::info("Loading %s", path.c_str());
    const tessel::unique_module library(LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!library) {
        tessel::log::info("Scancore.dll is not found. errCode %d", static_cast<int>(GetLastError()));
        return;
    }
    const auto connect = legacy_entry<SCR_connect_fn>(library.get(), "SCR_connect");
    if (!connect)
        return;
    const auto close = legacy_entry<SCR_close_fn>(library.get(), "SCR_close");
    if (!close)
        return;
    const auto stop = legacy_entry<SCR_stop_watch_service_fn>(library.get(), "SCR_stop_watch_service");
    if (!stop)
        return;
    run_legacy_session(connect, close, stop);
}

bool restart_engine_services()
{
    const std::string folder = engine_folder();
    run_and_wait(folder, scanning_service_exe, "/s");
    run_and_wait(folder, watch_service_exe, "/s");
    return wait_until([] { return scanning_service_runs() && watch_service_runs(); }, restart_limit_ms);
}

void kill_engine()
{
    tessel::log::info("**** Kill Scancore (driver and files) ****");
    const std::string folder = engine_folder();
    // The system's own rundll32.exe, of the 32-bit programs as the family's
    // setup is one: it reads and deletes what the information file installed
    // where that setup put it (the drivers folder and the registry view that a
    // 32-bit program sees under WOW64).
    const std::string information_file = folder + engine.driver_information_file;
    if (GetFileAttributesA(information_file.c_str()) != INVALID_FILE_ATTRIBUTES)
        run_and_wait(get_system_folder(), "rundll32.exe",
                     "setupapi,InstallHinfSection DefaultUninstall 132 " + information_file);
    // Every folder is named before the first goes: a shell folder without an
    // answer ends the removal before it begins.
    const std::string data_folder = path_of(engine.data_folder);
    const std::string shared_data_folder = path_of(engine.shared_data_folder);
    const std::string shared_program_folder = path_of(engine.shared_program_folder);
    remove_folder(data_folder);
    remove_empty_folder(shared_data_folder);
    remove_folder(folder);
    remove_empty_folder(shared_program_folder);
    for (const family::place& cache : engine.caches)
        remove_folder(path_of(cache));
    set_shared_dll_counters(wide_path_of(engine.shared_program_folder), 0);
    for (const family::key& key : engine.keys)
        remove_regkey(key.root, key.parent, key.name, true);
}
