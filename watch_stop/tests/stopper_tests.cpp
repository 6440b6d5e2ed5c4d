// The watch-service stopper as the remover uses it, in-process with the
// remover's engine client, against a 15-entry engine (2.1.12).
#include "watch_stop/stopper.h"

#include "tessel/log/log.h"
#include "log_capture.h"
#include "testbed/common/names.h"
#include "testbed/kit/kit.h"
#include "texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace testbed;

// What the log received, each line as its level's marker, a blank and the text.
std::vector<std::string> marked_lines(const log_capture& capture)
{
    std::vector<std::string> lines;
    for (const captured_line& line : capture.lines())
        lines.push_back(std::string(1, line.level == tessel::log::level_debug   ? '#'
                                       : line.level == tessel::log::level_error ? '!'
                                                                                : ' ') +
                        " " + line.text);
    return lines;
}

class stopper_bed : public ::testing::Test
{
protected:
    void SetUp() override
    {
        kit::clear_trace();
        kit::install_engine(L"2.1.12");
        capture_ = std::make_unique<log_capture>();
    }

    void TearDown() override
    {
        capture_.reset();
        kit::remove_all_doubles();
        kit::clear_knobs();
        kit::remove_folder(kit::engine_folder());
    }

    static void knob(const std::wstring& key, const std::wstring& value)
    {
        kit::set_knob(L"Scancore", key, value, kit::engine_folder());
    }

    static void start_engine_services()
    {
        ASSERT_EQ(0u, kit::run(kit::engine_folder() + L"ScrScanningService.exe /s"));
        ASSERT_EQ(0u, kit::run(kit::engine_folder() + L"ScrWatchService.exe /s"));
        ASSERT_EQ(DWORD(SERVICE_RUNNING), kit::service_state(watch_service_name));
    }

    // The call's raised text, "" when it returned.
    static std::string stop_raising(std::int64_t limit)
    {
        try {
            av::stop_av_watch_service(limit);
        } catch (const tessel::exception_w& e) {
            return narrow(e.message_w());
        }
        return "";
    }

    std::vector<std::string> lines_without_session_texts()
    {
        std::vector<std::string> kept;
        for (const std::string& line : marked_lines(*capture_))
            if (line.rfind("# engine::impl::", 0) != 0 && line.rfind("# Scheduler settings", 0) != 0 &&
                line.rfind("# Number of paths", 0) != 0)
                kept.push_back(line);
        return kept;
    }

    std::unique_ptr<log_capture> capture_;
};

TEST_F(stopper_bed, stops_a_running_watch_service_within_30_seconds)
{
    start_engine_services();
    const DWORD start = GetTickCount();
    EXPECT_EQ("", stop_raising(30));
    std::cout << "stop_av_watch_service(30): " << GetTickCount() - start << " ms" << std::endl;
    EXPECT_TRUE(kit::wait_service_state(watch_service_name, SERVICE_STOPPED, 10000));

    std::vector<std::string> lines = lines_without_session_texts();
    // State and settings arrive in either order.
    ASSERT_EQ(12u, lines.size()) << ::testing::PrintToString(lines);
    if (lines[3] == "# ScrWatchServiceStopper: received settings")
        std::rotate(lines.begin() + 3, lines.begin() + 4, lines.begin() + 5);
    const std::vector<std::string> expected = {"# Entering stop_av_watch_service",
                                               "# Entering ScrWatchServiceStopper's ctor",
                                               "# Waiting for engine to send settings and ready signal",
                                               "# ScrWatchServiceStopper: received state",
                                               "# ScrWatchServiceStopper: received settings",
                                               "# Leaving ScrWatchServiceStopper's ctor",
                                               "# Making stop_watch_service() dll call",
                                               "# Made stop_watch_service() dll call",
                                               "# Stop service request made, awaiting service's signal",
                                               "# Received service's signal, leaving stop_av_watch_service",
                                               "# Entering ~ScrWatchServiceStopper",
                                               "# Leaving ~ScrWatchServiceStopper"};
    EXPECT_EQ(expected, lines);
}

TEST_F(stopper_bed, a_confirmation_at_once_is_seen_by_the_first_poll)
{
    // No watch service running: the engine confirms as soon as it is asked.
    const DWORD start = GetTickCount();
    EXPECT_EQ("", stop_raising(30));
    EXPECT_LT(GetTickCount() - start, 5000u);
}

TEST_F(stopper_bed, a_bad_state_before_a_usable_one_is_logged_and_waited_past)
{
    knob(L"state", L"-1,1");
    EXPECT_EQ("", stop_raising(30));
    std::vector<std::string> lines = marked_lines(*capture_);
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), "! Scancore indicates that it's in av::bad state"));
}

TEST_F(stopper_bed, failures_raise_their_texts)
{
    knob(L"stop_result", L"2");
    EXPECT_EQ("The engine is not up and running", stop_raising(30));
    knob(L"stop_result", L"");
    knob(L"connect_fails", L"1");
    EXPECT_EQ("Cannot create the engine instance", stop_raising(30));
    kit::remove_folder(kit::engine_folder());
    EXPECT_EQ("Scancore.dll is not found. errCode 126", stop_raising(30));
    for (const std::string& line : marked_lines(*capture_))
        EXPECT_NE('!', line[0]) << line;  // the stopper logs none of these
}

TEST_F(stopper_bed, a_confirmation_that_never_comes_times_out_after_the_limit)
{
    knob(L"stop_confirm_ms", L"-1");
    const DWORD start = GetTickCount();
    const std::string text = "Service stop request was made, but the service did not go down within 1 seconds. ";
    EXPECT_EQ(text, stop_raising(1));
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 1000u);
    std::vector<std::string> lines = marked_lines(*capture_);
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), "! " + text));
}

} // namespace
