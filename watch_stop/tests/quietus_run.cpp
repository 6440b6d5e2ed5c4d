#include "quietus_run.h"

#include "run_support.h"
#include "testbed/common/names.h"
#include "testbed/kit/kit.h"

#include <iostream>

using namespace testbed;

quietus_result run_quietus(const std::string& name)
{
    const DWORD start = GetTickCount();
    program_run run = run_program(name, program_folder() + "quietus_work");
    quietus_result result;
    result.elapsed_ms = GetTickCount() - start;
    result.exit_code = run.exit_code;
    result.console = run.console;
    result.line = run.console;
    while (!result.line.empty() && (result.line.back() == '\n' || result.line.back() == '\r'))
        result.line.pop_back();
    return result;
}

DWORD quietus_start_cost()
{
    kit::set_knob(L"Scancore", L"connect_fails", L"1", kit::engine_folder());
    const DWORD cost = run_quietus().elapsed_ms;
    kit::set_knob(L"Scancore", L"connect_fails", L"", kit::engine_folder());
    std::cout << "Quietus start-up cost: " << cost << " ms" << std::endl;
    return cost;
}

void quietus_bed::SetUp()
{
    kit::clear_trace();
    kit::install_engine(L"2.1.7");
}

void quietus_bed::TearDown()
{
    kit::remove_all_doubles();
    kit::clear_knobs();
    kit::remove_folder(kit::engine_folder());
}

void quietus_bed::knob(const std::wstring& key, const std::wstring& value)
{
    kit::set_knob(L"Scancore", key, value, kit::engine_folder());
}

void quietus_bed::start_engine_services()
{
    ASSERT_EQ(0u, kit::run(kit::engine_folder() + L"ScrScanningService.exe /s"));
    ASSERT_EQ(0u, kit::run(kit::engine_folder() + L"ScrWatchService.exe /s"));
    ASSERT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(watch_service_name));
}

void expect_quietus(const quietus_result& got, const std::string& line, DWORD exit_code)
{
    std::cout << "Quietus: \"" << got.line << "\" exit " << got.exit_code << " in " << got.elapsed_ms << " ms"
              << std::endl;
    EXPECT_EQ(line, got.line);
    EXPECT_EQ(exit_code, got.exit_code);
    // One line, ended by a line feed.
    ASSERT_FALSE(got.console.empty());
    EXPECT_EQ('\n', got.console.back());
    EXPECT_EQ(got.console.find('\n'), got.console.size() - 1) << got.console;
}
