// What the tests check on the machine, with plain system calls, so that the
// checks do not depend on the code under test.
#pragma once

#include "texts.h"

#include <windows.h>

#include <string>
#include <vector>

// Whether the key at path below root opens for reading; view is 0 (the
// process's own), KEY_WOW64_32KEY or KEY_WOW64_64KEY.
bool key_exists(HKEY root, const std::wstring& path, REGSAM view = 0);
// Whether that key exists and holds a value of that name.
bool value_exists(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view = 0);

// Gives the key at path below root an empty access list: nobody may open it
// (5), though it can still be deleted by name. Raises std::runtime_error when
// that cannot be done.
void seal_key(HKEY root, const std::wstring& path, REGSAM view = 0);
// Whether that key is there but cannot be opened for reading.
bool key_is_sealed(HKEY root, const std::wstring& path, REGSAM view = 0);

// Whether a file or folder is at path.
bool file_exists(const std::string& path);
bool file_exists(const std::wstring& path);
