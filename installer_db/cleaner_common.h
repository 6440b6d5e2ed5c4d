// What both installer database cleaners share: their report's section lines,
// the reading of key paths, and the SharedDLLs step.
#pragma once

#include "tessel/registry2/key.h"

#include <windows.h>

#include <optional>
#include <set>
#include <string>

namespace installer_db_detail {

extern const wchar_t long_rule[];   // 50 "="
extern const wchar_t short_rule[];  // 49 "="

// Whether a name read from the registry is a packed code: 32 hexadecimal
// digits and nothing else. Anything else names no product and must not be used
// as a key name (an empty name would mean the parent key itself).
bool is_packed_code(const std::wstring& name);

// An empty line, the title and the rule under it.
void log_section(const wchar_t* title, const wchar_t* rule);

// A component's key path as a file path: the installer writes the drive's
// colon as "?" in some key paths ("C?\...").
std::wstring file_path_of(std::wstring key_path);

// Goes through a walk of the registry layer (subkeys or values) in the
// registry's order, calling visit for each item; the walk ends quietly at its
// first error, keeping what it met, as the installer data's walks do. What
// visit raises passes on.
template <class Walk, class Visit>
void walk_until_error(Walk&& walk, Visit visit)
{
    using iterator = decltype(walk.begin());
    std::optional<iterator> at;
    try {
        at.emplace(walk.begin());
    } catch (const tessel::registry2::generic&) {
        return;
    }
    while (!(*at == walk.end())) {
        visit(**at);
        try {
            ++*at;
        } catch (const tessel::registry2::generic&) {
            return;
        }
    }
}

// Lowers the SharedDLLs counter of each key file (default registry view, where
// 32-bit installers count); nothing when the counters' key is absent, and the
// line "! ERROR open key %ls failed: %d" when it cannot be opened.
void decrement_key_file_counters(const std::set<std::wstring>& key_files);

} // namespace installer_db_detail
