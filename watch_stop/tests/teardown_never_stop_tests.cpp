// The engine stage against a watch service that never stops: the way fails,
// the 15 polls run out, and with the uninstall flag the services are removed
// by force.
#include "teardown_bed.h"
#include "watch_stop/teardown.h"

#include "testbed/common/names.h"
#include "testbed/kit/kit.h"

namespace {

using namespace testbed;

TEST_F(teardown_bed, a_watch_service_that_never_stops_is_removed_by_force)
{
    kit::install_engine(L"2.1.7");
    service_knob(L"ScrWatchService", L"never_stop", L"1");
    start_engine_services();
    const ProductInfo info = installed_product();
    std::vector<std::string> lines =
        logged_by([&] { stop_and_delete_services(info, L"QELVA", true); }, "watch service never stops, uninstall");
    auto at = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line); };
    ASSERT_TRUE(contains(lines, "launch Quietus_2.1.5-2.1.9.exe"));
    ASSERT_TRUE(contains(lines, "AV Watch Service looks to be still up"));
    EXPECT_EQ(at("launch Quietus_2.1.5-2.1.9.exe") + 1, at("AV Watch Service looks to be still up"));
    EXPECT_TRUE(contains(lines, "AV Scanning Service was stopped succesfully"));
    EXPECT_TRUE(contains(lines, "scancore_stoped=0"));
    EXPECT_TRUE(contains(lines, "Uninstalling Scancore Watch service"));
    EXPECT_TRUE(contains(lines, "Done removing Scancore services"));
    // Quietus's 5 s and the 15 polls of a second.
    EXPECT_GE(last_elapsed_ms, 20000u);
    EXPECT_EQ(0u, kit::service_state(watch_service_name));
    EXPECT_EQ(0u, kit::service_state(scanning_service_name));
    EXPECT_TRUE(kit::processes_named(L"ScrWatchService.exe").empty());
    EXPECT_TRUE(kit::processes_named(L"ScrScanningService.exe").empty());
}

} // namespace
