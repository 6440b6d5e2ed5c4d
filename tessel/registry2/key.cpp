#include "tessel/registry2/key.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <exception>
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
        throw key_error(format("RegOpenKeyEx() failed: handle %i (%i)", handle_number(source), int(status)), status);
    return opened;
}

[[noreturn]] void raise_listing_error(const char* call, HKEY handle, LONG status)
{
    throw key_error(format("%s() failed: handle %i (%i)", call, handle_number(handle), int(status)), status);
}

// The name as the call reported it; a reported length that counts a
// terminating zero loses it.
void take_name(std::wstring& name, const wchar_t* buffer, DWORD length)
{
    if (length != 0 && buffer[length - 1] == L'\0')
        --length;
    name.assign(buffer, length);
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
        throw value_error(format("Not found: value \"%s\"", narrow(name).c_str()), ERROR_FILE_NOT_FOUND);
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
        throw value_error(format("RegQueryValueEx() failed: value \"%s\" (%i)", narrow(name).c_str(), int(status)),
                          status);
}

[[noreturn]] void raise_expansion_error(const std::wstring& name, DWORD error)
{
    throw value_error(format("ExpandEnvironmentStrings() failed: value \"%s\" (%i)", narrow(name).c_str(),
                             int(error)),
                      long(error));
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
        throw value_error(format("RegSetValueEx() failed: value \"%s\" (%i)", narrow(name).c_str(), int(status)),
                          status);
}

std::set<std::wstring> sorted_subkey_names(HKEY key)
{
    std::set<std::wstring> names;
    // The registry hands names out in nearly this order: a hint at the end
    // makes most insertions constant-time.
    for (const std::wstring& name : subkeys(key, name_buffer_chars))
        names.emplace_hint(names.end(), name);
    return names;
}

using delete_key_ex_fn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);

// "RegDeleteKeyExW", looked up once; null where the system has none. The
// layer imports ADVAPI32, which therefore stays loaded for the process's life.
delete_key_ex_fn view_aware_deletion() noexcept
{
    static const delete_key_ex_fn entry = reinterpret_cast<delete_key_ex_fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ADVAPI32.DLL"), "RegDeleteKeyExW")));
    return entry;
}

[[noreturn]] void raise_open_error(const std::wstring& path, LONG status)
{
    throw key_error(format("RegOpenKeyEx() failed: key \"%s\" (%i)", narrow(path).c_str(), int(status)), status);
}

// The key itself, once nothing is below it.
void delete_single_key(HKEY parent, const std::wstring& name, view in)
{
    LONG status = ERROR_PROC_NOT_FOUND;
    if (in == view::default_view)
        status = RegDeleteKeyW(parent, name.c_str());
    else if (const delete_key_ex_fn entry = view_aware_deletion())
        status = entry(parent, name.c_str(), with_view(0, in), 0);
    if (status != ERROR_SUCCESS)
        throw key_error(format("RegDeleteKey() failed: key \"%s\" (%i)", narrow(name).c_str(), int(status)), status);
}

// A key that cannot be opened or listed is not attempted: its subtree is
// unknown.
void delete_tree(HKEY parent, const std::wstring& name, view in, subtree how)
{
    std::exception_ptr first_failure;
    if (how != subtree::refuse) {
        HKEY opened = nullptr;
        const LONG status = open_with_fallback(parent, name.c_str(), in, opened);
        if (status != ERROR_SUCCESS)
            raise_open_error(name, status);
        const unique_hkey below(opened);
        // Listed whole before any goes: deletions move the indexes.
        for (const std::wstring& child : sorted_subkey_names(below.get())) {
            try {
                delete_tree(below.get(), child, in, how);
            } catch (...) {
                if (how == subtree::stop_at_failure)
                    throw;
                if (!first_failure)
                    first_failure = std::current_exception();
            }
        }
    }
    try {
        delete_single_key(parent, name, in);
    } catch (...) {
        if (!first_failure)
            throw;
    }
    if (first_failure)
        std::rethrow_exception(first_failure);
}

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

unique_hkey open_if_present(HKEY parent, const std::wstring& path, REGSAM access, view in)
{
    unique_hkey opened;
    const LONG status = RegOpenKeyExW(parent, path.c_str(), 0, with_view(access, in), opened.put());
    if (status == ERROR_SUCCESS)
        return opened;
    opened.release();  // whatever the failed call left there is no handle
    if (status != ERROR_FILE_NOT_FOUND)
        raise_open_error(path, status);
    return opened;
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

subkeys::subkeys(HKEY key, DWORD name_chars) : key_(key), buffer_(name_chars) {}

subkeys::iterator subkeys::begin()
{
    index_ = 0;
    done_ = false;
    read();
    return iterator(*this);
}

subkeys::iterator& subkeys::iterator::operator++()
{
    ++walk_->index_;
    walk_->read();
    return *this;
}

void subkeys::read()
{
    DWORD length = DWORD(buffer_.size());
    const LONG status = RegEnumKeyExW(key_, index_, buffer_.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) {
        done_ = true;
        return;
    }
    if (status != ERROR_SUCCESS)
        raise_listing_error("RegEnumKeyEx", key_, status);
    take_name(name_, buffer_.data(), length);
}

std::wstring value_entry::text() const
{
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    return up_to_first_nul(std::move(text));
}

values::values(HKEY key, DWORD name_chars, DWORD data_bytes)
    : key_(key), name_buffer_(name_chars), data_buffer_(data_bytes)
{
}

values values::whole(HKEY key)
{
    DWORD longest_name = 0;
    DWORD longest_data = 0;
    const LONG status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                         &longest_name, &longest_data, nullptr, nullptr);
    if (status != ERROR_SUCCESS)
        raise_listing_error("RegQueryInfoKey", key, status);
    // The longest name is counted without its terminator; data gets room
    // for one the value may lack.
    return values(key, longest_name + 1, longest_data + sizeof(wchar_t));
}

