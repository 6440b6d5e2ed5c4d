#include "toolbox/files.h"

#include "toolbox/environment.h"
#include "toolbox/path_rules.h"
#include "toolbox/processes.h"
#include "tessel/log/log.h"
#include "tessel/lower_case.h"
#include "tessel/registry2/key.h"
#include "tessel/unicode/unicode.h"
#include "tessel/unique_any.h"

#include <boost/filesystem.hpp>
#include <windows.h>

#include <algorithm>
#include <cstdint>

namespace fs = boost::filesystem;

namespace {

const wchar_t installer_folders_key[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
const char virtual_store_subpath[] = "AppData/Local/VirtualStore/ProgramData/";

// Calls take(entry) for every entry that FindFirstFile/FindNextFile return for
// the search text.
template <class Take>
void for_each_found(const std::string& search, Take take)
{
    WIN32_FIND_DATAA found;
    const tessel::unique_find_handle search_handle(FindFirstFileA(search.c_str(), &found));
    if (!search_handle)
        return;
    do {
        take(found);
    } while (FindNextFileA(search_handle.get(), &found));
}

bool is_folder(const WIN32_FIND_DATAA& entry)
{
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// ---- Folders another program holds for a moment ---------------------------
//
// A program's working folder cannot be removed while the program lives, and
// a console host or a scanner holds a folder for some milliseconds after the
// program that used it has ended. Removing such a folder fails with a sharing
// violation; it is tried again at short intervals for a bounded time.

DWORD folder_release_wait_ms = default_folder_release_wait_ms;
constexpr DWORD folder_release_poll_ms = 20;

// Calls attempt() (the Windows error of one try, 0 when it worked) again while
// it answers with a sharing violation, up to the bound. The last answer.
template <class Attempt>
DWORD retried_while_held(Attempt attempt)
{
    const DWORD start = GetTickCount();
    DWORD error = attempt();
    while (error == ERROR_SHARING_VIOLATION && GetTickCount() - start < folder_release_wait_ms) {
        Sleep(folder_release_poll_ms);
        error = attempt();
    }
    return error;
}

DWORD remove_directory(const std::wstring& path)
{
    return retried_while_held([&] { return RemoveDirectoryW(path.c_str()) ? ERROR_SUCCESS : GetLastError(); });
}

DWORD remove_directory(const std::string& path)
{
    return retried_while_held([&] { return RemoveDirectoryA(path.c_str()) ? ERROR_SUCCESS : GetLastError(); });
}

// ---- Recursive removal that stays out of links --------------------------
//
// Junctions and folder symbolic links carry the reparse-point attribute. The
// file-system library's own remove_all cannot be trusted with them on every
// system (it goes through them where it does not recognise them as links), so
// the walk looks at the attributes of every folder before it enters or
// deletes it, and leaves a linked folder, and so its target, alone.

bool is_linked_folder(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool is_linked_folder(const fs::path& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && is_linked_folder(attributes);
}

void log_link_left_alone(const fs::path& link)
{
    tessel::log::info("Link '%s' is a junction or symbolic link: neither it nor its target is touched !",
                      link.generic_string().c_str());
}

[[noreturn]] void removal_failed(const fs::path& path, const boost::system::error_code& error)
{
    throw fs::filesystem_error("boost::filesystem::remove_all", path, error);
}

struct removal {
    std::uintmax_t count = 0; // files and folders deleted
    bool links_kept = false;  // a linked folder was left below, so its parents stay
};

void remove_tree(const fs::path& path, removal& result)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return;
        removal_failed(path, boost::system::error_code(static_cast<int>(error), boost::system::system_category()));
    }
    if (is_linked_folder(attributes)) {
        log_link_left_alone(path);
        result.links_kept = true;
        return;
    }

    boost::system::error_code error;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        removal below;
        {
            fs::directory_iterator entry(path, error);
            if (error)
                removal_failed(path, error);
            for (const fs::directory_iterator end; entry != end; entry.increment(error)) {
                if (error)
                    removal_failed(path, error);
                remove_tree(entry->path(), below);
            }
            if (error)
                removal_failed(path, error);
        }
        result.count += below.count;
        if (below.links_kept) {
            result.links_kept = true;
            return;
        }
    }
    bool removed = false;
    const auto attempt = [&] {
        removed = fs::remove(path, error);
        return error ? static_cast<DWORD>(error.value()) : DWORD(ERROR_SUCCESS);
    };
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        retried_while_held(attempt);
    else
        attempt();
    if (removed)
        ++result.count;
    if (error)
        removal_failed(path, error);
}

// ---- What is in use goes at the next restart ------------------------------
//
// A file that a running program holds open, a running program's image or a
// loaded library cannot be deleted now; the system deletes it at the next
// restart when asked with MoveFileEx (the pending deletions run in the order
// they were asked for, so a folder goes after its contents, and a folder goes
// only when it is empty by then). Only what a removal was asked to delete is
// ever scheduled, and never through a link.

std::vector<std::wstring> restart_scheduled; // lower-cased, as scheduled

// Held open by another program, or, refused with "access denied", the image
// of a running program or a library one loaded. Any other refusal (access
// rights, a folder given as a file) is no use that ends at the restart.
bool is_in_use(DWORD error, const std::wstring& path)
{
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
        return true;
    return error == ERROR_ACCESS_DENIED && is_loaded_by_a_program(path);
}

bool is_missing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Backslashes only, no trailing separator: the form the log shows.
std::wstring plain_path(std::wstring text)
{
    for (wchar_t& c : text)
        if (c == L'/')
            c = L'\\';
    while (text.size() > 3 && text.back() == L'\\')
        text.pop_back();
    return text;
}

// The \\?\ form, so that paths longer than MAX_PATH work too.
std::wstring long_form(const std::wstring& plain)
{
    if (plain.size() >= 2 && plain[1] == L':')
        return L"\\\\?\\" + plain;
    return plain;
}

std::vector<std::wstring> kept_in_use; // as logged

bool schedule_at_restart(const std::wstring& plain)
{
    if (refuses_to_delete(plain))
        return false;
    if (!may_wait_for_restart(plain)) {
        if (std::find(kept_in_use.begin(), kept_in_use.end(), plain) == kept_in_use.end())
            kept_in_use.push_back(plain);
        tessel::log::info(L"   %ls is in use and stays: only the program and Windows folders are cleaned at the restart",
                          plain.c_str());
        return false;
    }
    if (!MoveFileExW(long_form(plain).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        tessel::log::info(L"FAILED TO schedule '%ls' for removal at restart; error %d !", plain.c_str(),
                          static_cast<int>(GetLastError()));
        return false;
    }
    restart_scheduled.push_back(tessel::lower_ascii(plain));
    tessel::log::info(L"   %ls will be removed at the next restart", plain.c_str());
    return true;
}

// Whether something below the folder waits for the next restart.
bool holds_scheduled(const std::wstring& plain_folder)
{
    const std::wstring head = tessel::lower_ascii(plain_folder) + L"\\";
    for (const std::wstring& path : restart_scheduled)
        if (path.compare(0, head.size(), head) == 0)
            return true;
    return false;
}

enum class remains { nothing, scheduled, kept };

// What a deletion refused with the error goes at the restart when it is in use.
void schedule_if_in_use(const std::string& path, DWORD error)
{
    try {
        const std::wstring plain = plain_path(tessel::unicode::to_wide(path, CP_ACP));
        if (is_in_use(error, plain))
            schedule_at_restart(plain);
    } catch (const std::exception&) {
        tessel::log::info("FAILED TO schedule '%s' for removal at restart !", path.c_str());
    }
}

remains worse(remains a, remains b)
{
    return static_cast<int>(a) > static_cast<int>(b) ? a : b;
}

std::vector<std::wstring> entries_of(const std::wstring& folder, bool& complete)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const tessel::unique_find_handle search(FindFirstFileW((long_form(folder) + L"\\*").c_str(), &found));
    complete = search.is_valid() || GetLastError() == ERROR_FILE_NOT_FOUND;
    if (!search)
        return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(search.get(), &found));
    complete = GetLastError() == ERROR_NO_MORE_FILES;
    return names;
}

