// Owning wrappers for the Win32 handles the doubles use.
#pragma once

#include <windows.h>
#include <memory>
#include <type_traits>

namespace testbed {

struct handle_closer
{
    void operator()(HANDLE handle) const
    {
        if (handle && handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};
using unique_handle = std::unique_ptr<void, handle_closer>;

// Both null and INVALID_HANDLE_VALUE come out as an empty wrapper.
inline unique_handle own_handle(HANDLE handle)
{
    return unique_handle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

struct service_handle_closer
{
    void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using unique_service_handle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, service_handle_closer>;

struct module_closer
{
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using unique_module = std::unique_ptr<std::remove_pointer_t<HMODULE>, module_closer>;

struct find_closer
{
    void operator()(HANDLE search) const { FindClose(search); }
};
using unique_find = std::unique_ptr<void, find_closer>;

struct key_closer
{
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using unique_key = std::unique_ptr<std::remove_pointer_t<HKEY>, key_closer>;

// An export of a loaded module as the given function pointer type; null when missing.
template <typename F>
F bound_export(HMODULE module, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace testbed
