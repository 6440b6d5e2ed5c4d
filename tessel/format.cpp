#include "tessel/format.h"

#include <cstdio>
#include <cwchar>
#include <vector>

namespace tessel {

namespace {

// The Microsoft runtime's bounded formatters (not the C99 ones that mingw
// substitutes): they return a negative count when the output did not fit.
int bounded_format(char* buffer, size_t length, const char* fmt, va_list args)
{
    return _vsnprintf(buffer, length, fmt, args);
}

int bounded_format(wchar_t* buffer, size_t length, const wchar_t* fmt, va_list args)
{
    return _vsnwprintf(buffer, length, fmt, args);
}

// The runtime also answers -1 for an argument it cannot convert (a wide string
// with characters the narrow code page lacks), and no buffer cures that. Past
// this length the doubling stops and the text written so far is the result.
constexpr size_t max_length = size_t(1) << 24;

template<class Char>
std::basic_string<Char> format_into_growing_buffer(const Char* fmt, va_list args)
{
    std::vector<Char> buffer(1024);
    for (;;) {
        va_list attempt;
        va_copy(attempt, args);
        int written = bounded_format(buffer.data(), buffer.size(), fmt, attempt);
        va_end(attempt);
        if (written >= 0)
            return std::basic_string<Char>(buffer.data(), size_t(written));
        if (buffer.size() >= max_length) {
            buffer.back() = Char();
            return std::basic_string<Char>(buffer.data());
        }
        buffer.assign(buffer.size() * 2, Char());
    }
}

} // namespace

std::string vformat(const char* fmt, va_list args)
{
    return format_into_growing_buffer(fmt, args);
}

std::wstring vformat(const wchar_t* fmt, va_list args)
{
    return format_into_growing_buffer(fmt, args);
}

std::string format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    try {
        std::string text = vformat(fmt, args);
        va_end(args);
        return text;
    } catch (...) {
        va_end(args);
        throw;
    }
}

std::wstring format(const wchar_t* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    try {
        std::wstring text = vformat(fmt, args);
        va_end(args);
        return text;
    } catch (...) {
        va_end(args);
        throw;
    }
}

} // namespace tessel
