// The file's creation, and what the writer answers when it cannot read an
// item or the file cannot take it.
#include <gtest/gtest.h>

#include "support.h"
#include "tessel/registry2/backup/backup.h"

using namespace tessel::registry2::backup;
using tessel::registry2::view;

namespace {

const SYSTEMTIME moment{2024, 1, 2, 2, 3, 4, 5, 6};
const wchar_t header[] = L"Windows Registry Editor Version 5.00\r\n\r\n";

// Made directly under HKEY_USERS, so its name is the same on every machine.
const wchar_t user[] = L"S-1-5-21-7-7-7-1002";
const std::wstring top = std::wstring(user) + L"\\backup_writer";
const std::wstring top_in_file = L"HKEY_USERS\\" + top;

class writer_test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        delete_tree(HKEY_USERS, user);
        key = create_key(HKEY_USERS, top);
        raw_set(key.get(), L"v", REG_DWORD, bytes_of({1, 0, 0, 0}).data(), 4);
    }
    void TearDown() override
    {
        key.reset();
        delete_tree(HKEY_USERS, user);
    }

    tessel::unique_hkey key;
};

std::string text_of(const std::vector<BYTE>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

TEST_F(writer_test, a_file_name_that_is_taken_is_never_opened)
{
    const std::wstring missing = fresh_folder(L"backup_taken_0") + L"no such folder\\";
    const std::wstring first = fresh_folder(L"backup_taken_1");
    const std::wstring second = fresh_folder(L"backup_taken_2");
    write_file(first + file_name(moment), bytes_of({'m', 'i', 'n', 'e'}));

    writer taking({missing, first, second}, moment);
    EXPECT_EQ(second + file_name(moment), taking.path());
    EXPECT_EQ(nullptr, taking.failed());
    EXPECT_EQ(outcome::saved, taking.save_value(key.get(), L"v").status);
    EXPECT_EQ("mine", text_of(file_bytes(first + file_name(moment))));

    // Every name taken: no file, and the one failure says why.
    writer refused({first, second}, moment);
    EXPECT_EQ(L"", refused.path());
    ASSERT_NE(nullptr, refused.failed());
    EXPECT_EQ("CreateFile", refused.failed()->call);
    EXPECT_EQ(second + file_name(moment), refused.failed()->path);
    EXPECT_EQ(DWORD(ERROR_FILE_EXISTS), refused.failed()->error);
    EXPECT_EQ(outcome::not_written, refused.save_value(key.get(), L"v").status);
    EXPECT_EQ(0u, refused.values_saved());
    EXPECT_EQ("mine", text_of(file_bytes(first + file_name(moment))));
    EXPECT_EQ(std::wstring(header) + L"[" + top_in_file + L"]\r\n\"v\"=dword:00000001\r\n\r\n",
              file_text(taking.path()));
}

TEST_F(writer_test, the_run_file_is_made_in_the_current_folder_and_named_after_the_time_now)
{
    wchar_t current[MAX_PATH];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, current);
    SYSTEMTIME before, after;
    GetSystemTime(&before);
    const writer file;
    GetSystemTime(&after);
    const std::wstring folder = std::wstring(current, length) + L"\\";
    EXPECT_TRUE(file.path() == folder + file_name(before) || file.path() == folder + file_name(after))
        << narrow(file.path());
    EXPECT_EQ(header, file_text(file.path()));
}

// A pipe stands in for a file whose writes fail: once its reader has gone,
// every write to it fails (ERROR_NO_DATA).
TEST_F(writer_test, a_failed_write_is_reported_once_and_nothing_is_written_after_it)
{
    const std::wstring folder = L"\\\\.\\pipe\\backup_tests";
    tessel::unique_file_handle reader(CreateNamedPipeW((folder + L"\\" + file_name(moment)).c_str(),
                                                       PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536,
                                                       65536, 0, nullptr));
    ASSERT_TRUE(reader.is_valid());
    writer file({folder}, moment);
    ASSERT_EQ(nullptr, file.failed());
    wchar_t written[64] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(reader.get(), written, sizeof written, &read, nullptr));
    EXPECT_EQ(L"\xFEFF" + std::wstring(header), std::wstring(written, read / sizeof(wchar_t)));
    reader.reset();

    EXPECT_EQ(outcome::write_failed, file.save_value(key.get(), L"v").status);
    ASSERT_NE(nullptr, file.failed());
    EXPECT_EQ("WriteFile", file.failed()->call);
    EXPECT_EQ(folder + L"\\" + file_name(moment), file.failed()->path);
    EXPECT_EQ(DWORD(ERROR_NO_DATA), file.failed()->error);

    EXPECT_EQ(outcome::not_written, file.save_value(key.get(), L"v").status);
    EXPECT_EQ(outcome::not_written, file.save_key(HKEY_USERS, top, view::default_view).status);
    EXPECT_EQ("WriteFile", file.failed()->call);
    // What cannot be read is still told apart, so that it is not deleted.
    raw_set(key.get(), L"two\nlines", REG_DWORD, bytes_of({1, 0, 0, 0}).data(), 4);
    EXPECT_EQ(outcome::unreadable, file.save_value(key.get(), L"two\nlines").status);
    EXPECT_EQ(outcome::absent, file.save_value(key.get(), L"missing").status);
    EXPECT_EQ(0u, file.keys_saved());
    EXPECT_EQ(0u, file.values_saved());
}

