#include "tessel/registry2/backup/backup.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "tessel/administrators_only.h"
#include "tessel/format.h"
#include "tessel/lower_case.h"

namespace tessel::registry2::backup {

namespace {

const wchar_t file_header[] = L"\xFEFF" L"Windows Registry Editor Version 5.00\r\n\r\n";

// What the backup needs of a key: its values and its subkeys' names.
constexpr REGSAM read_access = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS;

// Key names are at most 255 characters; a longer one does not fit and makes
// its key unreadable.
constexpr DWORD subkey_name_chars = 256;
// Value names are at most 16383 characters.
constexpr DWORD value_name_chars = 16384;

// regedit continues a line of hex data, after the comma that makes it this
// long, on the next line (25 bytes to a continued line).
constexpr std::size_t hex_line_limit = 77;

// ---- Names -------------------------------------------------------------------

using query_fn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);

constexpr int key_name_information = 3;     // NtQueryKey's KeyNameInformation
constexpr int object_name_information = 1;  // NtQueryObject's ObjectNameInformation

// A counted name as ntdll answers it (UNICODE_STRING).
struct counted_name
{
    USHORT length;
    USHORT maximum_length;
    const wchar_t* buffer;
};

query_fn ntdll_entry(const char* name)
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<query_fn>(reinterpret_cast<void*>(GetProcAddress(ntdll, name))) : nullptr;
}

// The registry's own name of an open key, such as
// "\REGISTRY\MACHINE\SOFTWARE\Wow6432Node\X" for a key of the 32-bit view of
// 64-bit Windows, or empty. NtQueryKey gives it; Windows 2000, which lacks
// that class of NtQueryKey, gives the same as the key's object name. A
// predefined root's pseudo handle has neither.
std::wstring native_name(HKEY key)
{
    static const query_fn query_key = ntdll_entry("NtQueryKey");
    static const query_fn query_object = ntdll_entry("NtQueryObject");
    // A counted name holds at most 32767 characters.
    std::vector<BYTE> buffer(sizeof(counted_name) + 65536);
    const ULONG size = ULONG(buffer.size());
    ULONG needed = 0;
    if (query_key && query_key(key, key_name_information, buffer.data(), size, &needed) == 0) {
        ULONG bytes = 0;
        std::memcpy(&bytes, buffer.data(), sizeof bytes);
        return std::wstring(reinterpret_cast<const wchar_t*>(buffer.data() + sizeof bytes), bytes / sizeof(wchar_t));
    }
    if (query_object && query_object(key, object_name_information, buffer.data(), size, &needed) == 0) {
        counted_name name;
        std::memcpy(&name, buffer.data(), sizeof name);
        return name.buffer ? std::wstring(name.buffer, name.length / sizeof(wchar_t)) : std::wstring();
    }
    return {};
}

// The name under which a .reg file finds the key: the native name with its
// root as a predefined key that names a physical place. Empty when there is
// none: the key's name cannot be had or lies elsewhere.
std::wstring file_key_name(HKEY key)
{
    static const struct {
        const wchar_t* native;
        const wchar_t* file;
    } roots[] = {
        {L"\\registry\\machine", L"HKEY_LOCAL_MACHINE"},
        {L"\\registry\\user", L"HKEY_USERS"},
    };
    const std::wstring native = native_name(key);
    for (const auto& root : roots) {
        const std::size_t length = std::wcslen(root.native);
        if (lower_ascii(native.substr(0, length)) == root.native &&
            (native.size() == length || native[length] == L'\\'))
            return root.file + native.substr(length);
    }
    return {};
}

// A line of a .reg file ends at a carriage return or a line feed, and nothing
// escapes them where Windows reads the file: a name with one cannot be written.
bool fits_one_line(const std::wstring& name)
{
    return name.find_first_of(L"\r\n") == std::wstring::npos;
}

// ---- Text --------------------------------------------------------------------

