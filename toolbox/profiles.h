// Removal of what the product left in the users' profiles: the same relative
// path in every profile folder, walked once per profile, a failure in one
// profile logged and the walk going on with the next. The way down from the
// profile folder is never followed through a link.
#pragma once

#include <string>

// The maker's virtual-store folder (ProgramData\<maker>) in every profile.
// Number of files and folders removed, or -1 when the profile folder is unknown.
int rmove_virtual_store(const std::string& maker);

// The folder at the relative path in every profile but the all-users one.
void remove_dir_in_userappdata_for_allprofiles(const std::string& relative_path);
