#include "run_support.h"

#include "tessel/unique_any.h"

#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

// Appends what the pipe holds now, without waiting for more; false once every
// writer has closed its end (or the pipe failed).
bool read_available(HANDLE pipe, std::string& out)
{
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
            return false;
        if (available == 0)
            return true;
        char buffer[4096];
        DWORD got = 0;
        if (!ReadFile(pipe, buffer, available < sizeof buffer ? available : DWORD(sizeof buffer), &got, nullptr))
            return false;
        out.append(buffer, got);
    }
}

constexpr DWORD poll_ms = 20;

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
    const tessel::unique_file_handle file(CreateFileA(path.c_str(), GENERIC_READ,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                      OPEN_EXISTING, 0, nullptr));
    if (!file)
        return {};
    std::string data;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        data.append(buffer, got);
    return data;
}

program_run run_program(const std::string& program, const std::string& work_dir, DWORD timeout_ms,
                        const std::string& arguments, const char* desktop)
{
    CreateDirectoryA(work_dir.c_str(), nullptr);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    tessel::unique_handle read_end, write_end;
    if (!CreatePipe(read_end.put(), write_end.put(), &inherit, 0))
        throw std::runtime_error("CreatePipe failed");
    SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end.get();
    startup.hStdError = write_end.get();
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string desktop_name = desktop ? desktop : "";
    if (desktop)
        startup.lpDesktop = desktop_name.data();
    std::string command = "\"" + program_folder() + program + "\"";
    if (!arguments.empty())
        command += " " + arguments;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, work_dir.c_str(), &startup,
                        &process))
        throw std::runtime_error("CreateProcess failed for " + command);
    const tessel::unique_handle process_handle(process.hProcess);
    const tessel::unique_handle thread_handle(process.hThread);
    write_end.reset();

    // The console is read while the program runs, so that neither a full pipe
    // nor a program that hangs with the pipe open outlasts the time limit.
    program_run run;
    const DWORD started = GetTickCount();
    bool pipe_open = true;
    for (;;) {
        pipe_open = pipe_open && read_available(read_end.get(), run.console);
        if (WaitForSingleObject(process.hProcess, poll_ms) == WAIT_OBJECT_0)
            break;
        if (GetTickCount() - started >= timeout_ms) {
            TerminateProcess(process.hProcess, 255);
            WaitForSingleObject(process.hProcess, 10000);
            throw std::runtime_error(program + " did not finish");
        }
    }
    // What the program wrote before it ended; a program it started may still
    // hold the pipe, so the rest is read only until the time limit.
    while (pipe_open && GetTickCount() - started < timeout_ms) {
        pipe_open = read_available(read_end.get(), run.console);
        if (pipe_open)
            Sleep(poll_ms);
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
    tessel::unique_hkey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, app_defaults_key(program).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot set Wine's version for " + program);
    RegSetValueExA(key.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                   static_cast<DWORD>(strlen(version) + 1));
}

void clear_wine_version_for(const std::string& program)
{
    RegDeleteKeyA(HKEY_CURRENT_USER, app_defaults_key(program).c_str());
}

unseen_window_station::unseen_window_station(const char* name) : desktop_(std::string(name) + "\\Default")
{
    // Not the interactive station: nobody sees it. Its desktop is made when
    // the first program starts on it.
    station_.reset(CreateWindowStationA(name, 0, WINSTA_ALL_ACCESS, nullptr));
    if (!station_)
        throw std::runtime_error("CreateWindowStation failed");
}
