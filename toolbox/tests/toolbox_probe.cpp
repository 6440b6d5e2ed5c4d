// A small program the process and service tests start, copy and rename:
//   toolbox_probe adjust FILE NAME... writes adjust_process_name of each to FILE, one a line
//   toolbox_probe terminate NAME      terminate_processes(NAME, true), then exits 0
//   toolbox_probe where FILE          writes its command line and working folder to FILE
//   toolbox_probe exit N              exits with N
//   toolbox_probe consoles FILE       writes how many processes share its console
//                                     (0: it has none) to FILE
//   toolbox_probe wait                runs until terminated
//   toolbox_probe libraries FILE KEEP PATH NAME...
//                                     with KEEP 1, keep_current_folder_out_of_library_search
//                                     first ("kept 1" or "kept 0"); then loads PATH
//                                     with LOAD_WITH_ALTERED_SEARCH_PATH and each NAME
//                                     as it is, and writes for each "NAME: <path it was
//                                     loaded from>" or "NAME: error N" to FILE
//   toolbox_probe remove_service NAME PROCESS DELETE
//                                     remove_service(NAME, PROCESS, DELETE == "1"),
//                                     logging to probe.log.txt in its working folder
#include "toolbox/processes.h"
#include "toolbox/services.h"
#include "tessel/log/log.h"
#include "testbed/common/handles.h"

#include <windows.h>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int write_file(const char* path, const std::string& text)
{
    testbed::unique_handle file =
        testbed::own_handle(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ? 0 : 2;
}

int write_where(const char* path)
{
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, folder);
    return write_file(path, std::string(GetCommandLineA()) + "\n" + folder + "\n");
}

std::string loaded_from(const char* name, HMODULE module)
{
    if (!module)
        return std::string(name) + ": error " + std::to_string(GetLastError()) + "\n";
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    return std::string(name) + ": " + path + "\n";
}

int load_libraries(int argc, char** argv)
{
    std::string lines;
    if (std::string(argv[3]) == "1")
        lines += std::string("kept ") + (keep_current_folder_out_of_library_search() ? "1" : "0") + "\n";
    lines += loaded_from(argv[4], LoadLibraryExA(argv[4], nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    for (int i = 5; i < argc; ++i)
        lines += loaded_from(argv[i], LoadLibraryA(argv[i]));
    return write_file(argv[2], lines);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const std::string mode = argv[1];
    if (mode == "adjust" && argc >= 3) {
        std::string lines;
        for (int i = 3; i < argc; ++i)
            lines += adjust_process_name(argv[i]) + "\n";
        return write_file(argv[2], lines);
    }
    if (mode == "terminate" && argc == 3) {
        terminate_processes(argv[2], true);
        return 0;
    }
    if (mode == "where" && argc == 3)
        return write_where(argv[2]);
    if (mode == "consoles" && argc == 3) {
        DWORD ids[16] = {};
        return write_file(argv[2], std::to_string(GetConsoleProcessList(ids, 16)) + "\n");
    }
    if (mode == "exit" && argc == 3)
        return static_cast<int>(std::strtoul(argv[2], nullptr, 10));
    if (mode == "remove_service" && argc == 5) {
        tessel::log::add(new tessel::log::file("probe"));
        remove_service(argv[2], argv[3], std::string(argv[4]) == "1");
        tessel::log::shutdown();
        return 0;
    }
    if (mode == "libraries" && argc >= 5)
        return load_libraries(argc, argv);
    if (mode == "wait") {
        Sleep(INFINITE);
        return 0;
    }
    return 2;
}
