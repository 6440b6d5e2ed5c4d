// File-system removal on real folders of the throwaway prefix: the log lines
// of every outcome, the installation folder chain against the installer's
// folder record, shortcuts, caches, the per-profile walks, files held open by
// another process, and linked folders (made by the runner from
// files_tests.links) that a removal must neither enter nor delete through.
#include "checks.h"
#include "log_capture.h"
#include "run_support.h"
#include "tessel/registry2/key.h"
#include "tessel/unique_any.h"
#include "toolbox/environment.h"
#include "toolbox/files.h"
#include "toolbox/folders.h"
#include "toolbox/installer_leftovers.h"
#include "toolbox/profiles.h"
#include "toolbox/restart.h"
#include "toolbox/shortcuts.h"

#include <boost/filesystem.hpp>
#include "tessel/unique_any.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fs = boost::filesystem;
using lines = std::vector<std::string>;

namespace {

const wchar_t installer_folders[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
const char link_note[] = "' is a junction or symbolic link: neither it nor its target is touched !";

std::string link_line(const std::string& generic_path)
{
    return "Link '" + generic_path + link_note;
}

void make_file(const std::string& path)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "data";
}

void make_folder(const std::string& path)
{
    fs::create_directories(path);
}

DWORD attributes(const std::string& path)
{
    return GetFileAttributesA(path.c_str());
}

lines sorted(lines texts)
{
    std::sort(texts.begin(), texts.end());
    return texts;
}

lines containing(const lines& texts, const std::string& part)
{
    lines found;
    for (const std::string& text : texts)
        if (text.find(part) != std::string::npos)
            found.push_back(text);
    return found;
}

// Where Windows Installer records its folders: the 64-bit view, as the
// installer service of 64-bit Windows writes it.
tessel::registry2::key folder_record()
{
    return tessel::registry2::key(HKEY_LOCAL_MACHINE).open(installer_folders, true, tessel::registry2::view::view_64);
}

void record_folder(const std::string& folder)
{
    folder_record().write_string(std::wstring(folder.begin(), folder.end()), L"");
}

bool is_recorded(const std::string& folder)
{
    return folder_record().value_names().count(std::wstring(folder.begin(), folder.end())) != 0;
}

std::string profile_folder_name()
{
    const std::string profile = get_profile_folder();
    const std::string without_slash = profile.substr(0, profile.size() - 1);
    return without_slash.substr(without_slash.rfind('\\') + 1);
}

using owned_handle = tessel::unique_handle;

std::wstring widen(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

// The deletions (pairs of an NT path and an empty target) that the system
// carries out at its next restart.
lines pending_deletions()
{
    tessel::unique_hkey session;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                      session.put()) != ERROR_SUCCESS)
        return {"no Session Manager key"};
    std::vector<wchar_t> data(65536);
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t)), type = 0;
    if (RegQueryValueExW(session.get(), L"PendingFileRenameOperations", nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
        return {};
    // Pairs of strings, each ended by a null, then one more null.
    lines found;
    const size_t count = size / sizeof(wchar_t);
    for (size_t at = 0; at < count && data[at] != 0;) {
        const std::wstring source(data.data() + at), target(data.data() + at + source.size() + 1);
        found.push_back(std::string(source.begin(), source.end()));
        found.push_back(std::string(target.begin(), target.end()));
        at += source.size() + target.size() + 2;
    }
    return found;
}

// What after holds beyond its beginning, before.
lines added_since(const lines& before, const lines& after)
{
    if (after.size() < before.size() || !std::equal(before.begin(), before.end(), after.begin()))
        return {"the earlier entries changed"};
    return lines(after.begin() + static_cast<std::ptrdiff_t>(before.size()), after.end());
}

// Runs a program of the system and waits for it; its exit code.
DWORD run_system_program(std::string command_line)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
        return GetLastError();
    const tessel::unique_handle process(started.hProcess), thread(started.hThread);
    DWORD code = 0xFFFFFFFF;
    if (WaitForSingleObject(process.get(), 120000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.get(), &code);
    return code;
}

// Another process (file_holder.exe) holding files open without delete
// sharing, and its working folder, until released (and lingering for
// linger_ms after that) or for the life of the object.
class held_files {
public:
    explicit held_files(const std::vector<std::string>& paths, const std::string& working_folder = "",
                        DWORD linger_ms = 0, const std::string& program = program_folder() + "file_holder.exe")
    {
        const std::string tag = std::to_string(GetCurrentProcessId());
        const std::string ready_name = "files_tests_ready_" + tag, release_name = "files_tests_release_" + tag;
        ready_.reset(CreateEventA(nullptr, TRUE, FALSE, ready_name.c_str()));
        release_.reset(CreateEventA(nullptr, TRUE, FALSE, release_name.c_str()));
        std::string command = "\"" + program + "\" " + ready_name + " " + release_name;
        if (linger_ms != 0)
            command += " --linger=" + std::to_string(linger_ms);
        for (const std::string& path : paths) {
            fs::create_directories(fs::path(path).parent_path());
            command += " \"" + path + "\"";
        }
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started{};
        if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            working_folder.empty() ? nullptr : working_folder.c_str(), &startup, &started))
            return;
        const owned_handle thread(started.hThread);
        process_.reset(started.hProcess);
        const HANDLE waited[] = {ready_.get(), process_.get()};
        holding_ = WaitForMultipleObjects(2, waited, FALSE, 60000) == WAIT_OBJECT_0;
    }
    ~held_files() { release_and_wait(); }
    held_files(const held_files&) = delete;
    held_files& operator=(const held_files&) = delete;

    bool holding() const { return holding_; }
    // Tells the holder to end, without waiting for it.
    void release() { SetEvent(release_.get()); }
    void release_and_wait()
    {
        if (!process_)
            return;
        release();
        if (WaitForSingleObject(process_.get(), 30000) != WAIT_OBJECT_0)
            TerminateProcess(process_.get(), 1);
        process_.reset();
    }

