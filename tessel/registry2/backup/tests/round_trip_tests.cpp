// Round trips: what the writer saved is deleted and put back by the system's
// own `reg import FILE /reg:64`, then compared byte for byte, type and data,
// with what was there, read through the registry API.
//
// Windows' reg import gives every value below back exactly: the file carries
// each one's bytes. Wine's differs in two ways, shown here as what they are
// rather than hidden, beside a check that the file holds the bytes as they
// were (what Windows' import stores):
// - string data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, written as hex(1),
//   hex(2), hex(7)) whose last whole character is not NUL gets a NUL character
//   added: an unterminated string comes back terminated;
// - for such data of odd length that NUL character overwrites the odd byte and
//   one byte of whatever follows in Wine's buffer comes after it.
#include <gtest/gtest.h>

#include <algorithm>

#include "support.h"
#include "tessel/registry2/backup/backup.h"

using namespace tessel::registry2::backup;
using tessel::registry2::view;

namespace {

// What Wine's reg import gives back of a value.
enum class under_wine
{
    exact,
    terminator_added,
    odd_byte_overwritten,
};

struct value_case
{
    const char* label;
    std::wstring name;
    stored value;
    under_wine wine = under_wine::exact;
};

void PrintTo(const value_case& c, std::ostream* out)
{
    *out << c.label;
}

std::vector<BYTE> text(const wchar_t* chars, std::size_t count)
{
    return bytes_of(std::wstring(chars, count));
}

std::vector<BYTE> repeated(std::size_t count)
{
    std::vector<BYTE> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = BYTE(i * 7 + 1);
    return bytes;
}

const std::vector<value_case>& value_cases()
{
    static const std::vector<value_case> cases = {
        {"sz", L"sz", {REG_SZ, text(L"text\0", 5)}},
        {"sz_empty_terminated", L"sz empty", {REG_SZ, text(L"\0", 1)}},
        {"sz_no_bytes", L"sz no bytes", {REG_SZ, {}}},
        {"sz_inner_nul", L"sz inner nul", {REG_SZ, text(L"ab\0cd\0", 6)}},
        {"sz_doubled_terminator", L"sz doubled", {REG_SZ, text(L"ab\0\0", 4)}},
        {"sz_line_breaks", L"sz lines", {REG_SZ, text(L"one\r\ntwo\nthree\0", 15)}},
        {"sz_quotes_backslashes", L"sz quotes", {REG_SZ, text(L"C:\\dir\\\"q\" \\\0", 13)}},
        {"sz_outside_ascii", L"sz unicode", {REG_SZ, text(L"Gr\u00FC\u00DFe \u65E5\u672C \U0001F600\0", 12)}},
        {"sz_unterminated", L"sz unterminated", {REG_SZ, text(L"abc", 3)}, under_wine::terminator_added},
        {"sz_odd_length", L"sz odd", {REG_SZ, bytes_of({'a', 0, 'b', 0, 'c'})}, under_wine::odd_byte_overwritten},
        {"sz_odd_length_after_nul", L"sz odd after nul", {REG_SZ, bytes_of({'a', 0, 0, 0, 'c'})}},
        {"expand_sz", L"expand", {REG_EXPAND_SZ, text(L"%SystemRoot%\\x\0", 15)}},
        {"expand_sz_inner_nul", L"expand inner nul", {REG_EXPAND_SZ, text(L"%A%\0%B%\0", 8)}},
        {"expand_sz_doubled_terminator", L"expand doubled", {REG_EXPAND_SZ, text(L"%A%\0\0", 5)}},
        {"expand_sz_unterminated", L"expand unterminated", {REG_EXPAND_SZ, text(L"%A%", 3)},
         under_wine::terminator_added},
        {"expand_sz_odd_length", L"expand odd", {REG_EXPAND_SZ, bytes_of({'%', 0, 'A', 0, '%'})},
         under_wine::odd_byte_overwritten},
        {"multi_sz", L"multi", {REG_MULTI_SZ, text(L"a\0bc\0\0", 6)}},
        {"multi_sz_empty_strings", L"multi empties", {REG_MULTI_SZ, text(L"a\0\0b\0\0\0", 7)}},
        {"multi_sz_only_terminator", L"multi terminator", {REG_MULTI_SZ, text(L"\0", 1)}},
        {"multi_sz_no_bytes", L"multi no bytes", {REG_MULTI_SZ, {}}},
        {"multi_sz_unterminated", L"multi unterminated", {REG_MULTI_SZ, text(L"a\0b", 3)},
         under_wine::terminator_added},
        {"dword", L"dword", {REG_DWORD, bytes_of({0x78, 0x56, 0x34, 0x12})}},
        {"dword_2_bytes", L"dword 2", {REG_DWORD, bytes_of({0x34, 0x12})}},
        {"dword_8_bytes", L"dword 8", {REG_DWORD, bytes_of({1, 2, 3, 4, 5, 6, 7, 8})}},
        {"dword_no_bytes", L"dword 0", {REG_DWORD, {}}},
        {"dword_big_endian", L"big endian", {REG_DWORD_BIG_ENDIAN, bytes_of({0x12, 0x34, 0x56, 0x78})}},
        {"qword", L"qword", {REG_QWORD, bytes_of({1, 2, 3, 4, 5, 6, 7, 0x80})}},
        {"qword_4_bytes", L"qword 4", {REG_QWORD, bytes_of({1, 2, 3, 4})}},
        {"qword_no_bytes", L"qword 0", {REG_QWORD, {}}},
        {"binary", L"binary", {REG_BINARY, bytes_of({0, 0xFF, 0x10})}},
        {"binary_empty", L"binary empty", {REG_BINARY, {}}},
        {"binary_long", L"binary long", {REG_BINARY, repeated(3000)}},
        {"none", L"none", {REG_NONE, bytes_of({1, 2})}},
        {"none_empty", L"none empty", {REG_NONE, {}}},
        {"link", L"link", {REG_LINK, text(L"\\Registry\\Machine\\x", 19)}},
        {"resource_list", L"resource list", {REG_RESOURCE_LIST, repeated(40)}},
        {"far_type", L"far type", {0x12345, bytes_of({9, 8, 7})}},
        {"default_value", L"", {REG_SZ, text(L"default\0", 8)}},
        {"name_with_quotes", L"say \"hi\"", {REG_DWORD, bytes_of({1, 0, 0, 0})}},
        {"name_with_backslashes", L"a\\b\\", {REG_DWORD, bytes_of({2, 0, 0, 0})}},
        {"name_outside_ascii", L"Gr\u00FC\u00DFe \u65E5\u672C \U0001F600", {REG_DWORD, bytes_of({3, 0, 0, 0})}},
        {"name_at_sign", L"@", {REG_DWORD, bytes_of({4, 0, 0, 0})}},
        {"name_brackets_equals", L"[x]=y;z", {REG_DWORD, bytes_of({5, 0, 0, 0})}},
        {"name_spaces", L"  spaced  ", {REG_DWORD, bytes_of({6, 0, 0, 0})}},
    };
    return cases;
}

const wchar_t values_key[] = L"SOFTWARE\\backup_round_trip";

// The bytes of the hex line of the value `name` (a name without quotes or
// backslashes) in a file's text, read as regedit reads them.
std::optional<std::vector<BYTE>> hex_bytes(const std::wstring& file, const std::wstring& name)
{
    std::size_t at = file.find(L"\r\n\"" + name + L"\"=hex");
    if (at == std::wstring::npos || (at = file.find(L':', at)) == std::wstring::npos)
        return std::nullopt;
    std::vector<BYTE> bytes;
    for (++at; at + 1 < file.size() && file.compare(at, 2, L"\r\n") != 0;) {
        if (file.compare(at, 5, L"\\\r\n  ") == 0 || file[at] == L',') {
            at += file[at] == L',' ? 1 : 5;
            continue;
        }
        bytes.push_back(BYTE(std::stoul(file.substr(at, 2), nullptr, 16)));
        at += 2;
    }
    return bytes;
}

// What the writer answered and what came back, per value, from one file
// imported once.
struct value_trip
{
    outcome saved = outcome::absent;
    bool deleted = false;
    // The bytes of the value's hex line in the file, where it has one.
    std::optional<std::vector<BYTE>> in_file;
    std::optional<stored> restored;
};

class value_round_trip : public ::testing::TestWithParam<value_case>
{
public:
    static void SetUpTestSuite()
    {
        trips().clear();
        const tessel::unique_hkey key = create_key(HKEY_LOCAL_MACHINE, values_key, KEY_WOW64_64KEY);
        for (const value_case& c : value_cases())
            raw_set(key.get(), c.name, c.value.type, c.value.bytes.data(), DWORD(c.value.bytes.size()));
        writer file({fresh_folder(L"backup_values")}, now());
        for (const value_case& c : value_cases()) {
            trips()[c.label].saved = file.save_value(key.get(), c.name).status;
            trips()[c.label].deleted = RegDeleteValueW(key.get(), c.name.c_str()) == ERROR_SUCCESS;
        }
        const std::wstring written = file_text(file.path());
        for (const value_case& c : value_cases())
            trips()[c.label].in_file = hex_bytes(written, c.name);
        EXPECT_EQ(0u, reg_import(file.path()));
        for (const value_case& c : value_cases())
            trips()[c.label].restored = read_value(key.get(), c.name);
    }