// A second pass over what a failed removal left: what can go now goes, what is
// in use is scheduled for the next restart, and a folder with something kept
// inside (a link, a file that cannot be deleted for another reason) stays.
remains remove_or_schedule(const std::wstring& plain)
{
    const std::wstring target = long_form(plain);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return is_missing(GetLastError()) ? remains::nothing : remains::kept;
    if (is_linked_folder(attributes))
        return remains::kept;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (attributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileW(target.c_str()))
            return remains::nothing;
        return is_in_use(GetLastError(), plain) && schedule_at_restart(plain) ? remains::scheduled : remains::kept;
    }
    bool complete = false;
    remains below = remains::nothing;
    for (const std::wstring& name : entries_of(plain, complete))
        below = worse(below, remove_or_schedule(plain + L"\\" + name));
    if (!complete || below == remains::kept)
        return remains::kept;
    const DWORD error = remove_directory(target);
    if (error == ERROR_SUCCESS)
        return remains::nothing;
    const bool in_use = is_in_use(error, plain);
    return (below == remains::scheduled || in_use) && schedule_at_restart(plain) ? remains::scheduled : remains::kept;
}

remains remove_or_schedule(const fs::path& path)
{
    return remove_or_schedule(plain_path(path.native()));
}

// The second pass for a path in narrow text; true when nothing is left of it.
bool nothing_left_after_second_pass(const std::string& path)
{
    try {
        return remove_or_schedule(plain_path(tessel::unicode::to_wide(path, CP_ACP))) == remains::nothing;
    } catch (...) {
        return false;
    }
}

