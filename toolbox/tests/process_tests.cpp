// Finding, ending and starting programs, against the product family's
// programs of the test bed and a probe of our own (toolbox_probe.exe), which
// is copied under other names where a test needs a name to match.
#include "toolbox/processes.h"
#include "log_capture.h"
#include "run_support.h"
#include "tessel/unique_any.h"
#include "testbed/kit/kit.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>

namespace kit = testbed::kit;

namespace {

const char work[] = "C:\\work\\processes\\";

std::wstring wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::wstring quoted(const std::wstring& path)
{
    return L"\"" + path + L"\"";
}

// A copy of the probe under another name, in the work folder (or a folder
// in it: "folder\\name.exe").
std::wstring probe_copy(const std::string& name)
{
    const std::wstring target = wide(work + name);
    kit::make_folders(target.substr(0, target.find_last_of(L'\\') + 1));
    EXPECT_TRUE(CopyFileW((kit::bin_folder() + L"toolbox_probe.exe").c_str(), target.c_str(), FALSE));
    return target;
}

// Waits until a started program shows in the process list.
bool listed(const std::wstring& exe_name)
{
    for (int i = 0; i < 200; ++i) {
        if (!kit::processes_named(exe_name).empty())
            return true;
        Sleep(50);
    }
    return false;
}

ULONGLONG exit_time(HANDLE process)
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    return (ULONGLONG(exited.dwHighDateTime) << 32) | exited.dwLowDateTime;
}

using owned_handle = tessel::unique_handle;

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

} // namespace

TEST(adjust_process_name, cuts_long_names_on_windows_2000_only)
{
    // 13, 15, 16 and 19 characters.
    const std::string names = "qelvaTray.exe abcdefghijk.exe abcdefghijkl.exe DrummetLauncher.exe";
    struct version_case {
        const char* wine_version;
        std::vector<std::string> expected;
    };
    const version_case cases[] = {
        {"win2k", {"qelvaTray.exe", "abcdefghijk.exe", "abcdefghijkl.ex", "DrummetLauncher"}},
        {"winxp", {"qelvaTray.exe", "abcdefghijk.exe", "abcdefghijkl.exe", "DrummetLauncher.exe"}},
        {"nt40", {"qelvaTray.exe", "abcdefghijk.exe", "abcdefghijkl.exe", "DrummetLauncher.exe"}},
    };
    kit::make_folders(wide(work));
    for (const version_case& c : cases) {
        const std::string out = std::string(work) + "adjusted-" + c.wine_version + ".txt";
        set_wine_version_for("toolbox_probe.exe", c.wine_version);
        const DWORD code = kit::run(quoted(kit::bin_folder() + L"toolbox_probe.exe") + L" adjust " + wide(out) + L" " +
                                    wide(names));
        clear_wine_version_for("toolbox_probe.exe");
        EXPECT_EQ(0u, code) << c.wine_version;
        EXPECT_EQ(c.expected, lines_of(read_file(out))) << c.wine_version;
    }
    // This process runs as Windows 7.
    EXPECT_EQ("DrummetLauncher.exe", adjust_process_name("DrummetLauncher.exe"));
}

