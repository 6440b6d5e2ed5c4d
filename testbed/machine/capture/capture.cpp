// machine_capture.exe FOLDER: writes what the Linux side cannot see by itself
// into FOLDER (a Windows path), for the snapshot script to merge:
//   hklm.txt, hku.txt   HKEY_LOCAL_MACHINE and HKEY_USERS, saved by the registry
//                       itself (RegSaveKey; under Wine its text format; the
//                       32-bit view is the Software\Wow6432Node branch)
//   services.txt        every service the manager knows, with its state
//   processes.txt       every running process but this one, with its image path
//   user.txt            the current user's SID (HKCU is HKU\<SID>) and profile folder
// Text files are UTF-8, one record a line, fields separated by tabs.
#include <windows.h>
#include <sddl.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include "tessel/unique_any.h"

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using tessel::unique_handle;
using unique_service = tessel::unique_service_handle;

void close_file(FILE* file) { fclose(file); }
using unique_file = tessel::unique_any<FILE*, close_file>;

std::string utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

// Tabs and line breaks would split a record.
std::string field(const std::wstring& text)
{
    std::string out = utf8(text);
    for (char& c : out)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return out;
}

unique_file open_output(const std::wstring& path)
{
    return unique_file(_wfopen(path.c_str(), L"wb"));
}

[[noreturn]] void fail(const char* what, DWORD error)
{
    throw std::runtime_error(std::string(what) + " failed (" + std::to_string(error) + ")");
}

// RegSaveKey needs the backup privilege held and enabled.
void enable_privilege(const wchar_t* name)
{
    unique_handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()))
        fail("OpenProcessToken", GetLastError());
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid) ||
        !AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr))
        fail("AdjustTokenPrivileges", GetLastError());
}

void save_hive(HKEY root, const std::wstring& path)
{
    DeleteFileW(path.c_str());
    LONG result = RegSaveKeyW(root, path.c_str(), nullptr);
    if (result != ERROR_SUCCESS)
        fail("RegSaveKey", static_cast<DWORD>(result));
}

void write_user(const std::wstring& path)
{
    unique_handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        fail("OpenProcessToken", GetLastError());
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
        fail("GetTokenInformation", GetLastError());
    tessel::unique_local_memory owned;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid,
                                reinterpret_cast<wchar_t**>(owned.put())))
        fail("ConvertSidToStringSid", GetLastError());
    const wchar_t* text = static_cast<const wchar_t*>(owned.get());
    wchar_t profile[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, profile)))
        fail("SHGetFolderPath", GetLastError());
    unique_file out = open_output(path);
    if (!out)
        fail("creating user.txt", GetLastError());
    std::fprintf(out.get(), "%s\n%s\n", field(text).c_str(), field(profile).c_str());
}

const char* state_name(DWORD state)
{
    switch (state) {
    case SERVICE_STOPPED: return "stopped";
    case SERVICE_START_PENDING: return "start-pending";
    case SERVICE_STOP_PENDING: return "stop-pending";
    case SERVICE_RUNNING: return "running";
    case SERVICE_CONTINUE_PENDING: return "continue-pending";
    case SERVICE_PAUSE_PENDING: return "pause-pending";
    case SERVICE_PAUSED: return "paused";
    default: return "unknown";
    }
}

const char* start_name(DWORD start)
{
    switch (start) {
    case SERVICE_BOOT_START: return "boot";
    case SERVICE_SYSTEM_START: return "system";
    case SERVICE_AUTO_START: return "auto";
    case SERVICE_DEMAND_START: return "demand";
    case SERVICE_DISABLED: return "disabled";
    default: return "unknown";
    }
}

// name, display name, state, start type, image path
void write_services(const std::wstring& path)
{
    unique_service manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_CONNECT));
    if (!manager)
        fail("OpenSCManager", GetLastError());
    std::vector<BYTE> buffer;
    DWORD needed = 0, count = 0, resume = 0;
    for (;;) {
        BOOL done = EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32 | SERVICE_DRIVER,
                                          SERVICE_STATE_ALL, buffer.data(), static_cast<DWORD>(buffer.size()),
                                          &needed, &count, &resume, nullptr);
        if (done)
            break;
        if (GetLastError() != ERROR_MORE_DATA)
            fail("EnumServicesStatusEx", GetLastError());
        buffer.resize(buffer.size() + needed);
        resume = 0;
    }
    unique_file out = open_output(path);
    if (!out)
        fail("creating services.txt", GetLastError());
    const auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        const ENUM_SERVICE_STATUS_PROCESSW& entry = entries[i];
        std::wstring image;
        DWORD start = SERVICE_DEMAND_START;
        unique_service service(OpenServiceW(manager.get(), entry.lpServiceName, SERVICE_QUERY_CONFIG));
        if (service) {
            DWORD size = 0;
            QueryServiceConfigW(service.get(), nullptr, 0, &size);
            std::vector<BYTE> config(size);
            auto* c = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(config.data());
            if (size && QueryServiceConfigW(service.get(), c, size, &size)) {
                image = c->lpBinaryPathName ? c->lpBinaryPathName : L"";
                start = c->dwStartType;
            }
        }
        std::fprintf(out.get(), "%s\t%s\t%s\t%s\t%s\n", field(entry.lpServiceName).c_str(),
                     field(entry.lpDisplayName).c_str(), state_name(entry.ServiceStatusProcess.dwCurrentState),
                     start_name(start), field(image).c_str());
    }
}

std::wstring image_path(DWORD id)
{
    unique_handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (!process)
        return {};
    wchar_t path[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    return QueryFullProcessImageNameW(process.get(), 0, path, &size) ? std::wstring(path, size) : std::wstring();
}

// pid, parent pid, exe name, image path
void write_processes(const std::wstring& path)
{
    const tessel::unique_file_handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        fail("CreateToolhelp32Snapshot", GetLastError());
    unique_file out = open_output(path);
    if (!out)
        fail("creating processes.txt", GetLastError());
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId() || entry.th32ProcessID == 0)
            continue;
        std::fprintf(out.get(), "%lu\t%lu\t%s\t%s\n", entry.th32ProcessID, entry.th32ParentProcessID,
                     field(entry.szExeFile).c_str(), field(image_path(entry.th32ProcessID)).c_str());
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: machine_capture FOLDER\n");
        return 2;
    }
    std::wstring folder = argv[1];
    if (folder.back() != L'\\')
        folder += L'\\';
    CreateDirectoryW(folder.c_str(), nullptr);
    try {
        // Processes first: the registry saves take a moment, and a process
        // that ends meanwhile should not count as running.
        write_processes(folder + L"processes.txt");
        write_services(folder + L"services.txt");
        enable_privilege(L"SeBackupPrivilege");
        save_hive(HKEY_LOCAL_MACHINE, folder + L"hklm.txt");
        save_hive(HKEY_USERS, folder + L"hku.txt");
        write_user(folder + L"user.txt");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "machine_capture: %s\n", error.what());
        return 1;
    }
    return 0;
}
