// A service for the stop tests that goes from stop pending back to running:
// when the event "Global\ToolboxBouncePending" is set it reports stop pending
// for 2.5 seconds, then running again. The stop control stops it.
#include "testbed/common/handles.h"

#include <windows.h>

namespace {

SERVICE_STATUS_HANDLE status_handle = nullptr;
testbed::unique_handle stop_asked;
SERVICE_STATUS status{};

void report(DWORD state)
{
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwWin32ExitCode = NO_ERROR;
    status.dwWaitHint = state == SERVICE_STOP_PENDING ? 3000 : 0;
    status.dwCheckPoint = state == SERVICE_STOP_PENDING ? status.dwCheckPoint + 1 : 0;
    SetServiceStatus(status_handle, &status);
}

DWORD WINAPI control_handler(DWORD control, DWORD, void*, void*)
{
    if (control == SERVICE_CONTROL_STOP) {
        SetEvent(stop_asked.get());
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI service_main(DWORD, LPSTR*)
{
    stop_asked = testbed::own_handle(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    testbed::unique_handle pending =
        testbed::own_handle(CreateEventA(nullptr, FALSE, FALSE, "Global\\ToolboxBouncePending"));
    status_handle = RegisterServiceCtrlHandlerExA("Toolbox Bounce Service", control_handler, nullptr);
    if (!status_handle || !stop_asked || !pending)
        return;
    report(SERVICE_RUNNING);
    const HANDLE waits[] = {stop_asked.get(), pending.get()};
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        for (int i = 0; i < 5; ++i) {
            report(SERVICE_STOP_PENDING);
            Sleep(500);
        }
        report(SERVICE_RUNNING);
    }
    report(SERVICE_STOPPED);
}

} // namespace

int main()
{
    char name[] = "Toolbox Bounce Service";
    SERVICE_TABLE_ENTRYA table[] = {{name, service_main}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
