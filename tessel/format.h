// printf-style formatting into a new string with the Microsoft runtime's
// conversions (_vsnprintf / _vsnwprintf): in the wide form %s takes a wide
// string and %S a narrow one. The text may be of any length.
#pragma once

#include <cstdarg>
#include <string>

namespace tessel {

std::string format(const char* fmt, ...) __attribute__((format(ms_printf, 1, 2)));
std::wstring format(const wchar_t* fmt, ...);

std::string vformat(const char* fmt, va_list args) __attribute__((format(ms_printf, 1, 0)));
std::wstring vformat(const wchar_t* fmt, va_list args);

} // namespace tessel
