// A run's registry backup: before a key or value is deleted or changed, what
// is there is appended to one file that `reg import FILE` and `regedit /s FILE`
// put back (with 64-bit `reg`, /reg:64, on 64-bit Windows).
//
// The file is what `reg export` writes: "Windows Registry Editor Version 5.00",
// UTF-16LE with a byte-order mark, CRLF lines. Keys are named as the registry
// stores them: HKEY_LOCAL_MACHINE\... (a key of the 32-bit view under its
// Wow6432Node path) or HKEY_USERS\<SID>\..., never HKEY_CLASSES_ROOT or
// HKEY_CURRENT_USER. Every value keeps its type and bytes exactly.
//
// Each item (a key with its whole subtree, or one value) is read whole first
// and then written with one call, without a disk flush: a run that ends
// abnormally leaves a file whose items before the last are whole.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tessel/registry2/key.h"
#include "tessel/unique_any.h"

namespace tessel::registry2::backup {

// What became of one item, and what the caller does with it.
enum class outcome
{
    // In the file: delete it.
    saved,
    // Nothing of that name is there: there is nothing to delete.
    absent,
    // It could not be read whole, or it holds a name that a .reg file cannot
    // carry (one with a line break): do not delete it.
    unreadable,
    // Read whole, but the file did not take it; the first such failure only
    // (writer::failed() tells it): log it once and delete.
    write_failed,
    // Read whole, not written: the file failed earlier or was never made.
    // Delete; there is nothing more to log.
    not_written,
};

struct result
{
    outcome status = outcome::absent;
    // For unreadable: the key that could not be read (as the file would name
    // it, as far as it is known) and the value's name when a value could not,
    // with the system's code (ERROR_INVALID_NAME for a name with a line break).
    std::wstring key;
    std::wstring value;
    long error = 0;
};

// Why the file cannot take more: the call that failed ("CreateFile",
// "WriteFile"), the file's path (the last one tried) and the system's code.
struct failure
{
    std::string call;
    std::wstring path;
    unsigned long error = 0;
};

// "QLRemover.<yyyymmdd-hhmmss>.reg" of a UTC time.
std::wstring file_name(const SYSTEMTIME& utc);

// One run's file, open for appending until the writer is destroyed.
class writer
{
public:
    // Creates file_name(utc) new in the first of `folders` that takes it: a
    // name that exists already is never opened, whoever made it. The file's
    // access list lets in administrators and the system alone.
    writer(const std::vector<std::wstring>& folders, const SYSTEMTIME& utc);
    // The run's: in the current folder (beside the log), else in the
    // temporary folder, named after the time now.
    writer();

    writer(writer&&) noexcept = default;
    writer& operator=(writer&&) noexcept = default;

    // The file's path; empty when none could be made (failed() says why).
    const std::wstring& path() const noexcept { return path_; }
    // Set once the file cannot take more, from then on.
    const failure* failed() const noexcept { return failed_ ? &failure_ : nullptr; }

    // Saves the key `name` (a path below `parent`) with every value and every
    // key below it, opened and listed in the view. A symbolic link among them
    // is saved as the link (its SymbolicLinkValue), not as the key it leads to.
    result save_key(HKEY parent, const std::wstring& name, view in);
    // Saves the value `name` of the open key (the default value for an empty
    // name), with the key's name so that the import recreates the key too.
    result save_value(HKEY key, const std::wstring& name);

    // What the file holds: keys saved with their subtrees, and values.
    unsigned long keys_saved() const noexcept { return keys_saved_; }
    unsigned long values_saved() const noexcept { return values_saved_; }

private:
    result write(const std::wstring& item, unsigned long keys, unsigned long values);
    void fail(const char* call, const std::wstring& path, unsigned long error);

    unique_file_handle file_;
    std::wstring path_;
    bool failed_ = false;
    failure failure_;
    unsigned long keys_saved_ = 0;
    unsigned long values_saved_ = 0;
};

} // namespace tessel::registry2::backup
