#include "toolbox/environment.h"

#include "family/names.h"
#include "tessel/exception.h"
#include "tessel/format.h"
#include "tessel/log/log.h"
#include "tessel/unicode/unicode.h"

#include <shlobj.h>
#include "tessel/unique_any.h"

#include <memory>
#include <vector>

namespace {

const wchar_t separator[] = L"==================================================";

std::string os_name(const OSVERSIONINFOEXA& v)
{
    const bool workstation = v.wProductType == VER_NT_WORKSTATION;
    if (v.dwMajorVersion == 5) {
        if (v.dwMinorVersion == 0)
            return "Windows 2000 ";
        if (v.dwMinorVersion == 1 || v.dwMinorVersion == 2)
            return workstation ? "Windows XP " : "Windows Server 2003 ";
    }
    if (v.dwMajorVersion == 6) {
        if (v.dwMinorVersion == 0)
            return workstation ? "Windows Vista " : "Windows Server 2008 ";
        if (v.dwMinorVersion == 1)
            return workstation ? "Windows 7 " : "Windows Server 2008 R2 ";
    }
    return {};
}

// The basic version record; a failed query leaves it zero-filled.
OSVERSIONINFOA basic_version(bool& ok)
{
    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof v;
    ok = GetVersionExA(&v) != FALSE;
    return v;
}

int token_error(const char* call)
{
    tessel::log::error("Function IsRunAsAdministrator - %s Error %d", call, static_cast<int>(GetLastError()));
    return -1;
}

} // namespace

std::string get_os_description()
{
    OSVERSIONINFOEXA v{};
    v.dwOSVersionInfoSize = sizeof v;
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&v)))
        return tessel::format("Unable to GetVersion info. Error: %d", static_cast<int>(GetLastError()));
    std::string name = os_name(v);
    if (name.empty())
        return tessel::format("OS: majorv=%u minorv=%u", static_cast<unsigned>(v.dwMajorVersion),
                              static_cast<unsigned>(v.dwMinorVersion));
    return name + v.szCSDVersion;
}

bool is_before_windows_2000()
{
    bool ok;
    return basic_version(ok).dwMajorVersion <= 4;
}

bool is_xp_or_server_2003()
{
    bool ok;
    OSVERSIONINFOA v = basic_version(ok);
    return ok && v.dwMajorVersion == 5 && (v.dwMinorVersion == 1 || v.dwMinorVersion == 2);
}

namespace {

bool window_station_is_visible()
{
    // The process's window station is the system's, not ours to close.
    HWINSTA station = GetProcessWindowStation();
    USEROBJECTFLAGS flags{};
    return station && GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

} // namespace

bool message_boxes_are_seen(bool visible_window_station, DWORD session, DWORD windows_major)
{
    return visible_window_station && !(session == 0 && windows_major >= 6);
}

bool message_boxes_are_seen()
{
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session))
        session = 0;
    bool ok;
    const DWORD major = basic_version(ok).dwMajorVersion;
    return message_boxes_are_seen(window_station_is_visible(), session, ok ? major : 6);
}

int groups_include_administrators(const TOKEN_GROUPS& groups)
{
    SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
    tessel::unique_sid administrators;
    if (!AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS,
                                  0, 0, 0, 0, 0, 0, administrators.put()))
        return token_error("AllocateAndInitializeSid");
    for (DWORD i = 0; i < groups.GroupCount; ++i) {
        // Deny-only or disabled, the membership is what counts.
        if (EqualSid(groups.Groups[i].Sid, administrators.get()))
            return 1;
    }
    return 0;
}

int IsRunAsAdministrator(const std::wstring& title)
{
    tessel::log::info(L"**** Check if %s runs as Administrator ****", title.c_str());
    tessel::log::info(L"");

    tessel::unique_handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return token_error("OpenProcessToken");

    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &size) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return token_error("GetTokenInformation");
    std::vector<unsigned char> block(size);
    if (!GetTokenInformation(token.get(), TokenGroups, block.data(), size, &size))
        return token_error("GetTokenInformation");

    const int member = groups_include_administrators(*reinterpret_cast<const TOKEN_GROUPS*>(block.data()));
    if (member < 0)
        return -1;
    if (member == 0)
        tessel::log::info(L"You must be an Administrator to launch this application");
    tessel::log::info(separator);
    if (member == 1)
        tessel::log::info(L"");
    return member;
}

