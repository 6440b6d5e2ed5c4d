// Names and paths read from the machine that must never steer a deletion:
// the plain-name rule, and every removal function refusing a path that is not
// a full local one or that names a folder Windows or its users need.
//
// This program hands the removal functions relative paths and the system's
// own folders. It runs in a prefix without drive Z: (the Linux root, a fixed
// drive to Wine), so that a guard that failed could reach nothing but the
// throwaway prefix, and refuses to run anywhere else.
#include "checks.h"
#include "log_capture.h"
#include "tessel/unicode/unicode.h"
#include "tessel/unique_any.h"
#include "toolbox/environment.h"
#include "toolbox/files.h"
#include "toolbox/folders.h"
#include "toolbox/installer_leftovers.h"
#include "toolbox/path_rules.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using lines = std::vector<std::string>;

namespace {

const wchar_t installer_folders[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
const wchar_t profile_list[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const char canary_name[] = "guard-canary.txt";

std::wstring wide(const std::string& text)
{
    return tessel::unicode::to_wide(text, CP_ACP);
}

void make_folder(const std::string& path)
{
    SHCreateDirectoryExA(nullptr, path.c_str(), nullptr);
}

void make_file(const std::string& path)
{
    std::ofstream(path) << "canary";
}

std::string without_slash(std::string folder)
{
    while (folder.size() > 3 && folder.back() == '\\')
        folder.pop_back();
    return folder;
}

std::string profile()
{
    return without_slash(get_profile_folder());
}

// The profile list of the machine, as Windows keeps it (64-bit view).
void list_profile(const std::wstring& sid, const std::string& folder)
{
    tessel::unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(profile_list) + L"\\" + sid).c_str(), 0,
                                             nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, key.put(), nullptr));
    const std::wstring data = wide(folder);
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), L"ProfileImagePath", 0, REG_EXPAND_SZ,
                                            reinterpret_cast<const BYTE*>(data.c_str()),
                                            static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))));
}

// Windows Installer's record of a folder, so that the installation folder's
// removal would take it but for the guard.
void record_folder(const std::string& folder)
{
    tessel::unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, installer_folders, 0, nullptr, 0,
                                             KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, key.put(), nullptr));
    const std::wstring name = wide(folder.back() == '\\' ? folder : folder + "\\");
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), 2));
}

// The log shows a path up to a NUL, as every system call reads it.
std::string refused(const std::string& path, const char* why)
{
    return "Would not dare to remove '" + std::string(path.c_str()) + "': " + why + " !";
}

const char system_folder[] = "a folder of Windows or of its users";
const char not_local[] = "not a full path on a local fixed drive";

// Hands path to every removal function that takes a target: each one must
// refuse it with exactly its line and change nothing.
void expect_every_removal_refuses(const std::string& path, const char* why)
{
    SCOPED_TRACE(path);
    {
        log_capture log;
        EXPECT_FALSE(delete_file(path));
        EXPECT_FALSE(remove_folder(path));
        remove_empty_folder(path);
        EXPECT_EQ((lines{refused(path, why), refused(path, why), refused(path, why)}), log.texts());
    }
    if (path.find('\0') == std::string::npos && !path.empty()) {
        log_capture log;
        EXPECT_FALSE(remove_registered_install_folder(path));
        const std::string folder = path.back() == '\\' ? path : path + "\\";
        EXPECT_EQ((lines{refused(folder, why)}), log.texts());
    }
}

// A canary in each folder, there before and after.
class protected_folders : public ::testing::Test {
protected:
    void expect_folder_protected(const std::string& folder)
    {
        make_folder(folder);
        const std::string canary = without_slash(folder) + "\\" + canary_name;
        make_file(canary);
        ASSERT_TRUE(file_exists(canary)) << canary;
        record_folder(folder);
        expect_every_removal_refuses(folder, system_folder);
        EXPECT_TRUE(file_exists(canary)) << canary;
    }
};

} // namespace

