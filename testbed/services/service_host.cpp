#include "testbed/services/service_host.h"

#include "testbed/common/environment.h"
#include "testbed/common/handles.h"

#include <windows.h>
#include <cwctype>

#include <vector>

namespace testbed {

namespace {

// Switch handling ------------------------------------------------------------

constexpr DWORD switch_wait_ms = 15000;

DWORD query_status(SC_HANDLE service, SERVICE_STATUS_PROCESS& status)
{
    DWORD size = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                              &size))
        return GetLastError();
    return ERROR_SUCCESS;
}

// Polls until the service reports the state or the time is up.
bool wait_for_state(SC_HANDLE service, DWORD state, DWORD limit_ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        SERVICE_STATUS_PROCESS status{};
        if (query_status(service, status) != ERROR_SUCCESS)
            return false;
        if (status.dwCurrentState == state)
            return true;
        if (GetTickCount() - start >= limit_ms)
            return false;
        Sleep(100);
    }
}

// Sends the stop control and waits until the service has stopped and its
// process has ended. True when it is down.
bool stop_service(SC_HANDLE service)
{
    SERVICE_STATUS_PROCESS status{};
    if (query_status(service, status) != ERROR_SUCCESS)
        return false;
    if (status.dwCurrentState == SERVICE_STOPPED)
        return true;
    unique_handle process(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
    SERVICE_STATUS ignored{};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &ignored)) {
        DWORD error = GetLastError();
        trace(L"stop control refused (%lu)", error);
        if (error != ERROR_SERVICE_NOT_ACTIVE)
            return false;
    }
    DWORD start = GetTickCount();
    if (!wait_for_state(service, SERVICE_STOPPED, switch_wait_ms))
        return false;
    DWORD spent = GetTickCount() - start;
    return !process ||
           WaitForSingleObject(process.get(), spent < switch_wait_ms ? switch_wait_ms - spent : 0) == WAIT_OBJECT_0;
}

int install_and_start(const service_program& program, SC_HANDLE manager)
{
    std::wstring image = own_module_path();
    // The image path stays unquoted: the remover matches it by its ending.
    unique_service_handle service(CreateServiceW(manager, program.name.c_str(), program.name.c_str(),
                                                 SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                                 SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr, nullptr,
                                                 nullptr, nullptr));
    if (service) {
        trace(L"installed as '%ls'", program.name.c_str());
    } else {
        DWORD error = GetLastError();
        if (error != ERROR_SERVICE_EXISTS) {
            trace(L"CreateService failed (%lu)", error);
            return 1;
        }
        service.reset(OpenServiceW(manager, program.name.c_str(), SERVICE_ALL_ACCESS));
        if (!service) {
            trace(L"OpenService failed (%lu)", GetLastError());
            return 1;
        }
    }
    // The scenarios install the services side by side: Wine's manager
    // answers a start that meets another one with "database locked".
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 100; ++attempt) {
        error = StartServiceW(service.get(), 0, nullptr) ? ERROR_SUCCESS : GetLastError();
        if (error != ERROR_SERVICE_DATABASE_LOCKED)
            break;
        Sleep(100);
    }
    if (error != ERROR_SUCCESS && error != ERROR_SERVICE_ALREADY_RUNNING) {
        trace(L"StartService failed (%lu)", error);
        return 1;
    }
    return wait_for_state(service.get(), SERVICE_RUNNING, switch_wait_ms) ? 0 : 1;
}

