#include "toolbox/processes.h"

#include "tessel/format.h"
#include "tessel/log/log.h"
#include "tessel/lower_case.h"
#include "tessel/unicode/unicode.h"
#include "tessel/unique_any.h"
#include "toolbox/path_rules.h"

#include <tlhelp32.h>
#include <set>
#include <vector>

namespace {

using tessel::unique_handle;

DWORD child_wait_limit_ms = default_child_wait_limit_ms;

static_assert(sizeof(PROCESSENTRY32) == 296, "the ANSI process entry");

// Calls visit(entry) for every process of a fresh snapshot, until it returns
// false. A snapshot that cannot be taken visits nothing.
template <class Visit>
void for_each_process(Visit visit)
{
    // Toolhelp reports a failed snapshot as INVALID_HANDLE_VALUE, not null.
    const tessel::unique_file_handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
        if (!visit(static_cast<const PROCESSENTRY32&>(entry)))
            return;
    }
}

// SeDebugPrivilege enabled on the thread's token when the thread impersonates,
// else on the process token, for the life of the object; the previous state is
// restored when it ends.
class debug_privilege_scope {
public:
    debug_privilege_scope()
    {
        const DWORD access = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;
        if (!OpenThreadToken(GetCurrentThread(), access, FALSE, token_.put()) &&
            !OpenProcessToken(GetCurrentProcess(), access, token_.put()))
            return;
        const HANDLE token = token_.get();
        TOKEN_PRIVILEGES enable{};
        enable.PrivilegeCount = 1;
        enable.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (!LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &enable.Privileges[0].Luid))
            return;
        DWORD size = 0;
        adjusted_ = AdjustTokenPrivileges(token, FALSE, &enable, sizeof previous_, &previous_, &size) != FALSE;
    }
    ~debug_privilege_scope()
    {
        if (adjusted_)
            AdjustTokenPrivileges(token_.get(), FALSE, &previous_, 0, nullptr, nullptr);
    }
    debug_privilege_scope(const debug_privilege_scope&) = delete;
    debug_privilege_scope& operator=(const debug_privilege_scope&) = delete;

private:
    unique_handle token_;
    TOKEN_PRIVILEGES previous_{};
    bool adjusted_ = false;
};

static_assert(sizeof(TOKEN_PRIVILEGES) == 16, "one-entry privilege record");

// False when the process could not be opened for termination.
bool terminate_process(DWORD id)
{
    const unique_handle process(OpenProcess(PROCESS_TERMINATE, FALSE, id));
    if (!process)
        return false;
    TerminateProcess(process.get(), 255);
    return true;
}

// Waits for a child up to the limit. A child still running then hangs: it is
// terminated, so that the run goes on as if it had failed.
DWORD wait_for_child(HANDLE process, const std::string& program)
{
    const DWORD wait = WaitForSingleObject(process, child_wait_limit_ms);
    if (wait == WAIT_TIMEOUT) {
        TerminateProcess(process, 255);
        WaitForSingleObject(process, 10000);
        tessel::log::info("Program '%s' did not end within %u s and was terminated; going on as if it had failed",
                          program.c_str(), static_cast<unsigned>(child_wait_limit_ms / 1000));
    }
    return wait;
}

// The program's path in quotes, so that the system takes it whole even where
// it holds blanks, then the arguments.
template <class Text>
Text quoted_command_line(const Text& program, const Text& arguments)
{
    using character = typename Text::value_type;
    const Text quote(1, character('"'));
    return quote + program + quote + (arguments.empty() ? Text() : Text(1, character(' ')) + arguments);
}

// Starts a child hidden and without a console of its own: a console would
// come with a console host that takes the child's working folder as its own
// and outlives the child, holding that folder open after the wait returned.
// An empty directory leaves the child in this process's working folder. A
// null handle, with the thread's last error, when it could not be started.
unique_handle start_without_console(const std::wstring& command_line, const std::wstring& directory)
{
    std::vector<wchar_t> buffer(command_line.begin(), command_line.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &info))
        return unique_handle();
    const unique_handle thread(info.hThread);
    return unique_handle(info.hProcess);
}

