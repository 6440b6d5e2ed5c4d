// One owner for every kind of system handle: the value type, the function that
// releases it and the value that means "nothing owned" are template arguments,
// so each kind of handle is one alias line below.
//
//     tessel::unique_handle process(OpenProcess(...));
//     if (!process) ...;
//     RegOpenKeyExW(root, path, 0, KEY_READ, key.put());   // out-parameter
//
// Move-only. get() lends the value, release() gives it up, reset() releases the
// current value (if any) and takes another, put() releases the current value
// and returns the address to write a new one to.
#pragma once

#include <windows.h>

#include <utility>

namespace tessel {

// `Close` is called only for a value other than the invalid one; what it returns
// (BOOL, LONG, a pointer) is ignored: there is nothing to do about a failed close.
// The thread's last error stays what it was before the close, so that code can
// let an owner go before it reads GetLastError.
// `T` is a pointer-like handle type; `Invalid` is its invalid value as a bit
// pattern, since INVALID_HANDLE_VALUE is a cast and not a constant expression.
template <typename T, auto Close, UINT_PTR Invalid = 0>
class unique_any
{
public:
    using value_type = T;

    unique_any() noexcept = default;
    explicit unique_any(T value) noexcept : value_(value) {}
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~unique_any() { reset(); }

    static T invalid() noexcept { return reinterpret_cast<T>(Invalid); }

    T get() const noexcept { return value_; }
    bool is_valid() const noexcept { return reinterpret_cast<UINT_PTR>(value_) != Invalid; }
    explicit operator bool() const noexcept { return is_valid(); }

    T release() noexcept { return std::exchange(value_, invalid()); }

    void reset(T value = invalid()) noexcept
    {
        const T old = std::exchange(value_, value);
        if (reinterpret_cast<UINT_PTR>(old) != Invalid) {
            const DWORD last_error = GetLastError();
            Close(old);
            SetLastError(last_error);
        }
    }

    // For out-parameters: whatever was owned is released first.
    T* put() noexcept
    {
        reset();
        return &value_;
    }

    void swap(unique_any& other) noexcept { std::swap(value_, other.value_); }

private:
    T value_ = invalid();
};

// The system's own release functions are the template arguments.
constexpr UINT_PTR invalid_handle_bits = static_cast<UINT_PTR>(-1);  // INVALID_HANDLE_VALUE

// Kernel handles that are null when invalid: processes, threads, tokens,
// events, mutexes, job objects, file mappings.
using unique_handle = unique_any<HANDLE, CloseHandle>;
// Kernel handles that are INVALID_HANDLE_VALUE when invalid: CreateFile's
// files and pipes, Toolhelp snapshots.
using unique_file_handle = unique_any<HANDLE, CloseHandle, invalid_handle_bits>;
// FindFirstFile's searches.
using unique_find_handle = unique_any<HANDLE, FindClose, invalid_handle_bits>;
using unique_hkey = unique_any<HKEY, RegCloseKey>;
using unique_service_handle = unique_any<SC_HANDLE, CloseServiceHandle>;
using unique_module = unique_any<HMODULE, FreeLibrary>;
using unique_local_memory = unique_any<HLOCAL, LocalFree>;
// SIDs from AllocateAndInitializeSid.
using unique_sid = unique_any<PSID, FreeSid>;
// Window stations a program made (not the one it was given).
using unique_window_station = unique_any<HWINSTA, CloseWindowStation>;

} // namespace tessel
