// Names of files, processes, keys and products are compared with both sides
// lower-cased by the single-byte mapping of the default locale: only the
// letters A to Z change, whatever the code page or the user's locale.
#pragma once

#include <string>

namespace tessel {

template <typename Char>
constexpr Char lower_ascii(Char c) noexcept
{
    return c >= Char('A') && c <= Char('Z') ? Char(c - Char('A') + Char('a')) : c;
}

template <typename Char>
std::basic_string<Char> lower_ascii(std::basic_string<Char> text)
{
    for (Char& c : text)
        c = lower_ascii(c);
    return text;
}

inline std::string lower_ascii(const char* text) { return lower_ascii(std::string(text)); }
inline std::wstring lower_ascii(const wchar_t* text) { return lower_ascii(std::wstring(text)); }

} // namespace tessel
