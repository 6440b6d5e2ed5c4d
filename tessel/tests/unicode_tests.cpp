// Code page conversions and their failures, and character-set names.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "tessel/unicode/unicode.h"

using namespace tessel::unicode;

namespace {

struct to_wide_case
{
    std::string narrow;
    int codepage;
    std::wstring wide;
};

TEST(to_wide, converts)
{
    const to_wide_case cases[] = {
        {"", 99, L""},  // empty text never reaches the system, whatever the code page
        {"plain", 0, L"plain"},
        {"\xc3\xa9", 65001, L"\u00e9"},
        {"\xc3", 65001, L"\ufffd"},  // UTF-8 takes no error flag: substituted, not raised
        {"+AOk-", 65000, L"\u00e9"},  // UTF-7 neither
        {"\x80\xe9", 1252, L"\u20ac\u00e9"},
        {"\x82\xa0", 932, L"\u3042"},
        {"\x80\xff\x01", -1, L"\u0080\u00ff\u0001"},
        {std::string("a\0b", 3), 0, std::wstring(L"a\0b", 3)},
    };
    for (const to_wide_case& c : cases)
        EXPECT_EQ(c.wide, to_wide(c.narrow, c.codepage)) << c.codepage << " " << c.narrow;
}

TEST(to_wide, byte_mapping_covers_every_byte)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    const std::wstring wide = to_wide(all, -1);
    ASSERT_EQ(256u, wide.size());
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(wchar_t(b), wide[b]);
    EXPECT_EQ(all, to_narrow(wide, -1, true));
}

TEST(to_wide, failures)
{
    EXPECT_THROW(to_wide("text", 99), invalid_codepage);
    // A lead byte without its trail byte in Shift-JIS.
    EXPECT_THROW(to_wide("ab\x82", 932), unmappable_character);
    try {
        to_wide("x", 12345);
        FAIL() << "nothing raised";
    } catch (const generic& e) {
        EXPECT_STREQ("unicode.invalid_codepage[]", e.what());
    }
}

struct to_narrow_case
{
    std::wstring wide;
    int codepage;
    bool strict;
    std::string narrow;
};

TEST(to_narrow, converts)
{
    ASSERT_EQ(437u, GetOEMCP());
    const to_narrow_case cases[] = {
        {L"", 99, true, ""},
        {L"\u00e9", -1, true, "\xe9"},
        {L"\u00e9", 65001, true, "\xc3\xa9"},
        {L"\u00e9", 65000, true, "+AOk-"},  // no used-default flag for UTF-7
        {L"\xd800", 65001, true, "\xef\xbf\xbd"},  // lone surrogate: substituted, even strict
        {L"\u20ac\u00e9", 0, true, "\x80\xe9"},
        {L"\u00e9", 1, true, "\x82"},
        {L"a\u4e2db", 1, false, "a?b"},  // the code page's default character
        {L"\u3042", 932, true, "\x82\xa0"},
    };
    for (const to_narrow_case& c : cases)
        EXPECT_EQ(c.narrow, to_narrow(c.wide, c.codepage, c.strict)) << c.codepage;
}

TEST(to_narrow, failures)
{
    EXPECT_THROW(to_narrow(L"\u0100", -1, false), unmappable_character);
    EXPECT_THROW(to_narrow(L"a\u4e2db", 1, true), unmappable_character);
    EXPECT_THROW(to_narrow(L"a\u4e2db", 0, true), unmappable_character);
    EXPECT_THROW(to_narrow(L"text", 99, false), invalid_codepage);
    try {
        to_narrow(L"\u4e2d", 1, true);
        FAIL() << "nothing raised";
    } catch (const tessel::exception& e) {
        EXPECT_STREQ("unicode.unmappable_character[]", e.what());
    }
}

struct name_case
{
    const char* name;
    int codepage;
};

TEST(codepage_from_name, names)
{
    const name_case cases[] = {
        // From the table, with letter case, "-" and "_" ignored.
        {"us-ascii", -1}, {"ASCII", -1}, {"Shift_JIS", 932}, {"ms_kanji", 932}, {"GB2312", 936},
        {"KS_C_5601-1987", 949}, {"Big5", 950}, {"koi8-r", 20866}, {"KOI8-U", 21866},
        {"x-mac-ce", 10029}, {"EUC-JP", 51932}, {"euc-kr", 51949}, {"ISO-2022-JP", 50221},
        {"GB18030", 54936}, {"UTF-8", 65001}, {"unicode-1-1-utf-7", 65000}, {"x-iscii-pa", 57011},
        {"iso646-us", 1252},
        // The first of two entries wins.
        {"ISO-IR-100", 1252},
        // The table comes before the prefixes.
        {"ISO-8859-8-I", 38598}, {"csISOLatinCyrillic", 28595}, {"csISOLatinHebrew", 28598},
        // ISO 8859 prefixes: the number plus 28590.
        {"latin2", 28592}, {"iso-8859-2", 28592}, {"ISO_8859-15", 28605}, {"csISOLatin5", 28595},
        {"latin", 28590}, {"iso8859-1:1987", 28591},
        // Prefixes followed by the code page itself.
        {"windows-1251", 1251}, {"CP850", 850}, {"IBM437", 437}, {"dos-866", 866}, {"cp", 0},
        {"windows", 0}, {"cp99999999999999", 999999999},
        // Unknown.
        {"utf-16", -1}, {"nonsense", -1}, {"", -1}, {"-_-", -1},
    };
    for (const name_case& c : cases)
        EXPECT_EQ(c.codepage, codepage_from_name(c.name)) << c.name;
}

} // namespace
