#include "toolbox/waits.h"

#include "toolbox/processes.h"

#include <algorithm>

bool wait_until(const std::function<bool()>& done, DWORD limit_ms)
{
    const DWORD start = GetTickCount();
    for (;;) {
        // The time is taken before the look, so that a look that takes long
        // still counts as one inside the limit.
        const DWORD elapsed = GetTickCount() - start;
        if (done())
            return true;
        if (elapsed >= limit_ms)
            return false;
        // The last look comes at the limit, not an interval after it.
        Sleep(std::min(look_interval_ms, limit_ms - elapsed));
    }
}

bool wait_until_ended(const std::string& program, DWORD limit_ms)
{
    const std::string adjusted = adjust_process_name(program);
    return wait_until([&] { return !is_process_running(adjusted); }, limit_ms);
}
