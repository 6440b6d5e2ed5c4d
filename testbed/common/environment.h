// What every double needs to know about itself: where it lives, its settings
// (knobs) and the shared trace file.
#pragma once

#include <windows.h>
#include <string>
#include <vector>

namespace testbed {

// Full path of the module (program or library) that contains the caller's code.
std::wstring own_module_path();

// "C:\dir\name.ext" gives "C:\dir\", "name" and "name.ext".
std::wstring folder_of(const std::wstring& path);
std::wstring base_name(const std::wstring& path);
std::wstring file_name(const std::wstring& path);

// A shell folder (CSIDL_*) with a trailing backslash; empty when unknown.
std::wstring shell_folder(int csidl);

// CommonAppData\testbed\, created on demand.
std::wstring machine_folder_path();

// Knobs of one double. The section is the module's base name ("Scancore",
// "ScrWatchService", "qelvaTray"...). A key is looked up in testbed.ini beside
// the module first, then in the machine-wide testbed.ini; the files are read
// at every call, so a test may change a knob while the double runs.
class settings
{
public:
    explicit settings(const std::wstring& module_path);

    int integer(const wchar_t* key, int fallback) const;
    std::wstring text(const wchar_t* key, const std::wstring& fallback) const;

private:
    bool lookup(const wchar_t* key, std::wstring& value) const;

    std::wstring section_;
    std::wstring beside_;
    std::wstring machine_;
};

// The knobs of the module that contains the caller's code.
settings own_settings();

// Appends "<module>[<pid>] <text>" as one line to the machine-wide trace file.
void trace(const wchar_t* format, ...);

// Splits "a, b,c" at commas, trimming blanks; empty items are dropped.
std::vector<std::wstring> split_list(const std::wstring& text);

bool equal_no_case(const std::wstring& a, const std::wstring& b);

struct file_version
{
    bool found = false;
    unsigned major = 0, minor = 0, build = 0, revision = 0;
};

// The fixed file version of a file's version resource.
file_version read_file_version(const std::wstring& path);

// Size of the callback table that the engine in this folder reads: the
// "table" knob of Scancore.dll there, else by the version of
// ScrScanningService.exe there (before 1.5.34: 13; up to 2.1.9: 14; later or
// unknown: 15).
int engine_table_size(const std::wstring& engine_folder);

}  // namespace testbed