    static void TearDownTestSuite() { delete_tree(HKEY_LOCAL_MACHINE, values_key, KEY_WOW64_64KEY); }

    static std::map<std::string, value_trip>& trips()
    {
        static std::map<std::string, value_trip> all;
        return all;
    }

    static SYSTEMTIME now()
    {
        SYSTEMTIME time;
        GetSystemTime(&time);
        return time;
    }
};

} // namespace

TEST_P(value_round_trip, comes_back_with_its_type_and_bytes)
{
    const value_case& c = GetParam();
    const value_trip& trip = trips()[c.label];
    EXPECT_EQ(outcome::saved, trip.saved);
    EXPECT_TRUE(trip.deleted);
    ASSERT_TRUE(trip.restored.has_value()) << "not restored";
    EXPECT_EQ(c.value.type, trip.restored->type);
    const std::vector<BYTE>& original = c.value.bytes;
    const std::vector<BYTE>& back = trip.restored->bytes;
    if (c.wine != under_wine::exact) {
        EXPECT_EQ(original, trip.in_file) << "the file must carry the bytes that Windows' import stores";
    }
    switch (c.wine) {
    case under_wine::exact:
        EXPECT_EQ(original, back);
        break;
    case under_wine::terminator_added: {
        std::vector<BYTE> terminated = original;
        terminated.insert(terminated.end(), {0, 0});
        EXPECT_EQ(terminated, back) << "Wine's import adds the terminator; Windows' gives the bytes as they were";
        break;
    }
    case under_wine::odd_byte_overwritten: {
        std::vector<BYTE> whole(original.begin(), original.end() - 1);
        whole.insert(whole.end(), {0, 0});
        ASSERT_EQ(original.size() + 2, back.size());
        EXPECT_EQ(whole, std::vector<BYTE>(back.begin(), back.end() - 1))
            << "Wine's import overwrites the odd byte; Windows' gives the bytes as they were";
        break;
    }
    }
}

