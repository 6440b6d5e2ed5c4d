// The registry views, in HKLM\SOFTWARE, which WOW64 keeps apart for this
// 32-bit program: each operation works in the view it names, keys opened from
// its result in their own, and deletion in a view goes through the view-aware
// call.
#include "scratch.h"

#include "tessel/registry2/key.h"

using tessel::registry2::key;
using tessel::registry2::view;

namespace {

const wchar_t software[] = L"SOFTWARE";
const wchar_t top[] = L"registry2_view_tests";

bool exists_in(const std::wstring& path, REGSAM flag)
{
    return raw_open_status(HKEY_LOCAL_MACHINE, std::wstring(software) + L"\\" + path, KEY_READ | flag) ==
           ERROR_SUCCESS;
}

class views : public ::testing::Test
{
protected:
    void TearDown() override
    {
        const std::wstring path = std::wstring(software) + L"\\" + top;
        for (const REGSAM flag : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            raw_key opened;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS | flag, opened.put()) ==
                ERROR_SUCCESS)
                RegDeleteTreeW(opened.get(), nullptr);
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), flag, 0);
        }
    }
};

} // namespace

TEST_F(views, each_operation_works_in_the_view_it_names)
{
    ASSERT_TRUE(tessel::registry2::has_view_aware_deletion());
    const key machine(HKEY_LOCAL_MACHINE);
    machine.open(std::wstring(software) + L"\\" + top + L"\\only 64", true, view::view_64);
    machine.open(std::wstring(software) + L"\\" + top + L"\\only 32", true, view::view_32);
    EXPECT_TRUE(exists_in(std::wstring(top) + L"\\only 64", KEY_WOW64_64KEY));
    EXPECT_FALSE(exists_in(std::wstring(top) + L"\\only 64", KEY_WOW64_32KEY));
    EXPECT_TRUE(exists_in(std::wstring(top) + L"\\only 32", KEY_WOW64_32KEY));
    EXPECT_FALSE(exists_in(std::wstring(top) + L"\\only 32", KEY_WOW64_64KEY));

    // The default view of this program is the 32-bit one.
    const key in_default = machine.open(std::wstring(software) + L"\\" + top, false);
    EXPECT_EQ(std::set<std::wstring>{L"only 32"}, in_default.subkey_names());
    const key in_64 = key(HKEY_LOCAL_MACHINE, view::view_64).open(std::wstring(software) + L"\\" + top, false,
                                                                   view::view_64);
    EXPECT_EQ(std::set<std::wstring>{L"only 64"}, in_64.subkey_names());
}

TEST_F(views, removal_in_a_view_takes_the_tree_there_and_leaves_the_other_view)
{
    const key machine(HKEY_LOCAL_MACHINE);
    for (const view in : {view::view_32, view::view_64})
        machine.open(std::wstring(software) + L"\\" + top + L"\\tree\\a\\b", true, in);
    const key parent = machine.open(std::wstring(software) + L"\\" + top, false, view::view_64);
    parent.remove_key(L"tree", true, view::view_64);
    EXPECT_FALSE(exists_in(std::wstring(top) + L"\\tree", KEY_WOW64_64KEY));
    EXPECT_TRUE(exists_in(std::wstring(top) + L"\\tree\\a\\b", KEY_WOW64_32KEY));

    try {
        tessel::registry2::delete_key(parent.handle(), L"tree", view::view_64, tessel::registry2::subtree::refuse);
        ADD_FAILURE() << "a missing key was deleted";
    } catch (const tessel::registry2::key_error& e) {
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, e.code()) << "the view-aware call's own answer";
    }
    expect_raise([&] { parent.remove_key(L"tree", false, view::view_64); }, "registry2.key_error",
                 "RegDeleteKey() failed: key \"tree\" (2)");
    // A key with subkeys is refused by the view-aware call as by the plain one.
    const key in_32 = machine.open(std::wstring(software) + L"\\" + top, false, view::view_32);
    expect_raise([&] { in_32.remove_key(L"tree", false, view::view_32); }, "registry2.key_error",
                 "RegDeleteKey() failed: key \"tree\" (5)");
}

TEST_F(views, open_without_a_view_after_one_with_stays_in_the_key_opened)
{
    const key machine(HKEY_LOCAL_MACHINE);
    machine.open(std::wstring(software) + L"\\" + top + L"\\child", true, view::view_64);
    const key in_64 = machine.open(std::wstring(software) + L"\\" + top, false, view::view_64);
    // Below a key that is already past the redirection, a plain open finds
    // the 64-bit child; a missing subkey raises the plain open's error.
    EXPECT_NO_THROW(in_64.open(L"child", false));
    expect_raise([&] { in_64.open(L"missing", false); }, "registry2.key_error",
                 "RegOpenKeyEx() failed: key \"missing\" (2)");
}
