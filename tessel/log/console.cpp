#include <cstdio>

#include "tessel/log/log.h"
#include "tessel/unicode/unicode.h"

namespace tessel::log {

namespace {

constexpr int utf8 = 65001;

std::string oem_or_question_mark(wchar_t character)
{
    try {
        return unicode::to_narrow(std::wstring(1, character), CP_OEMCP, true);
    } catch (const unicode::generic&) {
        return "?";
    }
}

// The console shows the OEM code page. A line it cannot show whole is built
// character by character, so only the characters it lacks are lost.
std::string oem_text(const std::wstring& text)
{
    std::string converted;
    try {
        converted = unicode::to_narrow(text, CP_OEMCP, true);
    } catch (const unicode::generic&) {
    }
    if (converted.empty()) {
        for (wchar_t character : text)
            converted += oem_or_question_mark(character);
    }
    return converted;
}

} // namespace

void console::write(int, const std::string& stamp, const std::string& text)
{
    // One call for the whole line, so that lines of threads writing to the
    // same standard output outside the log do not cut into it.
    const std::string line = stamp + oem_text(unicode::to_wide(text, utf8)) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

} // namespace tessel::log