// A name matches a process only as its whole file name: a program of another
// vendor whose name ends with the family's ("XqelvaTray.exe") is left alone.
TEST(process_names, match_only_as_a_whole_file_name_without_regard_to_case)
{
    const std::wstring lookalike = wide(work) + L"XqelvaTray.exe";
    kit::make_folders(wide(work));
    ASSERT_TRUE(CopyFileW((kit::bin_folder() + L"qelvaTray.exe").c_str(), lookalike.c_str(), FALSE));
    kit::process other(quoted(lookalike));
    kit::process tray(quoted(kit::bin_folder() + L"qelvaTray.exe"));
    ASSERT_TRUE(listed(L"XqelvaTray.exe"));
    ASSERT_TRUE(listed(L"qelvaTray.exe"));

    const struct {
        const char* name;
        bool running;
    } cases[] = {
        {"qelvaTray.exe", true}, {"QELVATRAY.EXE", true},    {"XqelvaTray.exe", true},   {"tray.exe", false},
        {"e", false},            {"xxqelvaTray.exe", false}, {"qelvaTray", false},       {"qelvaTray.exe ", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.running, is_process_running(c.name)) << '"' << c.name << '"';

    // Names that are not the whole name leave both running; the empty name matches nothing.
    terminate_processes("tray.exe", true);
    terminate_processes("qelva", true);
    terminate_processes("", true);
    EXPECT_FALSE(tray.wait(500));
    EXPECT_FALSE(other.wait(0));

    terminate_processes("QELVATRAY.EXE", false);
    ASSERT_TRUE(tray.wait(10000));
    EXPECT_EQ(255u, tray.exit_code());
    EXPECT_FALSE(is_process_running("qelvaTray.exe"));
    EXPECT_FALSE(other.wait(500));
    EXPECT_TRUE(is_process_running("XqelvaTray.exe"));
    terminate_processes("XqelvaTray.exe", false);
    ASSERT_TRUE(other.wait(10000));
}

// The file name of the program an image path names, and the whole-name rule
// on it. Windows 2000's snapshot reports a long name cut to 15 characters,
// which adjust_process_name cuts the name to as well: the two stay equal.
TEST(process_names, the_program_file_name_of_an_image_path)
{
    const struct {
        const char* image_path;
        const char* file_name;
    } cases[] = {
        {"ScrWatchService.exe", "ScrWatchService.exe"},
        {"C:\\Program Files\\Common Files\\Scancore\\ScrWatchService.exe", "ScrWatchService.exe"},
        {"\"C:\\Program Files\\Scancore\\ScrWatchService.exe\" /service", "ScrWatchService.exe"},
        {"C:\\Program Files\\Scancore\\ScrWatchService.exe /service -x", "ScrWatchService.exe"},
        {"  C:\\Scancore\\SCRWATCHSERVICE.EXE\t-k", "SCRWATCHSERVICE.EXE"},
        {"C:\\Tools\\run.exe.d\\MyScrWatchService.exe", "MyScrWatchService.exe"},
        {"\\??\\C:\\Windows\\system32\\drivers\\scrfsfilter.sys", "scrfsfilter.sys"},
        {"system32\\svchost.exe -k netsvcs", "svchost.exe"},
        {"\"C:\\Unclosed\\Svc.exe", "Svc.exe"},
        {"C:/Forward/Svc.exe", "Svc.exe"},
        {"", ""},
        {"   ", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.file_name, program_file_name(c.image_path)) << c.image_path;

    EXPECT_TRUE(process_name_matches(program_file_name("\"C:\\X\\ScrWatchService.exe\" /s"), "scrwatchservice.exe"));
    EXPECT_FALSE(process_name_matches(program_file_name("C:\\X\\MyScrWatchService.exe"), "ScrWatchService.exe"));
    EXPECT_FALSE(process_name_matches("C:\\X\\ScrWatchService.exe", "X\\ScrWatchService.exe"));
    EXPECT_TRUE(process_name_matches("DrummetLauncher", "DrummetLauncher"));
    EXPECT_FALSE(process_name_matches("XDrummetLaunche", "DrummetLauncher"));
    EXPECT_FALSE(process_name_matches("qelvaTray.exe", ""));
}

TEST(terminate_processes, ends_every_copy_lowest_identifier_first)
{
    kit::process first(quoted(kit::bin_folder() + L"Chimebox.exe"));
    kit::process second(quoted(kit::bin_folder() + L"Chimebox.exe"));
    for (int i = 0; i < 200 && kit::processes_named(L"Chimebox.exe").size() < 2; ++i)
        Sleep(50);
    ASSERT_EQ(2u, kit::processes_named(L"Chimebox.exe").size());
    owned_handle one(OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, first.id()));
    owned_handle two(OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, second.id()));
    ASSERT_TRUE(one && two);

    terminate_processes("chimebox.exe", true);

    ASSERT_TRUE(first.wait(10000));
    ASSERT_TRUE(second.wait(10000));
    EXPECT_EQ(255u, first.exit_code());
    EXPECT_EQ(255u, second.exit_code());
    const bool first_is_lower = first.id() < second.id();
    const ULONGLONG lower_ended = exit_time(first_is_lower ? one.get() : two.get());
    const ULONGLONG higher_ended = exit_time(first_is_lower ? two.get() : one.get());
    EXPECT_LT(lower_ended, higher_ended);
}

TEST(terminate_processes, spares_the_caller_and_its_parent)
{
    // This test program is the parent of the caller; all three have its name,
    // as does a fourth copy that must go.
    const std::wstring caller = probe_copy("caller\\toolbox_process_tests.exe");
    const std::wstring bystander = probe_copy("bystander\\toolbox_process_tests.exe");
    kit::process running(quoted(bystander) + L" wait");
    for (int i = 0; i < 200 && kit::processes_named(L"toolbox_process_tests.exe").size() < 2; ++i)
        Sleep(50);
    ASSERT_EQ(2u, kit::processes_named(L"toolbox_process_tests.exe").size());

    kit::process remover(quoted(caller) + L" terminate toolbox_process_tests.exe");
    ASSERT_TRUE(remover.wait(30000));
    EXPECT_EQ(0u, remover.exit_code()); // ended by itself, not with 255
    ASSERT_TRUE(running.wait(10000));
    EXPECT_EQ(255u, running.exit_code());
}