INSTANTIATE_TEST_SUITE_P(kinds, value_round_trip, ::testing::ValuesIn(value_cases()),
                         [](const ::testing::TestParamInfo<value_case>& info) { return info.param.label; });

namespace {

// A subtree with names a .reg file must carry and values of every kind that
// every import gives back exactly.
void lay_tree(HKEY root, const std::wstring& path, REGSAM view)
{
    const std::vector<std::wstring> keys = {
        L"",
        L"quote\"d",
        L"close]bracket",
        L"[open",
        L"Gr\u00FC\u00DFe \u65E5\u672C \U0001F600",
        L"Gr\u00FC\u00DFe \u65E5\u672C \U0001F600\\deeper\\deepest",
        L"trailing space ",
        L"semi;colon=@",
        L"..",
        L"slash/in name",
        L"empty",
    };
    for (const std::wstring& relative : keys) {
        const tessel::unique_hkey key = create_key(root, relative.empty() ? path : path + L"\\" + relative, view);
        if (relative == L"empty")
            continue;
        const std::vector<std::pair<std::wstring, stored>> values = {
            {L"", {REG_SZ, text(L"default\0", 8)}},
            {L"sz \"q\" \\", {REG_SZ, text(L"C:\\x\\\"y\"\0", 9)}},
            {L"inner", {REG_SZ, text(L"a\0b\0", 4)}},
            {L"expand", {REG_EXPAND_SZ, text(L"%TEMP%\\x\0", 9)}},
            {L"multi", {REG_MULTI_SZ, text(L"a\0\0b\0\0", 6)}},
            {L"dword", {REG_DWORD, bytes_of({1, 2, 3, 4})}},
            {L"dword 8", {REG_DWORD, bytes_of({1, 2, 3, 4, 5, 6, 7, 8})}},
            {L"qword", {REG_QWORD, bytes_of({8, 7, 6, 5, 4, 3, 2, 1})}},
            {L"binary", {REG_BINARY, repeated(200)}},
            {L"empty", {REG_BINARY, {}}},
            {L"other", {0x42, bytes_of({1})}},
        };
        for (const auto& [name, value] : values)
            raw_set(key.get(), name, value.type, value.bytes.data(), DWORD(value.bytes.size()));
    }
}

struct key_case
{
    const char* label;
    HKEY root;
    std::wstring path;
    REGSAM flag;
    view in;
    // The key's name in the file, once the current user's SID is put in.
    std::wstring file_name;
};

std::vector<key_case> key_cases()
{
    const std::wstring me = current_user_sid();
    return {
        {"machine_64", HKEY_LOCAL_MACHINE, L"Software\\backup_keys", KEY_WOW64_64KEY, view::view_64,
         L"HKEY_LOCAL_MACHINE\\Software\\backup_keys"},
        {"machine_32", HKEY_LOCAL_MACHINE, L"Software\\backup_keys_32", KEY_WOW64_32KEY, view::view_32,
         L"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\backup_keys_32"},
        {"current_user", HKEY_CURRENT_USER, L"Software\\backup_keys", 0, view::default_view,
         L"HKEY_USERS\\" + me + L"\\Software\\backup_keys"},
        {"other_user", HKEY_USERS, L"S-1-5-21-1111-2222-3333-1001\\Software\\backup_keys", 0, view::default_view,
         L"HKEY_USERS\\S-1-5-21-1111-2222-3333-1001\\Software\\backup_keys"},
        {"classes", HKEY_CLASSES_ROOT, L"backup_keys_class", 0, view::default_view,
         L"HKEY_LOCAL_MACHINE\\Software\\Classes\\backup_keys_class"},
    };
}

std::size_t value_count(const tree& taken)
{
    std::size_t count = 0;
    for (const auto& [path, values] : taken)
        count += values.size();
    return count;
}

} // namespace

