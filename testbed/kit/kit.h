// What a test needs to put the doubles on the machine, set their knobs, start
// them and clean up after them. For test programs run by the Wine runner; the
// doubles are taken from the folder of the running test program (build/bin).
//
// Never write settings into build/bin: tests run side by side there. Copy the
// doubles into the prefix and set knobs beside the copies, or set them in the
// machine-wide file (CommonAppData\testbed\testbed.ini), which every double
// consults after its own.
#pragma once

#include "testbed/common/handles.h"

#include <windows.h>

#include <string>
#include <vector>

namespace testbed::kit {

// The engine versions with a build of the two engine services, oldest first.
extern const std::vector<std::wstring> engine_versions;

// Folders, each with a trailing backslash.
std::wstring bin_folder();        // the folder of the running program
std::wstring program_files();     // CSIDL_PROGRAM_FILES
std::wstring common_files();      // CSIDL_PROGRAM_FILES_COMMON
std::wstring common_app_data();   // CSIDL_COMMON_APPDATA
std::wstring engine_folder();     // common files + "Common Sundrel Suite\Scancore\"
std::wstring machine_folder();    // common app data + "testbed\"

// Creates the folder and its parents.
void make_folders(const std::wstring& folder);

// Copies a file from the bin folder (a relative path such as
// L"scancore\\2.1.9\\ScrWatchService.exe" or L"qelvaTray.exe") into the folder,
// under its own file name. Returns the copy's full path.
std::wstring copy_double(const std::wstring& from_bin, const std::wstring& to_folder);

// Puts the engine of one version into the engine folder: both services of
// that build, Scancore.dll, scrfsfilter.inf and scrfsfilter.sys.
void install_engine(const std::wstring& version);

// Sets one knob in testbed.ini of the folder (the machine-wide file when the
// folder is empty); an empty value removes the key.
void set_knob(const std::wstring& section, const std::wstring& key, const std::wstring& value,
              const std::wstring& folder = L"");
// Deletes testbed.ini of the folder (the machine-wide one when empty).
void clear_knobs(const std::wstring& folder = L"");

// The trace the doubles write (CommonAppData\testbed\trace.log), and its removal.
std::string trace_text();
void clear_trace();

// Removes a folder with everything in it; missing is fine.
void remove_folder(const std::wstring& folder);

// Writes a text file (creating its folder).
void write_file(const std::wstring& path, const std::string& content);
bool file_exists(const std::wstring& path);

// A started program; terminated on destruction if it still runs.
class process
{
public:
    // Starts the command line (CreateProcess, program resolved from its first token).
    explicit process(const std::wstring& command_line, const std::wstring& directory = L"");
    ~process();
    process(const process&) = delete;
    process& operator=(const process&) = delete;

    // True when it ended within the limit.
    bool wait(DWORD limit_ms);
    bool running() const;
    DWORD exit_code() const;
    DWORD id() const { return id_; }

private:
    unique_handle handle_;
    DWORD id_ = 0;
};

// Runs a command line to its end; its exit code. Throws when it cannot be
// started or does not end within the limit (it is then terminated).
DWORD run(const std::wstring& command_line, DWORD limit_ms = 60000);

// Processes whose executable has this file name (case ignored).
std::vector<DWORD> processes_named(const std::wstring& exe_name);
void terminate_all(const std::wstring& exe_name);
// Polls until no process of this name runs; false on time-out.
bool wait_until_gone(const std::wstring& exe_name, DWORD limit_ms);

// Service state (SERVICE_RUNNING...), 0 when the service is not installed.
DWORD service_state(const std::wstring& name);
// Polls until the service is in the state (0: not installed); false on time-out.
bool wait_service_state(const std::wstring& name, DWORD state, DWORD limit_ms);
// Takes a service off the machine whatever its knobs say: stop control, the
// watch service's stop request, termination of its process, deletion; returns
// when the manager no longer knows it.
void remove_service(const std::wstring& name);

// Removes the engine's services and every double process still running;
// for a test's clean-up.
void remove_all_doubles();

}  // namespace testbed::kit
