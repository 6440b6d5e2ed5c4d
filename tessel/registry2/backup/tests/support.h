// What the backup tests check with plain system calls, independent of the
// writer: registry contents byte for byte, the file's text, and the import by
// the system's own reg.exe. Keys and files are checked with the shared test
// support (checks.h), values are laid exactly with the registry layer's test
// scaffolding (raw_set, restrict_access).
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "checks.h"
#include "tessel/registry2/tests/scratch.h"
#include "tessel/unique_any.h"

// A value as the registry stores it.
struct stored
{
    DWORD type = 0;
    std::vector<BYTE> bytes;
    bool operator==(const stored&) const = default;
};
// Type and bytes in hex, for failure messages.
void PrintTo(const stored& value, std::ostream* out);

std::vector<BYTE> bytes_of(const std::wstring& text);
std::vector<BYTE> bytes_of(std::initializer_list<int> bytes);

// Creates (or opens) `path` below `root` with all rights in the view (0,
// KEY_WOW64_32KEY or KEY_WOW64_64KEY); fails the test when it cannot.
tessel::unique_hkey create_key(HKEY root, const std::wstring& path, REGSAM view = 0);
std::optional<stored> read_value(HKEY key, const std::wstring& name);
// Deletes the key and everything below it, if it is there.
void delete_tree(HKEY root, const std::wstring& path, REGSAM view = 0);

// Every key below and including `path`, by its path relative to it ("" for
// the key itself), with every value: what a round trip must give back.
using tree = std::map<std::wstring, std::map<std::wstring, stored>>;
tree snapshot(HKEY root, const std::wstring& path, REGSAM view = 0);

// The file's bytes, and its text after the byte-order mark (which must be
// there).
std::vector<BYTE> file_bytes(const std::wstring& path);
std::wstring file_text(const std::wstring& path);
void write_file(const std::wstring& path, const std::vector<BYTE>& bytes);

// The ways an administrator puts a .reg file back on 64-bit Windows.
enum class importer
{
    // `reg import FILE /reg:64` of this (32-bit) process's system folder:
    // what `wine reg import FILE /reg:64` runs.
    reg_64_switch,
    // The 64-bit reg.exe, `reg import FILE`, from a 64-bit command prompt.
    reg_64_bit,
    // The 64-bit regedit.exe, `regedit /s FILE`, as a double click runs it.
    regedit_64_bit,
};

void PrintTo(importer by, std::ostream* out);

// Runs that program on the file and waits for it; its exit code.
DWORD import_file(importer by, const std::wstring& file);
// import_file(importer::reg_64_switch, file).
DWORD reg_import(const std::wstring& file);

// This process's user as a SID string ("S-1-5-21-...").
std::wstring current_user_sid();
// A folder made for one test under the temporary folder, with a trailing
// backslash; emptied first when it exists.
std::wstring fresh_folder(const std::wstring& name);