TEST(plain_name, one_ordinary_component_only)
{
    const struct {
        std::wstring name;
        bool plain;
    } cases[] = {
        {L"Pellamore", true},
        {L"{5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}", true},
        {L"Program Files", true},
        {L"qelva.xml", true},
        {L".hidden", true},
        {L"J\u00f6rg", true},
        {L"", false},
        {L".", false},
        {L"..", false},
        {L"...", false},
        {L"a\\b", false},
        {L"..\\..", false},
        {L"a/b", false},
        {L"../..", false},
        {L"C:", false},
        {L"a:b", false},
        {L"*", false},
        {L"a?", false},
        {L"a\"b", false},
        {L"a<b", false},
        {L"a>b", false},
        {L"a|b", false},
        {std::wstring(L"a\0b", 3), false},
        {L"a\tb", false},
        {L"a\x1f", false},
        {L"name.", false},
        {L"name ", false},
        {L"name. .", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.plain, is_plain_name(c.name)) << narrow(c.name);
        EXPECT_EQ(c.plain, is_plain_name(tessel::unicode::to_narrow(c.name, CP_ACP, false))) << narrow(c.name);
    }
}

// The ANSI conversion makes full-width look-alikes ASCII: the rule judges the
// name in the form the path is built of.
TEST(plain_name, full_width_look_alikes_are_judged_as_the_path_will_read)
{
    for (const std::wstring& name : {std::wstring(L"\uff0e\uff0e"), std::wstring(L"a\uff3cb"), std::wstring(L"a\uff0fb"),
                                     std::wstring(L"C\uff1a")}) {
        const std::string narrowed = tessel::unicode::to_narrow(name, CP_ACP, false);
        EXPECT_FALSE(is_plain_name(narrowed)) << narrowed;
    }
    log_capture log;
    EXPECT_FALSE(plain_name_or_logged(".."));
    EXPECT_TRUE(plain_name_or_logged("Pellamore"));
    EXPECT_EQ((lines{"Passed over '..': not a single plain name !"}), log.texts());
}

TEST_F(protected_folders, the_system_folders_are_never_a_target)
{
    const std::string windows = without_slash(get_shell_folder(CSIDL_WINDOWS));
    for (const std::string& folder :
         {std::string("C:\\"), windows, windows + "\\system32", windows + "\\syswow64", windows + "\\system32\\drivers",
          windows + "\\Installer", std::string("C:\\Program Files"), std::string("C:\\Program Files (x86)"),
          std::string("C:\\Program Files\\Common Files"), std::string("C:\\Program Files (x86)\\Common Files"),
          without_slash(get_common_app_data_folder())})
        expect_folder_protected(folder);
}

TEST_F(protected_folders, every_profile_and_its_top_folders_are_never_a_target)
{
    // A second account in the folder of profiles, and a third that the
    // system's profile list places elsewhere.
    const std::string users = profile().substr(0, profile().rfind('\\'));
    make_folder(users + "\\Other");
    make_folder("C:\\Elsewhere\\Jo");
    ASSERT_NO_FATAL_FAILURE(list_profile(L"S-1-5-21-1-2-3-1001", "C:\\Elsewhere\\Jo"));
    forget_protected_folders();

    expect_folder_protected(users);
    for (const std::string& account : {profile(), users + "\\Other", std::string("C:\\Elsewhere\\Jo"), users + "\\Public"}) {
        expect_folder_protected(account);
        for (const char* top : {"Desktop", "Documents", "AppData", "AppData\\Local", "AppData\\Roaming",
                                "AppData\\Roaming\\Microsoft\\Windows\\Start Menu",
                                "AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"})
            expect_folder_protected(account + "\\" + top);
    }
}

