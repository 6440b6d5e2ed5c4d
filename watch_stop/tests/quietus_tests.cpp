// Quietus as a program against the test bed's engine (a 14-entry engine,
// 2.1.7): stop confirmed, library absent, connection refused, stop refused;
// the three builds in build/bin with their version record; and the exit code
// of a failure that is no failure of the engine client.
#include "quietus_run.h"
#include "watch_stop/quietus.h"

#include "testbed/common/names.h"
#include "testbed/kit/kit.h"
#include "tessel/exception.h"
#include "tessel/unique_any.h"

#include <sstream>
#include <stdexcept>
#include <vector>

namespace {

using namespace testbed;

TEST_F(quietus_bed, stops_a_running_watch_service)
{
    start_engine_services();
    expect_quietus(run_quietus(), "Watch Service stopped", 0);
    EXPECT_TRUE(kit::wait_service_state(watch_service_name, SERVICE_STOPPED, 10000));
    EXPECT_TRUE(kit::processes_named(L"ScrWatchService.exe").empty());
}

TEST_F(quietus_bed, both_copies_under_the_removers_names_stop_it_too)
{
    for (const char* name : {"Quietus_2.1.1-2.1.4.exe", "Quietus_2.1.5-2.1.9.exe"}) {
        SCOPED_TRACE(name);
        start_engine_services();
        expect_quietus(run_quietus(name), "Watch Service stopped", 0);
        EXPECT_TRUE(kit::wait_service_state(watch_service_name, SERVICE_STOPPED, 10000));
    }
}

TEST_F(quietus_bed, without_the_engine_library_names_the_load_error)
{
    kit::remove_folder(kit::engine_folder());
    expect_quietus(run_quietus(), "Scancore.dll is not found. errCode 126", 1);
}

TEST_F(quietus_bed, a_refused_connection_is_a_failure)
{
    knob(L"connect_fails", L"1");
    expect_quietus(run_quietus(), "Cannot create the engine instance", 1);
}

TEST_F(quietus_bed, a_refused_stop_request_gives_the_engines_reason)
{
    const std::pair<const wchar_t*, const char*> cases[] = {{L"1", "Bad parameters passed to the engine"},
                                                            {L"2", "The engine is not up and running"},
                                                            {L"3", "The engine fails the operation"}};
    for (auto [code, text] : cases) {
        SCOPED_TRACE(text);
        knob(L"stop_result", code);
        expect_quietus(run_quietus(), text, 1);
    }
}

TEST(quietus_builds, carry_the_version_record_and_ask_for_no_elevation)
{
    for (const wchar_t* name : {L"Quietus.exe", L"Quietus_2.1.1-2.1.4.exe", L"Quietus_2.1.5-2.1.9.exe"}) {
        SCOPED_TRACE(std::string(name, name + wcslen(name)));
        const std::wstring path = kit::bin_folder() + name;
        DWORD ignored = 0;
        std::vector<char> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
        ASSERT_FALSE(info.empty());
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
        auto value = [&](const wchar_t* key) {
            wchar_t* text = nullptr;
            UINT size = 0;
            std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + key;
            if (!VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&text), &size) || !text)
                return std::wstring();
            return std::wstring(text);
        };
        EXPECT_TRUE(value(L"FileDescription") == L"Ostravel Watch Service Utility");
        EXPECT_TRUE(value(L"InternalName") == L"Quietus.exe");
        EXPECT_TRUE(value(L"OriginalFilename") == L"Quietus.exe");
        EXPECT_TRUE(value(L"ProductName") == L"Ostravel");
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT size = 0;
        ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
        EXPECT_EQ(MAKELONG(1, 7), fixed->dwFileVersionMS);
        EXPECT_EQ(MAKELONG(0, 267), fixed->dwFileVersionLS);
        EXPECT_EQ(MAKELONG(1, 7), fixed->dwProductVersionMS);
        EXPECT_EQ(MAKELONG(0, 267), fixed->dwProductVersionLS);

        const tessel::unique_module image(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(image);
        HRSRC found = FindResourceW(image.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
        ASSERT_NE(nullptr, found);
        std::string manifest(static_cast<const char*>(LockResource(LoadResource(image.get(), found))),
                             SizeofResource(image.get(), found));
        EXPECT_NE(std::string::npos, manifest.find("level=\"asInvoker\"")) << manifest;
    }
}

TEST(quietus_run, tells_each_outcome_in_one_line_and_its_exit_code)
{
    struct outcome
    {
        quietus::stop_function stop;
        const wchar_t* line;
        int exit_code;
    };
    std::int64_t limit = 0;
    const outcome cases[] = {
        {[&](std::int64_t seconds) { limit = seconds; }, L"Watch Service stopped\n", 0},
        {[](std::int64_t) { throw tessel::exception_w(L"Cannot create the engine instance"); },
         L"Cannot create the engine instance\n", 1},
        {[](std::int64_t) { throw tessel::exception("narrow failure"); },
         L"Unexpected exception from av::stop_av_watch_service()\n", 2},
        {[](std::int64_t) { throw std::runtime_error("standard failure"); },
         L"Unexpected exception from av::stop_av_watch_service()\n", 2},
        {[](std::int64_t) { throw 7; }, L"Unexpected exception from av::stop_av_watch_service()\n", 2},
    };
    for (const outcome& c : cases) {
        std::wostringstream out;
        EXPECT_EQ(c.exit_code, quietus::run(out, c.stop));
        EXPECT_TRUE(out.str() == c.line) << std::string(c.line, c.line + wcslen(c.line));
    }
    EXPECT_EQ(5, limit);
}

} // namespace
