// Finding and ending running programs by the file name of their executable,
// and starting programs and waiting for them. None of these raises: each
// answers through its result and the log.
#pragma once

#include <windows.h>
#include <string>

// How long run_and_wait and launch_and_wait_for_exit_code wait for a child
// program: far above the seconds a healthy one of the family takes. A child
// still running then is taken to hang: it is terminated, a line on the log
// names it and how long it ran, and the wait reports failure.
constexpr DWORD default_child_wait_limit_ms = 5 * 60 * 1000;

// The limit for every later wait of this process (tests shorten it).
void set_child_wait_limit(DWORD limit_ms);
DWORD child_wait_limit();

// The name as the running system reports it: Windows 2000 shows at most 15
// characters of an executable's name, so there a longer name is cut to 15.
std::string adjust_process_name(const std::string& name);

// The file name of the program that an image path or a command line names:
// the text inside the leading quotes, or, unquoted, the text up to the first
// ".exe" that ends a word (a path may hold blanks), or else the whole text;
// of that, the last path component.
//   "C:\Program Files\X\Svc.exe" /run   gives   Svc.exe
//   C:\Program Files\X\Svc.exe -k net   gives   Svc.exe
std::string program_file_name(const std::string& image_path);

// Whether the last path component of file_name is the name, whole, both
// lower-cased (A to Z only): "qelvaTray.exe" is not "XqelvaTray.exe", nor is
// "Tray.exe". An empty name matches nothing.
bool process_name_matches(const std::string& file_name, const std::string& name);

// Whether a running process's executable name is the name (taken as given,
// not adjusted).
bool is_process_running(const std::string& adjusted_name);

// Terminates (exit code 255) every process whose executable name is the name,
// lowest identifier first. This process and the process that started it are
// spared. With use_debug_privilege, a process that cannot be opened is tried
// once more with SeDebugPrivilege enabled. No wait afterwards.
void terminate_processes(const std::string& adjusted_name, bool use_debug_privilege);

// Logs and terminates the running copies of a program.
void deal_with_process(const std::string& name);

// Whether the path names a place without the help of a current folder: a
// drive letter followed by ":\" (or ":/"), or a network path ("\\server\...").
bool is_full_path(const std::string& path);
bool is_full_path(const std::wstring& path);

// Runs directory + "\" + program, quoted, followed by the arguments, hidden
// and without a console, with directory as working directory, and waits for
// it up to child_wait_limit(). True when it started and ended; its exit code
// is not examined. A directory that is not a full path (an empty one
// included) starts nothing: the system's search for a bare or relative name
// would look in the current folder and on PATH, where others can put a
// program of that name. That refusal is logged.
bool run_and_wait(const std::string& directory, const std::string& program, const std::string& arguments);

// Runs the file (quoted) with the parameters hidden and without a console,
// with directory as working directory, and waits for it up to
// child_wait_limit(). The program's exit code, or 1 on any failure (a child
// ended for hanging included). A file that is not a full path starts
// nothing, as above.
DWORD launch_and_wait_for_exit_code(const std::wstring& file, const std::wstring& parameters,
                                    const std::wstring& directory);

// Whether a running program has the file as its image or as a library it
// loaded (both give "access denied" on a deletion). Letter case is ignored.
bool is_loaded_by_a_program(const std::wstring& path);

// Takes the current folder out of the search for libraries for the rest of
// the process's life and, where the system can (Windows 8 and later; 7 and
// Vista with the update that brought the means), the program's own folder
// and PATH as well: a library named without a path is then looked for in the
// system folder alone, and one loaded by its full path with
// LOAD_WITH_ALTERED_SEARCH_PATH finds the libraries it needs beside itself
// and in the system folder. False where the system has neither means
// (Windows 2000, XP before SP1): the search stays as it was.
bool keep_current_folder_out_of_library_search();

// "major.minor.build.revision" of the file's version resource, or "".
std::string get_file_version(const std::string& path);