// The first folder on the way from base down to base / relative (both ends
// included) that is a link, or an empty path.
fs::path first_link_on_the_way(const fs::path& base, const fs::path& relative)
{
    fs::path step = base;
    if (is_linked_folder(step))
        return step;
    for (const fs::path& part : relative) {
        step /= part;
        if (is_linked_folder(step))
            return step;
    }
    return {};
}

// path without trailing separators (a root such as C:\ keeps its own).
fs::path without_trailing_separators(fs::path path)
{
    std::wstring text = path.native();
    while (text.size() > 1 && (text.back() == L'\\' || text.back() == L'/') && text[text.size() - 2] != L':')
        text.pop_back();
    return fs::path(text);
}

// The folder above the one a shell folder names: the folder that holds all
// profiles for a profile folder. The shell folder ends with a separator, which
// must not count as a last, empty component.
fs::path folder_above(const std::string& shell_folder)
{
    return without_trailing_separators(fs::absolute(without_trailing_separators(shell_folder))).parent_path();
}

size_t count_shortcuts(const std::string& group)
{
    size_t count = 0;
    for_each_found(group + "\\*.lnk", [&](const WIN32_FIND_DATAA& entry) {
        if (!is_folder(entry))
            ++count;
    });
    return count;
}

bool file_exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// No files and no folders; a folder that cannot be examined does not count as
// empty.
bool is_empty_folder(const std::string& path)
{
    boost::system::error_code error;
    const bool empty = fs::is_empty(path, error);
    return !error && empty;
}

} // namespace

bool delete_file(const std::string& path)
{
    if (refuses_to_delete(path))
        return false;
    if (DeleteFileA(path.c_str())) {
        tessel::log::info("   %s removed", path.c_str());
        return true;
    }
    const DWORD error = GetLastError();
    tessel::log::info("FAILED TO remove '%s'; error %d !", path.c_str(), static_cast<int>(error));
    schedule_if_in_use(path, error);
    return false;
}

