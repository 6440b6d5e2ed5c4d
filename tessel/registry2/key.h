// Registry access: one open key per object, every failing call raised as an
// exception that names the call, the key or value and the Windows error code.
//
// Keys are opened for reading, setting values and creating subkeys; where the
// system denies that, they are opened for reading alone, so a key that may not
// be written can still be read. Keys work in the caller's registry view unless
// an operation names another one.
//
// Every deletion of a key or a value goes through delete_key or delete_value:
// the one place that sees what leaves the registry.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "tessel/exception.h"
#include "tessel/unique_any.h"

namespace tessel::registry2 {

// Each carries the Windows error code of the call that failed (0 where no
// call failed: a type or size that does not fit).
struct generic : tessel::exception
{
    explicit generic(const std::string& message, long code = 0) : tessel::exception(message), code_(code)
    {
        append_category("registry2");
    }
    long code() const noexcept { return code_; }

private:
    long code_;
};

struct key_error : generic
{
    explicit key_error(const std::string& message, long code = 0) : generic(message, code)
    {
        append_category("key_error");
    }
};

struct value_error : generic
{
    explicit value_error(const std::string& message, long code = 0) : generic(message, code)
    {
        append_category("value_error");
    }
};

struct type_mismatch : generic
{
    explicit type_mismatch(const std::string& message) : generic(message) { append_category("type_mismatch"); }
};

struct size_mismatch : generic
{
    explicit size_mismatch(const std::string& message) : generic(message) { append_category("size_mismatch"); }
};

// Which registry view an operation works in: the calling process's own, or
// the 32-bit or 64-bit one of a 64-bit system (the same single view elsewhere).
enum class view
{
    default_view,
    view_32,
    view_64,
};

// The access rights with the view's flag added.
REGSAM with_view(REGSAM access, view in) noexcept;

// ---- Opening --------------------------------------------------------------

// The key at `path` below `parent` opened with exactly `access` in the view,
// or an empty owner when there is no such key. Every other failure, access
// denied included, raises key_error "RegOpenKeyEx() failed: key \"%s\" (%i)"
// with the system's code: a key that cannot be opened is not an absent one.
unique_hkey open_if_present(HKEY parent, const std::wstring& path, REGSAM access, view in);

// The key at `path` below `parent` opened with exactly `access` in the view,
// or an empty owner when it cannot be opened, whatever the reason; `status`,
// when given, receives the system's result. open_if_present tells an absent
// key from one that is there but cannot be opened.
unique_hkey open_subkey(HKEY parent, const std::wstring& path, REGSAM access, view in, LONG* status = nullptr) noexcept;

// ---- Walking ---------------------------------------------------------------
// A walk goes by index, in the registry's own order, over an open key, with
// buffers of the sizes its caller chooses; it is one pass. It ends after the
// last item; any other answer of the system raises key_error.

// The names of a key's subkeys, each read into a buffer of `name_chars`
// characters. A failure raises "RegEnumKeyEx() failed: handle %i (%i)", also
// for a name too long for the buffer (234).
class subkeys
{
public:
    explicit subkeys(HKEY key, DWORD name_chars = 260);

    class iterator
    {
    public:
        using value_type = std::wstring;
        using difference_type = std::ptrdiff_t;
        const std::wstring& operator*() const noexcept { return walk_->name_; }
        iterator& operator++();
        void operator++(int) { ++*this; }
        bool operator==(std::default_sentinel_t) const noexcept { return walk_->done_; }

    private:
        friend class subkeys;
        explicit iterator(subkeys& walk) noexcept : walk_(&walk) {}
        subkeys* walk_;
    };

    // Reads the first name.
    iterator begin();
    std::default_sentinel_t end() const noexcept { return std::default_sentinel; }

private:
    void read();

    HKEY key_;
    std::vector<wchar_t> buffer_;
    DWORD index_ = 0;
    std::wstring name_;
    bool done_ = false;
};

// One value met by a walk over a key's values.
struct value_entry
{
    // False for a value whose name or data did not fit the walk's buffers:
    // then nothing else is filled in.
    bool read = false;
    std::wstring name;
    DWORD type = 0;
    // As much as the walk reads; valid until the walk moves on.
    std::span<const BYTE> data;

    // The data as text: the whole characters it holds, up to the first NUL.
    std::wstring text() const;
};

// The values of a key: names of up to `name_chars` characters and data of up
// to `data_bytes` bytes (0: names and types only). A value that does not fit
// is met unread (read false) and the walk goes on. Any other failure raises
// "RegEnumValue() failed: handle %i (%i)".
class values
{
public:
    values(HKEY key, DWORD name_chars, DWORD data_bytes = 0);
    // Buffers as large as the key's longest name and data as the walk starts,
    // so that only a value that grows meanwhile is met unread; raises
    // "RegQueryInfoKey() failed: handle %i (%i)" when the sizes cannot be had.
    static values whole(HKEY key);

    class iterator
    {
    public:
        using value_type = value_entry;
        using difference_type = std::ptrdiff_t;
        const value_entry& operator*() const noexcept { return walk_->entry_; }
        const value_entry* operator->() const noexcept { return &walk_->entry_; }
        iterator& operator++();
        void operator++(int) { ++*this; }
        bool operator==(std::default_sentinel_t) const noexcept { return walk_->done_; }

