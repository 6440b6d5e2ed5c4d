// A file that a running program holds open, a running program's image or a
// loaded library cannot be deleted now; the system deletes it at the next
// restart when asked with MoveFileEx (the pending deletions run in the order
// they were asked for, so a folder goes after its contents, and a folder goes
// only when it is empty by then). Only what a removal was asked to delete is
// ever scheduled, and never through a link.
#include "toolbox/restart.h"

#include "toolbox/path_rules.h"
#include "toolbox/processes.h"
#include "toolbox/removal_internal.h"
#include "tessel/log/log.h"
#include "tessel/lower_case.h"
#include "tessel/unicode/unicode.h"

#include <windows.h>

#include <algorithm>

namespace {

std::vector<std::wstring> restart_scheduled; // lower-cased, as scheduled
std::vector<std::wstring> kept_in_use;       // as logged

} // namespace

namespace removal_internal {

std::wstring plain_path(std::wstring text)
{
    for (wchar_t& c : text)
        if (c == L'/')
            c = L'\\';
    while (text.size() > 3 && text.back() == L'\\')
        text.pop_back();
    return text;
}

std::wstring long_form(const std::wstring& plain)
{
    if (plain.size() >= 2 && plain[1] == L':')
        return L"\\\\?\\" + plain;
    return plain;
}

// Any refusal but these (access rights, a folder given as a file) is no use
// that ends at the restart.
bool is_in_use(DWORD error, const std::wstring& path)
{
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
        return true;
    return error == ERROR_ACCESS_DENIED && is_loaded_by_a_program(path);
}

bool schedule_at_restart(const std::wstring& plain)
{
    if (refuses_to_delete(plain))
        return false;
    if (!may_wait_for_restart(plain)) {
        if (std::find(kept_in_use.begin(), kept_in_use.end(), plain) == kept_in_use.end())
            kept_in_use.push_back(plain);
        tessel::log::info(L"   %ls is in use and stays: only the program and Windows folders are cleaned at the restart",
                          plain.c_str());
        return false;
    }
    if (!MoveFileExW(long_form(plain).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        tessel::log::info(L"FAILED TO schedule '%ls' for removal at restart; error %d !", plain.c_str(),
                          static_cast<int>(GetLastError()));
        return false;
    }
    restart_scheduled.push_back(tessel::lower_ascii(plain));
    tessel::log::info(L"   %ls will be removed at the next restart", plain.c_str());
    return true;
}

bool holds_scheduled(const std::wstring& plain_folder)
{
    const std::wstring head = tessel::lower_ascii(plain_folder) + L"\\";
    for (const std::wstring& path : restart_scheduled)
        if (path.compare(0, head.size(), head) == 0)
            return true;
    return false;
}

void schedule_if_in_use(const std::string& path, DWORD error)
{
    try {
        const std::wstring plain = plain_path(tessel::unicode::from_ansi(path));
        if (is_in_use(error, plain))
            schedule_at_restart(plain);
    } catch (const std::exception&) {
        tessel::log::info("FAILED TO schedule '%s' for removal at restart !", path.c_str());
    }
}

} // namespace removal_internal

int scheduled_for_restart()
{
    return static_cast<int>(restart_scheduled.size());
}

std::vector<std::wstring> left_in_use()
{
    return kept_in_use;
}