class key_round_trip_by : public ::testing::TestWithParam<importer>
{
};

TEST_P(key_round_trip_by, every_key_comes_back_whole_where_it_was)
{
    const std::vector<key_case> cases = key_cases();
    std::vector<tree> before;
    for (const key_case& c : cases) {
        lay_tree(c.root, c.path, c.flag);
        before.push_back(snapshot(c.root, c.path, c.flag));
    }
    ASSERT_FALSE(key_exists(HKEY_LOCAL_MACHINE, L"Software\\backup_keys_32", KEY_WOW64_64KEY));

    writer file({fresh_folder(L"backup_keys")}, value_round_trip::now());
    std::size_t keys = 0, values = 0;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(outcome::saved, file.save_key(cases[i].root, cases[i].path, cases[i].in).status) << cases[i].label;
        delete_tree(cases[i].root, cases[i].path, cases[i].flag);
        EXPECT_FALSE(key_exists(cases[i].root, cases[i].path, cases[i].flag)) << cases[i].label;
        keys += before[i].size();
        values += value_count(before[i]);
    }
    EXPECT_EQ(keys, file.keys_saved());
    EXPECT_EQ(values, file.values_saved());

    const std::wstring text = file_text(file.path());
    for (const key_case& c : cases)
        EXPECT_NE(std::wstring::npos, text.find(L"\r\n[" + c.file_name + L"]\r\n")) << c.label;
    EXPECT_EQ(std::wstring::npos, text.find(L"HKEY_CURRENT_USER"));
    EXPECT_EQ(std::wstring::npos, text.find(L"HKEY_CLASSES_ROOT"));

    EXPECT_EQ(0u, import_file(GetParam(), file.path()));
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(before[i], snapshot(cases[i].root, cases[i].path, cases[i].flag)) << cases[i].label;
        delete_tree(cases[i].root, cases[i].path, cases[i].flag);
    }
    // The 32-bit view's key came back there, not into the 64-bit view.
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, L"Software\\backup_keys_32", KEY_WOW64_64KEY));
}

