// The file's text, character for character: the header, the key lines, each
// value as regedit writes it, the blank line after each key.
#include <gtest/gtest.h>

#include "support.h"
#include "tessel/registry2/backup/backup.h"

using namespace tessel::registry2::backup;
using tessel::registry2::view;

namespace {

// Made directly under HKEY_USERS, so its name is the same on every machine.
const wchar_t user[] = L"S-1-5-21-7-7-7-1001";
const wchar_t key_line[] = L"[HKEY_USERS\\S-1-5-21-7-7-7-1001\\backup_format]\r\n";

const SYSTEMTIME moment{2024, 1, 2, 2, 3, 4, 5, 6};  // 2024-01-02 03:04:05.006 UTC

struct line_case
{
    std::wstring name;
    stored value;
    std::wstring line;
};

std::vector<BYTE> counting_bytes(int count)
{
    std::vector<BYTE> bytes;
    for (int i = 0; i < count; ++i)
        bytes.push_back(BYTE(i));
    return bytes;
}

} // namespace

TEST(file_format, the_file_is_named_after_the_utc_time)
{
    EXPECT_EQ(L"QLRemover.20240102-030405.reg", file_name(moment));
}

TEST(file_format, each_value_is_written_as_regedit_writes_it)
{
    const std::wstring path = std::wstring(user) + L"\\backup_format";
    const tessel::unique_hkey key = create_key(HKEY_USERS, path);
    const std::vector<line_case> cases = {
        {L"", {REG_SZ, bytes_of(std::wstring(L"default\0", 8))}, L"@=\"default\""},
        {L"say \"hi\" \\ there", {REG_SZ, bytes_of(std::wstring(L"C:\\dir\\\"q\"\0", 11))},
         L"\"say \\\"hi\\\" \\\\ there\"=\"C:\\\\dir\\\\\\\"q\\\"\""},
        {L"Gr\u00FC\u00DFe \u2713", {REG_SZ, bytes_of(std::wstring(L"\u65E5\u672C \U0001F600\0", 6))},
         L"\"Gr\u00FC\u00DFe \u2713\"=\"\u65E5\u672C \U0001F600\""},
        {L"count", {REG_DWORD, bytes_of({0xAB, 0x12, 0, 0})}, L"\"count\"=dword:000012ab"},
        {L"short", {REG_DWORD, bytes_of({0x34, 0x12})}, L"\"short\"=hex(4):34,12"},
        {L"big", {REG_QWORD, bytes_of({1, 2, 3, 4, 5, 6, 7, 8})}, L"\"big\"=hex(b):01,02,03,04,05,06,07,08"},
        {L"empty", {REG_BINARY, {}}, L"\"empty\"=hex:"},
        {L"long", {REG_BINARY, counting_bytes(60)},
         L"\"long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
         L"  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\\r\n"
         L"  2f,30,31,32,33,34,35,36,37,38,39,3a,3b"},
        {L"path", {REG_EXPAND_SZ, bytes_of(std::wstring(L"%A%\0", 4))}, L"\"path\"=hex(2):25,00,41,00,25,00,00,00"},
        {L"list", {REG_MULTI_SZ, bytes_of(std::wstring(L"a\0\0b\0\0", 6))},
         L"\"list\"=hex(7):61,00,00,00,00,00,62,00,00,00,00,00"},
        {L"inner", {REG_SZ, bytes_of(std::wstring(L"a\0b\0", 4))}, L"\"inner\"=hex(1):61,00,00,00,62,00,00,00"},
        {L"unterminated", {REG_SZ, bytes_of(std::wstring(L"ab"))}, L"\"unterminated\"=hex(1):61,00,62,00"},
        {L"odd", {REG_SZ, bytes_of({0x61, 0, 0x62})}, L"\"odd\"=hex(1):61,00,62"},
        {L"lines", {REG_SZ, bytes_of(std::wstring(L"a\r\nb\0", 5))}, L"\"lines\"=hex(1):61,00,0d,00,0a,00,62,00,00,00"},
        {L"none", {REG_NONE, {}}, L"\"none\"=hex(0):"},
        {L"far type", {0x12345, bytes_of({1})}, L"\"far type\"=hex(12345):01"},
    };
    for (const line_case& c : cases)
        raw_set(key.get(), c.name, c.value.type, c.value.bytes.data(), DWORD(c.value.bytes.size()));

    const std::wstring folder = fresh_folder(L"backup_format");
    writer file({folder}, moment);
    ASSERT_EQ(folder + L"QLRemover.20240102-030405.reg", file.path());
    std::wstring expected = L"Windows Registry Editor Version 5.00\r\n\r\n";
    for (const line_case& c : cases) {
        EXPECT_EQ(outcome::saved, file.save_value(key.get(), c.name).status) << narrow(c.name);
        expected += key_line + c.line + L"\r\n\r\n";
    }
    EXPECT_EQ(expected, file_text(file.path()));
    EXPECT_EQ(0u, file.keys_saved());
    EXPECT_EQ(cases.size(), file.values_saved());
    delete_tree(HKEY_USERS, user);
}

TEST(file_format, a_key_is_written_with_its_values_then_each_key_below_it)
{
    const std::wstring path = std::wstring(user) + L"\\backup_format";
    const tessel::unique_hkey sub = create_key(HKEY_USERS, path + L"\\tree\\sub");
    const tessel::unique_hkey tree = create_key(HKEY_USERS, path + L"\\tree");
    raw_set(tree.get(), L"a", REG_DWORD, bytes_of({1, 0, 0, 0}).data(), 4);
    raw_set(sub.get(), L"", REG_SZ, bytes_of(std::wstring(L"x\0", 2)).data(), 4);

    const std::wstring folder = fresh_folder(L"backup_format_key");
    writer file({folder}, moment);
    EXPECT_EQ(outcome::saved, file.save_key(HKEY_USERS, path + L"\\tree", view::default_view).status);
    EXPECT_EQ(L"Windows Registry Editor Version 5.00\r\n\r\n"
              L"[HKEY_USERS\\S-1-5-21-7-7-7-1001\\backup_format\\tree]\r\n"
              L"\"a\"=dword:00000001\r\n"
              L"\r\n"
              L"[HKEY_USERS\\S-1-5-21-7-7-7-1001\\backup_format\\tree\\sub]\r\n"
              L"@=\"x\"\r\n"
              L"\r\n",
              file_text(file.path()));
    EXPECT_EQ(2u, file.keys_saved());
    EXPECT_EQ(2u, file.values_saved());
    delete_tree(HKEY_USERS, user);
}
