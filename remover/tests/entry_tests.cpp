// Remove.exe run end to end in the prefix: start-up, refusals, the version
// decision and the two ways a run ends, read from its exit code and logs.
#include "log_lines.h"
#include "run_support.h"
#include "texts.h"
#include "uninstall_entry.h"
#include "tessel/registry2/key.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <windows.h>
#include <string>
#include <vector>

namespace {

const char completed_ok[] = "Pellamore force remover version 2.1.2.12 completed OK.";

std::string program_files_x86()
{
    char path[MAX_PATH] = {};
    GetEnvironmentVariableA("ProgramFiles", path, MAX_PATH);
    return path;
}

std::string temp_path()
{
    char path[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, path);
    return path;
}

std::string last_nonempty(const std::vector<log_line>& lines)
{
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
        if (!it->text.empty())
            return it->text;
    return {};
}

// One registry value that a shell folder is computed from, pointed at a drive
// that does not exist for the life of the object, so that the shell has no
// answer for that folder.
class unresolvable_folder {
public:
    unresolvable_folder(HKEY root, const wchar_t* path, const wchar_t* value)
        : key_(tessel::registry2::key(root).open(path, true)), value_(value)
    {
        had_old_ = key_.value_names().count(value_) > 0;
        if (had_old_)
            old_ = key_.read_string(value_);
        key_.write_string(value_, L"Q:\\nowhere");
    }
    ~unresolvable_folder()
    {
        if (had_old_)
            key_.write_string(value_, old_);
        else
            key_.remove_value(value_);
    }
    unresolvable_folder(const unresolvable_folder&) = delete;
    unresolvable_folder& operator=(const unresolvable_folder&) = delete;

private:
    tessel::registry2::key key_;
    std::wstring value_;
    std::wstring old_;
    bool had_old_ = false;
};

std::vector<std::string>::const_iterator find_prefix(const std::vector<std::string>& texts, const std::string& head)
{
    return std::find_if(texts.begin(), texts.end(),
                        [&](const std::string& text) { return text.rfind(head, 0) == 0; });
}

} // namespace

TEST(remove_entry, a_stage_that_fails_is_named_on_the_log_and_the_run_goes_on)
{
    // The engine's removal and the Program Files stage need the user's
    // application data folder.
    unresolvable_folder app_data(HKEY_CURRENT_USER,
                                 L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                                 L"AppData");
    program_run run = run_program("Remove.exe", "C:\\work\\broken");
    EXPECT_EQ(0u, run.exit_code);
    const std::vector<log_line> lines = parse_log(run.log_file);
    const std::vector<std::string> texts = texts_of(lines);
    const auto failed = find_prefix(texts, "Stage \"Program Files\" failed");
    ASSERT_NE(texts.end(), failed) << run.log_file;
    EXPECT_EQ('!', lines[failed - texts.begin()].marker);
    EXPECT_NE(std::string::npos, failed->find("SHGetFolderPath")) << *failed;
    EXPECT_NE(texts.end(), std::find(failed, texts.end(), "**** Removing files from Virtual Store ****"));
    EXPECT_EQ(completed_ok, last_nonempty(lines));
}

TEST(remove_entry, an_error_in_start_up_ends_the_run_abnormally)
{
    // The default installation directory lies in the Program Files folder.
    unresolvable_folder program_files(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion",
                                      L"ProgramFilesDir");
    program_run run = run_program("Remove.exe", "C:\\work\\startup");
    EXPECT_EQ(1u, run.exit_code);
    const std::vector<std::string> texts = texts_of(parse_log(run.log_file));
    const auto failed = find_prefix(texts, "Start-up failed");
    ASSERT_NE(texts.end(), failed) << run.log_file;
    const std::vector<std::string> expected_end = {"", "Pellamore force remover version 2.1.2.12 completed abnormally.",
                                                   ""};
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(expected_end, std::vector<std::string>(texts.end() - 3, texts.end()));
    EXPECT_EQ(texts.end(), find_prefix(texts, "**** Stop Pellamore processes ****")) << "no stage runs";
}

TEST(remove_entry, nothing_installed_takes_the_preventive_path_and_completes)
{
    DeleteFileA((temp_path() + "QLRemover.log.txt.log.txt").c_str());
    program_run run = run_program("Remove.exe", "C:\\work\\bare");
    EXPECT_EQ(0u, run.exit_code);

    ASSERT_EQ(0u, run.log_file.rfind("\xEF\xBB\xBF", 0)) << "the log starts with the UTF-8 byte-order mark";
    auto lines = parse_log(run.log_file);
    const std::vector<std::string> expected_start = {
        "", "Pellamore force remover version 2.1.2.12", "", "Windows 7 Service Pack 1", "",
        "**** Check if Pellamore force remover runs as Administrator ****", "",
        "==================================================", "",
        "**** Search Pellamore info ****", "",
        "ATTENTION: could not find keys about 'Pellamore' in "
        "'HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall' !",
        "Unable to detect the version of Pellamore, probably nothing to clean ...",
        "Making preventive cleaning in assumption that Pellamore was installed before.",
        "Pellamore directory: " + program_files_x86() + "\\Drummets\\Pellamore\\", ""};
    const std::vector<std::string> texts = texts_of(lines);
    ASSERT_GE(texts.size(), expected_start.size() + 4);
    EXPECT_EQ(expected_start, std::vector<std::string>(texts.begin(), texts.begin() + expected_start.size()));
    // The stages run in between; the run ends with its completion.
    const std::vector<std::string> expected_end = {completed_ok, "", "", ""};
    EXPECT_EQ(expected_end, std::vector<std::string>(texts.end() - 4, texts.end()));
    for (std::size_t i = 0; i < expected_start.size(); ++i)
        EXPECT_EQ(' ', lines[i].marker) << lines[i].text;

    std::string second = read_file(temp_path() + "QLRemover.log.txt.log.txt");
    EXPECT_EQ(texts_of(lines), texts_of(parse_log(second))) << "the temporary folder's log has the same lines";
    EXPECT_NE(std::string::npos, run.console.find(completed_ok)) << run.console;
}

