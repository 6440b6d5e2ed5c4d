// Removal of the product's registry traces: keys, Uninstall entries, autorun
// values and the shell's "Scan with" context-menu commands. Registry errors
// never leave these operations; they become log lines and results.
#pragma once

#include <windows.h>
#include <string>
#include <vector>

// Deletes subkey of parent_path under root (with its whole subtree when
// recursive). True when it was deleted or the parent does not exist; false
// when the deletion failed.
bool remove_regkey(HKEY root, const std::wstring& parent_path, const std::wstring& subkey, bool recursive);

// The Uninstall entries of the given product codes, with their subtrees.
// False for an empty list.
bool remove_uninstall_entries(const std::vector<std::wstring>& product_codes);

// Deletes the autorun value of that name: from the current user's Run key for
// "Lintorra" exactly, from the local machine's Run key for every other name.
bool remove_autorun(const std::wstring& value_name);

// The "Scan with <product>" commands for files and for folders.
void remove_context_menu(const std::wstring& product_name);
