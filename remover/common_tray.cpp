#include "remover/common_tray.h"

#include "family/names.h"
#include "installer_db/records.h"
#include "installer_db/registration.h"
#include "tessel/log/log.h"
#include "tessel/lower_case.h"
#include "tessel/registry2/key.h"
#include "tessel/unicode/unicode.h"
#include "toolbox/environment.h"
#include "toolbox/files.h"
#include "toolbox/folders.h"
#include "toolbox/processes.h"
#include "toolbox/profiles.h"
#include "toolbox/shared_dlls.h"
#include "toolbox/waits.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <set>
#include <vector>

using tessel::unicode::to_ansi;

namespace {

bool file_exists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// How long the tray is given to end, once asked to quit and once terminated.
const DWORD tray_end_limit_ms = 15 * 1000;

struct tray_paths {
    std::wstring configurations;  // the products' configuration files
    std::wstring tray_folder;     // the tray's folder under Program Files
    std::wstring program;         // the tray program in it
};

tray_paths paths_of(const family::tray_names& names)
{
    tray_paths paths;
    paths.configurations = wide_path_of(names.configurations);
    paths.tray_folder = wide_path_of(names.folder);
    paths.program = wide_path_of(names.program_path);
    return paths;
}

void close_tray(const family::tray_names& names, const tray_paths& paths)
{
    const std::string program_name = to_ansi(names.program);
    if (file_exists(paths.tray_folder + names.page_library)) {
        tessel::log::info(L"Quiting Tray: %ls", paths.program.c_str());
        ShellExecuteW(nullptr, L"open", paths.program.c_str(), L"/quit", paths.tray_folder.c_str(), SW_SHOW);
        wait_until_ended(program_name, tray_end_limit_ms);
    }
    if (!is_process_running(adjust_process_name(program_name))) {
        tessel::log::info(L"Process: %ls closed successfully", paths.program.c_str());
        return;
    }
    tessel::log::info(L"Terminate running process: %ls", paths.program.c_str());
    deal_with_process(program_name);
    if (wait_until_ended(program_name, tray_end_limit_ms))
        tessel::log::info(L"Process: %ls closed successfully", paths.program.c_str());
}

// The tray's key and its autorun value; each goes on its own, so a key that is
// already gone does not keep the tray starting at every logon.
void clean_tray_registry(const CommonTrayRemover& tray, const family::tray_names& names)
{
    const tessel::registry2::key machine(HKEY_LOCAL_MACHINE);
    try {
        machine.open(names.registry.parent, false).remove_key(names.registry.name, true);
        const std::wstring tray_key = tray.maker + L"\\" + tray.tray_folder_name;
        tessel::log::info(L"Cleaning registry: HKLM\\Software\\%ls", tray_key.c_str());
    } catch (const tessel::exception&) {
    }
    try {
        machine.open(L"Software\\Microsoft\\Windows\\CurrentVersion\\Run\\", false).remove_value(names.autorun);
        tessel::log::info("Cleaning registry: HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\CommonSundrelTray");
    } catch (const tessel::exception&) {
    }
}

// Whether a component's key path names a file in the folder (which ends with
// a backslash); the installer writes some drives' colon as "?" ("C?\...").
bool names_a_file_in(std::wstring key_path, const std::wstring& folder)
{
    if (key_path.size() >= 2 && key_path[1] == L'?')
        key_path[1] = L':';
    return tessel::lower_ascii(key_path).compare(0, folder.size(), tessel::lower_ascii(folder)) == 0;
}

// The packages that installed the tray, known by the components removed from
// it: the products whose every value in those components names a file in the
// tray folder. A product that also had a value elsewhere (a neighbour whose
// own path merely ends like one of the tray's) is not the tray's; the
// sibling's packages and this product's never are.
std::set<std::wstring> tray_packages(const std::vector<component_value>& removed, const std::wstring& tray_folder)
{
    std::set<std::wstring> inside;
    std::set<std::wstring> elsewhere;
    for (const component_value& value : removed)
        (names_a_file_in(value.key_path, tray_folder) ? inside : elsewhere).insert(tessel::lower_ascii(value.product));
    const family::names table = family::names_of(product_profile());
    for (const std::wstring& upgrade_code : {table.product.upgrade_code, table.sibling.upgrade_code})
        for (const std::wstring& product : products_of_upgrade_code(upgrade_code))
            elsewhere.insert(tessel::lower_ascii(product));
    std::set<std::wstring> packages;
    for (const std::wstring& product : inside)
        if (!elsewhere.count(product))
            packages.insert(product);
    return packages;
}

void remove_tray(const CommonTrayRemover& tray, const family::tray_names& names, const tray_paths& paths)
{
    close_tray(names, paths);

    remove_folder(to_ansi(paths.tray_folder));
    for (const family::place& folder : names.data_folders)
        remove_folder(path_of(folder));

    const std::string profile = get_profile_folder();
    for (const family::place& folder : names.profile_folders)
        remove_dir_in_userappdata_for_allprofiles(path_relative_to(path_of(folder), profile));

    clean_tray_registry(tray, names);

    tessel::log::info("");
    tessel::log::info("**** Let's remove Common Tray Registry Component ****");
    std::vector<component_value> removed;
    try {
        for (const std::wstring& key_path : names.component_key_paths) {
            const std::vector<component_value> values = remove_components_by_key_path(key_path);
            removed.insert(removed.end(), values.begin(), values.end());
        }
    } catch (...) {
        tessel::log::error("some exception occured while removing Common Tray registry components");
    }
    for (const std::wstring& product : tray_packages(removed, paths.tray_folder))
        remove_product_registration(product);
}

} // namespace

