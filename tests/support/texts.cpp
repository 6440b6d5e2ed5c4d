#include "texts.h"

std::string narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

std::vector<std::string> narrow_lines(const std::vector<std::wstring>& texts)
{
    std::vector<std::string> result;
    for (const std::wstring& text : texts)
        result.push_back(narrow(text));
    return result;
}

::testing::AssertionResult in_order(const std::vector<std::string>& texts, const std::vector<std::string>& expected)
{
    size_t at = 0;
    for (const std::string& line : expected) {
        while (at < texts.size() && texts[at] != line)
            ++at;
        if (at == texts.size())
            return ::testing::AssertionFailure() << "missing, or out of order: \"" << line << "\"";
        ++at;
    }
    return ::testing::AssertionSuccess();
}
