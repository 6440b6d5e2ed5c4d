// The tray that ignores "/quit": the stage polls it for 15 s, then ends it.
#include "suite_bed.h"

#include "remover/common_tray.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

using namespace suite_bed;
namespace kit = testbed::kit;

TEST(tray_stage_slow, tray_that_ignores_quit_is_terminated_after_the_polls)
{
    lay_tray({L"sdtray.xml"}, true);
    kit::set_knob(L"DrummetsTray", L"ignore_quit", L"1");
    std::unique_ptr<kit::process> tray;
    ASSERT_TRUE(start_tray(tray));
    {
        log_capture log;
        CommonTrayRemover(L"Drummets", L"DrummetsTray.exe").remove_common_tray();
        const std::string program = narrow(tray_program());
        EXPECT_TRUE(in_order(log.texts(), {"Quiting Tray: " + program, "Terminate running process: " + program,
                                           "Dealing with 'DrummetsTray.exe' process ....",
                                           "Process: " + program + " closed successfully"}));
    }
    EXPECT_TRUE(tray->wait(5000));
    EXPECT_EQ(255u, tray->exit_code());
    EXPECT_TRUE(kit::trace_text().find("DrummetsTray.exe") != std::string::npos);
    EXPECT_FALSE(exists(tray_folder()));
    clear_machine();
}

} // namespace
