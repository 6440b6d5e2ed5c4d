#include "toolbox/path_rules.h"

#include "tessel/log/log.h"
#include "tessel/registry2/key.h"
#include "tessel/unicode/unicode.h"
#include "tessel/unique_any.h"
#include "toolbox/environment.h"
#include "toolbox/profile_list.h"

#include <windows.h>
#include <shlobj.h>

#include <optional>
#include <vector>

namespace {


// ---- One plain name ---------------------------------------------------------

bool is_refused_character(wchar_t c)
{
    return c < 32 || wcschr(L"\\/:*?\"<>|", c) != nullptr;
}

// ---- Normalised paths ---------------------------------------------------------

std::wstring upper_case(std::wstring text)
{
    if (!text.empty())
        CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

bool starts_with_drive(const std::wstring& path)
{
    return path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
           path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
}

// The system's full path: "." and ".." resolved against the drive's root,
// forward separators turned round. Empty when it has none.
std::wstring full_path(const std::wstring& path)
{
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return {};
    std::wstring full(size, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (written == 0 || written >= size)
        return {};
    full.resize(written);
    return full;
}

// "X:\a\b" from a full path on a drive: empty components dropped and every
// component without the trailing dots and blanks that Windows ignores. A
// root keeps its separator. Empty when the path is on no drive.
std::wstring tidy(const std::wstring& full)
{
    if (!starts_with_drive(full))
        return {};
    std::wstring result = full.substr(0, 2);
    for (std::size_t at = 3; at <= full.size();) {
        std::size_t end = full.find_first_of(L"\\/", at);
        if (end == std::wstring::npos)
            end = full.size();
        std::wstring part = full.substr(at, end - at);
        while (!part.empty() && (part.back() == L'.' || part.back() == L' '))
            part.pop_back();
        if (!part.empty())
            result += L"\\" + part;
        at = end + 1;
    }
    return result.size() == 2 ? result + L"\\" : result;
}

// The long form of every 8.3 name in the leading part of the path that
// exists; the rest as it is.
std::wstring with_long_names(const std::wstring& path)
{
    if (path.find(L'~') == std::wstring::npos)
        return path;
    std::wstring head = path;
    std::wstring tail;
    for (;;) {
        std::vector<wchar_t> buffer(32768);
        const DWORD length = GetLongPathNameW(head.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length != 0 && length < buffer.size())
            return std::wstring(buffer.data(), length) + tail;
        const std::size_t cut = head.find_last_of(L'\\');
        if (cut == std::wstring::npos || cut <= 2)
            return path;
        tail = head.substr(cut) + tail;
        head.resize(cut);
    }
}

// The one text for a folder, whatever way a path spells it; empty for a path
// that is not on a drive.
std::wstring normalised(const std::wstring& path)
{
    const std::wstring tidied = tidy(full_path(path));
    return tidied.empty() ? tidied : upper_case(with_long_names(tidied));
}

// ---- The folders Windows and its users need ---------------------------------

std::wstring shell_folder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, path)))
        return {};
    return path;
}

std::wstring environment_variable(const wchar_t* name)
{
    wchar_t value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}

// The part of path below base (both normalised), or nothing when it is not below it.
std::optional<std::wstring> below(const std::wstring& path, const std::wstring& base)
{
    if (path.size() <= base.size() + 1 || path.compare(0, base.size(), base) != 0 || path[base.size()] != L'\\')
        return std::nullopt;
    return path.substr(base.size() + 1);
}

void add_string_value(const tessel::registry2::key& key, const wchar_t* name, std::vector<std::wstring>& to)
{
    try {
        to.push_back(tessel::registry2::up_to_first_nul(key.read_string(name)));
    } catch (const std::exception&) {
    }
}

