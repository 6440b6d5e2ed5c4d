// Stopping and deleting Windows services, with fallbacks for services that the
// service control manager cannot stop or delete: terminating the service's
// process and deleting its key under SYSTEM\CurrentControlSet\Services.
// None of these raises.
#pragma once

#include <windows.h>
#include <string>

// False only when the service control manager says there is no such service.
bool is_service_installed(const std::string& service_name);

// Whether the service control manager no longer knows the service or has it
// marked for deletion (it leaves when it stops). False when that cannot be
// told.
bool is_service_deleted(const std::string& service_name);

// Stops the service (waiting at most 30 s counted from the call, a status
// query every look interval, a pending line a second) and, with
// delete_service, deletes it. True when it ended stopped and, if asked,
// deleted; every failure is logged.
bool stop_and_delete_service(const std::string& service_name, bool delete_service);

// Whether more than the 30 s stop budget lies between two tick counts; a wrap
// of the tick counter in between does not matter.
bool stop_budget_exceeded(DWORD start_tick, DWORD now_tick);

// The key name (the name the service control manager opens it by) of the
// first service key, in ascending key-name order, whose ImagePath names a
// program of that whole file name (program_file_name) and which has a
// DisplayName; "" when none does.
std::string find_service_by_image(const std::string& process_name);

// Deletes the key (with its subkeys) of the first service found as
// find_service_by_image finds it. True when a key was deleted.
bool remove_service_by_image(const std::string& process_name);

// Stops and, with delete_service, deletes the service, looking it up by its
// executable when the name is unknown; where that fails, terminates the
// processes of that executable and (with delete_service) deletes the key.
void remove_service(const std::string& service_name, const std::string& process_name, bool delete_service);
