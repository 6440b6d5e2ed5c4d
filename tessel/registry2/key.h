// Registry access: one open key per object, every failing call raised as an
// exception that names the call, the key or value and the Windows error code.
//
// Keys are opened for reading, setting values and creating subkeys; where the
// system denies that, they are opened for reading alone, so a key that may not
// be written can still be read. Keys work in the caller's registry view.
#pragma once

#include <windows.h>

#include <cstdint>
#include <set>
#include <string>

#include "tessel/exception.h"

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
    explicit key(HKEY root);
    key(const key& other);
    key(key&& other) noexcept;
    key& operator=(key other) noexcept;
    ~key();

    // The subkey at `path` (backslashes allowed). With `create` the subkey and
    // its missing parents are created; then there is no read-only fallback.
    key open(const std::wstring& path, bool create) const;

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
    // would mean this key itself.
    void remove_key(const std::wstring& name, bool recursive) const;

    // For calls this class does not wrap; the key keeps ownership.
    HKEY handle() const noexcept { return handle_; }

private:
    struct adopt {};
    key(HKEY open_handle, adopt) noexcept : handle_(open_handle) {}

    HKEY handle_;
};

} // namespace tessel::registry2
