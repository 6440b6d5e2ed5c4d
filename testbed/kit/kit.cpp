#include "testbed/kit/kit.h"

#include "testbed/common/environment.h"
#include "testbed/common/handles.h"
#include "testbed/common/ini.h"
#include "testbed/common/names.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <stdexcept>

namespace testbed::kit {

namespace {

std::string narrow(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                        nullptr);
    return bytes;
}

[[noreturn]] void fail(const std::wstring& what, DWORD error = GetLastError())
{
    throw std::runtime_error(narrow(what) + " (error " + std::to_string(error) + ")");
}

std::wstring settings_file(const std::wstring& folder)
{
    return (folder.empty() ? machine_folder() : folder) + settings_file_name;
}

}  // namespace

const std::vector<std::wstring> engine_versions = {L"1.5.33", L"1.5.60", L"1.5.91", L"2.1.3",
                                                   L"2.1.7",  L"2.1.9",  L"2.1.10", L"2.1.12"};

std::wstring bin_folder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return folder_of(path);
}

std::wstring program_files() { return shell_folder(CSIDL_PROGRAM_FILES); }
std::wstring common_files() { return shell_folder(CSIDL_PROGRAM_FILES_COMMON); }
std::wstring common_app_data() { return shell_folder(CSIDL_COMMON_APPDATA); }
std::wstring engine_folder() { return common_files() + engine_subfolder; }
std::wstring machine_folder() { return machine_folder_path(); }

void make_folders(const std::wstring& folder)
{
    int result = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    if (result != ERROR_SUCCESS && result != ERROR_ALREADY_EXISTS && result != ERROR_FILE_EXISTS)
        fail(L"cannot create " + folder, result);
}

std::wstring copy_double(const std::wstring& from_bin, const std::wstring& to_folder)
{
    make_folders(to_folder);
    std::wstring target = to_folder + file_name(from_bin);
    if (!CopyFileW((bin_folder() + from_bin).c_str(), target.c_str(), FALSE))
        fail(L"cannot copy " + from_bin + L" to " + target);
    return target;
}

void install_engine(const std::wstring& version)
{
    std::wstring folder = engine_folder();
    std::wstring build = L"scancore\\" + version + L"\\";
    copy_double(build + L"ScrWatchService.exe", folder);
    copy_double(build + L"ScrScanningService.exe", folder);
    copy_double(L"Scancore.dll", folder);
    copy_double(L"scrfsfilter.inf", folder);
    copy_double(L"scrfsfilter.sys", folder);
}

void set_knob(const std::wstring& section, const std::wstring& key, const std::wstring& value,
              const std::wstring& folder)
{
    std::wstring file = settings_file(folder);
    std::wstring text = ini::read(file).value_or(L"");
    std::optional<std::wstring> v = value.empty() ? std::nullopt : std::optional<std::wstring>(value);
    if (!ini::write(file, ini::with_value(text, section, key, v)))
        fail(L"cannot write " + file);
}

void clear_knobs(const std::wstring& folder)
{
    DeleteFileW(settings_file(folder).c_str());
}

std::string trace_text()
{
    unique_handle file = own_handle(CreateFileW((machine_folder() + trace_file_name).c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return {};
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
        text.append(buffer, read);
    return text;
}

void clear_trace()
{
    DeleteFileW((machine_folder() + trace_file_name).c_str());
}

void remove_folder(const std::wstring& folder)
{
    std::wstring root = folder;
    if (!root.empty() && root.back() != L'\\')
        root += L'\\';
    WIN32_FIND_DATAW found{};
    const unique_find search(FindFirstFileW((root + L"*").c_str(), &found));
    if (search) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = root + name;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                remove_folder(path);
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search.get(), &found));
    }
    RemoveDirectoryW(root.c_str());
}

void write_file(const std::wstring& path, const std::string& content)
{
    make_folders(folder_of(path));
    unique_handle file = own_handle(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr))
        fail(L"cannot write " + path);
}

bool file_exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

