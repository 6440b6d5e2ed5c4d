#include "installer_db/packed_guid.h"

#include <cstddef>

namespace {

constexpr std::size_t digit_count = 32;

// Position in the GUID's reading order of each packed digit: the first three
// fields reversed, the last sixteen digits swapped pair by pair. Applying it
// twice gives the identity, so packing and unpacking are the same reordering.
constexpr std::size_t packed_order[digit_count] = {
    7,  6,  5,  4,  3,  2,  1,  0,   // first field
    11, 10, 9,  8,                   // second field
    15, 14, 13, 12,                  // third field
    17, 16, 19, 18, 21, 20, 23, 22,  // the rest, pair by pair
    25, 24, 27, 26, 29, 28, 31, 30,
};

wchar_t upper(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? wchar_t(c - L'a' + L'A') : c;
}

bool is_digit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F');
}

// The first 32 hexadecimal digits of the text, upper-cased, in their order;
// empty when there are fewer.
std::wstring digits_of(const std::wstring& text)
{
    std::wstring digits;
    digits.reserve(digit_count);
    for (wchar_t c : text) {
        c = upper(c);
        if (!is_digit(c))
            continue;
        digits.push_back(c);
        if (digits.size() == digit_count)
            return digits;
    }
    return {};
}

} // namespace

std::wstring pack_guid(const std::wstring& guid)
{
    const std::wstring digits = digits_of(guid);
    if (digits.empty())
        return {};
    std::wstring packed(digit_count, L'0');
    for (std::size_t i = 0; i < digit_count; ++i)
        packed[i] = digits[packed_order[i]];
    return packed;
}

std::wstring unpack_guid(const std::wstring& packed)
{
    std::wstring text = pack_guid(packed);
    if (text.empty())
        return {};
    text = L"{" + text + L"}";
    for (std::size_t position : {9, 14, 19, 24})
        text.insert(position, 1, L'-');
    return text;
}

bool is_braced_guid(const std::wstring& text)
{
    if (text.size() != 38 || text.front() != L'{' || text.back() != L'}')
        return false;
    for (std::size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? text[i] != L'-' : !is_digit(upper(text[i])))
            return false;
    }
    return true;
}