// A value's name or a string between double quotes, with backslashes and
// quotes escaped by a backslash.
void append_quoted(std::wstring& text, const wchar_t* chars, std::size_t count)
{
    text += L'"';
    for (std::size_t i = 0; i < count; ++i) {
        if (chars[i] == L'\\' || chars[i] == L'"')
            text += L'\\';
        text += chars[i];
    }
    text += L'"';
}

// Whether REG_SZ data comes back exactly from a quoted string, which the
// import stores with one terminating NUL: whole characters ending in the one
// NUL, and no line break.
bool quotable(const BYTE* data, DWORD size)
{
    if (size < sizeof(wchar_t) || size % sizeof(wchar_t) != 0)
        return false;
    std::wstring text(size / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), data, size);
    return text.find_first_of(std::wstring(L"\r\n\0", 3)) == text.size() - 1;
}

// "xx" for each byte, separated by commas; a line that reaches the limit is
// continued after its comma with a backslash, on the next line indented by
// two spaces, as regedit writes.
void append_hex(std::wstring& text, std::size_t line_start, const BYTE* data, DWORD size)
{
    static const wchar_t digits[] = L"0123456789abcdef";
    for (DWORD i = 0; i < size; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0xF];
        if (i + 1 == size)
            break;
        text += L',';
        if (text.size() - line_start >= hex_line_limit) {
            text += L"\\\r\n  ";
            line_start = text.size() - 2;
        }
    }
}

// One value's line: a REG_SZ as a quoted string where that gives its bytes
// back, a REG_DWORD of four bytes as dword:, all else as hex bytes of its type
// (REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ as hex(1), hex(2), hex(7)).
void append_value(std::wstring& text, const std::wstring& name, DWORD type, const BYTE* data, DWORD size)
{
    const std::size_t line_start = text.size();
    if (name.empty())
        text += L'@';
    else
        append_quoted(text, name.data(), name.size());
    text += L'=';
    if (type == REG_SZ && quotable(data, size)) {
        std::wstring chars(size / sizeof(wchar_t) - 1, L'\0');
        std::memcpy(chars.data(), data, chars.size() * sizeof(wchar_t));
        append_quoted(text, chars.data(), chars.size());
    } else if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD number = 0;
        std::memcpy(&number, data, sizeof number);
        text += format(L"dword:%08lx", number);
    } else {
        text += type == REG_BINARY ? std::wstring(L"hex:") : format(L"hex(%lx):", type);
        append_hex(text, line_start, data, size);
    }
    text += L"\r\n";
}

// ---- Reading -----------------------------------------------------------------

// One item as it goes into the file, with what it counts.
struct item_text
{
    std::wstring text;
    unsigned long keys = 0;
    unsigned long values = 0;
};

result only(outcome status)
{
    result with;
    with.status = status;
    return with;
}

result unreadable(const std::wstring& key, const std::wstring& value, long error)
{
    return {outcome::unreadable, key, value, error};
}

// The value's type and bytes, read into a buffer as large as they are.
LONG read_value(HKEY key, const std::wstring& name, DWORD& type, std::vector<BYTE>& data)
{
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
    while (status == ERROR_SUCCESS) {
        // Never a null buffer: the system would answer with the size alone.
        data.resize(std::max<DWORD>(size, 1));
        DWORD read = DWORD(data.size());
        status = RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &read);
        if (status == ERROR_SUCCESS) {
            data.resize(read);
            return status;
        }
        // It grew since it was measured.
        if (status == ERROR_MORE_DATA) {
            size = std::max<DWORD>(read, DWORD(data.size()) * 2);
            status = ERROR_SUCCESS;
        }
    }
    return status;
}