process::process(const std::wstring& command_line, const std::wstring& directory)
{
    std::wstring line = command_line;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &started))
        fail(L"cannot start " + command_line);
    unique_handle thread(started.hThread);
    handle_.reset(started.hProcess);
    id_ = started.dwProcessId;
}

process::~process()
{
    if (running()) {
        TerminateProcess(handle_.get(), 255);
        WaitForSingleObject(handle_.get(), 5000);
    }
}

bool process::wait(DWORD limit_ms)
{
    return WaitForSingleObject(handle_.get(), limit_ms) == WAIT_OBJECT_0;
}

bool process::running() const
{
    return WaitForSingleObject(handle_.get(), 0) == WAIT_TIMEOUT;
}

DWORD process::exit_code() const
{
    DWORD code = 0;
    GetExitCodeProcess(handle_.get(), &code);
    return code;
}

DWORD run(const std::wstring& command_line, DWORD limit_ms)
{
    process p(command_line);
    if (!p.wait(limit_ms))
        fail(command_line + L" did not end in time", WAIT_TIMEOUT);
    return p.exit_code();
}

std::vector<DWORD> processes_named(const std::wstring& exe_name)
{
    std::vector<DWORD> found;
    unique_handle snapshot = own_handle(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return found;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (equal_no_case(entry.szExeFile, exe_name))
            found.push_back(entry.th32ProcessID);
    }
    return found;
}

void terminate_all(const std::wstring& exe_name)
{
    for (DWORD id : processes_named(exe_name)) {
        unique_handle p(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
        if (p && TerminateProcess(p.get(), 255))
            WaitForSingleObject(p.get(), 5000);
    }
}

bool wait_until_gone(const std::wstring& exe_name, DWORD limit_ms)
{
    DWORD start = GetTickCount();
    while (!processes_named(exe_name).empty()) {
        if (GetTickCount() - start >= limit_ms)
            return false;
        Sleep(50);
    }
    return true;
}

DWORD service_state(const std::wstring& name)
{
    unique_service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    unique_service_handle service(manager ? OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS)
                                          : nullptr);
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service.get(), &status))
        return 0;
    return status.dwCurrentState;
}

bool wait_service_state(const std::wstring& name, DWORD state, DWORD limit_ms)
{
    DWORD start = GetTickCount();
    while (service_state(name) != state) {
        if (GetTickCount() - start >= limit_ms)
            return false;
        Sleep(50);
    }
    return true;
}

void remove_service(const std::wstring& name)
{
    unique_service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        fail(L"OpenSCManager");
    unique_service_handle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
    if (!service) {
        if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST)
            return;
        fail(L"OpenService " + name);
    }
    SERVICE_STATUS_PROCESS status{};
    DWORD size = 0;
    if (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                             &size) &&
        status.dwCurrentState != SERVICE_STOPPED) {
        unique_handle p(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId));
        SERVICE_STATUS ignored{};
        ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored);
        if (name == watch_service_name) {
            unique_handle request(OpenEventW(EVENT_MODIFY_STATE, FALSE, watch_stop_request_event));
            if (request)
                SetEvent(request.get());
        }
        // A service told never to stop, or to stay stop-pending, is ended by force.
        if (p && WaitForSingleObject(p.get(), 3000) != WAIT_OBJECT_0) {
            TerminateProcess(p.get(), 255);
            WaitForSingleObject(p.get(), 5000);
        }
    }
    DeleteService(service.get());
    service.reset();
    if (!wait_service_state(name, 0, 10000))
        fail(L"service " + name + L" still installed", 0);
}

void remove_all_doubles()
{
    for (const wchar_t* service : {watch_service_name, scanning_service_name, L"Suite Service"})
        remove_service(service);
    for (const wchar_t* program : {L"ScrWatchService.exe", L"ScrScanningService.exe", L"DrummetSuiteService.exe",
                                   L"SuiteService.exe", L"qelvaTray.exe", L"Chimebox.exe", L"DrummetLauncher.exe",
                                   L"zornaTray.exe", L"DrummetsTray.exe"})
        terminate_all(program);
}

}  // namespace testbed::kit
