// Conversions between narrow text (bytes in a Windows code page) and wide text
// (UTF-16). Every failure raises; nothing is silently damaged.
//
// Code pages: 0 ANSI, 1 OEM, 65000 UTF-7, 65001 UTF-8, and -1 for the byte
// mapping (byte n is character n, 0 to 255, and back).
#pragma once

#include <string>
#include "tessel/exception.h"

namespace tessel::unicode {

struct generic : tessel::exception
{
    explicit generic(const std::string& message) : tessel::exception(message) { append_category("unicode"); }
};

struct out_of_memory : generic
{
    explicit out_of_memory(const std::string& message) : generic(message) { append_category("out_of_memory"); }
};

struct invalid_codepage : generic
{
    explicit invalid_codepage(const std::string& message) : generic(message) { append_category("invalid_codepage"); }
};

struct unmappable_character : generic
{
    explicit unmappable_character(const std::string& message) : generic(message) { append_category("unmappable_character"); }
};

// Invalid byte sequences raise unmappable_character, except for the code pages
// that take no error flag (UTF-7, UTF-8, ISO-2022, GB18030, ...), which are
// converted leniently.
std::wstring to_wide(const std::string& text, int codepage);

// strict: a character the code page lacks raises unmappable_character instead
// of becoming the code page's default character.
std::string to_narrow(const std::wstring& text, int codepage, bool strict);

// The ANSI code page, the one the programs' narrow paths and names are in:
// to_wide and to_narrow (not strict) with it.
std::wstring from_ansi(const std::string& text);
std::string to_ansi(const std::wstring& text);

// Each byte becomes the character of its value (0 to 255): the byte mapping,
// for narrow text that must come out whole where the code page cannot convert
// it.
std::wstring widened_byte_for_byte(const std::string& bytes);

// Character-set name ("ISO-8859-2", "windows-1251", "Shift_JIS", ...) to code
// page; -1 for an unknown name. Letter case, "-" and "_" do not matter.
int codepage_from_name(const std::string& name);

} // namespace tessel::unicode
