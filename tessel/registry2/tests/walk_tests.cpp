// Opens that tell an absent key from one that cannot be opened, walks over
// subkeys and values with the caller's buffers, and the deletion of a subtree
// that passes over what cannot go.
#include "scratch.h"

#include <cwchar>
#include <string>
#include <vector>

#include "tessel/registry2/key.h"

using tessel::registry2::key;
using tessel::registry2::subtree;
using tessel::registry2::view;

namespace {

const REGSAM read_write_create = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

std::vector<std::wstring> walked_subkeys(HKEY handle, DWORD name_chars)
{
    std::vector<std::wstring> names;
    for (const std::wstring& name : tessel::registry2::subkeys(handle, name_chars))
        names.push_back(name);
    return names;
}

struct walked_value
{
    bool read;
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
    std::wstring text;

    bool operator==(const walked_value&) const = default;
};

std::vector<walked_value> walked_values(tessel::registry2::values walk)
{
    std::vector<walked_value> met;
    for (const tessel::registry2::value_entry& value : walk)
        met.push_back({value.read, value.name, value.type, {value.data.begin(), value.data.end()}, value.text()});
    return met;
}

std::vector<BYTE> bytes_of(const std::wstring& text)
{
    const BYTE* first = reinterpret_cast<const BYTE*>(text.data());
    return std::vector<BYTE>(first, first + text.size() * sizeof(wchar_t));
}

} // namespace

TEST_F(scratch, only_an_absent_key_opens_as_nothing)
{
    raw_create(raw.get(), L"present");
    const raw_key locked = raw_create(raw.get(), L"read only");
    restrict_access(locked.get(), L"D:P(A;;KR;;;WD)");
    const raw_key sealed = raw_create(raw.get(), L"sealed");
    restrict_access(sealed.get(), L"D:P");

    const key k(raw.get());
    EXPECT_TRUE(k.open_if_present(L"present"));
    EXPECT_FALSE(k.open_if_present(L"absent"));
    EXPECT_FALSE(k.open_if_present(L"absent\\below"));
    // A key that may only be read opens for reading, as open does.
    const std::optional<key> read_only = k.open_if_present(L"read only");
    ASSERT_TRUE(read_only);
    expect_raise([&] { read_only->write_dword(L"v", 1); }, "registry2.value_error",
                 "RegSetValueEx() failed: value \"v\" (5)");
    expect_raise([&] { k.open_if_present(L"sealed"); }, "registry2.key_error",
                 "RegOpenKeyEx() failed: key \"sealed\" (5)");

    using tessel::registry2::open_if_present;
    EXPECT_TRUE(open_if_present(raw.get(), L"present", KEY_READ, view::default_view));
    EXPECT_FALSE(open_if_present(raw.get(), L"absent", KEY_READ, view::default_view));
    EXPECT_TRUE(open_if_present(raw.get(), L"read only", KEY_READ, view::default_view));
    // Exactly the rights asked for: no fallback.
    expect_raise([&] { open_if_present(raw.get(), L"read only", read_write_create, view::default_view); },
                 "registry2.key_error", "RegOpenKeyEx() failed: key \"read only\" (5)");
    expect_raise([&] { open_if_present(raw.get(), L"sealed", KEY_READ, view::default_view); }, "registry2.key_error",
                 "RegOpenKeyEx() failed: key \"sealed\" (5)");
}

TEST_F(scratch, a_subkey_walk_goes_by_index_with_the_callers_buffer)
{
    for (const wchar_t* name : {L"b", L"A", L"c12345678"})
        raw_create(raw.get(), name);
    // The registry's own order, which ignores letter case.
    EXPECT_EQ((std::vector<std::wstring>{L"A", L"b", L"c12345678"}), walked_subkeys(raw.get(), 10));
    expect_raise([&] { walked_subkeys(raw.get(), 9); }, "registry2.key_error",
                 "RegEnumKeyEx() failed: handle " + handle_text(raw.get()) + " (234)");
    EXPECT_TRUE(walked_subkeys(raw_create(raw.get(), L"A").get(), 10).empty());
}