CommonTrayRemover::CommonTrayRemover(std::wstring maker, std::wstring tray_program_name)
    : CommonTrayRemover(std::move(maker), family::tray_names().folder_name, family::product_names().product_key,
                        std::move(tray_program_name))
{
}

CommonTrayRemover::CommonTrayRemover(std::wstring maker, std::wstring tray_folder_name,
                                     std::wstring product_abbreviation, std::wstring tray_program_name)
    : maker(std::move(maker)), tray_folder_name(std::move(tray_folder_name)),
      product_abbreviation(std::move(product_abbreviation)), tray_program_name(std::move(tray_program_name))
{
}

void CommonTrayRemover::remove_common_tray() const
{
    // Nothing guards this stage further up: a shell folder without an answer
    // must end the stage with a line, not the run.
    try {
        // Without them the tray folder would be a folder of others.
        if (maker.empty() || tray_folder_name.empty())
            throw tessel::exception_w(L"No maker or tray folder name: the tray folder cannot be told");
        const family::tray_names names =
            family::tray_of(maker, tray_folder_name, product_abbreviation, tray_program_name);
        const tray_paths paths = paths_of(names);
        delete_file(path_of(names.product_configuration_file));
        delete_file(path_of(names.product_icon));

        const int count = count_tray_products(paths.configurations);
        tessel::log::info("Number of prosucts = %d", count);
        if (count == 0)
            remove_tray(*this, names, paths);
        fix_common_tray_shared_dll_counters(count, maker);
    } catch (...) {
        tessel::log::log_current_exception("remove_common_tray()");
    }
}

int count_tray_products(const std::wstring& configurations_folder)
{
    try {
        const family::tray_names tray;
        std::vector<std::string> names = list_files(to_ansi(configurations_folder), "*.xml");
        for (std::string& name : names)
            name = tessel::lower_ascii(name);
        // The tray's own file stands for no product.
        const auto own = std::find(names.begin(), names.end(), to_ansi(tray.own_configuration));
        if (own != names.end())
            names.erase(own);
        int count = static_cast<int>(names.size());
        // This product's own file, left beside the sibling's because its
        // deletion failed, stands for no product either.
        const auto listed = [&](const std::wstring& name) {
            return std::find(names.begin(), names.end(), to_ansi(name)) != names.end();
        };
        if (listed(tray.sibling_configuration) && listed(tray.product_configuration))
            --count;
        return count;
    } catch (...) {
        return 0;
    }
}

void fix_common_tray_shared_dll_counters(int count, const std::wstring& maker)
{
    try {
        tessel::log::info("Fixing Common Tray counters in SharedDLLs");
        tessel::log::info("Number of products with Common Tray according to configurations files: %d", count);
        set_shared_dll_counters(family::tray_of(maker).counter_pattern, count);
    } catch (...) {
    }
}
