#include "toolbox/waits.h"

#include "toolbox/processes.h"

bool wait_until(const std::function<bool()>& done, DWORD limit_ms)
{
    const DWORD start = GetTickCount();
    for (;;) {
        // The time is taken before the look, so that a look that takes long
        // still counts as one inside the limit.
        const bool limit_passed = static_cast<DWORD>(GetTickCount() - start) >= limit_ms;
        if (done())
            return true;
        if (limit_passed)
            return false;
        Sleep(look_interval_ms);
    }
}

bool wait_until_ended(const std::string& program, DWORD limit_ms)
{
    const std::string adjusted = adjust_process_name(program);
    return wait_until([&] { return !is_process_running(adjusted); }, limit_ms);
}
