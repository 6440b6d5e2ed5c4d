// A program of the product family (trays, launcher, chime box): one source,
// built under each program's name. It runs, windowless, until asked to close.
// A second copy started with "/quit" asks every running copy of the same file
// name to close and ends at once.
//
// Knobs, section named after the program (testbed.ini, see testbed/README.md):
//   ignore_quit     1: the running copy ignores "/quit"
//   quit_delay_ms   N: the running copy closes N ms after "/quit"
//   exit_code       exit code of the running copy when it closes (default 0)
#include "testbed/common/environment.h"
#include "testbed/common/handles.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cwctype>
#include <string>
#include <vector>

namespace {

using namespace testbed;

// Each running copy listens on an event named after its file name and process id.
std::wstring quit_event_name(const std::wstring& program, DWORD process_id)
{
    std::wstring name = L"Local\\testbed-quit-";
    for (wchar_t c : program)
        name += static_cast<wchar_t>(std::towlower(c));
    return name + L"-" + std::to_wstring(process_id);
}

bool asked_to_quit()
{
    std::wstring line = GetCommandLineW();
    std::wstring lower;
    for (wchar_t c : line)
        lower += static_cast<wchar_t>(std::towlower(c));
    auto at = lower.rfind(L"/quit");
    return at != std::wstring::npos && at > 0 && std::iswspace(lower[at - 1]) &&
           (at + 5 == lower.size() || std::iswspace(lower[at + 5]));
}

std::vector<DWORD> running_copies(const std::wstring& program)
{
    std::vector<DWORD> found;
    unique_handle snapshot = own_handle(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return found;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID != GetCurrentProcessId() && equal_no_case(entry.szExeFile, program))
            found.push_back(entry.th32ProcessID);
    }
    return found;
}

int send_quit(const std::wstring& program)
{
    int told = 0;
    for (DWORD id : running_copies(program)) {
        unique_handle quit(OpenEventW(EVENT_MODIFY_STATE, FALSE, quit_event_name(program, id).c_str()));
        if (quit && SetEvent(quit.get()))
            ++told;
    }
    trace(L"/quit sent to %d running copies", told);
    return 0;
}

int run_until_quit(const std::wstring& program)
{
    unique_handle quit =
        own_handle(CreateEventW(nullptr, TRUE, FALSE, quit_event_name(program, GetCurrentProcessId()).c_str()));
    if (!quit)
        return 1;
    trace(L"running, command line: %ls", GetCommandLineW());
    for (;;) {
        WaitForSingleObject(quit.get(), INFINITE);
        settings knobs = own_settings();
        if (!knobs.integer(L"ignore_quit", 0)) {
            Sleep(static_cast<DWORD>(knobs.integer(L"quit_delay_ms", 0)));
            trace(L"closing on /quit");
            return knobs.integer(L"exit_code", 0);
        }
        trace(L"/quit ignored");
        ResetEvent(quit.get());
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    std::wstring program = file_name(own_module_path());
    return asked_to_quit() ? send_quit(program) : run_until_quit(program);
}
