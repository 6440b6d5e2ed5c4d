// The owners of the Win32 handles the doubles use: the support library's, under
// the names the doubles know them by.
#pragma once

#include <windows.h>

#include "tessel/unique_any.h"

namespace testbed {

using tessel::unique_handle;
using tessel::unique_module;
using tessel::unique_service_handle;
using unique_find = tessel::unique_find_handle;
using unique_key = tessel::unique_hkey;

// Both null and INVALID_HANDLE_VALUE come out as an empty owner.
inline unique_handle own_handle(HANDLE handle)
{
    return unique_handle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

// An export of a loaded module as the given function pointer type; null when missing.
template <typename F>
F bound_export(HMODULE module, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace testbed