TEST(deal_with_process, logs_and_ends_a_running_program)
{
    log_capture log;
    deal_with_process("DrummetsTray.exe");
    EXPECT_EQ((std::vector<std::string>{"Dealing with 'DrummetsTray.exe' process ....",
                                        "Process with name 'DrummetsTray.exe' is NOT running ..."}),
              log.texts());

    kit::process tray(quoted(kit::bin_folder() + L"DrummetsTray.exe"));
    ASSERT_TRUE(listed(L"DrummetsTray.exe"));
    log.clear();
    deal_with_process("DrummetsTray.exe");
    EXPECT_EQ((std::vector<std::string>{"Dealing with 'DrummetsTray.exe' process ....",
                                        "Process with name 'DrummetsTray.exe' is running, let us close it"}),
              log.texts());
    ASSERT_TRUE(tray.wait(10000));
    EXPECT_EQ(255u, tray.exit_code());
    for (const captured_line& line : log.lines())
        EXPECT_EQ(1, line.level) << line.text;
}

TEST(run_and_wait, builds_a_quoted_command_line_from_folder_program_and_arguments)
{
    const std::string folder = std::string(work) + "run";
    kit::make_folders(wide(folder));
    ASSERT_TRUE(CopyFileW((kit::bin_folder() + L"toolbox_probe.exe").c_str(), wide(folder + "\\toolbox_probe.exe").c_str(),
                          FALSE));

    const struct {
        std::string directory;
        std::string expected_program; // quoted, then " where <file>"
        std::string expected_folder;
    } cases[] = {
        {folder, folder + "\\toolbox_probe.exe", folder},
        {folder + "\\", folder + "\\toolbox_probe.exe", folder},
        {folder + "/", folder + "/toolbox_probe.exe", folder},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string out = std::string(work) + "where-" + std::to_string(++n) + ".txt";
        ASSERT_TRUE(run_and_wait(c.directory, "toolbox_probe.exe", "where " + out)) << c.directory;
        EXPECT_EQ((std::vector<std::string>{'"' + c.expected_program + "\" where " + out, c.expected_folder}),
                  lines_of(read_file(out)))
            << '"' << c.directory << '"';
    }
    // A program in a folder with blanks is started whole: the system does not
    // try the pieces of its path ("run.exe" with the arguments
    // "with blanks\toolbox_probe.exe ...") first.
    const std::string blanks = std::string(work) + "run with blanks";
    kit::make_folders(wide(blanks));
    ASSERT_TRUE(CopyFileW((kit::bin_folder() + L"toolbox_probe.exe").c_str(), wide(blanks + "\\toolbox_probe.exe").c_str(),
                          FALSE));
    ASSERT_TRUE(CopyFileW((kit::bin_folder() + L"toolbox_probe.exe").c_str(), wide(std::string(work) + "run.exe").c_str(),
                          FALSE));
    const std::string out = std::string(work) + "where-blanks.txt";
    ASSERT_TRUE(run_and_wait(blanks, "toolbox_probe.exe", "where " + out));
    EXPECT_EQ((std::vector<std::string>{'"' + blanks + "\\toolbox_probe.exe\" where " + out, blanks}),
              lines_of(read_file(out)));

    // Without a full folder nothing starts, not even the program that the
    // system's search would find beside this one or in the current folder.
    const std::string planted = std::string(work) + "where-planted.txt";
    ASSERT_TRUE(CopyFileW((kit::bin_folder() + L"toolbox_probe.exe").c_str(), L"C:\\work\\toolbox_probe.exe", FALSE));
    for (const std::string& directory : {std::string(), std::string("processes\\run"), std::string("\\work\\processes\\run"),
                                         std::string("C:work\\processes\\run")}) {
        log_capture log;
        EXPECT_FALSE(run_and_wait(directory, "toolbox_probe.exe", "where " + planted)) << directory;
        const std::string path = directory.empty() ? "toolbox_probe.exe" : directory + "\\toolbox_probe.exe";
        EXPECT_EQ((std::vector<std::string>{"Program '" + path + "' is not started: it is not named by its full path"}),
                  log.texts());
    }
    EXPECT_FALSE(kit::file_exists(wide(planted)));
    DeleteFileW(L"C:\\work\\toolbox_probe.exe");

    // The exit code is not examined; a program that cannot be started is false.
    EXPECT_TRUE(run_and_wait(folder, "toolbox_probe.exe", "exit 3"));
    EXPECT_FALSE(run_and_wait(folder, "missing_program.exe", "/s"));
    EXPECT_FALSE(run_and_wait(std::string(work) + "no such folder", "toolbox_probe.exe", "exit 0"));
}

