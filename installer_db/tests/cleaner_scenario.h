// The machine both cleaners are tried on: Pellamore, its sibling Ostravel and
// the neighbour Pellamore Viewer installed by Wine's msiexec, and beside them
// the records no installer of the test bed writes: a second product under
// Pellamore's upgrade code, a key path written "C?\...", and component values
// too long for the 64-bit cleaner's buffer.
#pragma once

#include "installer_support.h"
#include "log_lines.h"
#include "run_support.h"

#include <string>

namespace installer_test {

extern const wchar_t tools_product[];        // second product of Pellamore's upgrade code
extern const wchar_t foreign_product[];      // owns an over-long value in Pellamore's help component
extern const wchar_t private_component[];    // the second product's alone, key path "C?\..."
extern const wchar_t long_path_component[];  // Pellamore's alone, its key path too long to read
extern const wchar_t private_file[];         // that key path as a file, with a counter of 3
extern const wchar_t qelva_library[];        // Pellamore's QELVA.dll, counter 1
extern const wchar_t kelzip_library[];       // shared with the viewer, counter 2

// The key of a component (GUID text) in the local system's user data.
std::wstring component_key(const wchar_t* component);
// The registration of a product (GUID text) in the local system's user data.
std::wstring product_key(const wchar_t* product);

// Empty on success, else what went wrong.
std::string lay_scenario();

// Runs the cleaning for Pellamore's upgrade code in a child process, under
// Wine's "winxp64" version setting or the default one: the remover's choice of
// cleaner, or with force_cleaner32 the 32-bit cleaner whatever the system.
program_run run_cleaning(bool xp64, bool force_cleaner32 = false);

// The feature list of a product (GUID text) in the classes' installer data.
std::wstring feature_list_key(const wchar_t* product);

} // namespace installer_test