// Appends the key's values; the system's code where one cannot be read.
LONG append_values(item_text& item, HKEY key)
{
    DWORD longest_data = 0;
    LONG status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   &longest_data, nullptr, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    std::vector<wchar_t> name(value_name_chars + 1);
    // Never a null buffer: the system would answer with the size alone.
    std::vector<BYTE> data(std::max<DWORD>(longest_data, 1));
    for (DWORD index = 0;;) {
        DWORD name_length = DWORD(name.size());
        DWORD type = 0;
        DWORD size = DWORD(data.size());
        status = RegEnumValueW(key, index, name.data(), &name_length, nullptr, &type, data.data(), &size);
        if (status == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        // A value that grew since the key was measured is read again.
        if (status == ERROR_MORE_DATA) {
            data.resize(std::max<std::size_t>(size, data.size() * 2));
            continue;
        }
        if (status != ERROR_SUCCESS)
            return status;
        const std::wstring value_name(name.data(), name_length);
        if (!fits_one_line(value_name))
            return ERROR_INVALID_NAME;
        append_value(item.text, value_name, type, data.data(), size);
        ++item.values;
        ++index;
    }
}

// The key itself where it is a symbolic link, never the key it leads to: what
// is saved is what a deletion of that name takes away, and a link may lead
// anywhere, to keys that are not the run's to save or to delete. A .reg file
// cannot make a link: the import puts back a plain key holding its
// SymbolicLinkValue.
unique_hkey open_for_saving(HKEY parent, const std::wstring& name, view in, LONG& status)
{
    unique_hkey key;
    status = RegOpenKeyExW(parent, name.c_str(), REG_OPTION_OPEN_LINK, with_view(read_access, in), key.put());
    if (status != ERROR_SUCCESS)
        key.release();  // whatever the failed call left there is no handle
    return key;
}

LONG subkey_names(HKEY key, std::vector<std::wstring>& names)
{
    wchar_t name[subkey_name_chars + 1];
    for (DWORD index = 0;; ++index) {
        DWORD length = subkey_name_chars + 1;
        const LONG status = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (status != ERROR_SUCCESS)
            return status;
        names.emplace_back(name, length);
    }
}

// Appends the key, its values and every key below it, in the view; `known`
// names it for a failure before its own name is had. False, with `fault`
// filled in, at the first part that cannot be read or written down.
bool append_tree(item_text& item, HKEY key, const std::wstring& known, view in, result& fault)
{
    const std::wstring name = file_key_name(key);
    if (name.empty()) {
        fault = unreadable(known, L"", ERROR_INVALID_HANDLE);
        return false;
    }
    if (!fits_one_line(name)) {
        fault = unreadable(name, L"", ERROR_INVALID_NAME);
        return false;
    }
    item.text += L"[" + name + L"]\r\n";
    ++item.keys;
    LONG status = append_values(item, key);
    if (status != ERROR_SUCCESS) {
        fault = unreadable(name, L"", status);
        return false;
    }
    item.text += L"\r\n";
    std::vector<std::wstring> subkeys;
    status = subkey_names(key, subkeys);
    if (status != ERROR_SUCCESS) {
        fault = unreadable(name, L"", status);
        return false;
    }
    for (const std::wstring& subkey : subkeys) {
        const unique_hkey child = open_for_saving(key, subkey, in, status);
        // Gone since it was listed: nothing of it to save, or to delete.
        if (status == ERROR_FILE_NOT_FOUND)
            continue;
        if (!child) {
            fault = unreadable(name + L"\\" + subkey, L"", status);
            return false;
        }
        if (!append_tree(item, child.get(), name + L"\\" + subkey, in, fault))
            return false;
    }
    return true;
}

// How a failure names a key it could not open: below its parent's name where
// that is known.
std::wstring describe(HKEY parent, const std::wstring& name)
{
    const std::wstring parent_name = file_key_name(parent);
    return parent_name.empty() ? name : parent_name + L"\\" + name;
}

// Where a run's file goes: the current folder, then the temporary folder.
std::vector<std::wstring> run_folders()
{
    std::vector<std::wstring> folders;
    wchar_t folder[MAX_PATH + 1];
    DWORD length = GetCurrentDirectoryW(MAX_PATH + 1, folder);
    if (length > 0 && length <= MAX_PATH)
        folders.emplace_back(folder, length);
    length = GetTempPathW(MAX_PATH + 1, folder);
    if (length > 0 && length <= MAX_PATH)
        folders.emplace_back(folder, length);
    return folders;
}

SYSTEMTIME now_utc()
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    return now;
}

} // namespace

