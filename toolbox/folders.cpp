#include "toolbox/folders.h"

#include "toolbox/path_rules.h"
#include "toolbox/removal_internal.h"
#include "tessel/log/log.h"
#include "tessel/unicode/unicode.h"
#include "tessel/unique_any.h"

#include <boost/filesystem.hpp>
#include <windows.h>

#include <vector>

namespace fs = boost::filesystem;
using namespace removal_internal;

namespace {

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

bool is_missing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The names in the folder; error is 0 when the listing is complete.
std::vector<std::wstring> entries_of(const std::wstring& folder, DWORD& error)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const tessel::unique_find_handle search(FindFirstFileW((long_form(folder) + L"\\*").c_str(), &found));
    if (!search) {
        error = GetLastError() == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : GetLastError();
        return names;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(search.get(), &found));
    error = GetLastError() == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : GetLastError();
    return names;
}

enum class remains { nothing, scheduled, kept };

remains worse(remains a, remains b)
{
    return static_cast<int>(a) > static_cast<int>(b) ? a : b;
}

// The one walk of a recursive removal, in one of two tries. The first stops at
// the first refusal with the file-system library's error and logs the links it
// leaves; the second goes on past refusals, schedules what is in use for the
// next restart and keeps the rest.
class tree_walk {
public:
    explicit tree_walk(bool first_try) : first_try_(first_try) {}

    std::uintmax_t count = 0; // files and folders deleted

    remains remove(const fs::path& path)
    {
        const std::wstring plain = plain_path(path.native());
        const std::wstring target = long_form(plain);
        const DWORD attributes = GetFileAttributesW(target.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = GetLastError();
            return is_missing(error) ? remains::nothing : refused(path, error);
        }
        if (is_linked_folder(attributes)) {
            if (first_try_)
                log_link_left_alone(path);
            return remains::kept;
        }
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return remove_file(path, plain, target, attributes);

        DWORD listing_error = ERROR_SUCCESS;
        const std::vector<std::wstring> names = entries_of(plain, listing_error);
        if (listing_error != ERROR_SUCCESS && first_try_)
            refused(path, listing_error);
        remains below = remains::nothing;
        for (const std::wstring& name : names)
            below = worse(below, remove(path / name));
        if (listing_error != ERROR_SUCCESS || below == remains::kept)
            return remains::kept;
        const DWORD error = remove_directory(target);
        if (error == ERROR_SUCCESS) {
            ++count;
            return remains::nothing;
        }
        if (first_try_)
            return is_missing(error) ? remains::nothing : refused(path, error);
        return (below == remains::scheduled || is_in_use(error, plain)) && schedule_at_restart(plain)
                   ? remains::scheduled
                   : remains::kept;
    }

private:
    remains remove_file(const fs::path& path, const std::wstring& plain, const std::wstring& target, DWORD attributes)
    {
        if (attributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileW(target.c_str())) {
            ++count;
            return remains::nothing;
        }
        const DWORD error = GetLastError();
        if (first_try_)
            return is_missing(error) ? remains::nothing : refused(path, error);
        return is_in_use(error, plain) && schedule_at_restart(plain) ? remains::scheduled : remains::kept;
    }

    // The first try raises the library's error; the second keeps the path.
    remains refused(const fs::path& path, DWORD error)
    {
        if (first_try_)
            throw fs::filesystem_error("boost::filesystem::remove_all", path,
                                       boost::system::error_code(static_cast<int>(error), boost::system::system_category()));
        return remains::kept;
    }

    bool first_try_;
};

// The second try for a path in narrow text; true when nothing is left of it.
bool nothing_left_after_second_try(const std::string& path)
{
    try {
        return remove_what_is_left(fs::path(tessel::unicode::from_ansi(path)));
    } catch (...) {
        return false;
    }
}

} // namespace

namespace removal_internal {

DWORD remove_directory(const std::string& path)
{
    return retried_while_held([&] { return RemoveDirectoryA(path.c_str()) ? ERROR_SUCCESS : GetLastError(); });
}

bool is_linked_folder(const fs::path& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && ::is_linked_folder(attributes);
}

void log_link_left_alone(const fs::path& link)
{
    tessel::log::info("Link '%s' is a junction or symbolic link: neither it nor its target is touched !",
                      link.generic_string().c_str());
}

tree_removal remove_tree(const fs::path& path)
{
    tree_walk walk(true);
    const bool kept = walk.remove(path) == remains::kept;
    return {walk.count, kept};
}

bool remove_what_is_left(const fs::path& path)
{
    return tree_walk(false).remove(path) == remains::nothing;
}

} // namespace removal_internal

void set_folder_release_wait(DWORD wait_ms)
{
    folder_release_wait_ms = wait_ms;
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
        const tree_removal result = remove_tree(path);
        // A link kept inside leaves the folder in place: that is no removal.
        if (result.count != 0 && !result.kept) {
            tessel::log::info(". Folder '%s' was removed", path.c_str());
            return true;
        }
    } catch (const std::exception& e) {
        tessel::log::log_current_exception(e.what());
        if (nothing_left_after_second_try(path)) {
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
            const std::wstring plain = plain_path(tessel::unicode::from_ansi(path));
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
