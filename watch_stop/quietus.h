// Quietus's whole run: stop the watch service within 5 seconds and tell the
// outcome in one line and the exit code.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>

namespace quietus {

using stop_function = std::function<void(std::int64_t limit_seconds)>;

// 0 "Watch Service stopped"; 1 and the message of a tessel::exception_w; 2
// "Unexpected exception from av::stop_av_watch_service()" for anything else.
int run(std::wostream& out, const stop_function& stop);

} // namespace quietus
