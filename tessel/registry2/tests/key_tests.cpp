// What the layer reads, writes, lists and deletes, checked with plain
// registry calls.
#include "scratch.h"

#include <set>
#include <vector>

#include "tessel/registry2/key.h"
#include "tessel/unicode/unicode.h"

using tessel::registry2::key;
using tessel::registry2::up_to_first_nul;

namespace {

const REGSAM read_write_create = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

std::wstring raw_text(HKEY handle, const std::wstring& name, DWORD& type)
{
    DWORD bytes = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(handle, name.c_str(), nullptr, &type, nullptr, &bytes));
    std::vector<BYTE> data(bytes);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(handle, name.c_str(), nullptr, &type, data.data(), &bytes));
    return std::wstring(reinterpret_cast<const wchar_t*>(data.data()), bytes / sizeof(wchar_t));
}

} // namespace

TEST_F(scratch, a_key_that_may_only_be_read_is_opened_read_only)
{
    const raw_key locked = raw_create(raw.get(), L"locked");
    raw_set_text(locked.get(), L"text", REG_SZ, L"kept");
    restrict_access(locked.get(), L"D:P(A;;KR;;;WD)");
    // The system really refuses the rights asked for first, and grants reading.
    ASSERT_EQ(ERROR_ACCESS_DENIED, raw_open_status(raw.get(), L"locked", read_write_create));
    ASSERT_EQ(ERROR_SUCCESS, raw_open_status(raw.get(), L"locked", KEY_READ));

    const key k(raw.get());
    const key opened = k.open(L"locked", false);
    const key copied(opened);
    const key from_handle(locked.get());
    for (const key* read_only : {&opened, &copied, &from_handle}) {
        EXPECT_EQ(L"kept", read_only->read_string(L"text"));
        EXPECT_EQ(std::set<std::wstring>{L"text"}, read_only->value_names());
        expect_raise([&] { read_only->write_string(L"text", L"changed"); }, "registry2.value_error",
                     "RegSetValueEx() failed: value \"text\" (5)");
    }
    DWORD type = 0;
    EXPECT_EQ(L"kept", raw_text(locked.get(), L"text", type));
}

TEST_F(scratch, a_key_on_a_read_only_handle_is_reopened_for_writing)
{
    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &handle));
    const raw_key read_only(handle);
    ASSERT_EQ(ERROR_ACCESS_DENIED, RegSetValueExW(handle, L"v", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), 2));

    const key k(read_only.get());
    k.write_dword(L"v", 7);
    k.open(L"sub", true);
    EXPECT_EQ(7u, k.read_dword(L"v"));
    EXPECT_TRUE(raw_exists(raw.get(), L"sub"));
}

TEST_F(scratch, writes_store_what_plain_reads_find)
{
    const key k(raw.get());
    k.write_dword(L"s", 5); // replaced by a string below, whatever its type
    k.write_string(L"s", L"text \x00e9");
    k.write_string(L"empty", L"");
    k.write_dword(L"d", 0xFEDCBA98u);

    DWORD type = 0;
    EXPECT_EQ(std::wstring(L"text \x00e9", 7), raw_text(raw.get(), L"s", type)) << "stored with its terminator";
    EXPECT_EQ(DWORD(REG_SZ), type);
    EXPECT_EQ(std::wstring(1, L'\0'), raw_text(raw.get(), L"empty", type));
    DWORD number = 0, bytes = sizeof number;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(raw.get(), L"d", nullptr, &type, reinterpret_cast<BYTE*>(&number), &bytes));
    EXPECT_EQ(DWORD(REG_DWORD), type);
    EXPECT_EQ(4u, bytes);
    EXPECT_EQ(0xFEDCBA98u, number);

    EXPECT_EQ(L"text \x00e9", k.read_string(L"s"));
    EXPECT_EQ(L"", k.read_string(L"empty"));
    EXPECT_EQ(0xFEDCBA98u, k.read_dword(L"d"));

    k.remove_value(L"d");
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(raw.get(), L"d", nullptr, nullptr, nullptr, nullptr));
}

struct stored_text
{
    const char* what;
    DWORD type;
    std::vector<BYTE> data;
    std::wstring expected;
};

std::vector<BYTE> bytes_of(const std::wstring& text)
{
    const BYTE* first = reinterpret_cast<const BYTE*>(text.data());
    return std::vector<BYTE>(first, first + text.size() * sizeof(wchar_t));
}

