// Reference counters of shared files: one REG_DWORD per file under HKLM
// SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs, named by the file's
// full path. A counter is never left at 0 or below: such a count means the
// value goes.
#pragma once

#include "tessel/registry2/key.h"

#include <set>
#include <string>

// Sets every counter whose name contains pattern (letter case ignored) to
// count; a count of 0 or below deletes them. Works in the 32-bit registry view.
// A counter stored as something other than a number is listed as "not a
// number" and set or deleted like the others. Registry errors are raised to
// the caller; counters already changed stay changed.
void set_shared_dll_counters(const std::wstring& pattern, int count);

// Lowers the counter of each file by one, deleting it where it would fall to 0
// (also when it already holds 0 or less). A file without a usable counter is
// passed over. shared_dlls is the open SharedDLLs key; it is closed when the
// operation returns. Never raises.
void decrement_shared_dll_counters(const std::set<std::wstring>& files, tessel::registry2::key shared_dlls);
