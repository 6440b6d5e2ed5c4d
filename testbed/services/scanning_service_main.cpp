// ScrScanningService.exe: the engine's scanning service; it accepts the
// service control manager's stop control.
#include "testbed/common/environment.h"
#include "testbed/common/names.h"
#include "testbed/services/service_host.h"

int main()
{
    testbed::service_program program;
    program.name = testbed::own_settings().text(L"service_name", testbed::scanning_service_name);
    program.install_switch = L"/s";
    program.stop_switch = L"/p";
    program.uninstall_switch = L"/u";
    return testbed::run_service_program(program);
}