void set_folder_release_wait(DWORD wait_ms)
{
    folder_release_wait_ms = wait_ms;
}

int scheduled_for_restart()
{
    return static_cast<int>(restart_scheduled.size());
}

std::vector<std::wstring> left_in_use()
{
    return kept_in_use;
}

bool remove_folder(const std::string& path)
{
    if (refuses_to_delete(path))
        return false;
    try {
        if (!fs::exists(path)) {
            tessel::log::info("Folder to remove '%s' does NOT EXIST !", path.c_str());
            return false;
        }
        removal result;
        remove_tree(path, result);
        // A link kept inside leaves the folder in place: that is no removal.
        if (result.count != 0 && !result.links_kept) {
            tessel::log::info(". Folder '%s' was removed", path.c_str());
            return true;
        }
    } catch (const std::exception& e) {
        tessel::log::log_current_exception(e.what());
        if (nothing_left_after_second_pass(path)) {
            tessel::log::info(". Folder '%s' was removed", path.c_str());
            return true;
        }
    } catch (...) {
    }
    tessel::log::info("! Failed to remove folder '%s' !", path.c_str());
    return false;
}

void remove_empty_folder(const std::string& path)
{
    if (refuses_to_delete(path))
        return;
    try {
        if (!fs::exists(path)) {
            tessel::log::info("Folder to remove '%s' does NOT EXIST !", path.c_str());
            return;
        }
        if (!fs::is_empty(path)) {
            tessel::log::info("Do NOT removing folder '%s', as it is not empty !", path.c_str());
            // Empty once the restart has taken what waits for it: the system
            // removes a folder at restart only when it is empty by then.
            const std::wstring plain = plain_path(tessel::unicode::to_wide(path, CP_ACP));
            if (holds_scheduled(plain))
                schedule_at_restart(plain);
            return;
        }
        const DWORD error = remove_directory(path);
        if (error == ERROR_SUCCESS) {
            tessel::log::info("Removed empty folder '%s' !", path.c_str());
            return;
        }
        tessel::log::info("Failed to remove empty folder '%s', GetLastError()=%u !", path.c_str(),
                          static_cast<unsigned>(error));
        // Still held by another program: it goes at the next restart.
        schedule_if_in_use(path, error);
    } catch (const fs::filesystem_error&) {
        // The folder cannot be examined: leave it, as for one with content.
    }
}

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
        const std::wstring name = tessel::unicode::to_wide(folder, CP_ACP);
        record.read_string(name); // only a recorded folder is removed here
        if (remove_directory(folder) != ERROR_SUCCESS)
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

void remove_start_menu_shortcuts(const std::string& group_folder, const std::string& program,
                                 const std::string& tools)
{
    const std::string tools_shortcut = "\\" + tools + ".lnk";
    for (const std::string& root : {get_common_programs_folder(), get_programs_folder()}) {
        const std::string group = root + group_folder;
        remove_folder(group + "\\" + program);
        delete_file(group + "\\" + program + ".lnk");
        // The family's tools shortcut goes with the last product of the group.
        if (count_shortcuts(group) == 1 && file_exists(group + tools_shortcut))
            delete_file(group + tools_shortcut);
        if (!group_folder.empty())
            remove_empty_folder(group);
    }
}

void remove_desktop_shortcuts(const std::string& shortcut_name)
{
    for (const std::string& desktop : {get_common_desktop_folder(), get_desktop_folder()})
        delete_file(desktop + shortcut_name + ".lnk");
}