int stop(const service_program& program, SC_HANDLE manager)
{
    unique_service_handle service(OpenServiceW(manager, program.name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service)
        return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : 1;
    return stop_service(service.get()) ? 0 : 1;
}

int uninstall(const service_program& program, SC_HANDLE manager)
{
    unique_service_handle service(
        OpenServiceW(manager, program.name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service)
        return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : 1;
    // A service that refuses the stop control is only marked for deletion;
    // it leaves the manager when it stops.
    if (program.accepts_stop)
        stop_service(service.get());
    if (!DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
        trace(L"DeleteService failed (%lu)", GetLastError());
        return 1;
    }
    trace(L"uninstalled '%ls'", program.name.c_str());
    return 0;
}

// The switch is the command line's last word when that begins with "/": the
// program's path before it may hold blanks without quotes.
std::wstring given_switch()
{
    std::wstring line = GetCommandLineW();
    while (!line.empty() && iswspace(line.back()))
        line.pop_back();
    auto blank = line.find_last_of(L" \t");
    if (blank == std::wstring::npos)
        return {};
    std::wstring last = line.substr(blank + 1);
    return !last.empty() && last[0] == L'/' ? last : std::wstring();
}

// Runs the switch on the command line; -1 when there is none.
int run_switch(const service_program& program)
{
    std::wstring given = given_switch();
    if (given.empty())
        return -1;

    struct action
    {
        const std::wstring& name;
        const wchar_t* knob;
        int (*run)(const service_program&, SC_HANDLE);
    };
    const action actions[] = {{program.install_switch, L"install_exit_code", install_and_start},
                              {program.stop_switch, L"stop_exit_code", stop},
                              {program.uninstall_switch, L"uninstall_exit_code", uninstall}};
    for (const action& a : actions) {
        if (!equal_no_case(given, a.name))
            continue;
        if (equal_no_case(own_settings().text(L"hang", L""), given)) {
            trace(L"%ls: hangs as set", given.c_str());
            Sleep(INFINITE);
        }
        int forced = own_settings().integer(a.knob, 0);
        if (forced != 0) {
            trace(L"%ls: exits with %d as set", given.c_str(), forced);
            return forced;
        }
        unique_service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        if (!manager) {
            trace(L"OpenSCManager failed (%lu)", GetLastError());
            return 1;
        }
        int code = a.run(program, manager.get());
        trace(L"%ls: exit code %d", given.c_str(), code);
        return code;
    }
    trace(L"unknown switch '%ls'", given.c_str());
    return 2;
}

// Service ----------------------------------------------------------------------

const service_program* current = nullptr;
SERVICE_STATUS_HANDLE status_handle = nullptr;
unique_handle manager_stop;  // set by the control handler
SERVICE_STATUS status{};

void report(DWORD state, DWORD wait_hint = 0)
{
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = (state == SERVICE_RUNNING && current->accepts_stop) ? SERVICE_ACCEPT_STOP : 0;
    status.dwWin32ExitCode = NO_ERROR;
    status.dwWaitHint = wait_hint;
    status.dwCheckPoint = (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : status.dwCheckPoint + 1;
    SetServiceStatus(status_handle, &status);
}

DWORD WINAPI control_handler(DWORD control, DWORD, void*, void*)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
        SetEvent(manager_stop.get());
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void serve_until_stopped()
{
    unique_handle request;
    if (!current->stop_request_event.empty())
        request = own_handle(CreateEventW(nullptr, FALSE, FALSE, current->stop_request_event.c_str()));
    std::vector<HANDLE> waits{manager_stop.get()};
    if (request)
        waits.push_back(request.get());

    report(SERVICE_RUNNING);
    trace(L"running");
    for (;;) {
        DWORD woken = WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, INFINITE);
        const wchar_t* by = woken == WAIT_OBJECT_0 ? L"the manager" : L"request event";
        settings knobs = own_settings();
        if (knobs.integer(L"never_stop", 0)) {
            trace(L"stop by %ls ignored", by);
            ResetEvent(manager_stop.get());
            report(SERVICE_RUNNING);
            continue;
        }
        int pending = knobs.integer(L"stop_pending_seconds", 0);
        trace(L"stop by %ls, %d s pending", by, pending);
        for (int second = 0; second < pending; ++second) {
            report(SERVICE_STOP_PENDING, 2000);
            Sleep(1000);
        }
        report(SERVICE_STOP_PENDING, 2000);
        break;
    }
}

void WINAPI service_main(DWORD, LPWSTR*)
{
    manager_stop = own_handle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    status_handle = RegisterServiceCtrlHandlerExW(current->name.c_str(), control_handler, nullptr);
    if (!status_handle) {
        trace(L"RegisterServiceCtrlHandlerEx failed (%lu)", GetLastError());
        return;
    }
    report(SERVICE_START_PENDING, 3000);
    serve_until_stopped();
    trace(L"stopped");
    report(SERVICE_STOPPED);
}

}  // namespace

int run_service_program(const service_program& program)
{
    current = &program;
    // Switches first: the dispatcher blocks for a while in a process the
    // manager did not start.
    int code = run_switch(program);
    if (code >= 0)
        return code;

    std::wstring name = program.name;
    SERVICE_TABLE_ENTRYW table[] = {{name.data(), service_main}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        trace(L"StartServiceCtrlDispatcher failed (%lu)", GetLastError());
        return 1;
    }
    return 0;
}

}  // namespace testbed