private:
    owned_handle ready_, release_, process_;
    bool holding_ = false;
};

// The common application data folder moved into the all-users profile, as it
// lies on Windows XP, for the life of the object.
class common_app_data_in_all_users_profile {
public:
    explicit common_app_data_in_all_users_profile(const std::string& folder)
        : shell_folders_(tessel::registry2::key(HKEY_LOCAL_MACHINE)
                             .open(L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", true))
    {
        if (shell_folders_.value_names().count(value_))
            old_ = shell_folders_.read_string(value_);
        make_folder(folder);
        shell_folders_.write_string(value_, std::wstring(folder.begin(), folder.end()));
    }
    ~common_app_data_in_all_users_profile()
    {
        if (old_.empty())
            shell_folders_.remove_value(value_);
        else
            shell_folders_.write_string(value_, old_);
    }

private:
    const std::wstring value_ = L"Common AppData";
    tessel::registry2::key shell_folders_;
    std::wstring old_;
};

} // namespace

TEST(files, delete_file_logs_each_outcome)
{
    make_file("C:\\work\\del\\a.txt");
    log_capture log;
    EXPECT_TRUE(delete_file("C:\\work\\del\\a.txt"));
    EXPECT_FALSE(file_exists("C:\\work\\del\\a.txt"));
    EXPECT_FALSE(delete_file("C:\\work\\del\\a.txt"));
    EXPECT_FALSE(delete_file("C:\\work\\nowhere\\b.txt"));
    EXPECT_EQ((lines{"   C:\\work\\del\\a.txt removed", "FAILED TO remove 'C:\\work\\del\\a.txt'; error 2 !",
                     "FAILED TO remove 'C:\\work\\nowhere\\b.txt'; error 3 !"}),
              log.texts());
}

TEST(files, remove_folder_outcomes)
{
    make_folder("C:\\work\\rf\\empty");
    make_file("C:\\work\\rf\\tree\\a.txt");
    make_file("C:\\work\\rf\\tree\\sub\\deeper\\b.txt");
    make_file("C:\\work\\rf\\tree\\sub\\read-only.txt");
    SetFileAttributesA("C:\\work\\rf\\tree\\sub\\read-only.txt", FILE_ATTRIBUTE_READONLY);

    struct outcome {
        const char* folder;
        bool result;
        const char* line;
    } const cases[] = {
        {"C:\\work\\rf\\missing", false, "Folder to remove 'C:\\work\\rf\\missing' does NOT EXIST !"},
        // The folder itself counts as removed.
        {"C:\\work\\rf\\empty", true, ". Folder 'C:\\work\\rf\\empty' was removed"},
        {"C:\\work\\rf\\tree\\", true, ". Folder 'C:\\work\\rf\\tree\\' was removed"},
    };
    for (const outcome& c : cases) {
        log_capture log;
        EXPECT_EQ(c.result, remove_folder(c.folder)) << c.folder;
        EXPECT_EQ(lines{c.line}, log.texts());
        EXPECT_FALSE(file_exists(c.folder));
    }
}

TEST(files, remove_empty_folder_keeps_content)
{
    make_folder("C:\\work\\ref\\empty");
    make_file("C:\\work\\ref\\full\\a.txt");
    log_capture log;
    remove_empty_folder("C:\\work\\ref\\missing");
    remove_empty_folder("C:\\work\\ref\\empty");
    remove_empty_folder("C:\\work\\ref\\full");
    EXPECT_EQ((lines{"Folder to remove 'C:\\work\\ref\\missing' does NOT EXIST !",
                     "Removed empty folder 'C:\\work\\ref\\empty' !",
                     "Do NOT removing folder 'C:\\work\\ref\\full', as it is not empty !"}),
              log.texts());
    EXPECT_FALSE(file_exists("C:\\work\\ref\\empty"));
    EXPECT_TRUE(file_exists("C:\\work\\ref\\full\\a.txt"));
}

TEST(files, listings_skip_point_folders_and_do_not_recurse)
{
    make_folder("C:\\work\\list\\.hidden");
    make_folder("C:\\work\\list\\Sub");
    make_file("C:\\work\\list\\Sub\\inner.txt");
    make_file("C:\\work\\list\\a.txt");
    make_file("C:\\work\\list\\b.log");
    make_file("C:\\work\\list\\.point.txt");
    EXPECT_EQ(lines{"Sub"}, list_subfolders("C:\\work\\list\\"));
    EXPECT_EQ((lines{".point.txt", "a.txt"}), sorted(list_files("C:\\work\\list\\", "*.txt")));
    EXPECT_EQ((lines{".point.txt", "a.txt", "b.log"}), sorted(list_files("C:\\work\\list\\", "*")));
    EXPECT_TRUE(list_subfolders("C:\\work\\no-such-folder\\").empty());
    EXPECT_TRUE(list_files("C:\\work\\no-such-folder\\", "*").empty());
}

TEST(files, path_relative_to)
{
    struct relative_case {
        const char* full;
        const char* base;
        const char* expected;
    } const cases[] = {
        {"C:\\Users\\Name\\AppData\\Roaming\\Drummets", "c:\\users\\NAME", "AppData\\Roaming\\Drummets"},
        {"C:\\Users\\Name\\AppData\\Roaming\\Drummets", "C:\\Users\\Name\\", "AppData\\Roaming\\Drummets"},
        // Only one leading backslash is dropped.
        {"C:\\Users\\Name\\\\AppData", "C:\\Users\\Name", "\\AppData"},
        {"C:\\Users\\Name", "C:\\Users\\Name", ""},
        {"C:\\Users\\Other\\AppData", "C:\\Users\\Name", ""},
        {"C:\\Users", "C:\\Users\\Name", ""},
    };
    for (const relative_case& c : cases)
        EXPECT_EQ(c.expected, path_relative_to(c.full, c.base)) << c.full << " | " << c.base;
}

// ---- Installation folder and its parents --------------------------------

struct chain_case {
    const char* name;
    std::vector<std::string> folders;  // made, below Program Files
    std::vector<std::string> recorded; // in the installer's folder record
    std::string start;
    lines expected;                    // with "PF\\" for Program Files
    std::vector<std::string> remaining;
    std::vector<std::string> gone;
};

class install_folder_chain : public ::testing::TestWithParam<chain_case> {};

std::string in_program_files(const std::string& text)
{
    const std::string program_files = get_program_files_folder();
    std::string result = text;
    for (size_t at; (at = result.find("PF\\")) != std::string::npos;)
        result.replace(at, 3, program_files);
    return result;
}

TEST_P(install_folder_chain, removes_recorded_empty_folders_up_to_program_files)
{
    const chain_case& c = GetParam();
    for (const std::string& folder : c.folders)
        make_folder(in_program_files(folder));
    for (const std::string& folder : c.recorded)
        record_folder(in_program_files(folder));

    log_capture log;
    remove_install_folder_chain(in_program_files(c.start));
    lines expected;
    for (const std::string& line : c.expected)
        expected.push_back(in_program_files(line));
    EXPECT_EQ(expected, log.texts());
    for (const std::string& folder : c.remaining)
        EXPECT_TRUE(file_exists(in_program_files(folder))) << folder;
    for (const std::string& folder : c.gone) {
        EXPECT_FALSE(file_exists(in_program_files(folder))) << folder;
        EXPECT_FALSE(is_recorded(in_program_files(folder))) << folder;
    }
}

INSTANTIATE_TEST_SUITE_P(
    cases, install_folder_chain,
    ::testing::Values(
        chain_case{"both_recorded_stops_at_program_files",
                   {"PF\\Chain1\\Pellamore\\"},
                   {"PF\\Chain1\\Pellamore\\", "PF\\Chain1\\"},
                   "PF\\Chain1\\Pellamore\\",
                   {"Install Folder 'PF\\Chain1\\Pellamore\\' was removed also.",
                    "Install Folder 'PF\\Chain1\\' was removed also.", "Would not dare to remove 'PF\\' !"},
                   {"PF\\"},
                   {"PF\\Chain1\\Pellamore\\", "PF\\Chain1\\"}},
        // As the run calls it: the parent of the installation folder, without
        // its trailing backslash.
        chain_case{"without_trailing_backslash",
                   {"PF\\Chain2\\"},
                   {"PF\\Chain2\\"},
                   "PF\\Chain2",
                   {"Install Folder 'PF\\Chain2' was removed also.", "Would not dare to remove 'PF\\' !"},
                   {"PF\\"},
                   {"PF\\Chain2\\"}},
        chain_case{"not_recorded_is_kept",
                   {"PF\\Chain3\\Pellamore\\"},
                   {},
                   "PF\\Chain3\\Pellamore\\",
                   {"Can't remove Install Folder 'PF\\Chain3\\Pellamore\\' (not found, nonempty, or locked)."},
                   {"PF\\Chain3\\Pellamore\\"},
                   {}},
        chain_case{"parent_not_recorded_stops_there",
                   {"PF\\Chain4\\Pellamore\\"},
                   {"PF\\Chain4\\Pellamore\\"},
                   "PF\\Chain4\\Pellamore\\",
                   {"Install Folder 'PF\\Chain4\\Pellamore\\' was removed also.",
                    "Can't remove Install Folder 'PF\\Chain4\\' (not found, nonempty, or locked)."},
                   {"PF\\Chain4\\"},
                   {"PF\\Chain4\\Pellamore\\"}},
        chain_case{"parent_with_another_product_stops_silently",
                   {"PF\\Chain5\\Pellamore\\", "PF\\Chain5\\Ostravel\\"},
                   {"PF\\Chain5\\Pellamore\\", "PF\\Chain5\\"},
                   "PF\\Chain5\\Pellamore\\",
                   {"Install Folder 'PF\\Chain5\\Pellamore\\' was removed also."},
                   {"PF\\Chain5\\Ostravel\\"},
                   {"PF\\Chain5\\Pellamore\\"}},
        chain_case{"recorded_but_not_empty_is_kept",
                   {"PF\\Chain6\\Pellamore\\bin\\"},
                   {"PF\\Chain6\\Pellamore\\"},
                   "PF\\Chain6\\Pellamore\\",
                   {"Can't remove Install Folder 'PF\\Chain6\\Pellamore\\' (not found, nonempty, or locked)."},
                   {"PF\\Chain6\\Pellamore\\bin\\"},
                   {}}),
    [](const ::testing::TestParamInfo<chain_case>& info) { return std::string(info.param.name); });

TEST(install_folder_chain_spelling, program_files_in_other_letter_case_is_not_recognised_but_not_empty_either)
{
    std::string upper = get_program_files_folder();
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    make_folder(upper + "Chain7\\");
    record_folder(upper + "Chain7\\");
    log_capture log;
    remove_install_folder_chain(upper + "Chain7\\");
    EXPECT_EQ(lines{"Install Folder '" + upper + "Chain7\\' was removed also."}, log.texts());
    EXPECT_TRUE(file_exists(get_program_files_folder()));
}

TEST(install_folder_chain_view, a_record_in_the_programs_own_view_is_not_the_installers)
{
    // Under WOW64 the installer's records are in the 64-bit view; the same
    // value in this 32-bit program's view is no record of it.
    const std::string folder = get_program_files_folder() + "Chain8\\";
    make_folder(folder);
    tessel::registry2::key(HKEY_LOCAL_MACHINE).open(installer_folders, true).write_string(
        std::wstring(folder.begin(), folder.end()), L"");
    log_capture log;
    remove_install_folder_chain(folder);
    EXPECT_EQ(lines{"Can't remove Install Folder '" + folder + "' (not found, nonempty, or locked)."}, log.texts());
    EXPECT_TRUE(file_exists(folder));
}

// ---- Shortcuts ----------------------------------------------------------

TEST(shortcuts, tools_shortcut_goes_with_the_last_product_of_the_group)
{
    const std::string common = get_common_programs_folder() + "Drummets";
    const std::string user = get_programs_folder() + "Drummets";
    make_file(common + "\\Pellamore.lnk");
    make_file(common + "\\Kessavane.lnk");
    make_file(common + "\\Pellamore\\Uninstall.lnk");
    make_file(user + "\\Pellamore.lnk");
    make_file(user + "\\Kessavane.lnk");
    make_file(user + "\\Ostravel.lnk");

    log_capture log;
    remove_start_menu_shortcuts("Drummets", "Pellamore", "Kessavane");
    EXPECT_EQ((lines{". Folder '" + common + "\\Pellamore' was removed", "   " + common + "\\Pellamore.lnk removed",
                     "   " + common + "\\Kessavane.lnk removed", "Removed empty folder '" + common + "' !",
                     "Folder to remove '" + user + "\\Pellamore' does NOT EXIST !",
                     "   " + user + "\\Pellamore.lnk removed",
                     "Do NOT removing folder '" + user + "', as it is not empty !"}),
              log.texts());
    EXPECT_FALSE(file_exists(common));
    EXPECT_TRUE(file_exists(user + "\\Kessavane.lnk"));
    EXPECT_TRUE(file_exists(user + "\\Ostravel.lnk"));
}

// Relabelled for another maker, the family's tools shortcut is named after its
// tools folder; the default one's name is then nobody's to remove.
TEST(shortcuts, tools_shortcut_of_another_maker_is_named_after_its_tools)
{
    const std::string common = get_common_programs_folder() + "Vellacorp";
    const std::string user = get_programs_folder() + "Vellacorp";
    make_file(common + "\\Brightwarden.lnk");
    make_file(common + "\\VellaTools.lnk");
    make_file(user + "\\Brightwarden.lnk");
    make_file(user + "\\Kessavane.lnk");

    log_capture log;
    remove_start_menu_shortcuts("Vellacorp", "Brightwarden", "VellaTools");
    EXPECT_EQ((lines{"Folder to remove '" + common + "\\Brightwarden' does NOT EXIST !",
                     "   " + common + "\\Brightwarden.lnk removed", "   " + common + "\\VellaTools.lnk removed",
                     "Removed empty folder '" + common + "' !",
                     "Folder to remove '" + user + "\\Brightwarden' does NOT EXIST !",
                     "   " + user + "\\Brightwarden.lnk removed",
                     "Do NOT removing folder '" + user + "', as it is not empty !"}),
              log.texts());
    EXPECT_FALSE(file_exists(common));
    EXPECT_TRUE(file_exists(user + "\\Kessavane.lnk"));
    remove_folder(user);
}

TEST(shortcuts, desktop_shortcuts_of_all_users_then_the_user)
{
    make_file(get_common_desktop_folder() + "Pellamore.lnk");
    log_capture log;
    remove_desktop_shortcuts("Pellamore");
    EXPECT_EQ((lines{"   " + get_common_desktop_folder() + "Pellamore.lnk removed",
                     "FAILED TO remove '" + get_desktop_folder() + "Pellamore.lnk'; error 2 !"}),
              log.texts());
}

// ---- Installer leftovers ------------------------------------------------

TEST(installer_leftovers, installshield_folders_by_product_code)
{
    const std::string information = get_program_files_folder() + "InstallShield Installation Information\\";
    make_file(information + "{5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}\\setup.ini");
    log_capture log;
    remove_installshield_folders(
        {L"{5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}", L"{00000000-0000-0000-0000-000000000001}"});
    EXPECT_EQ((lines{". Folder '" + information + "{5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}' was removed",
                     "Folder to remove '" + information + "{00000000-0000-0000-0000-000000000001}' does NOT EXIST !"}),
              log.texts());
}

TEST(installer_leftovers, caches_only_with_a_matching_file)
{
    const std::string data = get_common_app_data_folder();
    make_file(data + "{CACHE-1}\\Pellamore.msi");
    make_file(data + "{CACHE-1}\\sub\\data.cab");
    make_file(data + "{CACHE-2}\\Ostravel.msi");
    make_folder(data + "{CACHE-2}\\Pellamore.msi.d"); // a folder does not match
    make_file(data + "CACHE-3\\Pellamore.msi");       // not a {...} folder
    log_capture log;
    remove_installation_caches("Pellamore.*");
    EXPECT_EQ((lines{". Folder '" + data + "{CACHE-1}' was removed", data + "\\{CACHE-2} - ignore folder"}),
              containing(log.texts(), "CACHE-"));
    EXPECT_FALSE(file_exists(data + "{CACHE-1}"));
    EXPECT_TRUE(file_exists(data + "{CACHE-2}\\Ostravel.msi"));
    EXPECT_TRUE(file_exists(data + "CACHE-3\\Pellamore.msi"));
}

// ---- Per-profile walks --------------------------------------------------
// C:\users holds the user's profile, Public, and "linked", a link to
// C:\work\elsewhere.

TEST(profiles, virtual_store_of_every_profile_counted_links_left_alone)
{
    const std::string store = "\\AppData\\Local\\VirtualStore\\ProgramData\\Drummets";
    const std::string mine = "C:\\users\\" + profile_folder_name() + store;
    make_file(mine + "\\Pellamore\\settings.xml");                // 3 entries
    make_file("C:\\users\\Other" + store + "\\a.txt");            // 2 entries
    make_file("C:\\users\\Other\\AppData\\Local\\VirtualStore\\ProgramData\\Ostravel\\keep.txt");
    make_file("C:\\work\\elsewhere" + store + "\\keep.txt");      // behind the link

    log_capture log;
    EXPECT_EQ(5, rmove_virtual_store("Drummets"));
    EXPECT_EQ(lines{link_line("C:/users/linked")}, log.texts());
    EXPECT_FALSE(file_exists(mine));
    EXPECT_FALSE(file_exists("C:\\users\\Other" + store));
    EXPECT_TRUE(file_exists("C:\\users\\Other\\AppData\\Local\\VirtualStore\\ProgramData\\Ostravel\\keep.txt"));
    EXPECT_TRUE(file_exists("C:\\work\\elsewhere" + store + "\\keep.txt"));

    // Profiles without the folder add nothing.
    log.clear();
    EXPECT_EQ(0, rmove_virtual_store("Drummets"));
    EXPECT_EQ(lines{link_line("C:/users/linked")}, log.texts());
}

// Relabelled for another maker, the run takes that maker's store and leaves
// every other one; without a maker it takes nothing.
TEST(profiles, virtual_store_of_the_makers_folder_alone)
{
    const std::string stores = "C:\\users\\" + profile_folder_name() + "\\AppData\\Local\\VirtualStore\\ProgramData\\";
    make_file(stores + "Vellacorp\\Brightwarden\\qelva.ini");  // 3 entries
    make_file(stores + "Drummets\\Pellamore\\qelva.ini");
    make_file(stores + "Vellacorp Labs\\labs.ini");

    EXPECT_EQ(0, rmove_virtual_store(""));
    EXPECT_TRUE(file_exists(stores + "Vellacorp\\Brightwarden\\qelva.ini"));
    EXPECT_EQ(3, rmove_virtual_store("Vellacorp"));
    EXPECT_FALSE(file_exists(stores + "Vellacorp"));
    EXPECT_TRUE(file_exists(stores + "Drummets\\Pellamore\\qelva.ini"));
    EXPECT_TRUE(file_exists(stores + "Vellacorp Labs\\labs.ini"));
    remove_folder(stores);
}

TEST(profiles, userappdata_walk_skips_the_all_users_profile)
{
    const std::string relative = "AppData\\Roaming\\Drummets\\Suite";
    const std::string me = profile_folder_name();
    const auto plant = [&] {
        for (const std::string& profile : {me, std::string("Other"), std::string("Public")})
            make_file("C:\\users\\" + profile + "\\" + relative + "\\cfg.xml");
        make_file("C:\\work\\elsewhere\\" + relative + "\\keep.xml");
    };
    const auto removing = [&](const std::string& profile) {
        return "removing C:/users/" + profile + "/AppData/Roaming/Drummets/Suite";
    };

    // Common application data outside every profile: no profile is skipped.
    plant();
    {
        log_capture log;
        remove_dir_in_userappdata_for_allprofiles(relative);
        EXPECT_EQ(sorted({removing(me), removing("Other"), removing("Public"), removing("linked"),
                          link_line("C:/users/linked")}),
                  sorted(log.texts()));
        EXPECT_FALSE(file_exists("C:\\users\\Public\\" + relative));
    }

    // Inside the all-users profile, as on Windows XP: that profile is kept.
    plant();
    {
        common_app_data_in_all_users_profile moved("C:\\users\\Public\\Application Data");
        log_capture log;
        remove_dir_in_userappdata_for_allprofiles(relative);
        EXPECT_EQ(sorted({removing(me), removing("Other"), removing("linked"), link_line("C:/users/linked")}),
                  sorted(log.texts()));
        EXPECT_TRUE(file_exists("C:\\users\\Public\\" + relative + "\\cfg.xml"));
    }
    EXPECT_FALSE(file_exists("C:\\users\\" + me + "\\" + relative));
    EXPECT_FALSE(file_exists("C:\\users\\Other\\" + relative));
    EXPECT_TRUE(file_exists("C:\\work\\elsewhere\\" + relative + "\\keep.xml"));

    log_capture log;
    remove_dir_in_userappdata_for_allprofiles("");
    EXPECT_EQ(lines{"empty parameter is not allowed for remove_dir_in_userappdata_for_allprofiles()"}, log.texts());
}

// ---- Linked folders -----------------------------------------------------

TEST(links, wine_shows_the_runners_links_as_reparse_points)
{
    make_folder("C:\\work\\outside");
    make_folder("C:\\work\\elsewhere");
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT), attributes("C:\\work\\doomed\\inner\\escape"));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT), attributes("C:\\work\\rootlink"));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT), attributes("C:\\users\\linked"));
}