struct version_case {
    const wchar_t* display_version;
    const wchar_t* install_location;
    std::vector<std::string> expected; // in this order, among the lines
    std::vector<std::string> absent;
};

class remove_version : public ::testing::TestWithParam<version_case> {};

const char warning[] =
    "This version of QLVRemover was tested on Pellamore versions up to 4.1.265. For later versions it may not work "
    "correctly";

TEST_P(remove_version, decides_version_and_directory)
{
    const version_case& c = GetParam();
    uninstall_entry entry(L"{PELLAMORE-TEST}", {{L"DisplayName", L"Pellamore"},
                                                {L"DisplayVersion", c.display_version},
                                                {L"InstallLocation", c.install_location}});
    // The log grows by a section per run: only this case's run is read.
    DeleteFileA("C:\\work\\version\\QLRemover.log.txt");
    program_run run = run_program("Remove.exe", "C:\\work\\version");
    EXPECT_EQ(0u, run.exit_code);
    auto texts = texts_of(parse_log(run.log_file));
    EXPECT_TRUE(in_order(texts, c.expected));
    for (const std::string& line : c.absent)
        EXPECT_EQ(texts.end(), std::find(texts.begin(), texts.end(), line)) << line;
    EXPECT_EQ(completed_ok, last_nonempty(parse_log(run.log_file)));
}

INSTANTIATE_TEST_SUITE_P(
    cases, remove_version,
    ::testing::Values(
        version_case{L"4.1.265", L"C:\\Apps\\Drummets\\",
                     {". Product version: '4.1.265'", ". Installation directory: 'C:\\Apps\\Drummets\\'",
                      "Product Version (int): 41265", "Pellamore directory: C:\\Apps\\Drummets\\Pellamore\\"},
                     {warning}},
        version_case{L"4.1.266", L"C:\\Apps\\Drummets\\Pellamore\\",
                     {"Product Version (int): 41266", warning, "",
                      "Pellamore directory: C:\\Apps\\Drummets\\Pellamore\\"},
                     {}},
        // Without its trailing backslash the location still names the product's folder.
        version_case{L"4.1.26", L"C:\\Apps\\Drummets\\Pellamore",
                     {"Product Version (int): 41026", "Pellamore directory: C:\\Apps\\Drummets\\Pellamore\\"},
                     {}},
        version_case{L"4.1.5", L"C:\\Apps\\Drummets",
                     {"Product Version (int): 41005", "Pellamore directory: C:\\Apps\\Drummets\\Pellamore\\"},
                     {}},
        version_case{L"4.10.2", L"C:\\Apps\\Drummets\\",
                     {". Product version: '4.10.2'",
                      "The version '4.10.2' has strange format, expected 9.9.99 or 9.9.9",
                      "Unable to detect the version of Pellamore, probably nothing to clean ...",
                      "Making preventive cleaning in assumption that Pellamore was installed before.",
                      "Pellamore directory: C:\\Apps\\Drummets\\Pellamore\\"},
                     {"Product Version (int): 0"}}));

TEST(remove_entry, refuses_windows_before_2000)
{
    set_wine_version_for("Remove.exe", "nt40");
    program_run run = run_program("Remove.exe", "C:\\work\\nt40");
    clear_wine_version_for("Remove.exe");

    EXPECT_EQ(1u, run.exit_code);
    const std::vector<std::string> expected = {
        "", "Pellamore force remover version 2.1.2.12", "", "OS: majorv=4 minorv=0", "",
        "This program can be launched on Windows 2000 or higher. Exiting ...", "",
        "Pellamore force remover version 2.1.2.12 completed abnormally.", ""};
    EXPECT_EQ(expected, texts_of(parse_log(run.log_file)));
}

