// Exceptions: categories and what texts, the wide twin's narrow forms,
// formatting of any length, and system message texts.
#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tessel/exception.h"
#include "tessel/format.h"
#include "tessel/reference_counting/strong_ptr.h"
#include "tessel/system_error_text.h"
#include "tessel/unicode/unicode.h"
#include "tessel/variant.h"

namespace {

struct category_case
{
    std::function<void()> raise;
    const char* category;
    const char* what;
};

TEST(exception, category_and_what_of_every_class)
{
    const category_case cases[] = {
        {[] { throw tessel::exception(std::string("plain")); }, "", "[plain]"},
        {[] { throw tessel::exception_w(std::wstring(L"wide")); }, "", "[wide]"},
        {[] { throw tessel::unicode::generic("m"); }, "unicode", "unicode[m]"},
        {[] { throw tessel::unicode::out_of_memory(""); }, "unicode.out_of_memory", "unicode.out_of_memory[]"},
        {[] { throw tessel::unicode::invalid_codepage(tessel::format("codepage %d is not supported", 99)); },
         "unicode.invalid_codepage", "unicode.invalid_codepage[codepage 99 is not supported]"},
        {[] { throw tessel::unicode::unmappable_character("x"); }, "unicode.unmappable_character",
         "unicode.unmappable_character[x]"},
        {[] { throw tessel::variant::generic("bad value"); }, "variant", "variant[bad value]"},
        {[] { throw tessel::reference_counting::generic("null pointer in dereference"); }, "generic",
         "generic[null pointer in dereference]"},
    };
    for (const category_case& c : cases) {
        try {
            c.raise();
            ADD_FAILURE() << "nothing raised for " << c.what;
        } catch (const std::exception& e) {
            // Caught as the standard base: the virtual accessors still answer.
            const auto& ours = dynamic_cast<const tessel::exception&>(e);
            EXPECT_EQ(c.category, ours.category());
            EXPECT_STREQ(c.what, e.what());
            EXPECT_STREQ(c.what, e.what()) << "a second what() gives the same text";
        }
    }
}

TEST(exception, printf_form_formats_and_string_form_does_not)
{
    EXPECT_STREQ("[OpenMutex returned 0x00000006]", tessel::exception("OpenMutex returned 0x%08x", 6u).what());
    EXPECT_STREQ("[100% and %s]", tessel::exception(std::string("100% and %s")).what());
    // A derived class takes its message as it is: a '%' in a key name stays.
    EXPECT_STREQ("unicode[%d%n]", tessel::unicode::generic("%d%n").what());
}

TEST(exception, copies_keep_message_and_category)
{
    tessel::unicode::invalid_codepage original("cp 7");
    tessel::unicode::invalid_codepage copy = original;
    EXPECT_STREQ("unicode.invalid_codepage[cp 7]", copy.what());
    EXPECT_EQ("cp 7", copy.message());
}

TEST(exception_w, wide_texts_and_narrow_forms_in_ansi_code_page)
{
    ASSERT_EQ(1252u, GetACP());
    const std::wstring message = L"caf\u00e9 \u4e2d key";
    try {
        throw tessel::exception_w(message);
    } catch (const tessel::exception_w& e) {
        EXPECT_EQ(L"[" + message + L"]", e.what_w());
        EXPECT_EQ(message, e.message_w());
        EXPECT_EQ(L"", e.category_w());
        // The character that code page 1252 lacks becomes its default character.
        EXPECT_STREQ("[caf\xe9 ? key]", e.what());
        EXPECT_EQ("caf\xe9 ? key", e.message());
        EXPECT_EQ("", e.category());
    }
}

TEST(exception_w, narrow_accessors_answer_before_what)
{
    tessel::exception_w e(std::wstring(L"first"));
    EXPECT_EQ("first", e.message());
    tessel::exception_w copy = e;
    EXPECT_STREQ("[first]", copy.what());
}

TEST(exception_w, printf_form_takes_wide_s_and_narrow_capital_s)
{
    tessel::exception_w e(L"%s in %S (%i)", L"key", "narrow", 5);
    EXPECT_STREQ(L"[key in narrow (5)]", e.what_w());
    EXPECT_STREQ("[key in narrow (5)]", e.what());
}

TEST(format, whole_text_at_every_length_around_the_buffer_doublings)
{
    for (size_t length : {0u, 1u, 1023u, 1024u, 1025u, 2047u, 2048u, 2049u, 5000u, 70000u}) {
        const std::string narrow(length, 'n');
        const std::wstring wide(length, L'w');
        EXPECT_EQ("<" + narrow + ">", tessel::format("<%s>", narrow.c_str())) << length;
        EXPECT_EQ(L"<" + wide + L">", tessel::format(L"<%s>", wide.c_str())) << length;
    }
}

TEST(format, microsoft_runtime_conversions)
{
    // Wide form: %s is wide, %S narrow; narrow form: %S is wide.
    EXPECT_EQ(L"wide|narrow|7", tessel::format(L"%s|%S|%d", L"wide", "narrow", 7));
    EXPECT_EQ("narrow|wide", tessel::format("%s|%S", "narrow", L"wide"));
    EXPECT_EQ("0000002a 2A 1099511627776", tessel::format("%08x %X %I64u", 42u, 42u, 1099511627776ULL));
}

TEST(format, wide_argument_without_narrow_form_ends_with_the_text_before_it)
{
    // The runtime reports the failed conversion like a truncation; no buffer
    // size cures it, so the doubling must stop.
    EXPECT_EQ("before ", tessel::format("before %S after", L"\u4e2d"));
}

TEST(system_error_text, message_without_line_end)
{
    const std::string text = tessel::system_error_text(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    EXPECT_NE('\n', text.back());
    EXPECT_NE('\r', text.back());
    EXPECT_EQ("File not found.", text) << "Wine's text for error 2";
}

TEST(system_error_text, unknown_code_gives_empty_text)
{
    EXPECT_EQ("", tessel::system_error_text(0x12345));
}

} // namespace
