#include "tessel/registry2/key.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <utility>
#include <vector>

#include "tessel/format.h"
#include "tessel/unicode/unicode.h"

namespace tessel::registry2 {

namespace {

constexpr REGSAM full_access = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY; // 0x2001F
constexpr REGSAM read_access = KEY_READ;                                       // 0x20019

// Names in listings: longer ones make the enumeration fail and raise.
constexpr DWORD name_buffer_chars = 260;

// ExpandEnvironmentStringsW works on counted strings of at most 32766
// characters: it cuts a longer source without a word, and it writes at most
// that many characters (plus the terminating zero) into any buffer.
constexpr size_t expansion_source_limit = 32766;
constexpr DWORD expansion_buffer_chars = 32768;

std::string narrow(const std::wstring& name)
{
    return unicode::to_narrow(name, CP_ACP, true);
}

int handle_number(HKEY handle)
{
    return static_cast<int>(reinterpret_cast<std::intptr_t>(handle));
}

// Asks for read and write rights; a key that may only be read is opened for
// reading, so that it can still be read.
LONG open_with_fallback(HKEY parent, const wchar_t* path, view in, HKEY& opened)
{
    LONG status = RegOpenKeyExW(parent, path, 0, with_view(full_access, in), &opened);
    if (status == ERROR_ACCESS_DENIED)
        status = RegOpenKeyExW(parent, path, 0, with_view(read_access, in), &opened);
    return status;
}

HKEY reopen(HKEY source, const wchar_t* empty_path, view in)
{
    HKEY opened = nullptr;
    const LONG status = open_with_fallback(source, empty_path, in, opened);
    if (status != ERROR_SUCCESS)
        throw key_error(format("RegOpenKeyEx() failed: handle %i (%i)", handle_number(source), int(status)));
    return opened;
}

template<class Enumerate>
std::set<std::wstring> list_names(HKEY handle, Enumerate enumerate, const char* call)
{
    std::set<std::wstring> names;
    wchar_t name[name_buffer_chars];
    for (DWORD index = 0;; ++index) {
        DWORD length = name_buffer_chars;
        const LONG status = enumerate(handle, index, name, &length);
        if (status == ERROR_NO_MORE_ITEMS)
            return names;
        if (status != ERROR_SUCCESS)
            throw key_error(format("%s() failed: handle %i (%i)", call, handle_number(handle), int(status)));
        if (length != 0 && name[length - 1] == L'\0')
            --length;
        // The registry hands names out in nearly this order: a hint at the end
        // makes most insertions constant-time.
        names.emplace_hint(names.end(), name, length);
    }
}

struct value_info
{
    DWORD type;
    DWORD size;
};

// A value that cannot be queried counts as missing (type 0).
value_info query_info(HKEY handle, const std::wstring& name)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(handle, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        type = 0;
    return {type, size};
}

void check_type(const std::wstring& name, DWORD found, DWORD expected)
{
    if (found == 0)
        throw value_error(format("Not found: value \"%s\"", narrow(name).c_str()));
    if (found != expected)
        throw type_mismatch(format("Type mismatch: value \"%s\" expected %i found %i", narrow(name).c_str(),
                                   int(expected), int(found)));
}

// Reads exactly `expected` bytes: a value that changed size since it was
// measured raises, even when the read itself failed.
void query_data(HKEY handle, const std::wstring& name, void* buffer, DWORD expected)
{
    DWORD reported = expected;
    const LONG status = RegQueryValueExW(handle, name.c_str(), nullptr, nullptr, static_cast<BYTE*>(buffer),
                                         &reported);
    if (reported != expected)
        throw size_mismatch(format("Size mismatch: value \"%s\" expected %i found %i", narrow(name).c_str(),
                                   int(expected), int(reported)));
    if (status != ERROR_SUCCESS)
        throw value_error(format("RegQueryValueEx() failed: value \"%s\" (%i)", narrow(name).c_str(), int(status)));
}

[[noreturn]] void raise_expansion_error(const std::wstring& name, DWORD error)
{
    throw value_error(format("ExpandEnvironmentStrings() failed: value \"%s\" (%i)", narrow(name).c_str(),
                             int(error)));
}

// The text as a zero-terminated string with its %variables% replaced. A text
// the system cannot expand whole raises rather than coming back cut.
std::wstring expand(const std::wstring& name, const std::wstring& text)
{
    const wchar_t* source = text.c_str();
    if (std::wcschr(source, L'%') == nullptr)
        return source;
    if (std::wcslen(source) > expansion_source_limit)
        raise_expansion_error(name, ERROR_INSUFFICIENT_BUFFER);
    std::vector<wchar_t> buffer(expansion_buffer_chars);
    const DWORD reported = ExpandEnvironmentStringsW(source, buffer.data(), expansion_buffer_chars);
    if (reported == 0)
        raise_expansion_error(name, GetLastError());
    // The reported length counts the terminating zero; a cut result ends early.
    buffer.back() = L'\0';
    if (reported > expansion_buffer_chars || std::wcslen(buffer.data()) != reported - 1)
        raise_expansion_error(name, ERROR_INSUFFICIENT_BUFFER);
    return std::wstring(buffer.data(), reported - 1);
}

void set_value(HKEY handle, const std::wstring& name, DWORD type, const void* data, DWORD bytes)
{
    const LONG status = RegSetValueExW(handle, name.c_str(), 0, type, static_cast<const BYTE*>(data), bytes);
    if (status != ERROR_SUCCESS)
        throw value_error(format("RegSetValueEx() failed: value \"%s\" (%i)", narrow(name).c_str(), int(status)));
}

using delete_key_ex_fn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);

// "RegDeleteKeyExW" of "ADVAPI32.DLL" with a reference on the library for as
// long as the lookup lives; a null entry where the system has none.
struct view_aware_deletion
{
    view_aware_deletion()
        : library(LoadLibraryA("ADVAPI32.DLL")),
          entry(library ? reinterpret_cast<delete_key_ex_fn>(
                              reinterpret_cast<void*>(GetProcAddress(library.get(), "RegDeleteKeyExW")))
                        : nullptr)
    {
    }

