// Waiting for something to happen on the machine: a program to end, a service
// to stop or to leave the service control manager. A wait looks at once and
// then at short intervals, so that it ends soon after what it waits for has
// happened, and gives up once its limit has passed.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// The time between two looks: short against the tenths of a second and more
// that a program or service takes to go.
constexpr DWORD look_interval_ms = 20;

// Asks done() at once and then every look_interval_ms until it answers true
// or limit_ms have passed since the call; the last look comes at the limit.
// True when done() answered true.
bool wait_until(const std::function<bool()>& done, DWORD limit_ms);

// Waits up to limit_ms until no copy of the program runs (its name adjusted as
// adjust_process_name does). True when none runs.
bool wait_until_ended(const std::string& program, DWORD limit_ms);