TEST_F(scratch, strings_read_back_whole_without_one_terminator)
{
    SetEnvironmentVariableW(L"REGISTRY2_TEST", L"C:\\here");
    std::vector<BYTE> odd = bytes_of(L"ab");
    odd.push_back('c');
    const stored_text cases[] = {
        {"with terminator", REG_SZ, bytes_of(std::wstring(L"abc", 4)), L"abc"},
        {"without terminator", REG_SZ, bytes_of(L"abc"), L"abc"},
        {"two terminators: one goes", REG_SZ, bytes_of(std::wstring(L"abc\0", 5)), std::wstring(L"abc", 4)},
        {"no data", REG_SZ, {}, L""},
        {"a stray odd byte", REG_SZ, odd, L"ab"},
        {"plain text is not expanded", REG_SZ, bytes_of(std::wstring(L"%REGISTRY2_TEST%", 17)),
         L"%REGISTRY2_TEST%"},
        {"expanded", REG_EXPAND_SZ, bytes_of(std::wstring(L"%REGISTRY2_TEST%\\x", 19)), L"C:\\here\\x"},
        {"expanded without terminator", REG_EXPAND_SZ, bytes_of(L"[%REGISTRY2_TEST%]"), L"[C:\\here]"},
        {"unknown variable stays", REG_EXPAND_SZ, bytes_of(std::wstring(L"%REGISTRY2_NOT_SET%", 20)),
         L"%REGISTRY2_NOT_SET%"},
    };
    const key k(raw.get());
    for (const stored_text& c : cases) {
        SCOPED_TRACE(c.what);
        raw_set(raw.get(), L"v", c.type, c.data.data(), DWORD(c.data.size()));
        EXPECT_EQ(c.expected, k.read_string(L"v"));
    }
}

// The key hands back what is stored; what a path is made of is what a system
// call would see of it: the text up to its first NUL.
TEST_F(scratch, a_text_used_as_a_path_ends_at_its_first_nul)
{
    const stored_text cases[] = {
        {"one terminator", REG_SZ, bytes_of(std::wstring(L"C:\\P\\", 6)), L"C:\\P\\"},
        {"a doubled terminator", REG_SZ, bytes_of(std::wstring(L"C:\\P\\\0", 7)), L"C:\\P\\"},
        {"text hidden behind a NUL", REG_SZ, bytes_of(std::wstring(L"C:\\Data\\thesis.docx\0\\P\\", 23)),
         L"C:\\Data\\thesis.docx"},
        {"a NUL first", REG_SZ, bytes_of(std::wstring(L"\0C:\\P", 6)), L""},
        {"expandable, doubled terminator", REG_EXPAND_SZ, bytes_of(std::wstring(L"C:\\x.exe\0", 10)), L"C:\\x.exe"},
    };
    const key k(raw.get());
    for (const stored_text& c : cases) {
        SCOPED_TRACE(c.what);
        raw_set(raw.get(), L"v", c.type, c.data.data(), DWORD(c.data.size()));
        EXPECT_EQ(c.expected, up_to_first_nul(k.read_string(L"v")));
        EXPECT_EQ(tessel::unicode::to_narrow(c.expected, CP_ACP, true), up_to_first_nul(k.read_string(std::string("v"))));
    }
}

// The system expands at most 32766 characters, and it cuts a longer source
// silently: a text it cannot expand whole raises instead of coming back cut.
TEST_F(scratch, an_expansion_too_long_for_the_system_raises)
{
    const std::wstring big(32000, L'b');
    ASSERT_TRUE(SetEnvironmentVariableW(L"BIG", big.c_str()));
    const key k(raw.get());
    const std::string too_long = "ExpandEnvironmentStrings() failed: value \"v\" (122)";
    auto store = [&](const std::wstring& text) { raw_set_text(raw.get(), L"v", REG_EXPAND_SZ, text + L'\0'); };

    store(L"%BIG%" + std::wstring(766, L'x'));
    EXPECT_EQ(big + std::wstring(766, L'x'), k.read_string(L"v"));

    for (size_t tail : {767u, 768u, 9000u}) {
        SCOPED_TRACE(tail);
        store(L"%BIG%" + std::wstring(tail, L'x'));
        try {
            const std::wstring text = k.read_string(L"v");
            // Only a system that expands 32767 characters may answer, and whole.
            EXPECT_EQ(767u, tail);
            EXPECT_EQ(big + std::wstring(tail, L'x'), text);
        } catch (const tessel::registry2::value_error& e) {
            EXPECT_EQ(too_long, e.message());
        }
    }

    // 32767 characters that would expand to fewer: the system would drop the last.
    ASSERT_TRUE(SetEnvironmentVariableW(L"SHORT", L"s"));
    store(L"%SHORT%" + std::wstring(32760, L'y'));
    expect_raise([&] { k.read_string(L"v"); }, "registry2.value_error", too_long);
    store(std::wstring(40000, L'y'));
    EXPECT_EQ(std::wstring(40000, L'y'), k.read_string(L"v")) << "a text without variables needs no expansion";
}

TEST_F(scratch, narrow_reads_convert_name_and_text_with_the_ansi_code_page)
{
    if (GetACP() != 1252)
        GTEST_SKIP() << "written for code page 1252, not " << GetACP();
    raw_set_text(raw.get(), L"Caf\x00e9", REG_SZ, std::wstring(L"na\x00efve", 6));
    raw_set_text(raw.get(), L"wide", REG_SZ, L"\x4E2D");
    const key k(raw.get());
    EXPECT_EQ("na\xefve", k.read_string(std::string("Caf\xe9")));
    EXPECT_THROW(k.read_string(std::string("wide")), tessel::unicode::unmappable_character);
}

