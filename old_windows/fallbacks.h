#pragma once
// What stands in for a function that an older Windows lacks, where the
// import slots of import_slots.cpp find it missing at run time.
#include <sys/stat.h>

#include <cstdint>

namespace old_windows {

// The tick `now` widened against the last widened value: a low half smaller
// than the last one means GetTickCount wrapped (every 49.7 days).
constexpr std::uint64_t widened_tick(std::uint64_t last, std::uint32_t now)
{
    std::uint64_t high = last >> 32;
    if (now < static_cast<std::uint32_t>(last))
        ++high;
    return (high << 32) | now;
}

// For GetTickCount64 (Vista): GetTickCount widened to 64 bits, safe to call
// from any thread.
std::uint64_t widened_tick_count();

// For msvcrt's _time64 (XP): seconds since 1970 from the system clock.
__time64_t __cdecl time_from_system_clock(__time64_t* out);

// For msvcrt's _fstat64 (XP): msvcrt's _fstati64 (Windows 2000 has it), its
// 32-bit times widened.
int __cdecl fstat_through_fstati64(int descriptor, struct _stat64* out);

} // namespace old_windows
