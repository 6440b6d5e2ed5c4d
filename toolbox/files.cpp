#include "toolbox/files.h"

#include "toolbox/path_rules.h"
#include "toolbox/removal_internal.h"
#include "tessel/log/log.h"
#include "tessel/lower_case.h"
#include "tessel/unique_any.h"

#include <windows.h>

namespace {

// Calls take(entry) for every entry that FindFirstFile/FindNextFile return for
// the search text.
template <class Take>
void for_each_found(const std::string& search, Take take)
{
    WIN32_FIND_DATAA found;
    const tessel::unique_find_handle search_handle(FindFirstFileA(search.c_str(), &found));
    if (!search_handle)
        return;
    do {
        take(found);
    } while (FindNextFileA(search_handle.get(), &found));
}

bool is_folder(const WIN32_FIND_DATAA& entry)
{
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace

bool delete_file(const std::string& path)
{
    if (refuses_to_delete(path))
        return false;
    if (DeleteFileA(path.c_str())) {
        tessel::log::info("   %s removed", path.c_str());
        return true;
    }
    const DWORD error = GetLastError();
    tessel::log::info("FAILED TO remove '%s'; error %d !", path.c_str(), static_cast<int>(error));
    removal_internal::schedule_if_in_use(path, error);
    return false;
}

std::string path_relative_to(const std::string& full_path, const std::string& base)
{
    try {
        if (full_path.size() < base.size() ||
            tessel::lower_ascii(full_path.substr(0, base.size())) != tessel::lower_ascii(base))
            return {};
        std::string rest = full_path.substr(base.size());
        if (!rest.empty() && rest[0] == '\\')
            rest.erase(0, 1);
        return rest;
    } catch (...) {
        return {};
    }
}

std::vector<std::string> list_subfolders(const std::string& folder)
{
    std::vector<std::string> names;
    for_each_found(folder + "*", [&](const WIN32_FIND_DATAA& entry) {
        if (is_folder(entry) && entry.cFileName[0] != '.')
            names.push_back(entry.cFileName);
    });
    return names;
}

std::vector<std::string> list_files(const std::string& folder, const std::string& pattern)
{
    std::vector<std::string> names;
    for_each_found(folder + pattern, [&](const WIN32_FIND_DATAA& entry) {
        if (!is_folder(entry))
            names.push_back(entry.cFileName);
    });
    return names;
}