TEST(launch_and_wait_for_exit_code, returns_the_exit_code_or_1)
{
    const std::wstring probe = kit::bin_folder() + L"toolbox_probe.exe";
    const std::string probe_narrow(probe.begin(), probe.end());
    const struct {
        const wchar_t* parameters;
        DWORD expected;
    } cases[] = {{L"exit 0", 0}, {L"exit 1", 1}, {L"exit 4242", 4242}, {L"exit 4294967295", 0xFFFFFFFF}};
    for (const auto& c : cases) {
        log_capture log;
        EXPECT_EQ(c.expected, launch_and_wait_for_exit_code(probe, c.parameters, L"")) << c.parameters;
        const std::string parameters(c.parameters, c.parameters + wcslen(c.parameters));
        EXPECT_EQ((std::vector<std::string>{"launch_and_wait_for_exit_code: \"" + probe_narrow + "\" " + parameters,
                                            "exit_code: " + std::to_string(static_cast<int>(c.expected))}),
                  log.texts());
    }

    {
        // Named without a folder: not started.
        log_capture log;
        EXPECT_EQ(1u, launch_and_wait_for_exit_code(L"toolbox_probe.exe", L"exit 0", L""));
        EXPECT_EQ((std::vector<std::string>{"launch_and_wait_for_exit_code: \"toolbox_probe.exe\" exit 0",
                                            "Program 'toolbox_probe.exe' is not started: it is not named by its "
                                            "full path"}),
                  log.texts());
    }

    log_capture log;
    const std::wstring missing = wide(work) + L"missing.exe";
    EXPECT_EQ(1u, launch_and_wait_for_exit_code(missing, L"/s", L""));
    EXPECT_EQ((std::vector<std::string>{"launch_and_wait_for_exit_code: \"" + std::string(work) + "missing.exe\" /s",
                                        "ShellExecuteEx failed. Error: 2"}),
              log.texts());
}

TEST(launch_and_wait_for_exit_code, runs_the_program_in_the_given_folder)
{
    const std::string folder = std::string(work) + "launch";
    kit::make_folders(wide(folder));
    const std::string out = std::string(work) + "launched.txt";
    log_capture log;
    EXPECT_EQ(0u, launch_and_wait_for_exit_code(kit::bin_folder() + L"toolbox_probe.exe", wide("where " + out),
                                                wide(folder)));
    const std::vector<std::string> where = lines_of(read_file(out));
    ASSERT_EQ(2u, where.size());
    EXPECT_NE(std::string::npos, where[0].find("where " + out));
    EXPECT_EQ(folder, where[1]);
}

// A child with a console of its own comes with a console host that takes the
// child's working folder and outlives it: that folder could not be removed
// right after the wait. The children the run waits for get no console.
TEST(children, start_without_a_console_of_their_own)
{
    const std::string folder = std::string(work) + "console";
    kit::make_folders(wide(folder));
    const std::wstring probe = wide(folder + "\\toolbox_probe.exe");
    ASSERT_TRUE(CopyFileW((kit::bin_folder() + L"toolbox_probe.exe").c_str(), probe.c_str(), FALSE));
    const std::string by_run = folder + "\\by-run.txt";
    const std::string by_launch = folder + "\\by-launch.txt";
    ASSERT_TRUE(run_and_wait(folder, "toolbox_probe.exe", "consoles " + by_run));
    ASSERT_EQ(0u, launch_and_wait_for_exit_code(probe, wide("consoles " + by_launch), wide(folder)));
    EXPECT_EQ((std::vector<std::string>{"0"}), lines_of(read_file(by_run)));
    EXPECT_EQ((std::vector<std::string>{"0"}), lines_of(read_file(by_launch)));
}

TEST(get_file_version, reads_the_fixed_file_version)
{
    const std::wstring probe = kit::bin_folder() + L"toolbox_probe.exe";
    EXPECT_EQ("2.1.65535.40000", get_file_version(std::string(probe.begin(), probe.end())));
    // This program has no version resource.
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    EXPECT_EQ("", get_file_version(self));
    EXPECT_EQ("", get_file_version(std::string(work) + "missing.exe"));
    EXPECT_EQ("", get_file_version(""));
}

