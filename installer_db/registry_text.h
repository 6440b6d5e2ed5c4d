// Plain registry handles for the installer database code that works in an
// explicit registry view, where the registry access layer (default view only)
// cannot go.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>
#include <type_traits>

namespace installer_db_detail {

struct key_closer
{
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using raw_key = std::unique_ptr<std::remove_pointer_t<HKEY>, key_closer>;

// Null when the key cannot be opened; status, when given, receives the result.
raw_key open_raw(HKEY parent, const std::wstring& path, REGSAM access, LONG* status = nullptr);

// The view-aware key deletion of Windows XP x64, Server 2003 and later.
using delete_key_ex_fn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);

// "RegDeleteKeyExW" looked up by name in "ADVAPI32.DLL", which systems before
// it lack, with a reference to the library held until released.
class view_aware_deletion
{
public:
    view_aware_deletion();

    // Null where the system has no such entry.
    delete_key_ex_fn entry() const { return entry_; }
    // The program imports ADVAPI32 itself, so the entry stays valid.
    void release_library() { library_.reset(); }

private:
    struct library_freer
    {
        void operator()(HMODULE module) const { FreeLibrary(module); }
    };
    std::unique_ptr<std::remove_pointer_t<HMODULE>, library_freer> library_;
    delete_key_ex_fn entry_ = nullptr;
};

// Letter case ignored for A to Z only, as the installer's own key names need.
std::wstring lower_ascii(std::wstring text);
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