// Why the removal guards every level itself: the library's remove_all alone
// goes through a link here and empties its target.
TEST(links, library_remove_all_alone_goes_through_a_link)
{
    make_file("C:\\work\\probe_target\\victim.txt");
    ASSERT_TRUE(file_exists("C:\\work\\probe\\link\\victim.txt"));
    boost::system::error_code error;
    fs::remove_all("C:\\work\\probe", error);
    EXPECT_FALSE(file_exists("C:\\work\\probe_target\\victim.txt"));
}

TEST(links, removal_leaves_a_link_inside_the_folder_and_its_target_alone)
{
    make_file("C:\\work\\outside\\precious.txt");
    make_file("C:\\work\\outside\\deep\\more.txt");
    make_file("C:\\work\\doomed\\a.txt");
    make_file("C:\\work\\doomed\\sub\\b.txt");
    make_file("C:\\work\\doomed\\inner\\c.txt");
    make_file("C:\\work\\doomed\\zz\\d.txt");
    ASSERT_TRUE(file_exists("C:\\work\\doomed\\inner\\escape\\precious.txt")) << "the runner made no link";

    log_capture log;
    // The folder stays (it still holds the link): no success.
    EXPECT_FALSE(remove_folder("C:\\work\\doomed"));
    EXPECT_EQ((lines{link_line("C:/work/doomed/inner/escape"), "! Failed to remove folder 'C:\\work\\doomed' !"}),
              log.texts());
    EXPECT_TRUE(file_exists("C:\\work\\outside\\precious.txt"));
    EXPECT_TRUE(file_exists("C:\\work\\outside\\deep\\more.txt"));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT), attributes("C:\\work\\doomed\\inner\\escape"));
    // Everything else went, before and after the link.
    EXPECT_FALSE(file_exists("C:\\work\\doomed\\a.txt"));
    EXPECT_FALSE(file_exists("C:\\work\\doomed\\sub"));
    EXPECT_FALSE(file_exists("C:\\work\\doomed\\inner\\c.txt"));
    EXPECT_FALSE(file_exists("C:\\work\\doomed\\zz"));
}