namespace {

std::string importer_name(const ::testing::TestParamInfo<importer>& info)
{
    return ::testing::PrintToString(info.param);
}

} // namespace

INSTANTIATE_TEST_SUITE_P(importers, key_round_trip_by,
                         ::testing::Values(importer::reg_64_switch, importer::reg_64_bit, importer::regedit_64_bit),
                         importer_name);

TEST(key_round_trip, a_changed_value_comes_back_as_it_was_before)
{
    const tessel::unique_hkey key = create_key(HKEY_LOCAL_MACHINE, L"Software\\backup_changed", KEY_WOW64_64KEY);
    raw_set(key.get(), L"counter", REG_DWORD, bytes_of({3, 0, 0, 0}).data(), 4);
    writer file({fresh_folder(L"backup_changed")}, value_round_trip::now());
    EXPECT_EQ(outcome::saved, file.save_value(key.get(), L"counter").status);
    raw_set(key.get(), L"counter", REG_DWORD, bytes_of({2, 0, 0, 0}).data(), 4);

    EXPECT_EQ(0u, reg_import(file.path()));
    EXPECT_EQ((stored{REG_DWORD, bytes_of({3, 0, 0, 0})}), read_value(key.get(), L"counter"));
    delete_tree(HKEY_LOCAL_MACHINE, L"Software\\backup_changed", KEY_WOW64_64KEY);
}

TEST(key_round_trip, a_cut_last_item_leaves_the_items_before_it_whole)
{
    const std::wstring whole = L"Software\\backup_cut\\whole";
    const std::wstring cut = L"Software\\backup_cut\\cut";
    lay_tree(HKEY_LOCAL_MACHINE, whole, KEY_WOW64_64KEY);
    {
        const tessel::unique_hkey key = create_key(HKEY_LOCAL_MACHINE, cut, KEY_WOW64_64KEY);
        raw_set(key.get(), L"long", REG_BINARY, repeated(3000).data(), 3000);
        raw_set(key.get(), L"after", REG_DWORD, bytes_of({1, 0, 0, 0}).data(), 4);
    }
    const tree before = snapshot(HKEY_LOCAL_MACHINE, whole, KEY_WOW64_64KEY);

    writer file({fresh_folder(L"backup_cut")}, value_round_trip::now());
    EXPECT_EQ(outcome::saved, file.save_key(HKEY_LOCAL_MACHINE, whole, view::view_64).status);
    const std::size_t end_of_whole = file_bytes(file.path()).size();
    EXPECT_EQ(outcome::saved, file.save_key(HKEY_LOCAL_MACHINE, cut, view::view_64).status);
    delete_tree(HKEY_LOCAL_MACHINE, L"Software\\backup_cut", KEY_WOW64_64KEY);

    // An abnormal end in the middle of the last item's long hex line, in the
    // middle of a character.
    std::vector<BYTE> bytes = file_bytes(file.path());
    bytes.resize(end_of_whole + (bytes.size() - end_of_whole) / 2 + 1);
    const std::wstring copy = file.path() + L".cut.reg";
    write_file(copy, bytes);

    EXPECT_EQ(0u, reg_import(copy));
    EXPECT_EQ(before, snapshot(HKEY_LOCAL_MACHINE, whole, KEY_WOW64_64KEY));
    delete_tree(HKEY_LOCAL_MACHINE, L"Software\\backup_cut", KEY_WOW64_64KEY);
}