void remove_installshield_folders(const std::vector<std::wstring>& product_codes)
{
    const std::string information = get_program_files_folder() + "InstallShield Installation Information\\";
    for (const std::wstring& code : product_codes) {
        const std::string name = tessel::unicode::to_narrow(code, CP_ACP, false);
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

int rmove_virtual_store(const std::string& maker)
{
    // Without a maker the walk would take every program's virtual store.
    if (maker.empty())
        return 0;
    const std::string subpath = virtual_store_subpath + maker;
    std::string profile;
    try {
        profile = get_profile_folder();
    } catch (...) {
        return -1;
    }
    const fs::path profiles = folder_above(profile);
    std::uintmax_t total = 0;
    for (fs::directory_iterator entry(profiles), end; entry != end; ++entry) {
        fs::path removing; // set once the way down is known to hold no link
        try {
            const fs::path store = entry->path() / subpath;
            if (!fs::exists(store))
                continue;
            const fs::path link = first_link_on_the_way(entry->path(), subpath);
            if (!link.empty()) {
                log_link_left_alone(link);
                continue;
            }
            if (refuses_to_delete(store.native()))
                continue;
            removing = store;
            removal result;
            remove_tree(store, result);
            total += result.count;
        } catch (...) {
            tessel::log::info("Error occured in rmove_virtual_store(), System Error Code = %d",
                              static_cast<int>(GetLastError()));
            if (!removing.empty())
                remove_or_schedule(removing);
        }
    }
    return static_cast<int>(total);
}

void remove_dir_in_userappdata_for_allprofiles(const std::string& relative_path)
{
    if (relative_path.empty()) {
        tessel::log::info("empty parameter is not allowed for remove_dir_in_userappdata_for_allprofiles()");
        return;
    }
    try {
        std::string common_app_data, profile;
        try {
            common_app_data = get_common_app_data_folder();
            profile = get_profile_folder();
        } catch (...) {
            return;
        }
        // The all-users profile holds data of every user: never touched.
        const std::wstring all_users = without_trailing_separators(folder_above(common_app_data)).native();
        const fs::path profiles = folder_above(profile);
        const fs::path relative(relative_path);
        for (fs::directory_iterator entry(profiles), end; entry != end; ++entry) {
            fs::path removing; // set once the way down is known to hold no link
            try {
                if (entry->path().native() == all_users)
                    continue;
                const fs::path target = entry->path() / relative;
                if (!fs::exists(target))
                    continue;
                tessel::log::info("removing %s", target.generic_string().c_str());
                const fs::path link = first_link_on_the_way(entry->path(), relative);
                if (!link.empty()) {
                    log_link_left_alone(link);
                    continue;
                }
                if (refuses_to_delete(target.native()))
                    continue;
                removing = target;
                removal result;
                remove_tree(target, result);
            } catch (const std::exception&) {
                tessel::log::error("Error occured in remove_dir_in_userappdata_for_allprofiles(), System Error Code = %d",
                                   static_cast<int>(GetLastError()));
                if (!removing.empty())
                    remove_or_schedule(removing);
            }
        }
    } catch (...) {
        tessel::log::error("exeption in remove_dir_in_userappdata_for_allprofiles");
    }
}

std::string path_relative_to(const std::string& full_path, const std::string& base)
{
    try {
        if (full_path.size() < base.size() ||
            tessel::lower_ascii(full_path.substr(0, base.size())) != tessel::lower_ascii(base))
            return {};
        std::string rest = full_path.substr(base.size());
        if (!rest.empty() && rest[0] == '\\')
            rest.erase(0, 1);
        return rest;
    } catch (...) {
        return {};
    }
}

std::vector<std::string> list_subfolders(const std::string& folder)
{
    std::vector<std::string> names;
    for_each_found(folder + "*", [&](const WIN32_FIND_DATAA& entry) {
        if (is_folder(entry) && entry.cFileName[0] != '.')
            names.push_back(entry.cFileName);
    });
    return names;
}

std::vector<std::string> list_files(const std::string& folder, const std::string& pattern)
{
    std::vector<std::string> names;
    for_each_found(folder + pattern, [&](const WIN32_FIND_DATAA& entry) {
        if (!is_folder(entry))
            names.push_back(entry.cFileName);
    });
    return names;
}
