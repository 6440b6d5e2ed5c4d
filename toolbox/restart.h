// What is in use goes at the next restart.
//
// What cannot be deleted because it is in use (held open, a running program's
// image, a loaded library) is scheduled for deletion at the next restart, with
// a line on the log each: a file that delete_file was given, and what is left
// of a recursive removal that failed. Nothing else is ever scheduled, and
// nothing outside the program and Windows folders (may_wait_for_restart):
// what is in use elsewhere is logged and left.
#pragma once

#include <string>
#include <vector>

// How many files and folders this process has scheduled for deletion at the
// next restart.
int scheduled_for_restart();
// What this process found in use where nothing is scheduled, and left.
std::vector<std::wstring> left_in_use();
