#include "teardown_bed.h"

#include "testbed/common/names.h"
#include "testbed/kit/kit.h"

#include <algorithm>
#include <iostream>

using namespace testbed;

void teardown_bed::SetUp()
{
    kit::clear_trace();
}

void teardown_bed::TearDown()
{
    kit::remove_all_doubles();
    kit::clear_knobs();
    kit::remove_folder(kit::engine_folder());
    kit::remove_folder(kit::program_files() + L"Drummets");
}

void teardown_bed::scancore_knob(const std::wstring& key, const std::wstring& value)
{
    kit::set_knob(L"Scancore", key, value, kit::engine_folder());
}

void teardown_bed::service_knob(const std::wstring& program, const std::wstring& key, const std::wstring& value)
{
    kit::set_knob(program, key, value, kit::engine_folder());
}

void teardown_bed::start(const std::wstring& program)
{
    ASSERT_EQ(0u, kit::run(kit::engine_folder() + program + L" /s"));
}

void teardown_bed::start_engine_services()
{
    start(L"ScrScanningService.exe");
    start(L"ScrWatchService.exe");
    ASSERT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(watch_service_name));
    ASSERT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(scanning_service_name));
}

bool teardown_bed::watch_service_runs()
{
    return kit::service_state(watch_service_name) == SERVICE_RUNNING;
}

bool teardown_bed::scanning_service_runs()
{
    return kit::service_state(scanning_service_name) == SERVICE_RUNNING;
}

ProductInfo teardown_bed::installed_product()
{
    const std::wstring folder = kit::program_files() + L"Drummets\\Pellamore\\";
    kit::copy_double(L"QELVA.dll", folder);
    ProductInfo info("Pellamore");
    info.install_dir = std::string(folder.begin(), folder.end());
    return info;
}

std::vector<std::string> teardown_bed::logged_by(const std::function<void()>& call, const char* what)
{
    log_capture capture;
    const DWORD start = GetTickCount();
    call();
    last_elapsed_ms = GetTickCount() - start;
    std::vector<std::string> lines = capture.texts();
    std::cout << "---- " << what << ": " << last_elapsed_ms << " ms" << std::endl;
    for (const std::string& line : lines)
        std::cout << "  " << line << std::endl;
    return lines;
}

bool contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

size_t count_starting(const std::vector<std::string>& lines, const std::string& prefix)
{
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}
