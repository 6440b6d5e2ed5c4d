// Names and data of the installer's registry keys, as the cleaners read them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace installer_db_detail {

// Whether text is the lower-case literal with A to Z folded; no copy is made,
// for the searches ask it of every key.
bool is_named(const wchar_t* text, std::size_t length, const wchar_t* lower);
inline bool is_named(const std::wstring& text, const wchar_t* lower)
{
    return is_named(text.data(), text.size(), lower);
}

// Text of registry data read into a byte buffer: as many whole characters as
// the reported size holds, up to the first terminator.
std::wstring text_of(const BYTE* data, DWORD bytes);

} // namespace installer_db_detail
