// Registry access: one open key per object, every failing call raised as an
// exception that names the call, the key or value and the Windows error code.
//
// Keys are opened for reading, setting values and creating subkeys; where the
// system denies that, they are opened for reading alone, so a key that may not
// be written can still be read. Keys work in the caller's registry view unless
// an operation names another one.
#pragma once

#include <windows.h>

#include <cstdint>
#include <set>
#include <string>

#include "tessel/exception.h"
#include "tessel/unique_any.h"

namespace tessel::registry2 {

struct generic : tessel::exception
{
    explicit generic(const std::string& message) : tessel::exception(message) { append_category("registry2"); }
};

struct key_error : generic
{
    explicit key_error(const std::string& message) : generic(message) { append_category("key_error"); }
};

struct value_error : generic
{
    explicit value_error(const std::string& message) : generic(message) { append_category("value_error"); }
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

// Deletes the subkey `name` of `parent`, which must have no subkeys, in the
// view; the system's result, for callers that report it themselves. Outside
// the default view this is "RegDeleteKeyExW", looked up when called, for
// Windows 2000 lacks it: there the result is ERROR_PROC_NOT_FOUND, since a
// plain deletion could take the same name in another view.
LONG delete_subkey(HKEY parent, const std::wstring& name, view in) noexcept;
// Whether the system has the view-aware deletion.
bool has_view_aware_deletion() noexcept;

// For walks that must not raise: the key at `path` below `parent` opened with
// exactly `access` in the view, or an empty owner when it cannot be opened;
// `status`, when given, receives the system's result.
unique_hkey open_subkey(HKEY parent, const std::wstring& path, REGSAM access, view in, LONG* status = nullptr) noexcept;

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

    void remove_value(const std::wstring& name) const;
    // Without `recursive` only a subkey without subkeys can go. A recursive
    // removal goes depth first in ascending name order and stops at the first
    // failure, leaving what it deleted deleted. An empty name is refused: it
    // would mean this key itself. The view is used for every subkey opened,
    // listed and deleted on the way.
    void remove_key(const std::wstring& name, bool recursive, view in = view::default_view) const;

    // For calls this class does not wrap; the key keeps ownership.
    HKEY handle() const noexcept { return handle_.get(); }

private:
    struct adopt {};
    key(HKEY open_handle, adopt) noexcept : handle_(open_handle) {}

    unique_hkey handle_;
};

} // namespace tessel::registry2
