// Functions that the static runtimes call and that older Windows lacks: the
// POSIX thread runtime (libwinpthread) calls GetTickCount64 (Vista), and
// AddVectoredExceptionHandler and RemoveVectoredExceptionHandler (XP); the C++
// runtime's file streams call msvcrt's _fstat64 and time() calls its _time64
// (both XP: Windows 2000's msvcrt has no 64-bit time functions). A program
// whose import table names one of them is refused by the loader there.
//
// The runtimes call each of them through its import slot (an __imp_ symbol).
// Defining the slots here keeps them out of the import table. Each slot starts
// at a resolver that looks the real function up on the first call and puts
// it, or the fallback where it is missing, into the slot. No function-local
// statics: their guards would call back into the thread runtime.
#include "old_windows/fallbacks.h"

#include <windows.h>

#include <cstdint>

namespace {

using tick_count_64_fn = ULONGLONG(WINAPI*)();
using add_handler_fn = PVOID(WINAPI*)(ULONG, PVOID);
using remove_handler_fn = ULONG(WINAPI*)(PVOID);
using time64_fn = __time64_t(__cdecl*)(__time64_t*);
using fstat64_fn = int(__cdecl*)(int, struct _stat64*);
using fstati64_fn = int(__cdecl*)(int, struct _stat32i64*);

template <typename Function>
Function find(const char* module, const char* name)
{
    HMODULE loaded = GetModuleHandleA(module);
    return loaded ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(loaded, name))) : nullptr;
}

template <typename Function>
Function resolve(Function& slot, const char* module, const char* name, Function fallback)
{
    Function found = find<Function>(module, name);
    Function chosen = found ? found : fallback;
    __atomic_store_n(&slot, chosen, __ATOMIC_RELEASE);
    return chosen;
}

ULONGLONG WINAPI tick_count_fallback()
{
    return old_windows::widened_tick_count();
}

// Without vectored handlers the thread runtime does not name its threads for
// a debugger; nothing else depends on them.
PVOID WINAPI no_vectored_handler(ULONG, PVOID)
{
    return nullptr;
}

ULONG WINAPI no_vectored_handler_removed(PVOID)
{
    return 0;
}

ULONGLONG WINAPI first_tick_count_64();
PVOID WINAPI first_add_vectored_exception_handler(ULONG first, PVOID handler);
ULONG WINAPI first_remove_vectored_exception_handler(PVOID handle);
__time64_t __cdecl first_time64(__time64_t* out);
int __cdecl first_fstat64(int descriptor, struct _stat64* out);

} // namespace

// The last value changes in one 64-bit compare-and-swap, and each try reads
// the tick after the last value, so threads agree on every wrap. Like any such
// clock it needs a call at least once in 49.7 days.
std::uint64_t old_windows::widened_tick_count()
{
    static std::uint64_t last = 0;
    std::uint64_t seen = __atomic_load_n(&last, __ATOMIC_ACQUIRE);
    for (;;) {
        const std::uint64_t next = widened_tick(seen, GetTickCount());
        if (next == seen || __atomic_compare_exchange_n(&last, &seen, next, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
            return next;
    }
}

__time64_t __cdecl old_windows::time_from_system_clock(__time64_t* out)
{
    constexpr std::uint64_t ticks_to_1970 = 116444736000000000ull; // 100 ns ticks since 1601
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks = (std::uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const auto seconds = static_cast<__time64_t>((ticks - ticks_to_1970) / 10000000u);
    if (out)
        *out = seconds;
    return seconds;
}

int __cdecl old_windows::fstat_through_fstati64(int descriptor, struct _stat64* out)
{
    static fstati64_fn fstati64 = nullptr; // constant-initialised: no guard
    if (!fstati64)
        fstati64 = find<fstati64_fn>("msvcrt.dll", "_fstati64");
    struct _stat32i64 narrow = {};
    if (!fstati64 || fstati64(descriptor, &narrow) != 0)
        return -1;
    *out = {};
    out->st_dev = narrow.st_dev;
    out->st_ino = narrow.st_ino;
    out->st_mode = narrow.st_mode;
    out->st_nlink = narrow.st_nlink;
    out->st_uid = narrow.st_uid;
    out->st_gid = narrow.st_gid;
    out->st_rdev = narrow.st_rdev;
    out->st_size = narrow.st_size;
    out->st_atime = narrow.st_atime;
    out->st_mtime = narrow.st_mtime;
    out->st_ctime = narrow.st_ctime;
    return 0;
}

extern "C" {
tick_count_64_fn GetTickCount64_slot __asm__("__imp__GetTickCount64@0") = first_tick_count_64;
add_handler_fn AddVectoredExceptionHandler_slot __asm__("__imp__AddVectoredExceptionHandler@8")
    = first_add_vectored_exception_handler;
remove_handler_fn RemoveVectoredExceptionHandler_slot __asm__("__imp__RemoveVectoredExceptionHandler@4")
    = first_remove_vectored_exception_handler;
time64_fn time64_slot __asm__("__imp___time64") = first_time64;
fstat64_fn fstat64_slot __asm__("__imp___fstat64") = first_fstat64;
}

namespace {

ULONGLONG WINAPI first_tick_count_64()
{
    return resolve(GetTickCount64_slot, "kernel32", "GetTickCount64", tick_count_fallback)();
}

PVOID WINAPI first_add_vectored_exception_handler(ULONG first, PVOID handler)
{
    return resolve(AddVectoredExceptionHandler_slot, "kernel32", "AddVectoredExceptionHandler",
                   no_vectored_handler)(first, handler);
}

ULONG WINAPI first_remove_vectored_exception_handler(PVOID handle)
{
    return resolve(RemoveVectoredExceptionHandler_slot, "kernel32", "RemoveVectoredExceptionHandler",
                   no_vectored_handler_removed)(handle);
}

__time64_t __cdecl first_time64(__time64_t* out)
{
    return resolve<time64_fn>(time64_slot, "msvcrt.dll", "_time64", old_windows::time_from_system_clock)(out);
}

int __cdecl first_fstat64(int descriptor, struct _stat64* out)
{
    return resolve<fstat64_fn>(fstat64_slot, "msvcrt.dll", "_fstat64", old_windows::fstat_through_fstati64)(
        descriptor, out);
}

} // namespace
