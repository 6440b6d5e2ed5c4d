// Removal of folders: a whole tree, or a folder only when it is empty.
//
// Paths are narrow (ANSI code page). Recursive removals never enter or delete
// through a folder that carries the reparse-point attribute (a junction or a
// symbolic link): such a link is left in place with its target and logged, and
// the folders above it stay. A folder that another program holds is tried
// again for a moment first; what is in use is left to the next restart
// (restart.h). Nothing is removed whose path is refused by refuses_to_delete
// (path_rules.h).
#pragma once

#include <windows.h>

#include <string>

// How long the removal of a folder that another program holds (its working
// folder, a console host's or a scanner's moment after a program ended) is
// tried again before the folder is taken to be in use. Tests shorten it.
constexpr DWORD default_folder_release_wait_ms = 3000;
void set_folder_release_wait(DWORD wait_ms);

// The folder and everything below it. True when the folder is gone and at
// least one entry was removed.
bool remove_folder(const std::string& path);

// Only when it exists and is empty. One that another program still holds
// after the wait above is scheduled for deletion at the next restart.
void remove_empty_folder(const std::string& path);
