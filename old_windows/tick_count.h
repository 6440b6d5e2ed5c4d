#pragma once
// The 64-bit tick count that stands in for GetTickCount64 where kernel32 lacks
// it (Windows XP, Server 2003, 2000).
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

// GetTickCount widened to 64 bits, safe to call from any thread.
std::uint64_t widened_tick_count();

} // namespace old_windows
