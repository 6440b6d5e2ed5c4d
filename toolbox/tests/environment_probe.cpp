// Prints what the environment checks answer in this process, for a test that
// starts it under one of Wine's version settings.
#include "toolbox/environment.h"

#include <cstdio>

int main()
{
    std::printf("%s|%d|%d|%d", get_os_description().c_str(), is_before_windows_2000() ? 1 : 0,
                is_xp_or_server_2003() ? 1 : 0, is_wow64() ? 1 : 0);
    return 0;
}
