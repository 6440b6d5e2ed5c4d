// ScrWatchService.exe: the engine's watch service. It refuses the service
// control manager's stop control and stops only when the engine library asks
// it to (through the stop-request event).
#include "testbed/common/environment.h"
#include "testbed/common/names.h"
#include "testbed/services/service_host.h"

int main()
{
    testbed::service_program program;
    program.name = testbed::own_settings().text(L"service_name", testbed::watch_service_name);
    program.accepts_stop = false;
    program.stop_request_event = testbed::watch_stop_request_event;
    program.install_switch = L"/s";
    program.stop_switch = L"/p";
    program.uninstall_switch = L"/u";
    return testbed::run_service_program(program);
}
