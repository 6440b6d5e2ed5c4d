// Registry cleaning on real keys of the throwaway prefix: the log line and
// result of each outcome, and which of the two Run keys an autorun name is
// looked for in.
#include "toolbox/registry_cleaning.h"
#include "checks.h"
#include "log_capture.h"
#include "tessel/registry2/key.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using wide_lines = std::vector<std::wstring>;

namespace {

const wchar_t run_key[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

tessel::registry2::key make_key(HKEY root, const std::wstring& path)
{
    return tessel::registry2::key(root).open(path, true);
}

} // namespace

TEST(remove_regkey, outcomes)
{
    make_key(HKEY_CURRENT_USER, L"Software\\ToolboxTests\\Tree\\Branch\\Leaf").write_dword(L"v", 1);
    make_key(HKEY_CURRENT_USER, L"Software\\ToolboxTests\\Single");
    make_key(HKEY_CURRENT_USER, L"Software\\ToolboxTests\\Sealed\\Child");
    seal_key(HKEY_CURRENT_USER, L"Software\\ToolboxTests\\Sealed");

    struct removal {
        const wchar_t* parent;
        const wchar_t* subkey;
        bool recursive;
        bool result;
        const wchar_t* line;
    } const cases[] = {
        // A missing parent: nothing to remove, which is fine.
        {L"Software\\NoSuchParent", L"Child", true, true,
         L"!  Subkey Child NOT removed as HKEY_CURRENT_USER\\Software\\NoSuchParent not FOUND !"},
        // A parent that cannot be opened has the same line, but is no success.
        {L"Software\\ToolboxTests\\Sealed", L"Child", true, false,
         L"!  Subkey Child NOT removed as HKEY_CURRENT_USER\\Software\\ToolboxTests\\Sealed not FOUND !"},
        {L"Software\\ToolboxTests", L"Missing", true, false,
         L"!  Failed to remove regkey 'HKEY_CURRENT_USER\\Software\\ToolboxTests\\Missing' !"},
        {L"Software\\ToolboxTests", L"Tree", false, false,
         L"!  Failed to remove regkey 'HKEY_CURRENT_USER\\Software\\ToolboxTests\\Tree' !"},
        {L"Software\\ToolboxTests", L"Tree", true, true,
         L"  Removed regkey 'HKEY_CURRENT_USER\\Software\\ToolboxTests\\Tree'"},
        {L"Software\\ToolboxTests", L"Single", false, true,
         L"  Removed regkey 'HKEY_CURRENT_USER\\Software\\ToolboxTests\\Single'"},
        // An empty name would mean the parent itself.
        {L"Software\\ToolboxTests", L"", true, false,
         L"!  Failed to remove regkey 'HKEY_CURRENT_USER\\Software\\ToolboxTests\\' !"},
    };
    for (const removal& c : cases) {
        log_capture log;
        EXPECT_EQ(c.result, remove_regkey(HKEY_CURRENT_USER, c.parent, c.subkey, c.recursive)) << narrow_lines({c.line})[0];
        EXPECT_EQ(narrow_lines({c.line}), log.texts());
        EXPECT_EQ(tessel::log::level_info, log.lines().at(0).level);
    }
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, L"Software\\ToolboxTests\\Tree"));
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, L"Software\\ToolboxTests\\Single"));
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, L"Software\\ToolboxTests"));
    EXPECT_TRUE(key_is_sealed(HKEY_CURRENT_USER, L"Software\\ToolboxTests\\Sealed"));
}

TEST(open_or_report, an_absent_key_is_no_news_one_that_cannot_be_opened_is)
{
    make_key(HKEY_CURRENT_USER, L"Software\\ReportedOpens\\There");
    make_key(HKEY_CURRENT_USER, L"Software\\ReportedOpens\\Sealed");
    seal_key(HKEY_CURRENT_USER, L"Software\\ReportedOpens\\Sealed");
    const tessel::registry2::key parent = make_key(HKEY_CURRENT_USER, L"Software\\ReportedOpens");
    const tessel::registry2::view own = tessel::registry2::view::default_view;

    log_capture log;
    EXPECT_TRUE(open_or_report(parent, L"There", L"shown"));
    EXPECT_TRUE(open_or_report(parent.handle(), L"There", KEY_READ, own, L"shown"));
    EXPECT_FALSE(open_or_report(parent, L"Absent", L"shown"));
    EXPECT_FALSE(open_or_report(parent.handle(), L"Absent", KEY_READ, own, L"shown"));
    EXPECT_TRUE(log.texts().empty());
    EXPECT_FALSE(open_or_report(parent, L"Sealed", L"HKCU\\Software\\ReportedOpens\\Sealed"));
    EXPECT_FALSE(open_or_report(parent.handle(), L"Sealed", KEY_READ, own, L"the sealed key"));
    EXPECT_EQ((std::vector<std::string>{"! ERROR open key HKCU\\Software\\ReportedOpens\\Sealed failed: 5",
                                        "! ERROR open key the sealed key failed: 5"}),
              log.texts());
}

