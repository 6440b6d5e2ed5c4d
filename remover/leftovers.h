// After the last stage: a short report of what the run was to take away and
// is still on the machine, for the administrator who reads only the log.
#pragma once

#include "family/product.h"

// Looks at the installation folder, the engine's and the suite's folders and
// services when they were to go (everything_to_go: no sibling keeps them), the
// product's Uninstall entries and Windows Installer registration, its
// processes and its autorun values, and lists what is left, or says in one
// line that nothing is. Never raises.
void report_leftovers(const ProductInfo& info, bool everything_to_go);
