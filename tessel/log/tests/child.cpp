#include "child.h"

#include <stdexcept>

namespace {

std::string child_path()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\') + 1) + "log_child.exe";
}

} // namespace

tessel::unique_handle start_child(const std::string& arguments, HANDLE output)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (output) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    std::string command = "\"" + child_path() + "\" " + arguments;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        throw std::runtime_error("CreateProcess failed: " + command);
    tessel::unique_handle thread(process.hThread);
    return tessel::unique_handle(process.hProcess);
}

DWORD wait_for_exit(const tessel::unique_handle& process)
{
    if (WaitForSingleObject(process.get(), 120000) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 255);
        throw std::runtime_error("log_child did not end");
    }
    DWORD exit_code = 0;
    GetExitCodeProcess(process.get(), &exit_code);
    return exit_code;
}

std::string run_child(const std::string& arguments, DWORD& exit_code)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0))
        throw std::runtime_error("CreatePipe failed");
    tessel::unique_handle reader(read_end);
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    tessel::unique_handle process;
    {
        // The child holds the only write end once ours is closed: the reads
        // below end with the child.
        tessel::unique_handle writer(write_end);
        process = start_child(arguments, writer.get());
    }
    std::string output;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(reader.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        output.append(buffer, got);
    exit_code = wait_for_exit(process);
    return output;
}
