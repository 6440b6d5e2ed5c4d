// The cleaning stages, run in a fixed order between start-up and completion.
#pragma once

#include "family/product.h"

#include <string>

// Whether the sibling product is still registered in the suite (decided by the
// suite stage): then the run removes only this product and keeps what the
// sibling needs.
extern bool sibling_registered;

// Every stage is attempted, in order; an error escaping one is logged with the
// stage's name and the next one runs.
void run_cleaning_stages(ProductInfo& info, bool version_detected);

// The suite stage alone, as the sequence runs it, heading, guard and closing
// included: decides sibling_registered, fills the record's e-mail when it is
// still empty, and answers whether the suite framework went.
bool run_suite_stage(ProductInfo& info);

// The product's and the suite's keys under SOFTWARE, of the machine and the
// current user.
void clean_software_keys();

// The first Uninstall entry whose display name is the maker's (the suite's
// own), deleted with its subtree. When the suite stage took the suite away
// (suite_removed) and the entry is named by a product code, that package's
// Windows Installer registration goes too.
void remove_maker_uninstall_entry(const std::wstring& maker_name, bool suite_removed);
