// Wall-clock seconds from the performance counter, for the benchmarks.
#pragma once

#include <windows.h>

inline double seconds_now()
{
    static const double ticks_per_second = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return double(frequency.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) / ticks_per_second;
}