    unique_module library;
    delete_key_ex_fn entry;
};

} // namespace

REGSAM with_view(REGSAM access, view in) noexcept
{
    switch (in) {
    case view::view_32:
        return access | KEY_WOW64_32KEY;
    case view::view_64:
        return access | KEY_WOW64_64KEY;
    default:
        return access;
    }
}

LONG delete_subkey(HKEY parent, const std::wstring& name, view in) noexcept
{
    if (in == view::default_view)
        return RegDeleteKeyW(parent, name.c_str());
    const view_aware_deletion deletion;
    if (!deletion.entry)
        return ERROR_PROC_NOT_FOUND;
    return deletion.entry(parent, name.c_str(), with_view(0, in), 0);
}

bool has_view_aware_deletion() noexcept
{
    return view_aware_deletion().entry != nullptr;
}

unique_hkey open_subkey(HKEY parent, const std::wstring& path, REGSAM access, view in, LONG* status) noexcept
{
    unique_hkey opened;
    const LONG result = RegOpenKeyExW(parent, path.c_str(), 0, with_view(access, in), opened.put());
    if (status)
        *status = result;
    if (result != ERROR_SUCCESS)
        opened.release();  // whatever the failed call left there is no handle
    return opened;
}

std::wstring up_to_first_nul(std::wstring text)
{
    text.resize(std::wcslen(text.c_str()));
    return text;
}

std::string up_to_first_nul(std::string text)
{
    text.resize(std::strlen(text.c_str()));
    return text;
}

key::key(HKEY root, view in) : handle_(reopen(root, nullptr, in)) {}

key::key(const key& other) : handle_(reopen(other.handle(), L"", view::default_view)) {}

