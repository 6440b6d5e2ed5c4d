// Wall-clock seconds from the performance counter, and the median of a
// benchmark's rounds.
#pragma once

#include <windows.h>

#include <algorithm>
#include <vector>

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

// The middle figure (the upper one of an even count); figures is not empty.
inline double median(std::vector<double> figures)
{
    std::sort(figures.begin(), figures.end());
    return figures[figures.size() / 2];
}
