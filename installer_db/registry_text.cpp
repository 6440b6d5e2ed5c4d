#include "installer_db/raw_key.h"

#include <cstring>

namespace installer_db_detail {

raw_key open_raw(HKEY parent, const std::wstring& path, REGSAM access, LONG* status)
{
    HKEY opened = nullptr;
    const LONG result = RegOpenKeyExW(parent, path.c_str(), 0, access, &opened);
    if (status)
        *status = result;
    return raw_key(result == ERROR_SUCCESS ? opened : nullptr);
}

view_aware_deletion::view_aware_deletion() : library_(LoadLibraryA("ADVAPI32.DLL"))
{
    if (library_)
        entry_ = reinterpret_cast<delete_key_ex_fn>(
            reinterpret_cast<void*>(GetProcAddress(library_.get(), "RegDeleteKeyExW")));
}

std::wstring lower_ascii(std::wstring text)
{
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z')
            c = wchar_t(c - L'A' + L'a');
    return text;
}

bool is_named(const wchar_t* text, std::size_t length, const wchar_t* lower)
{
    for (std::size_t i = 0; i < length; ++i, ++lower) {
        wchar_t c = text[i];
        if (c >= L'A' && c <= L'Z')
            c = wchar_t(c - L'A' + L'a');
        if (*lower == L'\0' || c != *lower)
            return false;
    }
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