std::string last_path_component(const std::string& path)
{
    const size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

template <class Text>
bool full_path(const Text& path)
{
    using character = typename Text::value_type;
    auto separator = [](character c) { return c == character('\\') || c == character('/'); };
    const bool drive = path.size() >= 3 && tessel::lower_ascii(path[0]) >= character('a') &&
                       tessel::lower_ascii(path[0]) <= character('z') && path[1] == character(':') &&
                       separator(path[2]);
    const bool network = path.size() >= 3 && separator(path[0]) && separator(path[1]) && !separator(path[2]);
    return drive || network;
}

// Named without its full path, a program would be taken by the system's
// search from wherever one of that name lies first, the current folder and
// PATH included: it is not started, and the log says so.
void refuse_start(const std::string& program)
{
    tessel::log::info("Program '%s' is not started: it is not named by its full path", program.c_str());
}

} // namespace

void set_child_wait_limit(DWORD limit_ms)
{
    child_wait_limit_ms = limit_ms;
}

DWORD child_wait_limit()
{
    return child_wait_limit_ms;
}

std::string adjust_process_name(const std::string& name)
{
    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof v;
    const bool windows_2000 = GetVersionExA(&v) && v.dwMajorVersion == 5 && v.dwMinorVersion == 0 &&
                              v.dwPlatformId == VER_PLATFORM_WIN32_NT;
    if (windows_2000 && name.size() > 15)
        return name.substr(0, 15);
    return name;
}

std::string program_file_name(const std::string& image_path)
{
    const size_t start = image_path.find_first_not_of(" \t");
    if (start == std::string::npos)
        return std::string();
    std::string program;
    if (image_path[start] == '"') {
        const size_t end = image_path.find('"', start + 1);
        program = image_path.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
    } else {
        program = image_path.substr(start);
        const std::string lower = tessel::lower_ascii(program);
        for (size_t at = lower.find(".exe"); at != std::string::npos; at = lower.find(".exe", at + 1)) {
            const size_t end = at + 4;
            if (end == lower.size() || lower[end] == ' ' || lower[end] == '\t') {
                program.resize(end);
                break;
            }
        }
    }
    return last_path_component(program);
}

bool process_name_matches(const std::string& file_name, const std::string& name)
{
    // An empty name would match every process and every service.
    return !name.empty() && tessel::lower_ascii(last_path_component(file_name)) == tessel::lower_ascii(name);
}

bool is_process_running(const std::string& adjusted_name)
{
    bool running = false;
    for_each_process([&](const PROCESSENTRY32& entry) {
        running = process_name_matches(entry.szExeFile, adjusted_name);
        return !running;
    });
    return running;
}

void terminate_processes(const std::string& adjusted_name, bool use_debug_privilege)
{
    const DWORD own_id = GetCurrentProcessId();
    DWORD parent_id = 0;
    std::set<DWORD> matching;
    for_each_process([&](const PROCESSENTRY32& entry) {
        if (entry.th32ProcessID == own_id)
            parent_id = entry.th32ParentProcessID;
        else if (process_name_matches(entry.szExeFile, adjusted_name))
            matching.insert(entry.th32ProcessID);
        return true;
    });

    // The program that started the remover (a script, an installer) is spared
    // even when its name matches.
    for (DWORD id : matching) {
        if (id == parent_id)
            continue;
        if (!terminate_process(id) && use_debug_privilege) {
            debug_privilege_scope privilege;
            terminate_process(id);
        }
    }
}

void deal_with_process(const std::string& name)
{
    const std::string adjusted = adjust_process_name(name);
    tessel::log::info("Dealing with '%s' process ....", name.c_str());
    if (is_process_running(adjusted)) {
        tessel::log::info("Process with name '%s' is running, let us close it", adjusted.c_str());
        terminate_processes(adjusted, true);
    } else {
        tessel::log::info("Process with name '%s' is NOT running ...", adjusted.c_str());
    }
}

bool is_full_path(const std::string& path)
{
    return full_path(path);
}

bool is_full_path(const std::wstring& path)
{
    return full_path(path);
}