TEST(links, a_folder_that_is_itself_a_link_is_not_removed)
{
    make_file("C:\\work\\outside\\precious.txt");
    log_capture log;
    EXPECT_FALSE(remove_folder("C:\\work\\rootlink"));
    EXPECT_EQ((lines{link_line("C:/work/rootlink"), "! Failed to remove folder 'C:\\work\\rootlink' !"}), log.texts());
    EXPECT_TRUE(file_exists("C:\\work\\rootlink\\precious.txt"));
    EXPECT_TRUE(file_exists("C:\\work\\outside\\precious.txt"));
}

// ---- Files held open by another process ---------------------------------

// Under Program Files, where only administrators make folders, what is in
// use waits for the restart.
TEST(held_open, failure_lines_and_the_operation_goes_on)
{
    const std::string base = get_program_files_folder() + "Held Test";
    const std::string locked = base + "\\locked", single = base + "\\single";
    make_file(locked + "\\a.txt");
    make_file(locked + "\\z.txt");
    held_files held({locked + "\\held.txt", single + "\\held.txt"});
    ASSERT_TRUE(held.holding());

    const int scheduled_before = scheduled_for_restart();
    const lines pending_before = pending_deletions();
    {
        // What is in use goes at the next restart.
        log_capture log;
        EXPECT_FALSE(delete_file(single + "\\held.txt"));
        EXPECT_EQ((lines{"FAILED TO remove '" + single + "\\held.txt'; error 32 !",
                         "   " + single + "\\held.txt will be removed at the next restart"}),
                  log.texts());
    }
    {
        // The library's error; what is left goes now or, in use, at the next
        // restart, its folder after it; then the failure line.
        log_capture log;
        EXPECT_FALSE(remove_folder(locked));
        const std::vector<captured_line> written = log.lines();
        ASSERT_EQ(4u, written.size());
        EXPECT_EQ(tessel::log::level_error, written[0].level);
        const std::string failure = "boost::filesystem::remove_all: ";
        EXPECT_EQ(0u, written[0].text.find(failure)) << written[0].text;
        EXPECT_NE(std::string::npos, written[0].text.find("[system:32]")) << written[0].text;
        EXPECT_NE(std::string::npos, written[0].text.find(" exception: " + failure)) << written[0].text;
        EXPECT_EQ("   " + locked + "\\held.txt will be removed at the next restart", written[1].text);
        EXPECT_EQ("   " + locked + " will be removed at the next restart", written[2].text);
        EXPECT_EQ("! Failed to remove folder '" + locked + "' !", written[3].text);
        EXPECT_TRUE(file_exists(locked + "\\held.txt"));
        EXPECT_FALSE(file_exists(locked + "\\z.txt"));
    }
    EXPECT_EQ(scheduled_before + 3, scheduled_for_restart());
    EXPECT_EQ((lines{"\\??\\" + single + "\\held.txt", "", "\\??\\" + locked + "\\held.txt", "", "\\??\\" + locked, ""}),
              added_since(pending_before, pending_deletions()));
    // What waited for the restart must not meet the tests that follow.
    held.release_and_wait();
    fs::remove_all(base);
}

