// The system's message for a Windows error code.
#pragma once

#include <string>

namespace tessel {

// The message in the user's default language, without its line end; empty
// when the system has no message for the code. Never throws.
std::string system_error_text(unsigned long code);

} // namespace tessel