// Every profile the machine knows of: the running account's, whatever lies in
// the folder above it, and what the system's profile list names (each
// account's folder, the profiles folder, the default, public and all-users
// profiles).
std::vector<std::wstring> known_profiles()
{
    std::vector<std::wstring> profiles;
    const std::wstring own = shell_folder(CSIDL_PROFILE);
    if (!own.empty()) {
        profiles.push_back(own);
        const std::wstring all = own.substr(0, own.find_last_of(L"\\/"));
        WIN32_FIND_DATAW found;
        const tessel::unique_find_handle search(FindFirstFileW((all + L"\\*").c_str(), &found));
        if (search) {
            do {
                const std::wstring name = found.cFileName;
                if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..")
                    profiles.push_back(all + L"\\" + name);
            } while (FindNextFileW(search.get(), &found));
        }
    }
    try {
        const tessel::registry2::key list =
            tessel::registry2::key(HKEY_LOCAL_MACHINE).open(profile_list_key, false, native_registry_view());
        std::vector<std::wstring> folders;
        add_string_value(list, L"ProfilesDirectory", folders);
        const std::wstring profiles_folder = folders.empty() ? std::wstring() : folders.front();
        for (const wchar_t* name : {L"Default", L"Public", L"AllUsersProfile", L"DefaultUserProfile"}) {
            std::vector<std::wstring> value;
            add_string_value(list, name, value);
            // Windows XP names the all-users profile by its folder's name alone.
            for (const std::wstring& folder : value)
                folders.push_back(starts_with_drive(folder) ? folder : profiles_folder + L"\\" + folder);
        }
        for (const std::wstring& sid : list.subkey_names())
            add_string_value(list.open(sid, false), L"ProfileImagePath", folders);
        profiles.insert(profiles.end(), folders.begin(), folders.end());
    } catch (const std::exception&) {
        // No profile list: the folders found above stand.
    }
    return profiles;
}

// The folders below a profile that Windows makes in every one, as the running
// account's shell folders place them (relative, normalised).
std::vector<std::wstring> profile_top_folders(const std::wstring& own_profile)
{
    std::vector<std::wstring> relative;
    for (const int csidl : {CSIDL_DESKTOPDIRECTORY, CSIDL_PERSONAL, CSIDL_APPDATA, CSIDL_LOCAL_APPDATA, CSIDL_STARTMENU,
                            CSIDL_PROGRAMS}) {
        const std::wstring folder = shell_folder(csidl);
        if (const auto part = folder.empty() ? std::nullopt : below(normalised(folder), own_profile))
            relative.push_back(*part);
    }
    return relative;
}

// Folders that are never a deletion's target, and with them every folder above
// them (normalised).
std::vector<std::wstring> find_protected_folders()
{
    std::vector<std::wstring> anchors;
    const auto add = [&](const std::wstring& folder) {
        if (!folder.empty())
            anchors.push_back(normalised(folder));
    };
    const std::wstring windows = shell_folder(CSIDL_WINDOWS);
    const std::wstring system = shell_folder(CSIDL_SYSTEM);
    if (!windows.empty()) {
        add(windows);
        add(windows + L"\\SysWOW64\\drivers");
        add(windows + L"\\Installer");
    }
    if (!system.empty())
        add(system + L"\\drivers");
    for (const int csidl : {CSIDL_SYSTEMX86, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON,
                            CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_COMMON_APPDATA, CSIDL_COMMON_DESKTOPDIRECTORY,
                            CSIDL_COMMON_DOCUMENTS, CSIDL_COMMON_STARTMENU, CSIDL_COMMON_PROGRAMS})
        add(shell_folder(csidl));
    // The 64-bit program folders, which a 32-bit program's shell does not name.
    add(environment_variable(L"ProgramW6432"));
    add(environment_variable(L"CommonProgramW6432"));

    const std::wstring own_profile = normalised(shell_folder(CSIDL_PROFILE));
    const std::vector<std::wstring> top_folders = profile_top_folders(own_profile);
    for (const std::wstring& profile : known_profiles()) {
        add(profile);
        for (const std::wstring& folder : top_folders)
            add(profile + L"\\" + folder);
    }
    return anchors;
}

std::optional<std::vector<std::wstring>>& protected_cache()
{
    static std::optional<std::vector<std::wstring>> folders;
    return folders;
}

