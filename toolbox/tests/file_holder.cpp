// Holds files open the way a running program holds its data files: readable
// and writable by others, but not deletable.
//   file_holder READY_EVENT RELEASE_EVENT [--linger=MS] [FILE...]
// Creates the files that are missing, opens all of them without delete
// sharing, sets READY_EVENT and keeps them open until RELEASE_EVENT is set
// (at most a minute), and MS milliseconds longer when asked to linger, as a
// program that takes a moment to end. Its working folder is held as long as
// it runs, files or not.
#include <windows.h>

#include "tessel/unique_any.h"

#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const tessel::unique_handle ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]));
    const tessel::unique_handle release(OpenEventA(SYNCHRONIZE, FALSE, argv[2]));
    if (!ready || !release)
        return 2;
    int first_file = 3;
    DWORD linger_ms = 0;
    if (argc > 3 && std::strncmp(argv[3], "--linger=", 9) == 0) {
        linger_ms = std::strtoul(argv[3] + 9, nullptr, 10);
        ++first_file;
    }
    std::vector<tessel::unique_file_handle> held;
    for (int i = first_file; i < argc; ++i) {
        held.emplace_back(CreateFileA(argv[i], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!held.back())
            return 3;
    }
    SetEvent(ready.get());
    if (WaitForSingleObject(release.get(), 60000) != WAIT_OBJECT_0)
        return 4;
    Sleep(linger_ms);
    return 0;
}
