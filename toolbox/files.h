// Single files on disk: their deletion and the listings of a folder.
//
// Paths are narrow (ANSI code page). Every operation logs what it does and
// turns failures into log lines and a neutral result. Nothing is deleted whose
// path is refused by refuses_to_delete (path_rules.h): a line on the log says
// why, nothing changes. Names found on the machine that make up one part of a
// path are used only when they are plain names (is_plain_name).
//
// The removal of folders is in folders.h, of the product's shortcuts in
// shortcuts.h, of the installers' leftovers in installer_leftovers.h, of what
// it left in every profile in profiles.h; what is in use goes at the next
// restart (restart.h).
#pragma once

#include <string>
#include <vector>

// True when the file was deleted. One in use (held open, a running program's
// image, a loaded library) is scheduled for deletion at the next restart.
bool delete_file(const std::string& path);

// The part of full_path below base (letter case of A to Z ignored), without a
// leading backslash; empty when full_path does not begin with base.
std::string path_relative_to(const std::string& full_path, const std::string& base);

// Names directly in folder (which ends with a separator), in the system's
// order; folders whose names begin with "." are never listed.
std::vector<std::string> list_subfolders(const std::string& folder);
std::vector<std::string> list_files(const std::string& folder, const std::string& pattern);