values::iterator values::begin()
{
    index_ = 0;
    done_ = false;
    read();
    return iterator(*this);
}

values::iterator& values::iterator::operator++()
{
    ++walk_->index_;
    walk_->read();
    return *this;
}

void values::read()
{
    DWORD name_length = DWORD(name_buffer_.size());
    DWORD data_length = DWORD(data_buffer_.size());
    const bool with_data = !data_buffer_.empty();
    entry_ = value_entry{};
    const LONG status = RegEnumValueW(key_, index_, name_buffer_.data(), &name_length, nullptr, &entry_.type,
                                      with_data ? data_buffer_.data() : nullptr, with_data ? &data_length : nullptr);
    if (status == ERROR_NO_MORE_ITEMS) {
        done_ = true;
        return;
    }
    if (status == ERROR_MORE_DATA) {
        entry_.type = 0;
        return;  // met unread
    }
    if (status != ERROR_SUCCESS)
        raise_listing_error("RegEnumValue", key_, status);
    entry_.read = true;
    take_name(entry_.name, name_buffer_.data(), name_length);
    if (with_data)
        entry_.data = std::span<const BYTE>(data_buffer_.data(), data_length);
}

void delete_key(HKEY parent, const std::wstring& name, view in, subtree how)
{
    // An empty name opens and deletes the parent itself: a deletion with its
    // subtree would empty the whole key the caller holds.
    if (name.empty())
        throw key_error(format("RegDeleteKey() failed: key \"\" (%i)", int(ERROR_INVALID_PARAMETER)),
                        ERROR_INVALID_PARAMETER);
    delete_tree(parent, name, in, how);
}

void delete_value(HKEY key, const std::wstring& name)
{
    const LONG status = RegDeleteValueW(key, name.c_str());
    if (status != ERROR_SUCCESS)
        throw key_error(format("RegDeleteValue() failed: value \"%s\" (%i)", narrow(name).c_str(), int(status)),
                        status);
}

bool has_view_aware_deletion() noexcept
{
    return view_aware_deletion() != nullptr;
}

namespace {

// The code of the failure the deletion raised.
template <class Deletion>
LONG status_of(Deletion deletion) noexcept
{
    try {
        deletion();
        return ERROR_SUCCESS;
    } catch (const generic& e) {
        return e.code();
    } catch (...) {
        return ERROR_NO_UNICODE_TRANSLATION;  // a failure whose name the message could not hold
    }
}

} // namespace

LONG delete_subkey(HKEY parent, const std::wstring& name, view in, subtree how) noexcept
{
    return status_of([&] { delete_key(parent, name, in, how); });
}

LONG delete_value_status(HKEY key, const std::wstring& name) noexcept
{
    return status_of([&] { delete_value(key, name); });
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
            throw key_error(format("RegCreateKeyEx() failed: key \"%s\" (%i)", narrow(path).c_str(), int(status)),
                            status);
    } else {
        const LONG status = open_with_fallback(handle(), path.c_str(), in, opened);
        if (status != ERROR_SUCCESS)
            raise_open_error(path, status);
    }
    return key(opened, adopt{});
}

std::optional<key> key::open_if_present(const std::wstring& path, view in) const
{
    HKEY opened = nullptr;
    const LONG status = open_with_fallback(handle(), path.c_str(), in, opened);
    if (status == ERROR_FILE_NOT_FOUND)
        return std::nullopt;
    if (status != ERROR_SUCCESS)
        raise_open_error(path, status);
    return key(opened, adopt{});
}

std::set<std::wstring> key::subkey_names() const
{
    return sorted_subkey_names(handle());
}

std::set<std::wstring> key::value_names() const
{
    std::set<std::wstring> names;
    for (const value_entry& value : values(handle(), name_buffer_chars)) {
        if (!value.read)
            raise_listing_error("RegEnumValue", handle(), ERROR_MORE_DATA);
        names.emplace_hint(names.end(), value.name);
    }
    return names;
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
    delete_value(handle(), name);
}

void key::remove_key(const std::wstring& name, bool recursive, view in) const
{
    delete_key(handle(), name, in, recursive ? subtree::stop_at_failure : subtree::refuse);
}

} // namespace tessel::registry2
