// The engine stage: the version and the way it picks, a watch service not
// running at the start, the sibling keeping the engine, stop attempts that
// raise, and the removal of the engine.
#include "teardown_bed.h"
#include "watch_stop/teardown.h"

#include "tessel/unique_any.h"
#include "testbed/common/environment.h"
#include "testbed/common/names.h"
#include "testbed/kit/kit.h"
#include "texts.h"

#include <shlobj.h>

#include <tuple>

namespace {

using namespace testbed;

TEST(engine_version, picks_the_way_at_each_boundary)
{
    struct row
    {
        bool readable;
        unsigned major, minor, build;
        watch_stop_way way;
    };
    const row rows[] = {
        {true, 1, 5, 33, watch_stop_way::legacy},          {true, 1, 5, 34, watch_stop_way::product_library},
        {true, 1, 5, 90, watch_stop_way::product_library}, {true, 1, 5, 91, watch_stop_way::quietus_2_1_1},
        {true, 2, 1, 4, watch_stop_way::quietus_2_1_1},    {true, 2, 1, 5, watch_stop_way::quietus_2_1_5},
        {true, 2, 1, 9, watch_stop_way::quietus_2_1_5},    {true, 2, 1, 10, watch_stop_way::in_process},
        {true, 1, 4, 99, watch_stop_way::legacy},          {true, 1, 6, 0, watch_stop_way::quietus_2_1_1},
        {true, 2, 0, 200, watch_stop_way::quietus_2_1_1},  {true, 3, 0, 0, watch_stop_way::in_process},
        {false, 0, 0, 0, watch_stop_way::in_process},
    };
    for (const row& r : rows)
        EXPECT_EQ(int(r.way), int(watch_stop_way_for(r.readable, r.major, r.minor, r.build)))
            << r.major << "." << r.minor << "." << r.build << (r.readable ? "" : " unreadable");
}

TEST_F(teardown_bed, engine_version_is_read_from_the_scanning_service)
{
    kit::install_engine(L"2.1.7");
    unsigned major = 9, minor = 9, build = 9;
    EXPECT_TRUE(read_engine_version(major, minor, build));
    EXPECT_EQ(std::make_tuple(2u, 1u, 7u), std::make_tuple(major, minor, build));
    EXPECT_TRUE(is_engine_version_above(2, 1, 6));
    EXPECT_FALSE(is_engine_version_above(2, 1, 7));
    EXPECT_FALSE(is_engine_version_above(2, 2, 0));

    kit::remove_folder(kit::engine_folder());
    EXPECT_FALSE(read_engine_version(major, minor, build));
    EXPECT_EQ(std::make_tuple(0u, 0u, 0u), std::make_tuple(major, minor, build));
    EXPECT_TRUE(is_engine_version_above(9, 9, 9));
}

TEST_F(teardown_bed, a_watch_service_not_running_leaves_stopped_false_and_the_services_are_removed_twice_over)
{
    kit::install_engine(L"2.1.12");
    start(L"ScrScanningService.exe");
    ASSERT_TRUE(scanning_service_runs());
    const ProductInfo info = installed_product();
    std::vector<std::string> lines =
        logged_by([&] { stop_and_delete_services(info, L"QELVA", true); }, "watch service not running, uninstall");
    EXPECT_EQ(0u, count_starting(lines, "scancore version:"));
    EXPECT_TRUE(contains(lines, "AV Scanning Service was stopped succesfully"));
    EXPECT_TRUE(contains(lines, "scancore_stoped=0"));
    EXPECT_TRUE(contains(lines, "Uninstalling Scancore Scan service"));
    EXPECT_TRUE(contains(lines, "Uninstalling Scancore Watch service"));
    EXPECT_TRUE(contains(lines, "Done removing Scancore services"));
    // The manager's removal ran too: it logs for each of the two services.
    auto uninstall = std::find(lines.begin(), lines.end(), "Uninstalling Scancore Watch service");
    auto done = std::find(lines.begin(), lines.end(), "Done removing Scancore services");
    EXPECT_GT(std::distance(uninstall, done), 1);
    EXPECT_EQ(0u, kit::service_state(scanning_service_name));
    EXPECT_EQ(0u, kit::service_state(watch_service_name));
    EXPECT_TRUE(kit::processes_named(L"ScrScanningService.exe").empty());
}

TEST_F(teardown_bed, with_the_sibling_keeping_the_engine_nothing_is_uninstalled_and_both_come_back)
{
    kit::install_engine(L"2.1.12");
    start_engine_services();
    const ProductInfo info = installed_product();
    std::vector<std::string> lines =
        logged_by([&] { stop_and_delete_services(info, L"QELVA", false); }, "sibling keeps the engine");
    EXPECT_TRUE(contains(lines, "scancore_stoped=1"));
    EXPECT_EQ(0u, count_starting(lines, "Uninstalling"));
    EXPECT_EQ(DWORD(SERVICE_STOPPED), kit::service_state(watch_service_name));
    EXPECT_EQ(DWORD(SERVICE_STOPPED), kit::service_state(scanning_service_name));

    EXPECT_TRUE(restart_engine_services());
    EXPECT_TRUE(watch_service_runs());
    EXPECT_TRUE(scanning_service_runs());
}

TEST_F(teardown_bed, an_in_process_stop_that_raises_skips_the_polling)
{
    kit::install_engine(L"2.1.12");
    start_engine_services();
    ASSERT_TRUE(DeleteFileW((kit::engine_folder() + L"Scancore.dll").c_str()));
    const ProductInfo info = installed_product();
    bool stopped = true;
    std::vector<std::string> lines =
        logged_by([&] { stopped = stop_scancore_watch_service(info, L"QELVA"); }, "in-process, library missing");
    EXPECT_FALSE(stopped);
    ASSERT_EQ(3u, lines.size() - count_starting(lines, "Entering stop_av_watch_service") -
                      count_starting(lines, "Entering ScrWatchServiceStopper's ctor"))
        << ::testing::PrintToString(lines);
    EXPECT_EQ("stop AV Watch Service", lines.front());
    EXPECT_EQ(1u, count_starting(lines, "stop_scancore_watch_service exception: "));
    EXPECT_NE(std::string::npos, lines[lines.size() - 2].find("Scancore.dll is not found. errCode 126"));
    EXPECT_EQ("AV Watch Service looks to be still up", lines.back());
    EXPECT_LT(last_elapsed_ms, 10000u);  // no 15 s of polling
    EXPECT_TRUE(watch_service_runs());
}

TEST_F(teardown_bed, a_product_library_stop_that_raises_skips_the_polling_and_leaves_the_current_folder)
{
    kit::install_engine(L"1.5.60");
    start_engine_services();
    const ProductInfo info = installed_product();
    const std::wstring library = std::wstring(info.install_dir.begin(), info.install_dir.end()) + L"QELVA.dll";
    struct attempt
    {
        const char* what;
        std::function<void()> arrange;
        std::string raised;
    };
    const attempt attempts[] = {
        {"create_application failing", [] { kit::set_knob(L"QELVA", L"create_fails", L"1",
                                                            kit::program_files() + L"Drummets\\Pellamore\\"); },
         "Failed to initialize application"},
        {"create_application missing",
         [&] {
             ASSERT_TRUE(DeleteFileW(library.c_str()));
             ASSERT_TRUE(CopyFileW((kit::bin_folder() + L"Harrowlink.dll").c_str(), library.c_str(), FALSE));
         },
         "create_application() entry is not found in " + narrow(library) + " DLL"},
        {"library missing", [&] { ASSERT_TRUE(DeleteFileW(library.c_str())); },
         "failed to load " + narrow(library) + ": "},
    };
    wchar_t before[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, before);
    for (const attempt& a : attempts) {
        SCOPED_TRACE(a.what);
        a.arrange();
        bool stopped = true;
        std::vector<std::string> lines = logged_by([&] { stopped = stop_scancore_watch_service(info, L"QELVA"); }, a.what);
        EXPECT_FALSE(stopped);
        ASSERT_EQ(3u, lines.size()) << ::testing::PrintToString(lines);
        EXPECT_EQ(0u, lines[1].rfind("stop_scancore_watch_service exception: ", 0)) << lines[1];
        EXPECT_NE(std::string::npos, lines[1].find(a.raised)) << lines[1];
        EXPECT_EQ("AV Watch Service looks to be still up", lines[2]);
        EXPECT_LT(last_elapsed_ms, 10000u);
        wchar_t after[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, after);
        EXPECT_EQ(narrow(before), narrow(after));
        EXPECT_EQ(nullptr, GetModuleHandleW(library.c_str()));
    }

    // An installation folder that is not a full path is not searched for:
    // the product library there (below this program's current folder) stays
    // unloaded.
    kit::make_folders(L"C:\\work\\Drummets\\Pellamore\\");
    ASSERT_TRUE(CopyFileW((kit::bin_folder() + L"planted_library.dll").c_str(),
                          L"C:\\work\\Drummets\\Pellamore\\QELVA.dll", FALSE));
    kit::clear_trace();
    ProductInfo relative = info;
    relative.install_dir = "Drummets\\Pellamore\\";
    bool stopped = true;
    const std::vector<std::string> lines =
        logged_by([&] { stopped = stop_scancore_watch_service(relative, L"QELVA"); }, "relative folder");
    EXPECT_FALSE(stopped);
    ASSERT_EQ(3u, lines.size()) << ::testing::PrintToString(lines);
    EXPECT_NE(std::string::npos, lines[1].find("Drummets\\Pellamore\\QELVA.dll is not a full path: the product "
                                               "library is not loaded"))
        << lines[1];
    EXPECT_EQ(std::string::npos, kit::trace_text().find("planted copy ran")) << kit::trace_text();
    EXPECT_TRUE(watch_service_runs());
}

void write_key(const std::wstring& path)
{
    tessel::unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                             key.put(), nullptr));
}

