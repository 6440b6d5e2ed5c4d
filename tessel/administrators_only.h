// The access list of what the run creates for itself alone: files and folders
// that another account must neither make first, swap nor change.
#pragma once

#include "tessel/unique_any.h"

namespace tessel {

// A security descriptor whose access list gives administrators and the system
// full access and nobody else any, inherited by what a folder holds and not
// taken from the parent folder. Null (with the last error) when it cannot be
// made.
unique_local_memory administrators_only_descriptor();

} // namespace tessel
