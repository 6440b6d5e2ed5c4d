// Removal of the product's shortcuts: its program-menu group and its desktop
// shortcut, for all users and for the current user.
#pragma once

#include <string>

// The program's subfolder and shortcut in the group folder of both program
// menus (all users first), the family's tools shortcut (named after the tools
// folder) when it is the last one left, then the group folder when empty.
void remove_start_menu_shortcuts(const std::string& group_folder, const std::string& program,
                                 const std::string& tools);

// name + ".lnk" on the all-users and then the current user's desktop.
void remove_desktop_shortcuts(const std::string& shortcut_name);
