// Shared between the log's own sources; not part of its interface.
#pragma once

#include <exception>
#include <string>

#include "tessel/log/log.h"

namespace tessel::log::internal {

// The lock that serialises every front-end call. Recursive.
tessel::mutex& process_lock();
// The process-wide dispatcher, created on first use. Call under process_lock().
dispatcher& process_dispatcher();

// The text of a level_exception line: the message, a space unless it is empty
// or already ends in one, and a description of the exception.
std::wstring decorate(std::wstring message, const std::exception_ptr& handled);

} // namespace tessel::log::internal