// A child that never ends: both waits give up after the limit, terminate it,
// say which program they ended and after how long, and report failure.
TEST(child_wait_limit, ends_a_hanging_child_and_reports_failure)
{
    const std::string folder = std::string(work) + "hang";
    kit::make_folders(wide(folder));
    const std::wstring probe = wide(folder + "\\hanging_probe.exe");
    ASSERT_TRUE(CopyFileW((kit::bin_folder() + L"toolbox_probe.exe").c_str(), probe.c_str(), FALSE));
    EXPECT_EQ(default_child_wait_limit_ms, child_wait_limit());
    set_child_wait_limit(3000);
    {
        log_capture log;
        const ULONGLONG started = GetTickCount64();
        EXPECT_FALSE(run_and_wait(folder, "hanging_probe.exe", "wait"));
        EXPECT_GE(GetTickCount64() - started, 3000u);
        EXPECT_TRUE(kit::processes_named(L"hanging_probe.exe").empty());
        EXPECT_EQ((std::vector<std::string>{"Program '\"" + folder +
                                            "\\hanging_probe.exe\" wait' did not end within 3 s and was terminated; "
                                            "going on as if it had failed"}),
                  log.texts());
    }
    {
        log_capture log;
        EXPECT_EQ(1u, launch_and_wait_for_exit_code(probe, L"wait", L""));
        EXPECT_TRUE(kit::processes_named(L"hanging_probe.exe").empty());
        const std::string program = folder + "\\hanging_probe.exe";
        EXPECT_EQ((std::vector<std::string>{"launch_and_wait_for_exit_code: \"" + program + "\" wait",
                                            "Program '\"" + program +
                                                "\" wait' did not end within 3 s and was terminated; "
                                                "going on as if it had failed",
                                            "WaitForSingleObject returned WAIT_TIMEOUT"}),
                  log.texts());
    }
    // A child that ends within the limit is waited for as before.
    EXPECT_TRUE(run_and_wait(folder, "hanging_probe.exe", "exit 0"));
    EXPECT_EQ(7u, launch_and_wait_for_exit_code(probe, L"exit 7", L""));
    set_child_wait_limit(default_child_wait_limit_ms);
}

// Once the current folder is out of the search, a library named without a
// path is not taken from the current folder or from PATH, while one loaded by
// its full path still finds what it needs beside it. Each side in a child
// process of its own: the setting holds for the rest of a process's life.
TEST(library_search, leaves_out_the_current_folder_and_path_and_keeps_a_librarys_own_folder)
{
    const std::string libs = std::string(work) + "libs\\";
    const std::string current = std::string(work) + "current\\";
    const std::string on_path = std::string(work) + "on path\\";
    for (const std::string& folder : {libs, current, on_path})
        kit::make_folders(wide(folder));
    const std::wstring planted = kit::bin_folder() + L"planted_library.dll";
    ASSERT_TRUE(CopyFileW((kit::bin_folder() + L"dependent_probe.dll").c_str(), wide(libs + "dependent_probe.dll").c_str(),
                          FALSE));
    ASSERT_TRUE(CopyFileW(planted.c_str(), wide(libs + "planted_library.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(planted.c_str(), wide(current + "InCurrent.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(planted.c_str(), wide(on_path + "OnPath.dll").c_str(), FALSE));
    char path[4096] = {};
    GetEnvironmentVariableA("PATH", path, sizeof path);
    scoped_environment with_folder("PATH", (std::string(path) + ";" + on_path).c_str());

    const std::string dependent = libs + "dependent_probe.dll";
    struct side {
        const char* keep;
        std::vector<std::string> expected;
    };
    const side sides[] = {
        {"0", {dependent + ": " + dependent, "InCurrent.dll: " + current + "InCurrent.dll",
               "OnPath.dll: " + on_path + "OnPath.dll"}},
        {"1", {"kept 1", dependent + ": " + dependent, "InCurrent.dll: error 126", "OnPath.dll: error 126"}},
    };
    for (const side& s : sides) {
        kit::clear_trace();
        const std::string out = std::string(work) + "libraries-" + s.keep + ".txt";
        kit::process probe(quoted(kit::bin_folder() + L"toolbox_probe.exe") + L" libraries " + wide(out) + L" " +
                               wide(s.keep) + L" " + quoted(wide(dependent)) + L" InCurrent.dll OnPath.dll",
                           wide(current));
        ASSERT_TRUE(probe.wait(60000));
        EXPECT_EQ(0u, probe.exit_code());
        EXPECT_EQ(s.expected, lines_of(read_file(out))) << "keep " << s.keep;
        // What the library needed came from beside it.
        EXPECT_NE(std::string::npos, kit::trace_text().find("planted copy ran from " + libs + "planted_library.dll"))
            << kit::trace_text();
    }
}