bool key_exists(const std::wstring& path)
{
    tessel::unique_hkey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

const wchar_t* const shared_dlls = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

void write_counter(const std::wstring& file, DWORD count)
{
    tessel::unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, shared_dlls, 0, nullptr, 0, KEY_WRITE, nullptr,
                                             key.put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), file.c_str(), 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&count), sizeof count));
}

bool counter_exists(const std::wstring& file)
{
    tessel::unique_hkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, shared_dlls, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return false;
    return RegQueryValueExW(key.get(), file.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

TEST_F(teardown_bed, kill_engine_removes_driver_folders_counters_and_keys_and_nothing_else)
{
    kit::install_engine(L"2.1.12");
    const std::wstring inf = kit::engine_folder() + L"scrfsfilter.inf";
    ASSERT_EQ(0u, kit::run(L"rundll32.exe setupapi,InstallHinfSection DefaultInstall 132 " + inf));
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring driver = std::wstring(system) + L"\\drivers\\scrfsfilter.sys";
    ASSERT_TRUE(kit::file_exists(driver));
    ASSERT_EQ(DWORD(SERVICE_STOPPED), kit::service_state(L"scrfsfilter"));

    const std::wstring app_data = shell_folder(CSIDL_APPDATA);
    const std::wstring suite_data = kit::common_app_data() + L"Common Sundrel Suite\\";
    kit::write_file(suite_data + L"Scancore\\quarantine\\item.dat", "x");
    kit::write_file(kit::common_app_data() + L"clp\\state.dat", "x");
    kit::write_file(app_data + L"clp\\user.dat", "x");
    const std::wstring neighbour_folder = kit::common_files() + L"Kelmar\\";
    kit::write_file(neighbour_folder + L"keep.dll", "x");
    const std::wstring engine_counter = kit::engine_folder() + L"Scancore.dll";
    const std::wstring suite_counter = kit::common_files() + L"Common Sundrel Suite\\shared.dll";
    const std::wstring neighbour_counter = neighbour_folder + L"keep.dll";
    write_counter(engine_counter, 1);
    write_counter(suite_counter, 3);
    write_counter(neighbour_counter, 2);
    write_key(L"Software\\Common Sundrel Suite\\Scancore\\Settings");
    write_key(L"Software\\AntimalwareSolution\\Engine");
    write_key(L"Software\\Kelmar\\Shared");

    // A program of rundll32's name in the current folder, where the system's
    // search for the bare name would look before the system folder.
    ASSERT_TRUE(CopyFileW((kit::bin_folder() + L"planted_program.exe").c_str(), L"C:\\work\\rundll32.exe", FALSE));
    kit::clear_trace();

    logged_by([] { kill_engine(); }, "kill_engine");

    EXPECT_EQ(std::string::npos, kit::trace_text().find("planted copy ran")) << kit::trace_text();
    DeleteFileW(L"C:\\work\\rundll32.exe");
    EXPECT_FALSE(kit::file_exists(driver));
    EXPECT_EQ(0u, kit::service_state(L"scrfsfilter"));
    EXPECT_FALSE(key_exists(L"Software\\Common Sundrel Suite\\Scancore\\Filter"));
    EXPECT_FALSE(kit::file_exists(kit::engine_folder()));
    EXPECT_FALSE(kit::file_exists(kit::common_files() + L"Common Sundrel Suite"));
    EXPECT_FALSE(kit::file_exists(suite_data));
    EXPECT_FALSE(kit::file_exists(kit::common_app_data() + L"clp"));
    EXPECT_FALSE(kit::file_exists(app_data + L"clp"));
    EXPECT_FALSE(counter_exists(engine_counter));
    EXPECT_FALSE(counter_exists(suite_counter));
    EXPECT_FALSE(key_exists(L"Software\\Common Sundrel Suite\\Scancore"));
    EXPECT_FALSE(key_exists(L"Software\\AntimalwareSolution"));

    EXPECT_TRUE(kit::file_exists(neighbour_folder + L"keep.dll"));
    EXPECT_TRUE(counter_exists(neighbour_counter));
    EXPECT_TRUE(key_exists(L"Software\\Kelmar\\Shared"));
    EXPECT_TRUE(key_exists(L"Software\\Common Sundrel Suite"));
    kit::remove_folder(neighbour_folder);
}

} // namespace