TEST_F(scratch, listings_are_in_plain_character_order)
{
    const std::wstring longest_key(256, L'k'), long_value(259, L'v');
    // Names differ in more than letter case: the registry ignores it.
    const std::set<std::wstring> subkeys{L"b2", L"B1", L"a", L"_x", L"Z", L"\x00e9", longest_key};
    const std::set<std::wstring> values{L"", L"b2", L"B1", L"_x", long_value};
    for (const std::wstring& name : subkeys)
        raw_create(raw.get(), name);
    for (const std::wstring& name : values)
        raw_set_text(raw.get(), name, REG_SZ, L"x");
    raw_create(raw.get(), L"empty");

    const key k(raw.get());
    const std::set<std::wstring> subkey_names = k.subkey_names();
    EXPECT_EQ(std::vector<std::wstring>({L"B1", L"Z", L"_x", L"a", L"b2", L"empty", longest_key, L"\x00e9"}),
              std::vector<std::wstring>(subkey_names.begin(), subkey_names.end()));
    EXPECT_EQ(values, k.value_names());
    const key empty = k.open(L"empty", false);
    EXPECT_TRUE(empty.subkey_names().empty());
    EXPECT_TRUE(empty.value_names().empty());
}

TEST_F(scratch, copies_are_independent_handles_on_the_same_key)
{
    const key k(raw.get());
    k.write_dword(L"here", 1);
    key copy = [&] {
        const key original = k.open(L"", false);
        key second(original);
        EXPECT_NE(original.handle(), second.handle());
        return second;
    }(); // the original is closed here
    EXPECT_EQ(1u, copy.read_dword(L"here"));

    copy = k.open(L"other", true);
    copy.write_dword(L"there", 2);
    DWORD number = 0, bytes = sizeof number;
    const raw_key other = raw_create(raw.get(), L"other");
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(other.get(), L"there", nullptr, nullptr, reinterpret_cast<BYTE*>(&number), &bytes));
    EXPECT_EQ(2u, number);
}

TEST_F(scratch, create_makes_missing_parents)
{
    const key k(raw.get());
    const key made = k.open(L"a\\b\\c", true);
    made.write_string(L"v", L"x");
    EXPECT_TRUE(raw_exists(raw.get(), L"a\\b\\c"));
    EXPECT_EQ(L"x", k.open(L"a\\b\\c", false).read_string(L"v"));
    EXPECT_EQ(L"x", k.open(L"a\\b\\c", true).read_string(L"v")) << "create opens what is there";
}

TEST_F(scratch, recursive_removal_takes_a_deep_subtree_and_nothing_else)
{
    // 100 levels, each with a value and two leaves of its own.
    std::wstring level = L"tree";
    for (int depth = 0; depth < 100; ++depth) {
        const raw_key made = raw_create(raw.get(), level);
        raw_set_text(made.get(), L"v", REG_SZ, L"x");
        raw_create(made.get(), L"leaf a");
        raw_create(made.get(), L"leaf b");
        level += L"\\level " + std::to_wstring(depth);
    }
    raw_create(raw.get(), L"tree sibling\\child");

    const key k(raw.get());
    expect_raise([&] { k.remove_key(L"tree", false); }, "registry2.key_error",
                 "RegDeleteKey() failed: key \"tree\" (5)");
    EXPECT_TRUE(raw_exists(raw.get(), level.substr(0, level.rfind(L'\\')))) << "refused without touching the subtree";

    k.remove_key(L"tree", true);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, raw_open_status(raw.get(), L"tree", KEY_READ));
    EXPECT_TRUE(raw_exists(raw.get(), L"tree sibling\\child"));

    k.remove_key(L"tree sibling\\child", false);
    EXPECT_FALSE(raw_exists(raw.get(), L"tree sibling\\child"));
    EXPECT_TRUE(raw_exists(raw.get(), L"tree sibling"));
}

TEST_F(scratch, recursive_removal_stops_at_the_first_failure)
{
    raw_create(raw.get(), L"tree\\a\\deeper");
    const raw_key sealed = raw_create(raw.get(), L"tree\\b");
    restrict_access(sealed.get(), L"D:P");
    raw_create(raw.get(), L"tree\\c");

    const key k(raw.get());
    expect_raise([&] { k.remove_key(L"tree", true); }, "registry2.key_error", "RegOpenKeyEx() failed: key \"b\" (5)");
    EXPECT_FALSE(raw_exists(raw.get(), L"tree\\a")) << "what went before stays gone";
    EXPECT_EQ(ERROR_ACCESS_DENIED, raw_open_status(raw.get(), L"tree\\b", KEY_READ));
    EXPECT_TRUE(raw_exists(raw.get(), L"tree\\c"));
}

TEST_F(scratch, an_empty_name_never_removes_the_key_itself)
{
    raw_create(raw.get(), L"child");
    const key k(raw.get());
    expect_raise([&] { k.remove_key(L"", true); }, "registry2.key_error", "RegDeleteKey() failed: key \"\" (87)");
    EXPECT_TRUE(raw_exists(raw.get(), L"child"));
}
