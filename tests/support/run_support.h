// Runs the remover (or another program of build/bin) as a child process in a
// folder of its own and reads what it left: exit code, console, log files.
#pragma once

#include "tessel/unique_any.h"

#include <windows.h>
#include <string>

struct program_run {
    DWORD exit_code = 0xFFFFFFFF;
    std::string console;  // bytes as written (OEM code page)
    std::string log_file; // QLRemover.log.txt in the working folder, raw bytes
};

// The folder of the running test program, with a trailing backslash.
std::string program_folder();
std::string read_file(const std::string& path);
// Starts program (a file name in program_folder()) with its working folder
// work_dir (created if missing) and waits for it; with arguments after its
// name, and on the desktop given ("Station\\Desktop") where one is.
program_run run_program(const std::string& program, const std::string& work_dir, DWORD timeout_ms = 120000,
                        const std::string& arguments = std::string(), const char* desktop = nullptr);

// A window station made for the life of the object, which no user sees, as
// the one a service or a deployment tool may start a program on. desktop()
// names its desktop "Default" for run_program.
class unseen_window_station {
public:
    explicit unseen_window_station(const char* name);
    const char* desktop() const { return desktop_.c_str(); }
private:
    std::string desktop_;
    tessel::unique_window_station station_;
};

// Sets one environment variable of this process (and so of the programs it
// starts) for the life of the object.
class scoped_environment {
public:
    scoped_environment(const char* name, const char* value);
    ~scoped_environment();
private:
    std::string name_;
    std::string old_;
    bool had_old_;
};

// Wine's own version setting for one program, effective at its next start.
void set_wine_version_for(const std::string& program, const char* version);
void clear_wine_version_for(const std::string& program);
