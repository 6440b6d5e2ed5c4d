#include "toolbox/profiles.h"

#include "toolbox/environment.h"
#include "toolbox/path_rules.h"
#include "toolbox/removal_internal.h"
#include "tessel/log/log.h"

#include <boost/filesystem.hpp>
#include <windows.h>

#include <cstdint>

namespace fs = boost::filesystem;
using namespace removal_internal;

namespace {

const char virtual_store_subpath[] = "AppData/Local/VirtualStore/ProgramData/";

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

// How one per-profile removal differs from another.
struct profile_walk {
    fs::path profiles;           // the folder that holds the profiles
    fs::path relative;           // below each profile folder
    std::wstring passed_over;    // a profile folder left alone, or empty
    bool announced = false;      // "removing <path>" before each removal
    void (*log_failure)() = nullptr; // the line for a profile whose removal failed
};

// Removes the relative path in every profile folder that holds it; the number
// of files and folders removed. A profile whose removal fails gets its line
// and what is left is tried again, in use left to the next restart.
std::uintmax_t remove_in_every_profile(const profile_walk& walk)
{
    std::uintmax_t total = 0;
    for (fs::directory_iterator entry(walk.profiles), end; entry != end; ++entry) {
        fs::path removing; // set once the way down is known to hold no link
        try {
            if (!walk.passed_over.empty() && entry->path().native() == walk.passed_over)
                continue;
            const fs::path target = entry->path() / walk.relative;
            if (!fs::exists(target))
                continue;
            if (walk.announced)
                tessel::log::info("removing %s", target.generic_string().c_str());
            const fs::path link = first_link_on_the_way(entry->path(), walk.relative);
            if (!link.empty()) {
                log_link_left_alone(link);
                continue;
            }
            if (refuses_to_delete(target.native()))
                continue;
            removing = target;
            total += remove_tree(target).count;
        } catch (const std::exception&) {
            walk.log_failure();
            if (!removing.empty())
                remove_what_is_left(removing);
        }
    }
    return total;
}

} // namespace

int rmove_virtual_store(const std::string& maker)
{
    // Without a maker the walk would take every program's virtual store.
    if (maker.empty())
        return 0;
    std::string profile;
    try {
        profile = get_profile_folder();
    } catch (...) {
        return -1;
    }
    profile_walk walk;
    walk.profiles = folder_above(profile);
    walk.relative = virtual_store_subpath + maker;
    walk.log_failure = [] {
        tessel::log::info("Error occured in rmove_virtual_store(), System Error Code = %d",
                          static_cast<int>(GetLastError()));
    };
    return static_cast<int>(remove_in_every_profile(walk));
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
        profile_walk walk;
        // The all-users profile holds data of every user: never touched.
        walk.passed_over = without_trailing_separators(folder_above(common_app_data)).native();
        walk.profiles = folder_above(profile);
        walk.relative = relative_path;
        walk.announced = true;
        walk.log_failure = [] {
            tessel::log::error("Error occured in remove_dir_in_userappdata_for_allprofiles(), System Error Code = %d",
                               static_cast<int>(GetLastError()));
        };
        remove_in_every_profile(walk);
    } catch (...) {
        tessel::log::error("exeption in remove_dir_in_userappdata_for_allprofiles");
    }
}