TEST_F(writer_test, what_cannot_be_read_or_written_down_is_reported_and_left_out)
{
    writer file({fresh_folder(L"backup_unreadable")}, moment);

    // A key below the item that nobody may open.
    {
        const tessel::unique_hkey sealed = create_key(HKEY_USERS, top + L"\\tree\\sealed");
        raw_set(sealed.get(), L"secret", REG_DWORD, bytes_of({1, 0, 0, 0}).data(), 4);
        restrict_access(sealed.get(), L"D:P");
    }
    result got = file.save_key(HKEY_USERS, top + L"\\tree", view::default_view);
    EXPECT_EQ(outcome::unreadable, got.status);
    EXPECT_EQ(top_in_file + L"\\tree\\sealed", got.key);
    EXPECT_EQ(ERROR_ACCESS_DENIED, got.error);
    EXPECT_EQ(outcome::unreadable, file.save_key(HKEY_USERS, top, view::default_view).status);

    // A handle that may not read values.
    {
        tessel::unique_hkey set_only;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_USERS, top.c_str(), 0, KEY_SET_VALUE, set_only.put()));
        got = file.save_value(set_only.get(), L"v");
        EXPECT_EQ(outcome::unreadable, got.status);
        EXPECT_EQ(top_in_file, got.key);
        EXPECT_EQ(L"v", got.value);
        EXPECT_EQ(ERROR_ACCESS_DENIED, got.error);
    }

    // Names with a line break, which a .reg file cannot carry.
    raw_set(key.get(), L"two\nlines", REG_DWORD, bytes_of({1, 0, 0, 0}).data(), 4);
    got = file.save_value(key.get(), L"two\nlines");
    EXPECT_EQ(outcome::unreadable, got.status);
    EXPECT_EQ(ERROR_INVALID_NAME, got.error);
    create_key(HKEY_USERS, top + L"\\lines\\two\r\nlines");
    got = file.save_key(HKEY_USERS, top + L"\\lines", view::default_view);
    EXPECT_EQ(outcome::unreadable, got.status);
    EXPECT_EQ(ERROR_INVALID_NAME, got.error);

    // An empty name would be the parent itself.
    EXPECT_EQ(outcome::unreadable, file.save_key(key.get(), L"", view::default_view).status);

    // A predefined root's pseudo handle has no name to write.
    raw_set(HKEY_CURRENT_USER, L"backup_writer_root", REG_DWORD, bytes_of({1, 0, 0, 0}).data(), 4);
    got = file.save_value(HKEY_CURRENT_USER, L"backup_writer_root");
    RegDeleteValueW(HKEY_CURRENT_USER, L"backup_writer_root");
    EXPECT_EQ(outcome::unreadable, got.status);
    EXPECT_EQ(ERROR_INVALID_HANDLE, got.error);

    EXPECT_EQ(outcome::absent, file.save_key(HKEY_USERS, top + L"\\missing", view::default_view).status);
    EXPECT_EQ(outcome::absent, file.save_value(key.get(), L"missing").status);

    EXPECT_EQ(header, file_text(file.path()));
    EXPECT_EQ(0u, file.keys_saved());
    EXPECT_EQ(0u, file.values_saved());
    EXPECT_EQ(nullptr, file.failed());
}

// A symbolic link below the item leads to a key that is not the item's. (Not
// below "tree": a sealed key that an earlier test leaves there cannot be
// removed.)
TEST_F(writer_test, a_link_is_saved_as_the_link_never_as_the_key_it_leads_to)
{
    const std::wstring target_path = top + L"\\target";
    raw_set(create_key(HKEY_USERS, target_path).get(), L"target value", REG_DWORD, bytes_of({7, 0, 0, 0}).data(), 4);
    tessel::unique_hkey link;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_USERS, (top + L"\\links\\link").c_str(), 0, nullptr,
                                             REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS, nullptr, link.put(), nullptr));
    const std::wstring to = L"\\Registry\\User\\" + target_path;
    raw_set(link.get(), L"SymbolicLinkValue", REG_LINK, to.data(), DWORD(to.size() * sizeof(wchar_t)));
    link.reset();
    ASSERT_TRUE(value_exists(HKEY_USERS, top + L"\\links\\link", L"target value"));

    writer file({fresh_folder(L"backup_link")}, moment);
    EXPECT_EQ(outcome::saved, file.save_key(HKEY_USERS, top + L"\\links", view::default_view).status);
    EXPECT_EQ(outcome::saved, file.save_key(HKEY_USERS, top + L"\\links\\link", view::default_view).status);
    const std::wstring text = file_text(file.path());
    const std::wstring link_item =
        L"\r\n[" + top_in_file + L"\\links\\link]\r\n\"SymbolicLinkValue\"=hex(6):5c,00,52,00,";
    const std::size_t first = text.find(link_item);
    EXPECT_NE(std::wstring::npos, first);
    EXPECT_NE(std::wstring::npos, text.find(link_item, first + 1));
    EXPECT_EQ(std::wstring::npos, text.find(L"target value"));
    EXPECT_EQ(3u, file.keys_saved());
    EXPECT_EQ(2u, file.values_saved());
}
