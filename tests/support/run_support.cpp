#include "run_support.h"

#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

struct handle {
    HANDLE h = nullptr;
    ~handle() { if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h); }
};

} // namespace

std::string program_folder()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

std::string read_file(const std::string& path)
{
    handle file;
    file.h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
    if (file.h == INVALID_HANDLE_VALUE)
        return {};
    std::string data;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file.h, buffer, sizeof buffer, &got, nullptr) && got > 0)
        data.append(buffer, got);
    return data;
}

program_run run_program(const std::string& program, const std::string& work_dir, DWORD timeout_ms)
{
    CreateDirectoryA(work_dir.c_str(), nullptr);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    handle read_end, write_end;
    if (!CreatePipe(&read_end.h, &write_end.h, &inherit, 0))
        throw std::runtime_error("CreatePipe failed");
    SetHandleInformation(read_end.h, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end.h;
    startup.hStdError = write_end.h;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string command = "\"" + program_folder() + program + "\"";
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, work_dir.c_str(), &startup,
                        &process))
        throw std::runtime_error("CreateProcess failed for " + command);
    handle process_handle, thread_handle;
    process_handle.h = process.hProcess;
    thread_handle.h = process.hThread;
    CloseHandle(write_end.h);
    write_end.h = nullptr;

    program_run run;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(read_end.h, buffer, sizeof buffer, &got, nullptr) && got > 0)
        run.console.append(buffer, got);
    if (WaitForSingleObject(process.hProcess, timeout_ms) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 255);
        throw std::runtime_error(program + " did not finish");
    }
    GetExitCodeProcess(process.hProcess, &run.exit_code);
    run.log_file = read_file(work_dir + "\\QLRemover.log.txt");
    return run;
}

scoped_environment::scoped_environment(const char* name, const char* value) : name_(name)
{
    char old[32768];
    DWORD length = GetEnvironmentVariableA(name, old, sizeof old);
    had_old_ = length > 0 && length < sizeof old;
    if (had_old_)
        old_.assign(old, length);
    SetEnvironmentVariableA(name, value);
}

scoped_environment::~scoped_environment()
{
    SetEnvironmentVariableA(name_.c_str(), had_old_ ? old_.c_str() : nullptr);
}

static std::string app_defaults_key(const std::string& program)
{
    return "Software\\Wine\\AppDefaults\\" + program;
}

void set_wine_version_for(const std::string& program, const char* version)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, app_defaults_key(program).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot set Wine's version for " + program);
    RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                   static_cast<DWORD>(strlen(version) + 1));
    RegCloseKey(key);
}

void clear_wine_version_for(const std::string& program)
{
    RegDeleteKeyA(HKEY_CURRENT_USER, app_defaults_key(program).c_str());
}
