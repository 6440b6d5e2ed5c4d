// The users' profiles from the system's profile list: which entries stand for
// a user whose profile the run cleans, and which it leaves alone.
#include "toolbox/environment.h"
#include "toolbox/profile_list.h"
#include "tessel/registry2/key.h"
#include "tessel/unicode/unicode.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <optional>
#include <string>

namespace {

std::string shown(const std::wstring& text)
{
    return tessel::unicode::to_ansi(text);
}

const wchar_t user[] = L"S-1-5-21-1111-2222-3333-1001";

} // namespace

TEST(user_profile_folder, takes_users_and_leaves_the_rest)
{
    SetEnvironmentVariableW(L"PROFILE_TEST_DRIVE", L"C:");
    // The link's target, so that the link leads somewhere.
    CreateDirectoryW(L"C:\\work", nullptr);
    CreateDirectoryW(L"C:\\work\\elsewhere", nullptr);
    const struct {
        const wchar_t* key;
        std::optional<std::wstring> image_path;
        std::optional<std::wstring> folder;
    } cases[] = {
        {user, L"C:\\users\\jo", L"C:\\users\\jo"},
        {user, L"D:\\Profiles\\jo", std::nullopt},                 // no such fixed drive here
        {user, L"%PROFILE_TEST_DRIVE%\\Elsewhere\\Kim", L"C:\\Elsewhere\\Kim"},  // stored without expansion
        {user, L"%NO_SUCH_VARIABLE%\\Kim", std::nullopt},
        {user, std::nullopt, std::nullopt},                        // missing or unreadable
        {user, L"", std::nullopt},
        {user, L"users\\jo", std::nullopt},                        // relative
        {user, L"\\users\\jo", std::nullopt},
        {user, L"\\\\server\\profiles\\jo", std::nullopt},
        {user, L"C:\\users\\linked", std::nullopt},                // a link
        {L"S-1-5-21-1111-2222-3333-1001.bak", L"C:\\users\\jo", std::nullopt},
        {L"S-1-5-21-1111-2222-3333-1001 ", L"C:\\users\\jo", std::nullopt},
        {L"S-1-5-21-x", L"C:\\users\\jo", std::nullopt},
        {L"S-1-5-21-", L"C:\\users\\jo", std::nullopt},
        {L"..", L"C:\\users\\jo", std::nullopt},
        {L"S-1-5-18", L"C:\\windows\\system32\\config\\systemprofile", std::nullopt},
        {L"S-1-5-19", L"C:\\windows\\ServiceProfiles\\LocalService", std::nullopt},
        {L"S-1-5-20", L"C:\\windows\\ServiceProfiles\\NetworkService", std::nullopt},
        {L"S-1-5-21-1111-2222-3333-500", L"C:\\users\\Administrator", L"C:\\users\\Administrator"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.folder, user_profile_folder(c.key, c.image_path))
            << shown(c.key) << " " << (c.image_path ? shown(*c.image_path) : "(none)");
    SetEnvironmentVariableW(L"PROFILE_TEST_DRIVE", nullptr);
}

// Laid in the system's own view of the profile list, as Windows keeps it.
TEST(listed_user_profiles, are_the_users_the_system_lists)
{
    const tessel::registry2::key list =
        tessel::registry2::key(HKEY_LOCAL_MACHINE).open(profile_list_key, true, native_registry_view());
    const std::map<std::wstring, std::wstring> laid = {
        {L"S-1-5-21-1111-2222-3333-1001", L"%SystemDrive%\\Elsewhere\\Kim"},
        {L"S-1-5-21-1111-2222-3333-1001.bak", L"C:\\users\\Kim.old"},
        {L"S-1-5-18", L"%systemroot%\\system32\\config\\systemprofile"},
        {L"S-1-5-19", L"C:\\windows\\ServiceProfiles\\LocalService"},
        {L"S-1-5-20", L"C:\\windows\\ServiceProfiles\\NetworkService"},
        {L"S-1-5-21-1111-2222-3333-1002", L"relative\\Lee"},
    };
    for (const auto& [sid, path] : laid) {
        const tessel::registry2::key entry = list.open(sid, true);
        const auto bytes = static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(entry.handle(), L"ProfileImagePath", 0, REG_EXPAND_SZ,
                                                reinterpret_cast<const BYTE*>(path.c_str()), bytes));
    }
    list.open(L"S-1-5-21-1111-2222-3333-1003", true);  // no ProfileImagePath

    const auto profiles = listed_user_profiles();
    ASSERT_TRUE(profiles);
    std::map<std::wstring, std::wstring> found;
    for (const user_profile& profile : *profiles)
        found[profile.sid] = profile.folder;
    wchar_t own[MAX_PATH] = {};
    GetEnvironmentVariableW(L"USERPROFILE", own, MAX_PATH);
    for (const auto& [sid, folder] : found)
        EXPECT_TRUE(sid == L"S-1-5-21-1111-2222-3333-1001" || folder == own) << shown(sid) << " " << shown(folder);
    EXPECT_EQ(L"C:\\Elsewhere\\Kim", found[L"S-1-5-21-1111-2222-3333-1001"]);
    EXPECT_EQ(2u, found.size());  // the running account's and Kim's
}
