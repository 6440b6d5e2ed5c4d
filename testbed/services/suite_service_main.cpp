// The suite service program: "DrummetSuiteService.exe" of the default maker
// registers "Suite Service"; "SuiteService.exe" of another maker registers
// "<maker> Suite Service", the maker being the name of its folder. The knob
// service_name overrides either.
#include "testbed/common/environment.h"
#include "testbed/services/service_host.h"

namespace {

std::wstring default_service_name()
{
    std::wstring path = testbed::own_module_path();
    if (testbed::equal_no_case(testbed::file_name(path), L"DrummetSuiteService.exe"))
        return L"Suite Service";
    std::wstring folder = testbed::folder_of(path);
    folder.pop_back();
    return testbed::file_name(folder) + L" Suite Service";
}

}  // namespace

int main()
{
    testbed::service_program program;
    program.name = testbed::own_settings().text(L"service_name", default_service_name());
    program.install_switch = L"/install";
    program.stop_switch = L"/stop";
    program.uninstall_switch = L"/uninstall";
    return testbed::run_service_program(program);
}
