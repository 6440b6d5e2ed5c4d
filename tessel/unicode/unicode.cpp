#include "tessel/unicode/unicode.h"

#include <windows.h>

namespace tessel::unicode {

namespace {

constexpr int byte_mapping = -1;

// Code pages for which the system rejects MB_ERR_INVALID_CHARS and the
// used-default-character flag; they are converted leniently.
bool takes_no_error_flag(int codepage)
{
    switch (codepage) {
    case 42:
    case 50221: case 50222: case 50225: case 50227: case 50229:
    case 52936: case 54936:
    case 65000: case 65001:
        return true;
    default:
        return codepage >= 57002 && codepage <= 57011;
    }
}

[[noreturn]] void raise_to_wide_error(DWORD error)
{
    switch (error) {
    case ERROR_INSUFFICIENT_BUFFER: throw out_of_memory(std::string());
    case ERROR_INVALID_PARAMETER:   throw invalid_codepage(std::string());
    case ERROR_NO_UNICODE_TRANSLATION: throw unmappable_character(std::string());
    default:                        throw generic(std::string());
    }
}

[[noreturn]] void raise_to_narrow_error(DWORD error)
{
    switch (error) {
    case ERROR_INSUFFICIENT_BUFFER: throw out_of_memory(std::string());
    // The code page was checked beforehand, so an invalid parameter here is
    // text the code page cannot take.
    case ERROR_INVALID_PARAMETER:   throw unmappable_character(std::string());
    default:                        throw generic(std::string());
    }
}

} // namespace

std::wstring to_wide(const std::string& text, int codepage)
{
    if (text.empty())
        return std::wstring();
    if (codepage == byte_mapping) {
        std::wstring wide(text.size(), L'\0');
        for (size_t i = 0; i < text.size(); ++i)
            wide[i] = static_cast<unsigned char>(text[i]);
        return wide;
    }
    // No code page yields more UTF-16 units than it has bytes.
    std::wstring wide(text.size(), L'\0');
    DWORD flags = takes_no_error_flag(codepage) ? 0 : MB_ERR_INVALID_CHARS;
    int written = MultiByteToWideChar(codepage, flags, text.data(), int(text.size()), wide.data(),
                                      int(wide.size()));
    if (written == 0)
        raise_to_wide_error(GetLastError());
    wide.resize(size_t(written));
    return wide;
}

std::wstring from_ansi(const std::string& text)
{
    return to_wide(text, CP_ACP);
}

std::string to_ansi(const std::wstring& text)
{
    return to_narrow(text, CP_ACP, false);
}

std::wstring widened_byte_for_byte(const std::string& bytes)
{
    return to_wide(bytes, byte_mapping);
}

std::string to_narrow(const std::wstring& text, int codepage, bool strict)
{
    if (text.empty())
        return std::string();
    if (codepage == byte_mapping) {
        std::string narrow(text.size(), '\0');
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] > 0xFF)
                throw unmappable_character(std::string());
            narrow[i] = static_cast<char>(text[i]);
        }
        return narrow;
    }

    CPINFO info;
    if (!GetCPInfo(codepage, &info))
        throw invalid_codepage(std::string());

    BOOL used_default = FALSE;
    BOOL* used_default_flag = takes_no_error_flag(codepage) ? nullptr : &used_default;
    auto convert = [&](std::string& narrow) {
        return WideCharToMultiByte(codepage, 0, text.data(), int(text.size()), narrow.data(),
                                   int(narrow.size()), nullptr, used_default_flag);
    };

    std::string narrow(text.size() * info.MaxCharSize, '\0');
    int written = convert(narrow);
    if (written == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        // Shift sequences (ISO-2022) can outgrow the longest single character:
        // ask the system for the size it needs.
        int needed = WideCharToMultiByte(codepage, 0, text.data(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
        if (needed > 0) {
            narrow.assign(size_t(needed), '\0');
            written = convert(narrow);
        }
    }
    if (used_default && strict)
        throw unmappable_character(std::string());
    if (written == 0)
        raise_to_narrow_error(GetLastError());
    narrow.resize(size_t(written));
    return narrow;
}

} // namespace tessel::unicode
