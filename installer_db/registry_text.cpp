#include "installer_db/registry_text.h"

#include "tessel/lower_case.h"

#include <cstring>

namespace installer_db_detail {

bool is_named(const wchar_t* text, std::size_t length, const wchar_t* lower)
{
    for (std::size_t i = 0; i < length; ++i, ++lower)
        if (*lower == L'\0' || tessel::lower_ascii(text[i]) != *lower)
            return false;
    return *lower == L'\0';
}

std::wstring text_of(const BYTE* data, DWORD bytes)
{
    std::wstring text(bytes / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), data, text.size() * sizeof(wchar_t));
    const std::size_t end = text.find(L'\0');
    if (end != std::wstring::npos)
        text.resize(end);
    return text;
}

} // namespace installer_db_detail
