// The installer's user data as the record removals and the registration
// removal both reach it. Private to installer_db.
#pragma once

#include "tessel/registry2/key.h"
#include "tessel/unique_any.h"

#include <windows.h>

#include <string>
#include <vector>

namespace installer_db_detail {

inline constexpr wchar_t user_data_path[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";

inline constexpr REGSAM read_access = KEY_READ;                                         // 0x20019
inline constexpr REGSAM change_access = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;  // 0x2001F

// The names of a key's subkeys in the registry's order, each read into a
// buffer of name_chars characters; the listing ends at its first error.
std::vector<std::wstring> subkey_names(HKEY key, DWORD name_chars);

// The key at path below HKEY_LOCAL_MACHINE: nothing when it is absent, or
// (with the line "! ERROR open key %ls failed: %d" naming it as
// "HKLM\path", or as "HKLM\shown" when given) when it cannot be opened.
tessel::unique_hkey open_reported(const std::wstring& path, REGSAM access, tessel::registry2::view in,
                                  const std::wstring& shown = {});

} // namespace installer_db_detail
