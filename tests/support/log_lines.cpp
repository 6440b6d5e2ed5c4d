#include "log_lines.h"

#include <algorithm>
#include <cctype>

namespace {

bool stamp_shape_ok(const std::string& line)
{
    // "2026/12/10 02:59:47 X  "
    static const char shape[] = "dddd/dd/dd dd:dd:dd ?  ";
    if (line.size() < sizeof shape - 1)
        return false;
    for (size_t i = 0; i + 1 < sizeof shape; ++i) {
        if (shape[i] == 'd' && !std::isdigit(static_cast<unsigned char>(line[i])))
            return false;
        if (shape[i] != 'd' && shape[i] != '?' && shape[i] != line[i])
            return false;
    }
    return true;
}

} // namespace

std::vector<log_line> parse_log(const std::string& bytes)
{
    std::string data = bytes.rfind("\xEF\xBB\xBF", 0) == 0 ? bytes.substr(3) : bytes;
    std::vector<log_line> lines;
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find("\r\n", start);
        std::string line = data.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? data.size() : end + 2;
        if (stamp_shape_ok(line))
            lines.push_back({line[20], line.substr(23)});
        else
            lines.push_back({'?', line});
    }
    return lines;
}

std::vector<std::string> texts_of(const std::vector<log_line>& lines)
{
    std::vector<std::string> texts;
    for (const log_line& line : lines)
        texts.push_back(line.text);
    return texts;
}

bool has_text(const std::vector<log_line>& lines, const std::string& text)
{
    return std::any_of(lines.begin(), lines.end(), [&](const log_line& l) { return l.text == text; });
}
