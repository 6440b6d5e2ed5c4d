// The static POSIX thread runtime (libwinpthread) calls GetTickCount64, which
// Windows XP and Server 2003 lack, and AddVectoredExceptionHandler and
// RemoveVectoredExceptionHandler, which Windows 2000 lacks. A program whose
// import table names one of them is refused by the loader of those systems.
//
// The runtime calls each of them through its import slot (an __imp_ symbol).
// Defining the slots here keeps the three out of the import table. Each slot
// starts at a resolver that looks the real function up in kernel32 on the
// first call and puts it, or the fallback where it is missing, into the slot.
// No function-local statics: their guards would call back into the runtime.
#include "old_windows/tick_count.h"

#include <windows.h>

#include <cstdint>

namespace {

using tick_count_64_fn = ULONGLONG(WINAPI*)();
using add_handler_fn = PVOID(WINAPI*)(ULONG, PVOID);
using remove_handler_fn = ULONG(WINAPI*)(PVOID);

template <typename Function>
Function resolve(Function& slot, const char* name, Function fallback)
{
    Function found = nullptr;
    if (HMODULE kernel32 = GetModuleHandleA("kernel32"))
        found = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(kernel32, name)));
    Function chosen = found ? found : fallback;
    __atomic_store_n(&slot, chosen, __ATOMIC_RELEASE);
    return chosen;
}

ULONGLONG WINAPI tick_count_fallback()
{
    return old_windows::widened_tick_count();
}

// Without vectored handlers the runtime does not name its threads for a
// debugger; nothing else depends on them.
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

extern "C" {
tick_count_64_fn GetTickCount64_slot __asm__("__imp__GetTickCount64@0") = first_tick_count_64;
add_handler_fn AddVectoredExceptionHandler_slot __asm__("__imp__AddVectoredExceptionHandler@8")
    = first_add_vectored_exception_handler;
remove_handler_fn RemoveVectoredExceptionHandler_slot __asm__("__imp__RemoveVectoredExceptionHandler@4")
    = first_remove_vectored_exception_handler;
}

namespace {

ULONGLONG WINAPI first_tick_count_64()
{
    return resolve(GetTickCount64_slot, "GetTickCount64", tick_count_fallback)();
}

PVOID WINAPI first_add_vectored_exception_handler(ULONG first, PVOID handler)
{
    return resolve(AddVectoredExceptionHandler_slot, "AddVectoredExceptionHandler", no_vectored_handler)(
        first, handler);
}

ULONG WINAPI first_remove_vectored_exception_handler(PVOID handle)
{
    return resolve(RemoveVectoredExceptionHandler_slot, "RemoveVectoredExceptionHandler",
                   no_vectored_handler_removed)(handle);
}

} // namespace