std::wstring file_name(const SYSTEMTIME& utc)
{
    return format(L"QLRemover.%04u%02u%02u-%02u%02u%02u.reg", unsigned(utc.wYear), unsigned(utc.wMonth),
                  unsigned(utc.wDay), unsigned(utc.wHour), unsigned(utc.wMinute), unsigned(utc.wSecond));
}

writer::writer(const std::vector<std::wstring>& folders, const SYSTEMTIME& utc)
{
    const unique_local_memory descriptor = administrators_only_descriptor();
    if (!descriptor) {
        fail("ConvertStringSecurityDescriptorToSecurityDescriptor", L"", GetLastError());
        return;
    }
    SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
    fail("CreateFile", L"", ERROR_PATH_NOT_FOUND);  // until a folder takes the file
    for (const std::wstring& folder : folders) {
        std::wstring path = folder;
        if (!path.empty() && path.back() != L'\\')
            path += L'\\';
        path += file_name(utc);
        // CREATE_NEW: a file of that name that someone made first, perhaps to
        // have it imported later or to read what the run saves, stays theirs.
        file_.reset(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &security, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_) {
            fail("CreateFile", path, GetLastError());
            continue;
        }
        path_ = std::move(path);
        failed_ = false;
        const DWORD bytes = DWORD(std::wcslen(file_header) * sizeof(wchar_t));
        DWORD written = 0;
        if (!WriteFile(file_.get(), file_header, bytes, &written, nullptr) || written != bytes) {
            fail("WriteFile", path_, GetLastError());
            file_.reset();
        }
        return;
    }
}

writer::writer() : writer(run_folders(), now_utc()) {}

result writer::save_key(HKEY parent, const std::wstring& name, view in)
{
    // An empty name would be the parent itself.
    if (name.empty())
        return unreadable(describe(parent, name), L"", ERROR_INVALID_PARAMETER);
    LONG status = ERROR_SUCCESS;
    const unique_hkey key = open_for_saving(parent, name, in, status);
    if (status == ERROR_FILE_NOT_FOUND)
        return only(outcome::absent);
    if (!key)
        return unreadable(describe(parent, name), L"", status);
    item_text item;
    result fault;
    if (!append_tree(item, key.get(), describe(parent, name), in, fault))
        return fault;
    return write(item.text, item.keys, item.values);
}

result writer::save_value(HKEY key, const std::wstring& name)
{
    DWORD type = 0;
    std::vector<BYTE> data;
    const LONG status = read_value(key, name, type, data);
    if (status == ERROR_FILE_NOT_FOUND)
        return only(outcome::absent);
    const std::wstring key_name = file_key_name(key);
    if (status != ERROR_SUCCESS)
        return unreadable(key_name, name, status);
    if (key_name.empty())
        return unreadable(key_name, name, ERROR_INVALID_HANDLE);
    if (!fits_one_line(key_name) || !fits_one_line(name))
        return unreadable(key_name, name, ERROR_INVALID_NAME);
    std::wstring text = L"[" + key_name + L"]\r\n";
    append_value(text, name, type, data.data(), DWORD(data.size()));
    text += L"\r\n";
    return write(text, 0, 1);
}

result writer::write(const std::wstring& item, unsigned long keys, unsigned long values)
{
    if (!file_)
        return only(outcome::not_written);
    const DWORD bytes = DWORD(item.size() * sizeof(wchar_t));
    DWORD written = 0;
    if (!WriteFile(file_.get(), item.data(), bytes, &written, nullptr) || written != bytes) {
        fail("WriteFile", path_, GetLastError());
        // What follows a cut item would be read as part of it: the file takes
        // nothing more.
        file_.reset();
        return only(outcome::write_failed);
    }
    keys_saved_ += keys;
    values_saved_ += values;
    return only(outcome::saved);
}

void writer::fail(const char* call, const std::wstring& path, unsigned long error)
{
    failed_ = true;
    failure_ = {call, path, error};
}

} // namespace tessel::registry2::backup
