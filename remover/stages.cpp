#include "remover/stages.h"

#include "family/names.h"
#include "installer_db/cleaner.h"
#include "installer_db/packed_guid.h"
#include "installer_db/records.h"
#include "installer_db/registration.h"
#include "remover/common_tray.h"
#include "remover/sundrel.h"
#include "tessel/log/log.h"
#include "tessel/lower_case.h"
#include "tessel/registry2/key.h"
#include "tessel/unicode/unicode.h"
#include "toolbox/environment.h"
#include "toolbox/files.h"
#include "toolbox/folders.h"
#include "toolbox/installer_leftovers.h"
#include "toolbox/processes.h"
#include "toolbox/profiles.h"
#include "toolbox/registry_cleaning.h"
#include "toolbox/shared_dlls.h"
#include "toolbox/shortcuts.h"
#include "toolbox/waits.h"
#include "watch_stop/teardown.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>

bool sibling_registered = false;

namespace {

const char separator[] = "==================================================";
const char short_separator[] = "=================================================";
// How long the sibling's tray is given to close itself.
const DWORD sibling_tray_quit_limit_ms = 15 * 1000;
const wchar_t uninstall_path[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// A narrow name or path as the registry writes it (key paths, SharedDLLs
// names). The installation folder is used as a search text, so it must never
// come out empty: where the code page cannot convert it, each byte becomes one
// character.
std::wstring wide_search_text(const std::string& path)
{
    try {
        return tessel::unicode::from_ansi(path);
    } catch (const std::exception&) {
        return tessel::unicode::widened_byte_for_byte(path);
    }
}

// What every stage works with: the product's record, how its version was
// found, and the family's names, computed once.
struct run_context {
    run_context(ProductInfo& record, bool detected)
        : info(record), version_detected(detected), profile(product_profile()),
          names(family::names_of(profile)), install_dir_wide(wide_search_text(record.install_dir))
    {
    }

    ProductInfo& info;
    const bool version_detected;
    const ProductProfile& profile;
    const family::names names;
    const std::wstring install_dir_wide;
    // Set by the suite stage: the framework went, so its package goes too.
    bool suite_removed = false;
};

void empty_line()
{
    tessel::log::write(tessel::log::level_info, std::string());
}

void closing()
{
    tessel::log::info("%s", separator);
    empty_line();
}

void heading(const char* text)
{
    tessel::log::info("%s", text);
    empty_line();
}

void heading(const wchar_t* format, const std::wstring& name)
{
    tessel::log::info(format, name.c_str());
    empty_line();
}

bool starts_with(const std::wstring& text, const std::wstring& head)
{
    return text.compare(0, head.size(), head) == 0;
}

// Stages 6 and 7 are left out for a detected product of the default maker up
// to version 4.1.0.
bool installer_stages_skipped(const run_context& run)
{
    return run.info.version <= version_4_1_0 && run.version_detected && is_default_maker();
}

// The counters of the files matching the pattern go. A machine without the
// counters' key raises; the rest of the stage must still run.
void remove_counters(const std::wstring& pattern)
{
    try {
        set_shared_dll_counters(pattern, 0);
    } catch (...) {
        tessel::log::log_current_exception("SharedDLLs counters not removed");
    }
}

// The Uninstall entries' names that are product codes: only those name an
// InstallShield folder, and a name read from the machine could be a path.
std::vector<std::wstring> product_codes_among(const std::vector<std::wstring>& names)
{
    std::vector<std::wstring> codes;
    for (const std::wstring& name : names) {
        if (is_braced_guid(name))
            codes.push_back(name);
        else
            tessel::log::info(L"Passed over '%ls': not a product code !", name.c_str());
    }
    return codes;
}

std::string sibling_tray_path(const run_context& run)
{
    return path_of(run.names.sibling.tray_path);
}

// A program the run starts works in its own folder, not in the run's current
// folder, where it would otherwise look for libraries too.
std::string folder_of(const std::string& program)
{
    return program.substr(0, program.find_last_of('\\') + 1);
}

// ---- The stages ------------------------------------------------------------

void stop_processes(run_context& run)
{
    heading(L"**** Stop %s processes ****", run.profile.product_name);
    for (const std::string& program : run.names.product.programs)
        deal_with_process(program);
    closing();
}

void stop_sibling_tray(run_context& run)
{
    const std::string& sibling_tray = run.names.sibling.tray;
    if (!is_process_running(adjust_process_name(sibling_tray)))
        return;
    heading(L"**** Stop %s Tray processes ****", run.profile.sibling_name);
    const std::string tray = sibling_tray_path(run);
    // Asked to quit, the tray closes itself and saves its state.
    ShellExecuteA(nullptr, "open", tray.c_str(), "/quit", folder_of(tray).c_str(), SW_SHOW);
    if (!wait_until_ended(sibling_tray, sibling_tray_quit_limit_ms)) {
        tessel::log::info("Terminate running process: %s", tray.c_str());
        deal_with_process(sibling_tray);
    }
    closing();
}

void remove_guard_autorun(run_context& run)
{
    heading("**** Removing QELVAguard from autorun  ****");
    for (const std::wstring& value : run.names.product.guard_autoruns)
        remove_autorun(value);
    closing();
}

void unregister_from_suite(run_context& run)
{
    const family::suite_names& names = run.names.suite;
    const std::wstring& product = run.names.product.product_key;
    sundrel31x_remover suite(run.names.maker.name, names.name, names.service_name, names.service_program);
    sibling_registered = suite.is_product_registered_in_sundrel_31x(run.names.sibling.product_key);
    if (run.info.user_email.empty())
        run.info.user_email = suite.read_user_email_from_sundrel_31x(product);
    suite.unregister_product_from_sundrel_31x(product);
    suite.remove_sundrel_31x();
    run.suite_removed = suite.framework_removed();
}

void deal_with_suite(run_context& run)
{
    heading("**** Deal with Sundrel 3.1.x ****");
    try {
        unregister_from_suite(run);
        free_harrowlink();
    } catch (...) {
        tessel::log::info("Unregistering in Sundrel caused problems with the remover...");
    }
    closing();
}

void clean_sibling_installer_data(run_context& run)
{
    if (!(run.info.version < version_4_1_0 && is_default_maker()))
        return;
    // The sibling is still installed and registered in the suite: its
    // installer data is its own registration, which the run keeps.
    if (sibling_registered) {
        tessel::log::info(L"%s is registered in the suite: its Windows Installer data stays.",
                          run.profile.sibling_name.c_str());
        return;
    }
    clean_installer_database(run.names.sibling.upgrade_code);
}

// The product's cached packages are named only in the registrations the
// cleaning takes away: they are read first, and deleted once their product is
// no longer registered.
void remove_product_installer_data(run_context& run)
{
    if (sibling_registered || installer_stages_skipped(run))
        return;
    const std::wstring& upgrade_code = run.names.product.upgrade_code;
    std::map<std::wstring, std::set<std::wstring>> packages;
    for (const std::wstring& product : products_of_upgrade_code(upgrade_code))
        packages[product] = cached_packages_of(product);
    clean_installer_database(upgrade_code);
    for (const auto& [product, paths] : packages)
        if (!is_product_registered(product))
            for (const std::wstring& path : paths)
                remove_cached_package(path);
    remove_maker_uninstall_entry(run.names.maker.name, run.suite_removed);
}

void remove_shared_components(run_context& run)
{
    if (!sibling_registered || installer_stages_skipped(run))
        return;
    const family::product_names& product = run.names.product;
    remove_components_by_key_path(run.install_dir_wide);
    for (const std::wstring& key_path : product.shared_component_texts)
        remove_components_by_key_path(key_path);
    for (const std::wstring& component : product.component_codes)
        remove_product_component(product.upgrade_code, component);
    remove_product_feature(product.upgrade_code, product.feature);
    empty_line();
}

void remove_shared_dll_counters(run_context& run)
{
    remove_counters(run.install_dir_wide);
    closing();
}

void remove_common_tray_stage(run_context& run)
{
    heading(L"**** Remove %sTray ****", run.profile.maker_folder);
    CommonTrayRemover(run.names.maker.name, run.names.tray.program).remove_common_tray();
    closing();
}

void stop_engine_services(run_context& run)
{
    heading("**** Stop Scancore services ****");
    // The sibling keeps the engine: its services are only stopped.
    stop_and_delete_services(run.info, run.names.product.product_key, !sibling_registered);
    closing();
}

void remove_app_data(run_context& run)
{
    heading(L"**** Removing %s Specific AppData folders ****", run.profile.product_name);
    try {
        // Every folder is named before the first goes: a shell folder
        // without an answer ends the list before it begins.
        const family::product_names& product = run.names.product;
        std::vector<std::string> folders;
        for (const family::place& folder : product.data_folders)
            folders.push_back(path_of(folder));
        const std::string shared_cache = path_of(product.shared_installation_cache);
        for (const std::string& folder : folders)
            remove_folder(folder);
        remove_installation_caches(product.installation_cache_pattern);
        if (!sibling_registered)
            remove_folder(shared_cache);
    } catch (...) {
        // The list ends here; the stages after it still run.
    }
    tessel::log::info("%s", short_separator);
    empty_line();
}

void restart_or_remove_engine(run_context& run)
{
    if (sibling_registered) {
        tessel::log::info(L"**** Start Scancore services again to have %s working ****",
                          run.profile.sibling_name.c_str());
        if (!restart_engine_services())
            tessel::log::info(L"If %s is 'waiting for service', the computer should be rebooted.",
                              run.profile.sibling_name.c_str());
    } else {
        kill_engine();
    }
    closing();
}

void clean_software_registry(run_context& run)
{
    heading("**** Cleaning SOFTWARE registry ****");
    clean_software_keys();
    remove_uninstall_entries(run.info.uninstall_keys);
    remove_context_menu(run.names.product.name);
    closing();
}

void remove_shortcuts(run_context& run)
{
    heading(L"**** Removing %s shortcuts ****", run.profile.product_name);
    const family::product_names& product = run.names.product;
    remove_start_menu_shortcuts(product.shortcut_group, product.shortcut, product.tools_shortcut);
    remove_desktop_shortcuts(product.shortcut);
    closing();
}

// The folder above the installation folder: the text before the last
// backslash, once the trailing one is dropped.
std::string install_parent(const std::string& install_dir)
{
    if (install_dir.empty())
        return std::string();
    const std::string without_trail = install_dir.substr(0, install_dir.size() - 1);
    const std::size_t last = without_trail.rfind('\\');
    return last == std::string::npos ? std::string() : without_trail.substr(0, last);
}

void clean_program_files(run_context& run)
{
    heading("**** Cleaning Program Files folder ****");
    const family::product_names& product = run.names.product;
    const std::string tools_folder = path_of(product.tools_folder);
    remove_folder(run.info.install_dir);

    const std::wstring picture = wide_path_of(product.tools_picture);
    SetFileAttributesW(picture.c_str(), FILE_ATTRIBUTE_NORMAL);
    delete_file(path_of(product.tools_picture));
    remove_counters(picture);

    remove_folder(path_of(product.tools_product_folder));
    remove_empty_folder(tools_folder);
    remove_install_folder_chain(install_parent(run.info.install_dir));
    remove_empty_folder(path_of(run.names.maker.program_folder));
    remove_installshield_folders(product_codes_among(run.info.uninstall_keys));
    remove_empty_folder(path_of(run.names.maker.app_data_folder));
    remove_empty_folder(path_of(run.names.maker.common_data_folder));
    closing();
}

void restart_sibling_tray(run_context& run)
{
    if (!sibling_registered)
        return;
    heading(L"**** Starting %s Tray ****", run.profile.sibling_name);
    const std::string tray = sibling_tray_path(run);
    ShellExecuteA(nullptr, "open", tray.c_str(), nullptr, folder_of(tray).c_str(), SW_SHOW);
    closing();
}

void clean_virtual_store(run_context& run)
{
    heading("**** Removing files from Virtual Store ****");
    tessel::log::info("Number of removed files: %d", rmove_virtual_store(run.names.maker.virtual_store));
    empty_line();
    closing();
}

// ---- The sequence ------------------------------------------------------------

struct stage {
    const char* name;
    void (*run)(run_context&);
};

const stage cleaning_stages[] = {
    {"Stop processes", stop_processes},
    {"Stop the sibling's tray", stop_sibling_tray},
    {"Autorun of the guard", remove_guard_autorun},
    {"Suite framework", deal_with_suite},
    {"Installer data of the sibling product", clean_sibling_installer_data},
    {"Product registration", remove_product_installer_data},
    {"Shared components", remove_shared_components},
    {"Shared library counters", remove_shared_dll_counters},
    {"Common tray", remove_common_tray_stage},
    {"Engine services", stop_engine_services},
    {"Application data", remove_app_data},
    {"Engine restart or removal", restart_or_remove_engine},
    {"SOFTWARE registry", clean_software_registry},
    {"Shortcuts", remove_shortcuts},
    {"Program Files", clean_program_files},
    {"Sibling tray restart", restart_sibling_tray},
    {"Virtual Store", clean_virtual_store},
};

} // namespace

void remove_maker_uninstall_entry(const std::wstring& maker_name, bool suite_removed)
{
    tessel::registry2::key uninstall(HKEY_LOCAL_MACHINE);
    std::set<std::wstring> names;
    try {
        uninstall = uninstall.open(uninstall_path, false);
        names = uninstall.subkey_names();
    } catch (const std::exception&) {
        return;
    }
    const std::wstring maker = tessel::lower_ascii(maker_name);
    for (const std::wstring& name : names) {
        try {
            const std::wstring display_name =
                tessel::registry2::up_to_first_nul(uninstall.open(name, false).read_string(L"DisplayName"));
            if (tessel::lower_ascii(display_name) != maker)
                continue;
        } catch (const std::exception&) {
            continue;  // no readable display name
        }
        remove_regkey(HKEY_LOCAL_MACHINE, uninstall_path, name, true);
        empty_line();
        // Named by a product code, the entry is the suite's package's; while
        // another product keeps the suite, the package stays registered.
        if (suite_removed && is_braced_guid(name)) {
            remove_product_registration(name);
            empty_line();
        }
        return;
    }
}

void clean_software_keys()
{
    const family::product_names product = family::names_of(product_profile()).product;
    const auto is_products = [&product](const std::wstring& lower) {
        return std::any_of(product.software_key_prefixes.begin(), product.software_key_prefixes.end(),
                           [&lower](const std::wstring& prefix) { return starts_with(lower, prefix); });
    };
    try {
        const tessel::registry2::key software = tessel::registry2::key(HKEY_LOCAL_MACHINE).open(L"Software", false);
        for (const std::wstring& name : software.subkey_names()) {
            if (is_products(tessel::lower_ascii(name)))
                remove_regkey(HKEY_LOCAL_MACHINE, L"Software", name, true);
        }
    } catch (const std::exception&) {
        // No listing of the machine's software: the named keys below still go.
    }
    for (const family::key& key : product.keys)
        remove_regkey(key.root, key.parent, key.name, true);
    // Only when nothing else is left below them.
    for (const family::key& key : product.parent_keys)
        remove_regkey(key.root, key.parent, key.name, false);
}

bool run_suite_stage(ProductInfo& info)
{
    run_context run(info, true);
    deal_with_suite(run);
    return run.suite_removed;
}

void run_cleaning_stages(ProductInfo& info, bool version_detected)
{
    std::optional<run_context> context;
    try {
        context.emplace(info, version_detected);
    } catch (...) {
        tessel::log::log_current_exception("The family's names cannot be used: no stage runs");
        return;
    }
    run_context& run = *context;
    for (const stage& each : cleaning_stages) {
        try {
            each.run(run);
        } catch (...) {
            // An unattended run always reaches its end: the failure is logged
            // with its stage, and the next stage runs.
            tessel::log::log_current_exception("Stage \"" + std::string(each.name) + "\" failed");
            closing();
        }
    }
}
