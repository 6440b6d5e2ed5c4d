// The engine stage once per way of stopping the watch service, each against
// the engine build of its version range with both services running.
#include "teardown_bed.h"
#include "watch_stop/teardown.h"

#include "testbed/common/names.h"
#include "testbed/kit/kit.h"
#include "texts.h"

namespace {

using namespace testbed;

struct way
{
    const wchar_t* version;
    const char* name;
    std::vector<std::string> way_lines;  // in this order, with others between
    bool unreadable_version = false;
};

const std::string engine_dll = "Loading C:\\Program Files (x86)\\Common Files\\Common Sundrel Suite\\Scancore\\Scancore.dll";

TEST_F(teardown_bed, each_way_stops_the_running_watch_service)
{
    const way ways[] = {
        {L"1.5.33", "legacy",
         {"scancore version: 1.5.33.0", "Stopping Scancore Services v1.5.33", "stopping AV Watch Service 1.5.33",
          engine_dll, "Doing SCR_connect", "Doing SCR_stop_watch_service", "Service stopped successfully",
          "stopping AV Scanning Service", "Scancore services were stopped succesfully", "scancore_stoped=1"}},
        {L"1.5.60", "product library",
         {"scancore version: 1.5.60.0", "stop AV Watch Service", "Command line processed",
          "AV Watch Service was stopped succesfully", "stopping AV Scanning Service",
          "AV Scanning Service was stopped succesfully", "scancore_stoped=1"}},
        {L"2.1.3", "Quietus 2.1.1-2.1.4",
         {"scancore version: 2.1.3.0", "stop AV Watch Service", "launch Quietus_2.1.1-2.1.4.exe",
          "AV Watch Service was stopped succesfully", "AV Scanning Service was stopped succesfully",
          "scancore_stoped=1"}},
        {L"2.1.7", "Quietus 2.1.5-2.1.9",
         {"scancore version: 2.1.7.0", "stop AV Watch Service", "launch Quietus_2.1.5-2.1.9.exe",
          "AV Watch Service was stopped succesfully", "AV Scanning Service was stopped succesfully",
          "scancore_stoped=1"}},
        {L"2.1.12", "in-process",
         {"scancore version: 2.1.12.0", "stop AV Watch Service", "Entering stop_av_watch_service",
          "Received service's signal, leaving stop_av_watch_service", "AV Watch Service was stopped succesfully",
          "AV Scanning Service was stopped succesfully", "scancore_stoped=1"}},
        {L"2.1.12", "in-process, version unreadable",
         {"scancore version: ", "stop AV Watch Service", "Entering stop_av_watch_service",
          "Received service's signal, leaving stop_av_watch_service", "AV Watch Service was stopped succesfully",
          "scancore_stoped=1"},
         true},
    };
    for (const way& w : ways) {
        SCOPED_TRACE(w.name);
        kit::install_engine(w.version);
        const ProductInfo info = installed_product();
        if (w.unreadable_version) {
            // No scanning service, so no version to read.
            start(L"ScrWatchService.exe");
            ASSERT_TRUE(DeleteFileW((kit::engine_folder() + L"ScrScanningService.exe").c_str()));
        } else {
            start_engine_services();
        }
        ASSERT_TRUE(watch_service_runs());
        std::vector<std::string> lines =
            logged_by([&] { stop_and_delete_services(info, L"QELVA", false); }, w.name);
        EXPECT_TRUE(in_order(lines, w.way_lines)) << ::testing::PrintToString(lines);
        EXPECT_EQ(DWORD(SERVICE_STOPPED), kit::service_state(watch_service_name));
        EXPECT_FALSE(scanning_service_runs());
        kit::remove_all_doubles();
        kit::remove_folder(kit::engine_folder());
        kit::remove_folder(kit::program_files() + L"Drummets");
    }
}

} // namespace
