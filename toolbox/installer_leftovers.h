// Removal of what Windows Installer and InstallShield left of the product: the
// installation folder and its recorded parents, the InstallShield information
// folders and the installation caches.
#pragma once

#include <string>
#include <vector>

// Removes the (empty) folder only when Windows Installer recorded it in its
// Folders key (in the 64-bit view under WOW64, where the installer service
// keeps it), and then the record. True when both went.
bool remove_registered_install_folder(const std::string& path);

// The installation folder and then each empty, recorded parent, stopping at
// the Program Files folder and at the first parent with content.
void remove_install_folder_chain(const std::string& path);

// Program Files\InstallShield Installation Information\<code> for each code
// that is a plain name.
void remove_installshield_folders(const std::vector<std::wstring>& product_codes);

// The {...} folders of the common application data folder that hold a file
// matching the pattern (folders whose names are not plain are passed over).
void remove_installation_caches(const std::string& file_pattern);
