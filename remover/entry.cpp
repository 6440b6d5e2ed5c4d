#include "remover/entry.h"

#include "family/names.h"
#include "remover/leftovers.h"
#include "remover/single_run.h"
#include "remover/stages.h"
#include "tessel/exception.h"
#include "tessel/log/log.h"
#include "toolbox/environment.h"
#include "toolbox/processes.h"
#include "toolbox/restart.h"

#include <windows.h>

#include <optional>

namespace {

const char version_tag[] = " force remover version 2.1.2.12";
const char log_base_name[] = "QLRemover";
const char no_log_file[] = "Unable to create log file. If you need log file make sure that you have permission "
                           "to write to directory where remove.exe is located";
const char too_old[] = "This program can be launched on Windows 2000 or higher. Exiting ...";
const char no_box[] = "The message box is not shown: no user sees this program's desktop";
const char not_administrator[] = "The program is running without Administrative rights.\n"
                                 "Relogin as Administrator and run it again !";

std::string temp_folder()
{
    char path[MAX_PATH + 1] = {};
    DWORD length = GetTempPathA(sizeof path, path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

// A box nobody can see is never answered: under a deployment tool the run
// would wait on it until the tool kills it. False when it was not shown.
bool show_box(const char* text, const std::string& caption)
{
    if (!message_boxes_are_seen())
        return false;
    MessageBoxA(nullptr, text, caption.c_str(), MB_OK);
    return true;
}

void attach_listeners()
{
    tessel::log::add(new tessel::log::console());
    bool unseen_text = false;
    try {
        tessel::log::add(new tessel::log::file(log_base_name));
    } catch (const std::exception&) {
        unseen_text = !show_box(no_log_file, "Remove.exe");
    }
    // The second copy in the temporary folder: a run on many machines must
    // still complete when that folder cannot be written.
    const std::string second = temp_folder() + "QLRemover.log.txt";
    try {
        tessel::log::add(new tessel::log::file(second));
    } catch (const std::exception& e) {
        tessel::log::error("Unable to create log file %s.log.txt: %s", second.c_str(), e.what());
    }
    // The box's text, where the box was not shown, goes where it is read.
    if (unseen_text) {
        tessel::log::info("%s", no_log_file);
        tessel::log::info("%s", no_box);
    }
}

void write_banner(const ProductInfo& info)
{
    tessel::log::info("");
    tessel::log::info("%s%s", info.product_name.c_str(), version_tag);
    tessel::log::info("");
    tessel::log::info("%s", get_os_description().c_str());
    tessel::log::info("");
}

void refuse(const ProductInfo& info, const char* text, const std::string& caption)
{
    tessel::log::info("%s", text);
    if (!show_box(text, caption))
        tessel::log::info("%s", no_box);
    finish_abnormally(info);
}

void decide_version(ProductInfo& info, bool& version_detected)
{
    version_detected = true;
    find_product_info(info);
    if (info.version > 0) {
        tessel::log::info("Product Version (int): %d", info.version);
    } else {
        const wchar_t* product = product_profile().product_name.c_str();
        tessel::log::info(L"Unable to detect the version of %s, probably nothing to clean ...", product);
        tessel::log::info(L"Making preventive cleaning in assumption that %s was installed before.", product);
        info.version = preventive_cleaning_version;
        version_detected = false;
    }
    if (is_default_maker() && info.version > version_warning_threshold) {
        tessel::log::info("This version of QLVRemover was tested on Pellamore versions up to 4.1.265. "
                          "For later versions it may not work correctly");
        tessel::log::info("");
    }
}

void report_restart_needed()
{
    if (const int scheduled = scheduled_for_restart()) {
        tessel::log::info("%d files and folders still in use are scheduled for deletion at the next restart: "
                          "restart the computer to complete the removal.", scheduled);
        tessel::log::info("");
    }
}

} // namespace

void finish_abnormally(const ProductInfo& info)
{
    tessel::log::info("");
    tessel::log::info("%s%s completed abnormally.", info.product_name.c_str(), version_tag);
    tessel::log::info("");
    tessel::log::shutdown();
    ExitProcess(1);
}

namespace {

// Steps before the stages: the profile, the log, the refusals, the version
// and the installation directory.
void start_up(ProductInfo& info, bool& version_detected, std::optional<single_run_lock>& machine)
{
    attach_listeners();
    write_banner(info);
    // Before any library is loaded: none may come from the folder the run
    // was started in, which its caller may not control.
    if (!keep_current_folder_out_of_library_search())
        tessel::log::info("The current folder stays in the search for libraries: this Windows cannot take it out");

    if (is_before_windows_2000())
        refuse(info, too_old, version_tag);
    if (IsRunAsAdministrator(family::names_of(product_profile()).product.administrator_test_title) != 1)
        refuse(info, not_administrator, info.product_name + version_tag);

    // From here on the run reads and changes the machine: never two at once.
    machine.emplace();
    if (machine->timed_out())
        finish_abnormally(info);

    decide_version(info, version_detected);
    info.install_dir = fixed_install_dir(info.install_dir, info.product_name,
                                         path_of(family::names_of(product_profile()).product.install_folder));
    tessel::log::info("%ls directory: %s", product_profile().product_name.c_str(), info.install_dir.c_str());
    tessel::log::info("");
}

} // namespace

int run_remover(DWORD child_wait_limit_ms)
{
    set_child_wait_limit(child_wait_limit_ms);
    std::optional<ProductInfo> info;
    std::optional<single_run_lock> machine;
    bool version_detected = false;
    try {
        load_product_profile();
        info.emplace(product_narrow());
        start_up(*info, version_detected, machine);
    } catch (...) {
        // Without a settled product and installation directory no stage may
        // run: the run ends abnormally, with the reason on the log.
        tessel::log::log_current_exception("Start-up failed");
        finish_abnormally(info ? *info : ProductInfo(std::string()));
    }

    run_cleaning_stages(*info, version_detected);
    report_leftovers(*info, !sibling_registered);
    report_restart_needed();

    tessel::log::info("%s%s completed OK.", info->product_name.c_str(), version_tag);
    for (int i = 0; i < 3; ++i)
        tessel::log::info("");
    tessel::log::shutdown();
    return 0;
}