TEST_F(scratch, a_value_walk_meets_what_does_not_fit_unread_and_goes_on)
{
    const DWORD number = 7;
    raw_set(raw.get(), L"a number", REG_DWORD, &number, sizeof number);
    raw_set_text(raw.get(), L"b path", REG_SZ, std::wstring(L"C:\\x.dll\0hidden", 15));
    raw_set_text(raw.get(), L"c too much data", REG_SZ, std::wstring(20, L'd'));
    raw_set_text(raw.get(), std::wstring(30, L'e'), REG_SZ, L"x");
    std::vector<BYTE> odd = bytes_of(L"ab");
    odd.push_back('c');
    raw_set(raw.get(), L"f odd", REG_SZ, odd.data(), DWORD(odd.size()));

    const walked_value unread{false, L"", 0, {}, L""};
    const std::vector<BYTE> number_bytes(reinterpret_cast<const BYTE*>(&number),
                                         reinterpret_cast<const BYTE*>(&number) + 4);
    EXPECT_EQ((std::vector<walked_value>{
                  {true, L"a number", REG_DWORD, number_bytes, std::wstring(1, L'\x0007')},
                  {true, L"b path", REG_SZ, bytes_of(std::wstring(L"C:\\x.dll\0hidden", 15)), L"C:\\x.dll"},
                  unread,
                  unread,
                  {true, L"f odd", REG_SZ, odd, L"ab"},
              }),
              walked_values(tessel::registry2::values(raw.get(), 20, 32)));
    // Names and types only: data never keeps a value from being read.
    std::vector<std::wstring> names;
    for (const tessel::registry2::value_entry& value : tessel::registry2::values(raw.get(), 20))
        names.push_back(value.read ? value.name : L"(unread)");
    EXPECT_EQ((std::vector<std::wstring>{L"a number", L"b path", L"c too much data", L"(unread)", L"f odd"}), names);
    // Buffers fitted to the key read every value whole.
    int whole = 0;
    for (const tessel::registry2::value_entry& value : tessel::registry2::values::whole(raw.get()))
        whole += value.read;
    EXPECT_EQ(5, whole);
}

TEST_F(scratch, a_deletion_that_attempts_each_subkey_passes_over_what_cannot_go)
{
    raw_create(raw.get(), L"tree\\a\\deeper");
    raw_create(raw.get(), L"tree\\b\\inside");
    const raw_key sealed = raw_create(raw.get(), L"tree\\b");
    restrict_access(sealed.get(), L"D:P");
    raw_create(raw.get(), L"tree\\c");

    expect_raise([&] { tessel::registry2::delete_key(raw.get(), L"tree", view::default_view, subtree::attempt_each); },
                 "registry2.key_error", "RegOpenKeyEx() failed: key \"b\" (5)");
    EXPECT_FALSE(raw_exists(raw.get(), L"tree\\a"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, raw_open_status(raw.get(), L"tree\\b", KEY_READ));
    EXPECT_FALSE(raw_exists(raw.get(), L"tree\\c")) << "the subkey after the failure went too";
    EXPECT_TRUE(raw_exists(raw.get(), L"tree")) << "the key itself cannot go with a subkey left";

    raw_create(raw.get(), L"whole\\x\\y");
    tessel::registry2::delete_key(raw.get(), L"whole", view::default_view, subtree::attempt_each);
    EXPECT_FALSE(raw_exists(raw.get(), L"whole"));
}

TEST_F(scratch, the_status_forms_answer_the_code_of_what_the_deletion_raised)
{
    raw_create(raw.get(), L"single");
    raw_create(raw.get(), L"branch\\leaf");
    raw_create(raw.get(), L"kept\\leaf");
    raw_create(raw.get(), L"tree\\open");
    const raw_key sealed = raw_create(raw.get(), L"tree\\sealed");
    restrict_access(sealed.get(), L"D:P");
    const DWORD one = 1;
    raw_set(raw.get(), L"value", REG_DWORD, &one, sizeof one);

    struct deletion
    {
        const wchar_t* name;
        subtree how;
        LONG expected;
        bool gone;
    };
    const deletion deletions[] = {
        {L"single", subtree::refuse, ERROR_SUCCESS, true},
        {L"absent", subtree::refuse, ERROR_FILE_NOT_FOUND, true},
        {L"absent", subtree::attempt_each, ERROR_FILE_NOT_FOUND, true},
        {L"branch", subtree::attempt_each, ERROR_SUCCESS, true},
        // A key with subkeys is refused without its subtree.
        {L"kept", subtree::refuse, ERROR_ACCESS_DENIED, false},
        // The first failure below, after every other subkey was attempted.
        {L"tree", subtree::attempt_each, ERROR_ACCESS_DENIED, false},
        {L"", subtree::attempt_each, ERROR_INVALID_PARAMETER, false},
    };
    for (const deletion& d : deletions) {
        SCOPED_TRACE(std::string(d.name, d.name + std::wcslen(d.name)));
        EXPECT_EQ(d.expected, tessel::registry2::delete_subkey(raw.get(), d.name, view::default_view, d.how));
        if (*d.name) {
            EXPECT_EQ(!d.gone, raw_exists(raw.get(), d.name));
        }
    }
    EXPECT_TRUE(raw_exists(raw.get(), L"kept\\leaf"));
    EXPECT_FALSE(raw_exists(raw.get(), L"tree\\open"));

    EXPECT_EQ(ERROR_SUCCESS, tessel::registry2::delete_value_status(raw.get(), L"value"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, tessel::registry2::delete_value_status(raw.get(), L"value"));
}
