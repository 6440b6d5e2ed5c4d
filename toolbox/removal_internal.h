// Shared by the toolbox's removals (folders, profiles, the restart schedule);
// not part of the library's interface.
#pragma once

#include <boost/filesystem/path.hpp>
#include <windows.h>

#include <cstdint>
#include <string>

namespace removal_internal {

// Backslashes only, no trailing separator: the form the log shows.
std::wstring plain_path(std::wstring text);
// The \\?\ form, so that paths longer than MAX_PATH work too.
std::wstring long_form(const std::wstring& plain);

// ---- What is in use goes at the next restart (restart.cpp) ----------------

// Held open by another program, or, refused with "access denied", the image
// of a running program or a library one loaded.
bool is_in_use(DWORD error, const std::wstring& plain);
// Schedules the path for deletion at the next restart, or, outside the
// program and Windows folders, logs it as left in use. True when scheduled.
bool schedule_at_restart(const std::wstring& plain);
// What a deletion refused with the error goes at the restart when it is in use.
void schedule_if_in_use(const std::string& path, DWORD error);
// Whether something below the folder waits for the next restart.
bool holds_scheduled(const std::wstring& plain_folder);

// ---- Recursive removal that stays out of links (folders.cpp) ---------------

// The removal of one folder, tried again while another program holds it for a
// moment. The Windows error of the last try, 0 when the folder went.
DWORD remove_directory(const std::string& path);

bool is_linked_folder(const boost::filesystem::path& path);
void log_link_left_alone(const boost::filesystem::path& link);

struct tree_removal {
    std::uintmax_t count = 0; // files and folders deleted
    bool kept = false;        // a linked folder was left below, so its parents stay
};

// The first try: the tree goes, linked folders left and logged, and the first
// refusal raises the file-system library's error for the refused path.
tree_removal remove_tree(const boost::filesystem::path& path);

// The second try over what a failed first try left: what can go now goes,
// what is in use is scheduled for the next restart, and a folder with
// something kept inside (a link, a file that cannot be deleted for another
// reason) stays. True when nothing is left.
bool remove_what_is_left(const boost::filesystem::path& path);

} // namespace removal_internal
