#include "tessel/system_error_text.h"

#include "tessel/unique_any.h"

#include <windows.h>

namespace tessel {

std::string system_error_text(unsigned long code)
{
    unique_local_memory buffer;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<char*>(buffer.put()), 0, nullptr);
    if (length == 0 || !buffer)
        return std::string();
    try {
        std::string text(static_cast<const char*>(buffer.get()), length);
        // Drop the line end; a message without one keeps all of its text.
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        return text;
    } catch (...) {
        return std::string();
    }
}

} // namespace tessel