// One folder, spelled every way Windows reads as that folder.
TEST_F(protected_folders, whatever_the_spelling)
{
    wchar_t short_name[MAX_PATH] = {};
    ASSERT_NE(0u, GetShortPathNameW(L"C:\\Program Files (x86)", short_name, MAX_PATH));
    const std::string windows = without_slash(get_shell_folder(CSIDL_WINDOWS));
    for (const std::string& spelling :
         {std::string("c:\\WINDOWS"), std::string("C:\\Windows\\"), std::string("C:/Windows"), std::string("C:\\Windows\\."),
          std::string("C:\\Windows\\system32\\.."), std::string("C:\\\\Windows"), std::string("C:\\Windows."),
          std::string("C:\\Windows "), std::string("C:\\Windows. .\\"), std::string("C:\\Program Files\\..\\Windows"),
          std::string("C:\\work\\..\\..\\..\\Windows"), std::string("C:\\Program Files (x86)\\InstallShield Installation Information\\..\\.."),
          std::string("C:\\Program Files (x86)\\InstallShield Installation Information\\.."),
          tessel::unicode::to_narrow(short_name, CP_ACP, false), std::string("C:\\.."),
          std::string("C:/")})
        expect_every_removal_refuses(spelling, system_folder);
    EXPECT_TRUE(file_exists(windows + "\\system32"));
}

TEST(not_local, relative_network_device_and_hidden_paths_are_refused)
{
    make_folder("C:\\work\\keep");
    make_file("C:\\work\\keep\\" + std::string(canary_name));
    SetCurrentDirectoryA("C:\\work");
    for (const std::string& path :
         {std::string("keep"), std::string(".\\keep"), std::string(".."), std::string("..\\.."), std::string("."),
          std::string("\\work\\keep"), std::string("C:keep"), std::string("\\\\localhost\\C$\\work\\keep"),
          std::string("\\\\?\\C:\\work\\keep"), std::string("\\\\.\\C:\\work\\keep"), std::string("//?/C:/work/keep"),
          std::string(""), std::string("C:\\work\\keep\0\\more", 18), std::string("Z:\\work")})
        expect_every_removal_refuses(path, not_local);
    EXPECT_TRUE(file_exists("C:\\work\\keep\\" + std::string(canary_name)));
}

// What lies inside the protected folders stays the caller's to judge, and a
// neighbour that only begins like one is no protected folder.
TEST(allowed, folders_inside_and_beside_protected_ones_go)
{
    for (const std::string& folder :
         {std::string("C:\\Program Files (x86)\\Guard Test\\Pellamore"), std::string("C:\\windowsX"),
          std::string("C:\\Program Files (x86) copy"), profile() + "\\AppData\\Roaming\\Drummets",
          std::string("C:\\work\\profiles-lookalike\\AppData")}) {
        make_folder(folder);
        make_file(folder + "\\data.txt");
        log_capture log;
        EXPECT_TRUE(remove_folder(folder)) << folder;
        EXPECT_EQ((lines{". Folder '" + folder + "' was removed"}), log.texts());
        EXPECT_FALSE(file_exists(folder));
    }
}

int main(int argc, char** argv)
{
    // Drive Z: maps the Linux root: a guard that failed could delete there.
    if (GetDriveTypeW(L"Z:\\") != DRIVE_NO_ROOT_DIR) {
        std::fprintf(stderr, "drive Z: exists: run this program in a prefix without it (wine-run --without-z-drive)\n");
        return 2;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Only where no user can make a folder on the way may a deletion wait for the
// restart: the program folders and Windows, not its temporary folder.
TEST(restart, only_below_the_program_and_windows_folders)
{
    const struct {
        const wchar_t* path;
        bool may_wait;
    } cases[] = {
        {L"C:\\Program Files (x86)\\Drummets\\Pellamore\\held.dat", true},
        {L"C:\\Program Files\\Common Files\\Common Sundrel Suite\\Scancore\\Scancore.dll", true},
        {L"C:\\windows\\system32\\drivers\\scrfsfilter.sys", true},
        {L"c:\\WINDOWS\\SysWOW64\\x.dll", true},
        {L"C:\\windows\\Temp\\Pellamore\\held.dat", false},
        {L"C:\\WINDOWS\\TEMP\\held.dat", false},
        {L"C:\\windows\\system32\\..\\Temp\\held.dat", false},
        {L"C:\\windowsTemp\\held.dat", false},
        {L"C:\\ProgramData\\Drummets\\held.dat", false},
        {L"C:\\users\\Public\\held.dat", false},
        {L"C:\\work\\held.dat", false},
        {L"C:\\Program Files (x86) copy\\held.dat", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.may_wait, may_wait_for_restart(c.path)) << tessel::unicode::to_ansi(c.path);
}