const std::vector<std::wstring>& protected_folders()
{
    std::optional<std::vector<std::wstring>>& folders = protected_cache();
    if (!folders)
        folders = find_protected_folders();
    return *folders;
}

bool is_protected(const std::wstring& target)
{
    if (target.size() == 3) // a drive's root
        return true;
    for (const std::wstring& folder : protected_folders())
        if (folder == target || below(folder, target))
            return true;
    return false;
}

const wchar_t not_local[] = L"not a full path on a local fixed drive";

// Why the path may not be deleted, or null when it may.
const wchar_t* refusal(const std::wstring& path)
{
    if (!is_local_fixed_path(path))
        return not_local;
    const std::wstring target = normalised(path);
    if (target.empty() || !is_local_fixed_path(target))
        return not_local;
    if (is_protected(target))
        return L"a folder of Windows or of its users";
    return nullptr;
}

// Folders below which only administrators can make folders, as Windows sets
// them up (normalised), and the exceptions inside them.
struct restart_places {
    std::vector<std::wstring> admin_only;
    std::vector<std::wstring> open_to_users;
};

restart_places find_restart_places()
{
    restart_places places;
    const auto add = [](std::vector<std::wstring>& to, const std::wstring& folder) {
        if (!folder.empty())
            to.push_back(normalised(folder));
    };
    for (const int csidl : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON,
                            CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_WINDOWS})
        add(places.admin_only, shell_folder(csidl));
    add(places.admin_only, environment_variable(L"ProgramW6432"));
    add(places.admin_only, environment_variable(L"CommonProgramW6432"));
    const std::wstring windows = shell_folder(CSIDL_WINDOWS);
    if (!windows.empty())
        add(places.open_to_users, windows + L"\\Temp");
    return places;
}

bool at_or_below(const std::wstring& path, const std::vector<std::wstring>& folders)
{
    for (const std::wstring& folder : folders)
        if (path == folder || below(path, folder))
            return true;
    return false;
}

} // namespace

bool may_wait_for_restart(const std::wstring& path)
{
    const restart_places places = find_restart_places();
    const std::wstring target = normalised(path);
    return !target.empty() && at_or_below(target, places.admin_only) && !at_or_below(target, places.open_to_users);
}

bool is_plain_name(const std::wstring& name)
{
    if (name.empty() || name == L"." || name == L".." || name.back() == L'.' || name.back() == L' ')
        return false;
    for (const wchar_t c : name)
        if (is_refused_character(c))
            return false;
    return true;
}

bool is_plain_name(const std::string& name)
{
    // Judged in the characters the system will see: in a double-byte code page
    // a backslash byte can be the second half of a character.
    try {
        return is_plain_name(tessel::unicode::from_ansi(name));
    } catch (const std::exception&) {
        return false;
    }
}

bool plain_name_or_logged(const std::string& name)
{
    if (is_plain_name(name))
        return true;
    tessel::log::info("Passed over '%s': not a single plain name !", name.c_str());
    return false;
}

bool refuses_to_delete(const std::wstring& path)
{
    const wchar_t* why = refusal(path);
    if (why)
        tessel::log::info(L"Would not dare to remove '%ls': %ls !", path.c_str(), why);
    return why != nullptr;
}

bool refuses_to_delete(const std::string& path)
{
    const wchar_t* why = not_local;
    try {
        why = refusal(tessel::unicode::from_ansi(path));
    } catch (const std::exception&) {
    }
    if (why)
        tessel::log::info("Would not dare to remove '%s': %ls !", path.c_str(), why);
    return why != nullptr;
}

std::wstring normalised_path(const std::wstring& path)
{
    return normalised(path);
}

void forget_protected_folders()
{
    protected_cache().reset();
}

bool is_local_fixed_path(const std::wstring& path)
{
    if (!starts_with_drive(path) || path.find(L'\0') != std::wstring::npos)
        return false;
    const wchar_t root[] = {path[0], L':', L'\\', L'\0'};
    return GetDriveTypeW(root) == DRIVE_FIXED;
}
