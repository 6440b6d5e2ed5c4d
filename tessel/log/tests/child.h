// Starting log_child.exe, which sits next to the test program.
#pragma once

#include <windows.h>

#include <string>

#include "tessel/unique_any.h"

// Starts log_child.exe with the arguments; its standard output and error go to
// output (inherited), or to this program's when output is null.
tessel::unique_handle start_child(const std::string& arguments, HANDLE output = nullptr);

// Runs log_child.exe to its end and returns what it wrote to standard output.
std::string run_child(const std::string& arguments, DWORD& exit_code);

// The exit code once the child has ended (waits up to two minutes).
DWORD wait_for_exit(const tessel::unique_handle& process);