bool is_wow64()
{
    using is_wow64_process_fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel32 = GetModuleHandleA("kernel32");
    if (!kernel32)
        return false;
    auto query = reinterpret_cast<is_wow64_process_fn>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "IsWow64Process")));
    BOOL wow64 = FALSE;
    if (!query || !query(GetCurrentProcess(), &wow64))
        return false;
    return wow64 != FALSE;
}

tessel::registry2::view native_registry_view()
{
    return is_wow64() ? tessel::registry2::view::view_64 : tessel::registry2::view::default_view;
}

tessel::registry2::view installer_registry_view()
{
    return native_registry_view();
}

std::wstring registry_root_name(HKEY root)
{
    if (root == HKEY_CLASSES_ROOT) return L"HKEY_CLASSES_ROOT";
    if (root == HKEY_CURRENT_USER) return L"HKEY_CURRENT_USER";
    if (root == HKEY_LOCAL_MACHINE) return L"HKEY_LOCAL_MACHINE";
    if (root == HKEY_USERS) return L"HKEY_USERS";
    if (root == HKEY_CURRENT_CONFIG) return L"HKEY_CURRENT_CONFIG";
    return L"HKEY_!unidentified!";
}

std::string get_shell_folder(int csidl)
{
    char path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, 0, path)))
        throw tessel::exception(tessel::format("Error in ::SHGetFolderPath( 0, CSIDL=%d ....", csidl));
    return std::string(path) + "\\";
}

std::string get_common_program_files_folder() { return get_shell_folder(CSIDL_PROGRAM_FILES_COMMON); }
std::string get_profile_folder() { return get_shell_folder(CSIDL_PROFILE); }
std::string get_app_data_folder() { return get_shell_folder(CSIDL_APPDATA); }
std::string get_common_app_data_folder() { return get_shell_folder(CSIDL_COMMON_APPDATA); }
std::string get_desktop_folder() { return get_shell_folder(CSIDL_DESKTOPDIRECTORY); }
std::string get_common_desktop_folder() { return get_shell_folder(CSIDL_COMMON_DESKTOPDIRECTORY); }
std::string get_common_programs_folder() { return get_shell_folder(CSIDL_COMMON_PROGRAMS); }
std::string get_programs_folder() { return get_shell_folder(CSIDL_PROGRAMS); }
std::string get_program_files_folder() { return get_shell_folder(CSIDL_PROGRAM_FILES); }

std::string path_of(const family::place& place)
{
    return get_shell_folder(place.shell_folder) + tessel::unicode::to_ansi(place.path);
}

std::wstring wide_path_of(const family::place& place)
{
    return tessel::unicode::from_ansi(get_shell_folder(place.shell_folder)) + place.path;
}

std::string get_own_program_folder()
{
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    const std::string program(path, length);
    const size_t separator = program.find_last_of('\\');
    if (length == 0 || length > MAX_PATH || separator == std::string::npos)
        return std::string();
    return program.substr(0, separator + 1);
}

std::string get_system_folder()
{
    // Under WOW64 the 32-bit programs' folder, named as it is: the one a
    // 32-bit program reaches through file-system redirection when it names
    // the system folder. Windows 2000 has no such call; XP answers that it
    // has no such folder on 32-bit Windows.
    using system_wow64_directory_fn = UINT(WINAPI*)(LPSTR, UINT);
    const HMODULE kernel32 = GetModuleHandleA("kernel32");
    const auto wow64_directory = kernel32 ? reinterpret_cast<system_wow64_directory_fn>(reinterpret_cast<void*>(
                                                GetProcAddress(kernel32, "GetSystemWow64DirectoryA")))
                                          : nullptr;
    char path[MAX_PATH + 1] = {};
    UINT length = is_wow64() && wow64_directory ? wow64_directory(path, MAX_PATH) : 0;
    if (length == 0)
        length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    return std::string(path, length) + "\\";
}