bool run_and_wait(const std::string& directory, const std::string& program, const std::string& arguments)
{
    std::string path = program;
    if (!directory.empty()) {
        const char last = directory.back();
        path = directory + (last == '\\' || last == '/' ? "" : "\\") + program;
    }
    if (!is_full_path(directory)) {
        refuse_start(path);
        return false;
    }
    const std::string command_line = quoted_command_line(path, arguments);
    try {
        const unique_handle process = start_without_console(tessel::unicode::from_ansi(command_line),
                                                            tessel::unicode::from_ansi(directory));
        return process && wait_for_child(process.get(), command_line) == WAIT_OBJECT_0;
    } catch (const std::exception&) {
        return false; // a path the code page cannot carry names no program
    }
}

DWORD launch_and_wait_for_exit_code(const std::wstring& file, const std::wstring& parameters,
                                    const std::wstring& directory)
{
    tessel::log::info("launch_and_wait_for_exit_code: \"%ls\" %ls", file.c_str(), parameters.c_str());
    if (!is_full_path(file)) {
        refuse_start(tessel::unicode::to_ansi(file));
        return 1;
    }

    const unique_handle process = start_without_console(quoted_command_line(file, parameters), directory);
    if (!process) {
        tessel::log::info("ShellExecuteEx failed. Error: %d", static_cast<int>(GetLastError()));
        return 1;
    }
    const DWORD wait = wait_for_child(process.get(), tessel::format("\"%ls\" %ls", file.c_str(), parameters.c_str()));
    switch (wait) {
    case WAIT_OBJECT_0: {
        DWORD exit_code = 0;
        if (!GetExitCodeProcess(process.get(), &exit_code)) {
            tessel::log::info("GetExitCodeProcess failed. Error: %d", static_cast<int>(GetLastError()));
            return 1;
        }
        tessel::log::info("exit_code: %d", static_cast<int>(exit_code));
        return exit_code;
    }
    case WAIT_ABANDONED:
        tessel::log::info("WaitForSingleObject returned WAIT_ABANDONED");
        return 1;
    case WAIT_TIMEOUT:
        tessel::log::info("WaitForSingleObject returned WAIT_TIMEOUT");
        return 1;
    case WAIT_FAILED:
        tessel::log::info("WaitForSingleObject failed. Error: %d", static_cast<int>(GetLastError()));
        return 1;
    default:
        return 1;
    }
}

bool is_loaded_by_a_program(const std::wstring& path)
{
    const std::wstring wanted = normalised_path(path);
    bool loaded = false;
    for_each_process([&](const PROCESSENTRY32& process) {
        // A process whose modules cannot be listed (another view's, or gone)
        // is passed over.
        const tessel::unique_file_handle modules(
            CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, process.th32ProcessID));
        if (!modules)
            return true;
        MODULEENTRY32W module{};
        module.dwSize = sizeof module;
        for (BOOL more = Module32FirstW(modules.get(), &module); more && !loaded;
             more = Module32NextW(modules.get(), &module))
            loaded = normalised_path(module.szExePath) == wanted;
        return !loaded;
    });
    return loaded;
}

bool keep_current_folder_out_of_library_search()
{
    // Both are looked up: Windows 2000 has neither, XP from SP1 on the first.
    using set_dll_directory_fn = BOOL(WINAPI*)(LPCWSTR);
    using set_default_dll_directories_fn = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel32 = GetModuleHandleA("kernel32");
    if (!kernel32)
        return false;
    const auto set_dll_directory = reinterpret_cast<set_dll_directory_fn>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDllDirectoryW")));
    const auto set_default_dll_directories = reinterpret_cast<set_default_dll_directories_fn>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
    // An empty folder takes the current folder out of the usual search.
    const bool current_folder_out = set_dll_directory && set_dll_directory(L"");
    const bool system_folder_only =
        set_default_dll_directories && set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return current_folder_out || system_folder_only;
}

std::string get_file_version(const std::string& path)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0)
        return {};
    std::vector<BYTE> block(size);
    void* fixed = nullptr;
    UINT fixed_size = 0;
    if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data()) ||
        !VerQueryValueA(block.data(), "\\", &fixed, &fixed_size) || !fixed || fixed_size < sizeof(VS_FIXEDFILEINFO))
        return {};
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    return tessel::format("%i.%i.%i.%i", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                          HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
}
