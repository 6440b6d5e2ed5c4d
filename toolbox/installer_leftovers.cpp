#include "toolbox/installer_leftovers.h"

#include "toolbox/environment.h"
#include "toolbox/files.h"
#include "toolbox/folders.h"
#include "toolbox/path_rules.h"
#include "toolbox/removal_internal.h"
#include "tessel/log/log.h"
#include "tessel/registry2/key.h"
#include "tessel/unicode/unicode.h"

#include <boost/filesystem.hpp>
#include <windows.h>

namespace fs = boost::filesystem;

namespace {

const wchar_t installer_folders_key[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";

// No files and no folders; a folder that cannot be examined does not count as
// empty.
bool is_empty_folder(const std::string& path)
{
    boost::system::error_code error;
    const bool empty = fs::is_empty(path, error);
    return !error && empty;
}

} // namespace

bool remove_registered_install_folder(const std::string& path)
{
    if (path.empty())
        return false;
    const std::string folder = path.back() == '\\' ? path : path + "\\";
    if (refuses_to_delete(folder))
        return false;
    try {
        tessel::registry2::key record =
            tessel::registry2::key(HKEY_LOCAL_MACHINE).open(installer_folders_key, false, installer_registry_view());
        const std::wstring name = tessel::unicode::from_ansi(folder);
        record.read_string(name); // only a recorded folder is removed here
        if (removal_internal::remove_directory(folder) != ERROR_SUCCESS)
            return false;
        record.remove_value(name);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void remove_install_folder_chain(const std::string& path)
{
    const std::string program_files = get_program_files_folder();
    std::string current = path;
    while (!current.empty()) {
        if (!remove_registered_install_folder(current)) {
            tessel::log::info("Can't remove Install Folder '%s' (not found, nonempty, or locked).", current.c_str());
            return;
        }
        tessel::log::info("Install Folder '%s' was removed also.", current.c_str());

        // The trailing backslash does not count as the end of a component.
        std::string parent = current.substr(0, current.size() - 1);
        const size_t last = parent.rfind('\\');
        parent = last == std::string::npos ? std::string() : parent.substr(0, last + 1);
        if (parent == program_files) {
            tessel::log::info("Would not dare to remove '%s' !", parent.c_str());
            return;
        }
        if (parent.empty() || !is_empty_folder(parent))
            return;
        current = parent;
    }
}

void remove_installshield_folders(const std::vector<std::wstring>& product_codes)
{
    const std::string information = get_program_files_folder() + "InstallShield Installation Information\\";
    for (const std::wstring& code : product_codes) {
        const std::string name = tessel::unicode::to_ansi(code);
        if (plain_name_or_logged(name))
            remove_folder(information + name);
    }
}

void remove_installation_caches(const std::string& file_pattern)
{
    const std::string common_app_data = get_common_app_data_folder();
    for (const std::string& name : list_subfolders(common_app_data)) {
        if (name.empty() || name[0] != '{' || !plain_name_or_logged(name))
            continue;
        if (!list_files(common_app_data + name + "\\", file_pattern).empty())
            remove_folder(common_app_data + name);
        else
            tessel::log::info("%s\\%s - ignore folder", common_app_data.c_str(), name.c_str());
    }
}