TEST(remove_uninstall_entries, each_code_with_its_subtree)
{
    const std::wstring uninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    make_key(HKEY_LOCAL_MACHINE, uninstall + L"\\{5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}\\Sub")
        .write_string(L"DisplayName", L"Pellamore");
    make_key(HKEY_LOCAL_MACHINE, uninstall + L"\\{00000000-0000-0000-0000-0000000000AA}");
    {
        log_capture log;
        EXPECT_TRUE(remove_uninstall_entries(
            {L"{5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}", L"{00000000-0000-0000-0000-000000000001}"}));
        EXPECT_EQ(
            narrow_lines({L"  Removed regkey 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                    L"{5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}'",
                    L"!  Failed to remove regkey 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                    L"Uninstall\\{00000000-0000-0000-0000-000000000001}' !"}),
            log.texts());
    }
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, uninstall + L"\\{5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}"));
    EXPECT_TRUE(key_exists(HKEY_LOCAL_MACHINE, uninstall + L"\\{00000000-0000-0000-0000-0000000000AA}"));

    log_capture log;
    EXPECT_FALSE(remove_uninstall_entries({}));
    EXPECT_TRUE(log.texts().empty());
}

TEST(remove_autorun, lintorra_lives_in_the_users_run_key_only)
{
    make_key(HKEY_CURRENT_USER, run_key).write_string(L"Lintorra", L"C:\\lintorra.exe");
    make_key(HKEY_LOCAL_MACHINE, run_key).write_string(L"Lintorra", L"C:\\lintorra.exe");
    make_key(HKEY_LOCAL_MACHINE, run_key).write_string(L"QELVAguard", L"C:\\guard.exe");
    make_key(HKEY_CURRENT_USER, run_key).write_string(L"QELVAguard", L"C:\\guard.exe");

    struct autorun {
        const wchar_t* name;
        bool result;
        const wchar_t* line;
    } const cases[] = {
        {L"Lintorra", true, L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Lintorra removed OK"},
        {L"Lintorra", false, L"Failed to remove HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Lintorra !"},
        {L"QELVAguard", true, L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\QELVAguard removed OK"},
        {L"QELVAguard", false, L"Failed to remove HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\QELVAguard !"},
        // Another spelling is an ordinary name (and the registry's names
        // ignore letter case).
        {L"LINTORRA", true, L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\LINTORRA removed OK"},
    };
    for (const autorun& c : cases) {
        log_capture log;
        EXPECT_EQ(c.result, remove_autorun(c.name)) << narrow_lines({c.line})[0];
        EXPECT_EQ(narrow_lines({std::wstring(L"Let's remove autorun of ") + c.name, c.line}), log.texts());
    }
    ASSERT_TRUE(key_exists(HKEY_LOCAL_MACHINE, run_key));
    EXPECT_FALSE(value_exists(HKEY_LOCAL_MACHINE, run_key, L"Lintorra"));
    // Only the local machine's QELVAguard was meant.
    EXPECT_TRUE(value_exists(HKEY_CURRENT_USER, run_key, L"QELVAguard"));
}

TEST(remove_autorun, lintorra_in_the_machines_run_key_stays)
{
    make_key(HKEY_CURRENT_USER, run_key).write_string(L"Lintorra", L"C:\\lintorra.exe");
    make_key(HKEY_LOCAL_MACHINE, run_key).write_string(L"Lintorra", L"C:\\lintorra.exe");
    log_capture log;
    EXPECT_TRUE(remove_autorun(L"Lintorra"));
    ASSERT_TRUE(key_exists(HKEY_CURRENT_USER, run_key));
    EXPECT_FALSE(value_exists(HKEY_CURRENT_USER, run_key, L"Lintorra"));
    EXPECT_TRUE(value_exists(HKEY_LOCAL_MACHINE, run_key, L"Lintorra"));
}

TEST(remove_context_menu, scan_with_commands_for_files_and_folders)
{
    make_key(HKEY_CLASSES_ROOT, L"*\\shell\\scan_with_Pellamore\\command").write_string(L"", L"pellamore.exe \"%1\"");
    make_key(HKEY_CLASSES_ROOT, L"Directory\\shell\\scan_with_Pellamore\\command").write_string(L"", L"x");
    make_key(HKEY_CLASSES_ROOT, L"*\\shell\\scan_with_Ostravel\\command");

    log_capture log;
    remove_context_menu(L"Pellamore");
    EXPECT_EQ(narrow_lines({L"", L" Let's remove right-click context menu 'Scan with Pellamore'",
                      L"  Removed regkey 'HKEY_CLASSES_ROOT\\*\\shell\\scan_with_Pellamore'",
                      L"  Removed regkey 'HKEY_CLASSES_ROOT\\Directory\\shell\\scan_with_Pellamore'"}),
              log.texts());
    EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, L"*\\shell\\scan_with_Pellamore"));
    EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, L"Directory\\shell\\scan_with_Pellamore"));
    EXPECT_TRUE(key_exists(HKEY_CLASSES_ROOT, L"*\\shell\\scan_with_Ostravel"));

    // Nothing left: both deletions fail.
    log.clear();
    remove_context_menu(L"Pellamore");
    EXPECT_EQ(narrow_lines({L"", L" Let's remove right-click context menu 'Scan with Pellamore'",
                      L"!  Failed to remove regkey 'HKEY_CLASSES_ROOT\\*\\shell\\scan_with_Pellamore' !",
                      L"!  Failed to remove regkey 'HKEY_CLASSES_ROOT\\Directory\\shell\\scan_with_Pellamore' !"}),
              log.texts());
}