    private:
        friend class values;
        explicit iterator(values& walk) noexcept : walk_(&walk) {}
        values* walk_;
    };

    // Reads the first value.
    iterator begin();
    std::default_sentinel_t end() const noexcept { return std::default_sentinel; }

private:
    void read();

    HKEY key_;
    std::vector<wchar_t> name_buffer_;
    std::vector<BYTE> data_buffer_;
    DWORD index_ = 0;
    value_entry entry_;
    bool done_ = false;
};

// ---- Deleting --------------------------------------------------------------
// Every key and every value that the programs delete goes through one of the
// two entries below.

// What the deletion of a key does with the keys below it.
enum class subtree
{
    // Nothing: the system refuses a key that still has subkeys.
    refuse,
    // Depth first, in ascending name order; the first failure ends the
    // deletion, and what went before it stays gone.
    stop_at_failure,
    // Depth first, each subkey attempted once, failures passed over, so the
    // deletion always ends; the first failure is raised after the key itself
    // was attempted.
    attempt_each,
};

// Deletes the key `name` (a path relative to `parent`) in the view, with its
// subtree as `how` says; keys below it are opened (read-only where that is
// all the system allows) and listed through this layer in the same view.
// Outside the default view the deletion is "RegDeleteKeyExW", looked up in
// ADVAPI32 once, for Windows 2000 lacks it: where the system has none the
// deletion fails with ERROR_PROC_NOT_FOUND, since a plain deletion could take
// the same name in another view. An empty name is refused (87): it would mean
// `parent` itself. A failure raises key_error "RegDeleteKey() failed: key
// \"%s\" (%i)", or the error of the open or listing on the way that failed.
void delete_key(HKEY parent, const std::wstring& name, view in, subtree how);

// Deletes the value `name` of the key; a failure raises key_error
// "RegDeleteValue() failed: value \"%s\" (%i)".
void delete_value(HKEY key, const std::wstring& name);

// Whether the system has the view-aware deletion.
bool has_view_aware_deletion() noexcept;

// delete_key and delete_value for callers that report the system's result
// themselves: 0 when it went, else the failure's code.
LONG delete_subkey(HKEY parent, const std::wstring& name, view in, subtree how = subtree::refuse) noexcept;
LONG delete_value_status(HKEY key, const std::wstring& name) noexcept;

// What a Win32 call sees of a text read from the registry: the text up to its
// first NUL. The key gives back what is stored, inner NULs included (a value
// written with a doubled terminator, or one that hides text behind a NUL);
// every text used as a path, a pattern or a name to match goes through this.
std::wstring up_to_first_nul(std::wstring text);
std::string up_to_first_nul(std::string text);

// Owns one open key handle. Copying opens the same key again (a second,
// independent handle); moving hands the handle over, and a moved-from key may
// only be assigned to or destroyed. Names in messages are converted to the
// ANSI code page strictly: a name it cannot hold raises
// tessel::unicode::unmappable_character instead of the registry error.
class key
{
public:
    // A new handle on `root`, which may be a predefined key or any open key
    // handle; `root` itself stays the caller's.
    explicit key(HKEY root, view in = view::default_view);
    key(const key& other);
    key(key&& other) noexcept = default;
    key& operator=(key other) noexcept;

    // The subkey at `path` (backslashes allowed). With `create` the subkey and
    // its missing parents are created; then there is no read-only fallback.
    // The view applies to this open only: keys opened from the result use
    // their own.
    key open(const std::wstring& path, bool create, view in = view::default_view) const;
    // As open without `create`, but nothing when there is no such key; every
    // other failure raises as open does.
    std::optional<key> open_if_present(const std::wstring& path, view in = view::default_view) const;

    // Names of the direct subkeys and of the values, in plain character order.
    // A name of 260 characters or more raises key_error.
    std::set<std::wstring> subkey_names() const;
    std::set<std::wstring> value_names() const;

    // REG_SZ or REG_EXPAND_SZ; the latter expanded. A missing value raises
    // value_error, another type type_mismatch, data that changed size while
    // being read size_mismatch.
    std::wstring read_string(const std::wstring& name) const;
    // Narrow name and text in the ANSI code page (strict both ways).
    std::string read_string(const std::string& name) const;
    // REG_DWORD of exactly 4 bytes.
    std::uint32_t read_dword(const std::wstring& name) const;

    void write_string(const std::wstring& name, const std::wstring& text) const;
    void write_dword(const std::wstring& name, std::uint32_t number) const;

    // delete_value on this key.
    void remove_value(const std::wstring& name) const;
    // delete_key below this key: without `recursive` only a subkey without
    // subkeys can go; a recursive removal stops at the first failure
    // (subtree::stop_at_failure).
    void remove_key(const std::wstring& name, bool recursive, view in = view::default_view) const;

    // For calls this class does not wrap; the key keeps ownership.
    HKEY handle() const noexcept { return handle_.get(); }

private:
    struct adopt {};
    key(HKEY open_handle, adopt) noexcept : handle_(open_handle) {}

    unique_hkey handle_;
};

} // namespace tessel::registry2