key& key::operator=(key other) noexcept
{
    handle_.swap(other.handle_);
    return *this;
}

key key::open(const std::wstring& path, bool create, view in) const
{
    HKEY opened = nullptr;
    if (create) {
        const LONG status = RegCreateKeyExW(handle(), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                            with_view(full_access, in), nullptr, &opened, nullptr);
        if (status != ERROR_SUCCESS)
            throw key_error(format("RegCreateKeyEx() failed: key \"%s\" (%i)", narrow(path).c_str(), int(status)));
    } else {
        const LONG status = open_with_fallback(handle(), path.c_str(), in, opened);
        if (status != ERROR_SUCCESS)
            throw key_error(format("RegOpenKeyEx() failed: key \"%s\" (%i)", narrow(path).c_str(), int(status)));
    }
    return key(opened, adopt{});
}

std::set<std::wstring> key::subkey_names() const
{
    auto enumerate = [](HKEY handle, DWORD index, wchar_t* name, DWORD* length) {
        return RegEnumKeyExW(handle, index, name, length, nullptr, nullptr, nullptr, nullptr);
    };
    return list_names(handle(), enumerate, "RegEnumKeyEx");
}

std::set<std::wstring> key::value_names() const
{
    auto enumerate = [](HKEY handle, DWORD index, wchar_t* name, DWORD* length) {
        return RegEnumValueW(handle, index, name, length, nullptr, nullptr, nullptr, nullptr);
    };
    return list_names(handle(), enumerate, "RegEnumValue");
}

std::wstring key::read_string(const std::wstring& name) const
{
    const value_info info = query_info(handle(), name);
    if (info.type != REG_EXPAND_SZ)
        check_type(name, info.type, REG_SZ);
    // Room for a stray odd byte, which is no whole character and is dropped.
    std::wstring text((info.size + 1) / 2, L'\0');
    query_data(handle(), name, text.data(), info.size);
    text.resize(info.size / 2);
    if (!text.empty() && text.back() == L'\0')
        text.pop_back();
    if (info.type == REG_EXPAND_SZ)
        text = expand(name, text);
    return text;
}

std::string key::read_string(const std::string& name) const
{
    return unicode::to_narrow(read_string(unicode::to_wide(name, CP_ACP)), CP_ACP, true);
}

std::uint32_t key::read_dword(const std::wstring& name) const
{
    check_type(name, query_info(handle(), name).type, REG_DWORD);
    std::uint32_t number = 0;
    query_data(handle(), name, &number, sizeof number);
    return number;
}

void key::write_string(const std::wstring& name, const std::wstring& text) const
{
    // The terminating zero is stored with the text.
    set_value(handle(), name, REG_SZ, text.c_str(), DWORD((text.size() + 1) * sizeof(wchar_t)));
}

void key::write_dword(const std::wstring& name, std::uint32_t number) const
{
    set_value(handle(), name, REG_DWORD, &number, sizeof number);
}

void key::remove_value(const std::wstring& name) const
{
    const LONG status = RegDeleteValueW(handle(), name.c_str());
    if (status != ERROR_SUCCESS)
        throw key_error(format("RegDeleteValue() failed: value \"%s\" (%i)", narrow(name).c_str(), int(status)));
}

void key::remove_key(const std::wstring& name, bool recursive, view in) const
{
    // An empty name opens and deletes this very key: a recursive removal would
    // empty the whole key the caller holds.
    if (name.empty())
        throw key_error(format("RegDeleteKey() failed: key \"\" (%i)", int(ERROR_INVALID_PARAMETER)));
    if (recursive) {
        const key subkey = open(name, false, in);
        for (const std::wstring& child : subkey.subkey_names())
            subkey.remove_key(child, true, in);
    }
    const LONG status = delete_subkey(handle(), name, in);
    if (status != ERROR_SUCCESS)
        throw key_error(format("RegDeleteKey() failed: key \"%s\" (%i)", narrow(name).c_str(), int(status)));
}

} // namespace tessel::registry2
