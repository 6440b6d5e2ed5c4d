// One program that is both a Windows service and its own installer: started
// by the service control manager it serves; started with a switch it
// installs, stops or uninstalls itself.
//
// Knobs, section named after the program (testbed.ini, see testbed/README.md):
//   never_stop             1: every stop request is ignored; the service keeps running
//   stop_pending_seconds   N: on a stop, stay stop-pending for N seconds before stopping
//   install_exit_code      non-zero: the install switch does nothing and exits with it
//   stop_exit_code         non-zero: the stop switch does nothing and exits with it
//   uninstall_exit_code    non-zero: the uninstall switch does nothing and exits with it
#pragma once

#include <string>

namespace testbed {

struct service_program
{
    // Registered name (also the display name).
    std::wstring name;
    // Whether the service accepts the manager's stop control.
    bool accepts_stop = true;
    // Named event through which someone other than the manager asks the
    // service to stop; empty for none.
    std::wstring stop_request_event;
    // Command-line switches, compared without regard to case.
    std::wstring install_switch;    // install if needed, then start
    std::wstring stop_switch;       // stop through the manager
    std::wstring uninstall_switch;  // stop if it accepts that, then delete
};

// The program's entry: returns its exit code.
int run_service_program(const service_program& program);

}  // namespace testbed