// Where users can make folders (their profiles, ProgramData, this work
// folder), one could swap a folder on the way for a link after the run, and a
// deletion at the restart would follow it: what is in use there is logged
// and left, and counted as left.
TEST(held_open, in_use_where_users_make_folders_is_left_not_scheduled)
{
    const std::string mine =
        "C:\\users\\" + profile_folder_name() + "\\AppData\\Local\\VirtualStore\\ProgramData\\Drummets";
    const std::string others = "C:\\users\\Other\\AppData\\Local\\VirtualStore\\ProgramData\\Drummets";
    const std::string data = get_common_app_data_folder() + "Held Test";
    make_file(mine + "\\free.txt");
    make_file(others + "\\free.txt");
    make_file(data + "\\free.txt");
    held_files held({others + "\\held.dat", "C:\\work\\single\\held.txt", data + "\\held.dat"});
    ASSERT_TRUE(held.holding());
    const int scheduled_before = scheduled_for_restart();
    const size_t left_before = left_in_use().size();
    const lines pending_before = pending_deletions();
    const std::string stays = " is in use and stays: only the program and Windows folders are cleaned at the restart";
    {
        log_capture log;
        EXPECT_FALSE(delete_file("C:\\work\\single\\held.txt"));
        EXPECT_EQ((lines{"FAILED TO remove 'C:\\work\\single\\held.txt'; error 32 !",
                         "   C:\\work\\single\\held.txt" + stays}),
                  log.texts());
    }
    {
        log_capture log;
        EXPECT_FALSE(remove_folder(data));
        const lines written = log.texts();
        ASSERT_EQ(3u, written.size());
        EXPECT_EQ((lines{"   " + data + "\\held.dat" + stays, "! Failed to remove folder '" + data + "' !"}),
                  lines(written.begin() + 1, written.end()));
    }
    {
        // One profile's store fails; the others are still removed.
        log_capture log;
        EXPECT_EQ(2, rmove_virtual_store("Drummets"));
        const lines errors = containing(log.texts(), "Error occured in rmove_virtual_store(), System Error Code = ");
        EXPECT_EQ(1u, errors.size());
        EXPECT_FALSE(file_exists(mine));
        EXPECT_EQ((lines{"   " + others + "\\held.dat" + stays}), containing(log.texts(), stays));
    }
    EXPECT_TRUE(file_exists(others + "\\held.dat"));
    EXPECT_TRUE(file_exists(data + "\\held.dat"));
    EXPECT_FALSE(file_exists(data + "\\free.txt"));
    EXPECT_EQ(scheduled_before, scheduled_for_restart());
    EXPECT_EQ(lines{}, added_since(pending_before, pending_deletions()));
    const std::vector<std::wstring> left = left_in_use();
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\work\\single\\held.txt", widen(data + "\\held.dat"),
                                         widen(others + "\\held.dat")}),
              std::vector<std::wstring>(left.begin() + static_cast<std::ptrdiff_t>(left_before), left.end()));
    held.release_and_wait();
    for (const std::string& folder : {std::string("C:\\work\\single"), others, data})
        fs::remove_all(folder);
}

