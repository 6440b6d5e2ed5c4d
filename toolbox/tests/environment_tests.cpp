// The environment checks against what Wine reports for the Windows versions
// it can pretend to be, the administrator test over real and built group
// lists, and the shell folders.
#include "toolbox/environment.h"
#include "run_support.h"
#include "tessel/exception.h"

#include "tessel/unique_any.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>
#include <vector>

struct os_case {
    const char* wine_version;
    const char* expected; // description|before 2000|XP or 2003|WOW64
};

class os_description : public ::testing::TestWithParam<os_case> {};

TEST_P(os_description, matches_the_version_wine_reports)
{
    set_wine_version_for("environment_probe.exe", GetParam().wine_version);
    program_run run = run_program("environment_probe.exe", "C:\\work\\probe");
    clear_wine_version_for("environment_probe.exe");
    EXPECT_EQ(0u, run.exit_code);
    EXPECT_EQ(GetParam().expected, run.console);
}

// Wine 8.0 swaps win7 (reports a server) and win2008r2 (reports a workstation).
INSTANTIATE_TEST_SUITE_P(
    wine_versions, os_description,
    ::testing::Values(os_case{"nt40", "OS: majorv=4 minorv=0|1|0|1"},
                      os_case{"win2k", "Windows 2000 Service Pack 4|0|0|1"},
                      os_case{"winxp", "Windows XP Service Pack 3|0|1|1"},
                      os_case{"winxp64", "Windows XP Service Pack 2|0|1|1"},
                      os_case{"win2003", "Windows Server 2003 Service Pack 2|0|1|1"},
                      os_case{"vista", "Windows Vista Service Pack 2|0|0|1"},
                      os_case{"win2008", "Windows Server 2008 Service Pack 2|0|0|1"},
                      os_case{"win7", "Windows Server 2008 R2 Service Pack 1|0|0|1"},
                      os_case{"win2008r2", "Windows 7 Service Pack 1|0|0|1"},
                      os_case{"win8", "OS: majorv=6 minorv=2|0|0|1"}));

namespace {


// A token group list of the given groups, each with the given attributes.
struct group_list {
    std::vector<unsigned char> block;
    group_list(const std::vector<PSID>& sids, DWORD attributes)
        : block(sizeof(TOKEN_GROUPS) + sids.size() * sizeof(SID_AND_ATTRIBUTES))
    {
        auto* groups = reinterpret_cast<TOKEN_GROUPS*>(block.data());
        groups->GroupCount = static_cast<DWORD>(sids.size());
        for (size_t i = 0; i < sids.size(); ++i)
            groups->Groups[i] = {sids[i], attributes};
    }
    const TOKEN_GROUPS& groups() const { return *reinterpret_cast<const TOKEN_GROUPS*>(block.data()); }
};

} // namespace

TEST(administrator, wine_token_holds_the_administrators_group)
{
    EXPECT_EQ(1, IsRunAsAdministrator(L"Pellamore force remover"));
}

TEST(administrator, group_test_over_built_lists)
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    tessel::unique_sid administrators, users, everyone;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                         0, administrators.put()));
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0,
                                         0, users.put()));
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, everyone.put()));

    EXPECT_EQ(0, groups_include_administrators(group_list({everyone.get(), users.get()}, SE_GROUP_ENABLED).groups()));
    EXPECT_EQ(0, groups_include_administrators(group_list({}, 0).groups()));
    EXPECT_EQ(1, groups_include_administrators(
                     group_list({everyone.get(), administrators.get()}, SE_GROUP_ENABLED).groups()));
    // Held only as deny-only, the membership still counts.
    EXPECT_EQ(1, groups_include_administrators(group_list({administrators.get()}, SE_GROUP_USE_FOR_DENY_ONLY).groups()));
}

TEST(registry_root_name, names_the_predefined_roots)
{
    EXPECT_EQ(L"HKEY_CLASSES_ROOT", registry_root_name(HKEY_CLASSES_ROOT));
    EXPECT_EQ(L"HKEY_CURRENT_USER", registry_root_name(HKEY_CURRENT_USER));
    EXPECT_EQ(L"HKEY_LOCAL_MACHINE", registry_root_name(HKEY_LOCAL_MACHINE));
    EXPECT_EQ(L"HKEY_USERS", registry_root_name(HKEY_USERS));
    EXPECT_EQ(L"HKEY_CURRENT_CONFIG", registry_root_name(HKEY_CURRENT_CONFIG));
    EXPECT_EQ(L"HKEY_!unidentified!", registry_root_name(HKEY_PERFORMANCE_DATA));
}

TEST(shell_folders, end_with_one_appended_backslash)
{
    char common_app_data[MAX_PATH] = {};
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, common_app_data));
    EXPECT_EQ(std::string(common_app_data) + "\\", get_common_app_data_folder());
    EXPECT_EQ("C:\\ProgramData\\", get_common_app_data_folder());
    // Under WOW64 the 32-bit Program Files.
    EXPECT_EQ("C:\\Program Files (x86)\\", get_program_files_folder());
    EXPECT_EQ("C:\\Program Files (x86)\\Common Files\\", get_common_program_files_folder());
    for (const std::string& folder : {get_profile_folder(), get_app_data_folder(), get_desktop_folder(),
                                      get_common_desktop_folder(), get_common_programs_folder(), get_programs_folder()}) {
        ASSERT_GE(folder.size(), 4u);
        EXPECT_EQ('\\', folder.back());
        EXPECT_NE('\\', folder[folder.size() - 2]) << folder;
    }
}

TEST(shell_folders, unknown_folder_raises)
{
    try {
        get_shell_folder(0x7ff0);
        FAIL() << "no exception";
    } catch (const tessel::exception& e) {
        EXPECT_EQ("Error in ::SHGetFolderPath( 0, CSIDL=32752 ....", e.message());
    }
}

// A message box is shown only where someone can answer it.
TEST(message_boxes, are_seen_only_on_a_visible_station_outside_session_0_of_vista_and_later)
{
    const struct {
        bool visible;
        DWORD session;
        DWORD windows_major;
        bool seen;
    } cases[] = {
        {true, 1, 6, true},    // a user's desktop, Vista or later
        {true, 0, 5, true},    // XP and 2003: the first user signs in to session 0
        {true, 0, 4, true},    // before Windows 2000 (the run refuses there)
        {true, 0, 6, false},   // session 0 of Vista and later: services only
        {true, 0, 10, false},
        {false, 1, 6, false},  // a station nobody sees
        {false, 0, 5, false},
        {false, 2, 10, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.seen, message_boxes_are_seen(c.visible, c.session, c.windows_major))
            << c.visible << " " << c.session << " " << c.windows_major;
}

TEST(message_boxes, a_program_on_a_station_nobody_sees_knows_it)
{
    EXPECT_EQ("1", run_program("environment_probe.exe", "C:\\work\\probe", 120000, "boxes").console);
    const unseen_window_station station("RemoverTestStation");
    EXPECT_EQ("0", run_program("environment_probe.exe", "C:\\work\\probe", 120000, "boxes", station.desktop()).console);
}
