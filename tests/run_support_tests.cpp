// The program runner: it reads the whole console of a child that writes more
// than the pipe holds, and ends a child that hangs with its output open
// within the time limit.
#include "run_support.h"
#include "tessel/unique_any.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <stdexcept>
#include <string>

namespace {

bool child_running()
{
    const tessel::unique_file_handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry))
        if (lstrcmpiA(entry.szExeFile, "run_child.exe") == 0)
            return true;
    return false;
}

} // namespace

TEST(run_program, reads_all_the_console_and_the_exit_code)
{
    const scoped_environment mode("RUN_CHILD_MODE", "flood");
    const program_run run = run_program("run_child.exe", "C:\\work\\flood");
    EXPECT_EQ(7u, run.exit_code);
    EXPECT_EQ(std::string(100000, 'x'), run.console);
}

TEST(run_program, ends_a_child_that_hangs_with_its_output_open)
{
    const scoped_environment mode("RUN_CHILD_MODE", "hang");
    const DWORD limit_ms = 5000;
    const DWORD started = GetTickCount();
    EXPECT_THROW(run_program("run_child.exe", "C:\\work\\hang", limit_ms), std::runtime_error);
    const DWORD took = GetTickCount() - started;
    EXPECT_GE(took, limit_ms);
    // The limit, and a margin for ending the child (the child sleeps ten minutes).
    EXPECT_LT(took, limit_ms + 20000);
    EXPECT_FALSE(child_running());
}
