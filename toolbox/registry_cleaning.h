// Removal of the product's registry traces: keys, Uninstall entries, autorun
// values and the shell's "Scan with" context-menu commands. Registry errors
// never leave these operations; they become log lines and results.
#pragma once

#include "tessel/registry2/key.h"
#include "tessel/unique_any.h"

#include <windows.h>
#include <optional>
#include <string>
#include <vector>

// Deletes subkey of parent_path under root (with its whole subtree when
// recursive). True when it was deleted or the parent does not exist; false
// when the deletion failed or the parent is there but cannot be opened.
bool remove_regkey(HKEY root, const std::wstring& parent_path, const std::wstring& subkey, bool recursive);

// The Uninstall entries of the given product codes, with their subtrees.
// False for an empty list.
bool remove_uninstall_entries(const std::vector<std::wstring>& product_codes);

// Deletes the autorun value of that name: from the current user's Run key for
// "Lintorra" exactly, from the local machine's Run key for every other name.
bool remove_autorun(const std::wstring& value_name);

// The "Scan with <product>" commands for files and for folders.
void remove_context_menu(const std::wstring& product_name);

// A key whose absence is no news: nothing when it is absent. A key that is
// there but cannot be opened (access denied, ...) gives nothing either, and
// the line "! ERROR open key %ls failed: %d" with `shown` (the key's path as
// the caller's lines name it) and the system's code. The first opens as
// key::open does, the second with exactly `access`.
std::optional<tessel::registry2::key> open_or_report(const tessel::registry2::key& parent, const std::wstring& path,
                                                     const std::wstring& shown,
                                                     tessel::registry2::view in = tessel::registry2::view::default_view);
tessel::unique_hkey open_or_report(HKEY parent, const std::wstring& path, REGSAM access, tessel::registry2::view in,
                                   const std::wstring& shown);
