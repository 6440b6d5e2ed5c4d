// The harness runs 32-bit programs under WOW64 in a 64-bit prefix whose
// profile folders are real folders, not links into the Linux home.
#include <windows.h>
#include <shlobj.h>
#include <gtest/gtest.h>
#include <boost/filesystem.hpp>
#include <string>

TEST(harness, runs_as_32_bit_program_under_wow64)
{
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_TRUE(wow64);
    EXPECT_EQ(sizeof(void*), 4u);
}

TEST(harness, profile_folders_are_not_links)
{
    char desktop[MAX_PATH] = {};
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop));
    DWORD attributes = GetFileAttributesA(desktop);
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes) << desktop;
    EXPECT_EQ(0u, attributes & FILE_ATTRIBUTE_REPARSE_POINT) << desktop;
}

TEST(harness, boost_filesystem_works)
{
    boost::filesystem::path dir = boost::filesystem::temp_directory_path() / "harness-check";
    boost::filesystem::create_directories(dir / "a" / "b");
    EXPECT_EQ(3u, boost::filesystem::remove_all(dir));
    EXPECT_FALSE(boost::filesystem::exists(dir));
}
