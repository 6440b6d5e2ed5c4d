// Removal of what the product left on disk: files, folders, the installation
// folder with its empty parents, shortcuts, installer caches, the virtual
// store and per-profile folders. Every operation logs what it does and turns
// failures into log lines and a neutral result.
//
// Paths are narrow (ANSI code page). Recursive removals never enter or delete
// through a folder that carries the reparse-point attribute (a junction or a
// symbolic link): such a link is left in place with its target and logged, and
// the folders above it stay.
//
// A folder that another program holds is tried again for a moment first.
// Nothing is deleted, removed or scheduled whose path is refused by
// refuses_to_delete (path_rules.h): a line on the log says why, nothing
// changes. Names found on the machine that make up one part of a path are
// used only when they are plain names (is_plain_name).
//
// What cannot be deleted because it is in use (held open, a running program's
// image, a loaded library) is scheduled for deletion at the next restart, with
// a line on the log each: a file that delete_file was given, and what is left
// of a recursive removal that failed. Nothing else is ever scheduled, and
// nothing outside the program and Windows folders (may_wait_for_restart):
// what is in use elsewhere is logged and left.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// How long the removal of a folder that another program holds (its working
// folder, a console host's or a scanner's moment after a program ended) is
// tried again before the folder is taken to be in use. Tests shorten it.
constexpr DWORD default_folder_release_wait_ms = 3000;
void set_folder_release_wait(DWORD wait_ms);

// True when the file was deleted.
bool delete_file(const std::string& path);

// How many files and folders this process has scheduled for deletion at the
// next restart.
int scheduled_for_restart();
// What this process found in use where nothing is scheduled, and left.
std::vector<std::wstring> left_in_use();

// The folder and everything below it. True when the folder is gone and at
// least one entry was removed.
bool remove_folder(const std::string& path);

// Only when it exists and is empty. One that another program still holds
// after the wait above is scheduled for deletion at the next restart.
void remove_empty_folder(const std::string& path);

// Removes the (empty) folder only when Windows Installer recorded it in its
// Folders key (in the 64-bit view under WOW64, where the installer service
// keeps it), and then the record. True when both went.
bool remove_registered_install_folder(const std::string& path);

// The installation folder and then each empty, recorded parent, stopping at
// the Program Files folder and at the first parent with content.
void remove_install_folder_chain(const std::string& path);

// The program's subfolder and shortcut in the group folder of both program
// menus (all users first), the family's tools shortcut (named after the tools
// folder) when it is the last one left, then the group folder when empty.
void remove_start_menu_shortcuts(const std::string& group_folder, const std::string& program,
                                 const std::string& tools);

// name + ".lnk" on the all-users and then the current user's desktop.
void remove_desktop_shortcuts(const std::string& shortcut_name);

// Program Files\InstallShield Installation Information\<code> for each code
// that is a plain name.
void remove_installshield_folders(const std::vector<std::wstring>& product_codes);

// The {...} folders of the common application data folder that hold a file
// matching the pattern (folders whose names are not plain are passed over).
void remove_installation_caches(const std::string& file_pattern);

// The maker's virtual-store folder (ProgramData\<maker>) in every profile.
// Number of files and folders removed, or -1 when the profile folder is unknown.
int rmove_virtual_store(const std::string& maker);

// The folder at the relative path in every profile but the all-users one.
void remove_dir_in_userappdata_for_allprofiles(const std::string& relative_path);

// The part of full_path below base (letter case of A to Z ignored), without a
// leading backslash; empty when full_path does not begin with base.
std::string path_relative_to(const std::string& full_path, const std::string& base);

// Names directly in folder (which ends with a separator), in the system's
// order; folders whose names begin with "." are never listed.
std::vector<std::string> list_subfolders(const std::string& folder);
std::vector<std::string> list_files(const std::string& folder, const std::string& pattern);
