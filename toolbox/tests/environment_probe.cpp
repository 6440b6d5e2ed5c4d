// Prints what the environment checks answer in this process, for a test that
// starts it under one of Wine's version settings; with "boxes", only whether
// its message boxes would be seen (1 or 0), for a test that starts it on a
// window station of its own.
#include "toolbox/environment.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "boxes") == 0) {
        std::printf("%d", message_boxes_are_seen() ? 1 : 0);
        return 0;
    }
    std::printf("%s|%d|%d|%d", get_os_description().c_str(), is_before_windows_2000() ? 1 : 0,
                is_xp_or_server_2003() ? 1 : 0, is_wow64() ? 1 : 0);
    return 0;
}