// "Access denied" is use only for a running program's image or a library a
// program loaded; any other refusal is no use that ends at the restart.
TEST(held_open, access_denied_is_in_use_only_for_a_program_or_a_library)
{
    const std::string base = get_program_files_folder() + "Denied Test";
    make_folder(base + "\\a folder");
    const std::string image = base + "\\running.exe", library = base + "\\QELVA.dll";
    ASSERT_TRUE(CopyFileA((program_folder() + "file_holder.exe").c_str(), image.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((program_folder() + "QELVA.dll").c_str(), library.c_str(), FALSE));
    held_files running({}, "", 0, image);
    ASSERT_TRUE(running.holding());
    const tessel::unique_module loaded(LoadLibraryA(library.c_str()));
    ASSERT_TRUE(loaded);
    const int scheduled_before = scheduled_for_restart();

    log_capture log;
    EXPECT_FALSE(delete_file(base + "\\a folder"));
    EXPECT_FALSE(delete_file(image));
    EXPECT_FALSE(delete_file(library));
    EXPECT_EQ((lines{"FAILED TO remove '" + base + "\\a folder'; error 5 !", "FAILED TO remove '" + image + "'; error 5 !",
                     "   " + image + " will be removed at the next restart",
                     "FAILED TO remove '" + library + "'; error 5 !",
                     "   " + library + " will be removed at the next restart"}),
              log.texts());
    EXPECT_EQ(scheduled_before + 2, scheduled_for_restart());
}

// ---- Folders that another program holds ----------------------------------
//
// A running program's working folder cannot be removed, as a console host's
// could not for a moment after the program it served ended. Under Program
// Files, where what is in use may wait for the restart.

class held_folder : public ::testing::Test {
protected:
    void SetUp() override
    {
        make_folder(empty);
        make_file(full + "\\data.txt");
        make_folder(full + "\\work");
    }
    void TearDown() override
    {
        set_folder_release_wait(default_folder_release_wait_ms);
        fs::remove_all(base);
    }

    const std::string base = get_program_files_folder() + "Held Folder Test\\";
    const std::string empty = base + "empty";
    const std::string full = base + "full";
};

TEST_F(held_folder, one_released_during_the_wait_is_removed)
{
    set_folder_release_wait(120000); // far beyond what the holder needs to end
    const DWORD linger_ms = 500;      // so that the first try meets the folder still held
    const int scheduled = scheduled_for_restart();
    {
        held_files holder({}, empty, linger_ms);
        ASSERT_TRUE(holder.holding());
        holder.release();
        log_capture log;
        remove_empty_folder(empty);
        EXPECT_EQ((lines{"Removed empty folder '" + empty + "' !"}), log.texts());
    }
    {
        held_files holder({}, full + "\\work", linger_ms);
        ASSERT_TRUE(holder.holding());
        holder.release();
        log_capture log;
        EXPECT_TRUE(remove_folder(full));
        EXPECT_EQ((lines{". Folder '" + full + "' was removed"}), log.texts());
    }
    EXPECT_FALSE(file_exists(empty));
    EXPECT_FALSE(file_exists(full));
    EXPECT_EQ(scheduled, scheduled_for_restart());
}

TEST_F(held_folder, one_still_held_after_the_wait_goes_at_the_next_restart)
{
    set_folder_release_wait(100);
    held_files first({}, empty), second({}, full + "\\work");
    ASSERT_TRUE(first.holding());
    ASSERT_TRUE(second.holding());
    const int scheduled = scheduled_for_restart();
    const lines pending = pending_deletions();
    {
        log_capture log;
        remove_empty_folder(empty);
        EXPECT_EQ((lines{"Failed to remove empty folder '" + empty + "', GetLastError()=32 !",
                         "   " + empty + " will be removed at the next restart"}),
                  log.texts());
    }
    {
        log_capture log;
        EXPECT_FALSE(remove_folder(full));
        const lines written = log.texts();
        ASSERT_EQ(4u, written.size());
        EXPECT_NE(std::string::npos, written[0].find("[system:32]")) << written[0];
        EXPECT_EQ((lines{"   " + full + "\\work will be removed at the next restart",
                         "   " + full + " will be removed at the next restart", "! Failed to remove folder '" + full + "' !"}),
                  lines(written.begin() + 1, written.end()));
    }
    EXPECT_TRUE(file_exists(empty));
    EXPECT_TRUE(file_exists(full + "\\work"));
    EXPECT_FALSE(file_exists(full + "\\data.txt"));
    EXPECT_EQ(scheduled + 3, scheduled_for_restart());
    EXPECT_EQ((lines{"\\??\\" + empty, "", "\\??\\" + full + "\\work", "", "\\??\\" + full, ""}),
              added_since(pending, pending_deletions()));
}

// Wine's restart carries the scheduled deletions out once nothing holds the
// files any more.
TEST(held_open, what_was_scheduled_is_gone_after_a_restart)
{
    const std::string restart = get_program_files_folder() + "Restart Test";
    make_file(restart + "\\kept\\free.txt");
    {
        held_files held({restart + "\\kept\\held.txt"});
        ASSERT_TRUE(held.holding());
        log_capture log;
        EXPECT_FALSE(remove_folder(restart));
        EXPECT_TRUE(file_exists(restart + "\\kept\\held.txt"));
    }
    make_file(restart + "-neighbour.txt");
    EXPECT_EQ(0u, run_system_program("wineboot.exe -r"));
    EXPECT_FALSE(file_exists(restart));
    EXPECT_TRUE(file_exists(restart + "-neighbour.txt"));
}
