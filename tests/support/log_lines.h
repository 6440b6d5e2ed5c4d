// Splits a log (file bytes or console output) into its lines' level markers
// and texts, checking each line's stamp on the way.
#pragma once

#include <string>
#include <vector>

struct log_line {
    char marker = 0;
    std::string text;
};

// Lines end with CR LF; a byte-order mark at the start is skipped. A line
// whose stamp is not "YYYY/MM/DD hh:mm:ss M  " is returned with marker '?'.
std::vector<log_line> parse_log(const std::string& bytes);
std::vector<std::string> texts_of(const std::vector<log_line>& lines);
bool has_text(const std::vector<log_line>& lines, const std::string& text);
