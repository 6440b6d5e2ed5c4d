#include "toolbox/shortcuts.h"

#include "toolbox/environment.h"
#include "toolbox/files.h"
#include "toolbox/folders.h"

#include <windows.h>

namespace {

bool file_exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

void remove_start_menu_shortcuts(const std::string& group_folder, const std::string& program,
                                 const std::string& tools)
{
    const std::string tools_shortcut = "\\" + tools + ".lnk";
    for (const std::string& root : {get_common_programs_folder(), get_programs_folder()}) {
        const std::string group = root + group_folder;
        remove_folder(group + "\\" + program);
        delete_file(group + "\\" + program + ".lnk");
        // The family's tools shortcut goes with the last product of the group.
        if (list_files(group + "\\", "*.lnk").size() == 1 && file_exists(group + tools_shortcut))
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
