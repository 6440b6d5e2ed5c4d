// Holds files open the way a running program holds its data files: readable
// and writable by others, but not deletable.
//   file_holder READY_EVENT RELEASE_EVENT FILE...
// Creates the files that are missing, opens all of them without delete
// sharing, sets READY_EVENT and keeps them open until RELEASE_EVENT is set
// (at most a minute).
#include <windows.h>

#include "tessel/unique_any.h"

#include <vector>

int main(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    const tessel::unique_handle ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]));
    const tessel::unique_handle release(OpenEventA(SYNCHRONIZE, FALSE, argv[2]));
    if (!ready || !release)
        return 2;
    std::vector<tessel::unique_file_handle> held;
    for (int i = 3; i < argc; ++i) {
        held.emplace_back(CreateFileA(argv[i], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!held.back())
            return 3;
    }
    SetEvent(ready.get());
    return WaitForSingleObject(release.get(), 60000) == WAIT_OBJECT_0 ? 0 : 4;
}
