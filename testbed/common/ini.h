// INI-style text files (settings, product list, suite configuration), read
// and written whole at every call. The system's profile functions are not
// used: they cache files per process and can miss changes made by another
// process or by a plain file write.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testbed::ini {

// The file's text (UTF-8, or UTF-16 with a byte-order mark); nothing when it
// cannot be read.
std::optional<std::wstring> read(const std::wstring& path);
// Writes the text as UTF-8, replacing the file in one step.
bool write(const std::wstring& path, const std::wstring& text);

// "key=value" lines of a section, in file order; names compared without case.
std::vector<std::pair<std::wstring, std::wstring>> entries(const std::wstring& text, const std::wstring& section);
std::optional<std::wstring> value(const std::wstring& text, const std::wstring& section, const std::wstring& key);
// The text with the key set (or removed, when there is no value).
std::wstring with_value(const std::wstring& text, const std::wstring& section, const std::wstring& key,
                        const std::optional<std::wstring>& value);

}  // namespace testbed::ini