TEST(remove_entry, relabelled_program_names_another_product_throughout)
{
    program_run run = run_program("Remove_relabelled.exe", "C:\\work\\relabelled");
    EXPECT_EQ(0u, run.exit_code);
    auto lines = parse_log(run.log_file);
    EXPECT_TRUE(has_text(lines, "Brightwarden force remover version 2.1.2.12"));
    EXPECT_TRUE(has_text(lines, "**** Check if Brightwarden force remover runs as Administrator ****"));
    EXPECT_TRUE(has_text(lines, "Unable to detect the version of Brightwarden, probably nothing to clean ..."));
    EXPECT_TRUE(has_text(lines, "Brightwarden directory: " + program_files_x86() + "\\Vellacorp\\Brightwarden\\"));
    EXPECT_EQ("Brightwarden force remover version 2.1.2.12 completed OK.", last_nonempty(lines));
    EXPECT_EQ(std::string::npos, run.log_file.find("Pellamore"));
}

TEST(remove_entry, relabelling_without_2003_falls_back_to_all_defaults)
{
    program_run run = run_program("Remove_incomplete.exe", "C:\\work\\incomplete");
    EXPECT_EQ(0u, run.exit_code);
    auto lines = parse_log(run.log_file);
    EXPECT_TRUE(has_text(lines, "Pellamore directory: " + program_files_x86() + "\\Drummets\\Pellamore\\"));
    EXPECT_EQ(completed_ok, last_nonempty(lines));
    EXPECT_EQ(std::string::npos, run.log_file.find("Brightwarden"));
}

TEST(remove_entry, completes_when_the_current_folder_log_cannot_be_created)
{
    // A folder where the log file should be: the file cannot be created.
    CreateDirectoryA("C:\\work\\nolog", nullptr);
    CreateDirectoryA("C:\\work\\nolog\\QLRemover.log.txt", nullptr);
    program_run run = run_program("Remove.exe", "C:\\work\\nolog");
    EXPECT_EQ(0u, run.exit_code);
    EXPECT_NE(std::string::npos, run.console.find(completed_ok)) << run.console;
}

TEST(remove_entry, completes_when_the_temporary_folder_log_cannot_be_created)
{
    scoped_environment tmp("TMP", "C:\\no\\such\\folder");
    scoped_environment temp("TEMP", "C:\\no\\such\\folder");
    program_run run = run_program("Remove.exe", "C:\\work\\notemp");
    EXPECT_EQ(0u, run.exit_code);
    auto lines = parse_log(run.log_file);
    EXPECT_EQ(completed_ok, last_nonempty(lines));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ('!', lines.front().marker);
    EXPECT_EQ(0u, lines.front().text.rfind("Unable to create log file C:\\no\\such\\folder\\QLRemover.log.txt.log.txt"))
        << lines.front().text;
}

namespace {

const char no_log_file[] = "Unable to create log file. If you need log file make sure that you have permission to "
                           "write to directory where remove.exe is located";
const char no_box[] = "The message box is not shown: no user sees this program's desktop";

// Wine writes a line for each call to the two message box functions of a
// program started while this object lives, on the error output Wine itself
// was given (not the program's): the test remover_message_box_trace reads
// them there.
class message_box_trace {
public:
    message_box_trace()
        : key_(tessel::registry2::key(HKEY_CURRENT_USER).open(L"Software\\Wine\\Debug", true)), debug_("WINEDEBUG", "+relay")
    {
        key_.write_string(L"RelayInclude", L"user32.MessageBoxA;user32.MessageBoxW");
    }
    ~message_box_trace() { key_.remove_value(L"RelayInclude"); }
    message_box_trace(const message_box_trace&) = delete;
    message_box_trace& operator=(const message_box_trace&) = delete;

private:
    tessel::registry2::key key_;
    scoped_environment debug_;
};

} // namespace

// A box on a desktop nobody sees is never answered, and the run would wait on
// it until it is killed: there the box's text goes to the console and the log
// in the temporary folder, and the run goes on.
TEST(remove_entry, shows_no_box_where_nobody_sees_its_desktop)
{
    CreateDirectoryA("C:\\work\\unseen", nullptr);
    CreateDirectoryA("C:\\work\\unseen\\QLRemover.log.txt", nullptr);
    const std::string temp_log = temp_path() + "QLRemover.log.txt.log.txt";
    {
        // Where the desktop is seen, the box is shown (Wine has no display to
        // show it on and answers at once).
        DeleteFileA(temp_log.c_str());
        const message_box_trace trace;
        program_run run = run_program("Remove.exe", "C:\\work\\unseen");
        EXPECT_EQ(0u, run.exit_code);
        EXPECT_EQ(std::string::npos, read_file(temp_log).find(no_box));
    }
    DeleteFileA(temp_log.c_str());
    const unseen_window_station station("RemoverUnseen");
    const message_box_trace trace;
    program_run run = run_program("Remove.exe", "C:\\work\\unseen", 120000, "", station.desktop());
    EXPECT_EQ(0u, run.exit_code);
    EXPECT_NE(std::string::npos, run.console.find(no_box));
    const std::vector<std::string> texts = texts_of(parse_log(read_file(temp_log)));
    const auto text = std::find(texts.begin(), texts.end(), no_log_file);
    ASSERT_NE(texts.end(), text);
    ASSERT_NE(texts.end(), text + 1);
    EXPECT_EQ(no_box, *(text + 1));
    EXPECT_NE(texts.end(), std::find(text, texts.end(), completed_ok));
}
