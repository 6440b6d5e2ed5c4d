// Holds files open the way a running program holds its data files: readable
// and writable by others, but not deletable.
//   file_holder READY_EVENT RELEASE_EVENT FILE...
// Creates the files that are missing, opens all of them without delete
// sharing, sets READY_EVENT and keeps them open until RELEASE_EVENT is set
// (at most a minute).
#include <windows.h>

#include <memory>
#include <vector>

namespace {

struct handle_closer {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using owned_handle = std::unique_ptr<std::remove_pointer_t<HANDLE>, handle_closer>;

owned_handle checked(HANDLE h)
{
    return owned_handle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    const owned_handle ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]));
    const owned_handle release(OpenEventA(SYNCHRONIZE, FALSE, argv[2]));
    if (!ready || !release)
        return 2;
    std::vector<owned_handle> held;
    for (int i = 3; i < argc; ++i) {
        held.push_back(checked(CreateFileA(argv[i], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)));
        if (!held.back())
            return 3;
    }
    SetEvent(ready.get());
    return WaitForSingleObject(release.get(), 60000) == WAIT_OBJECT_0 ? 0 : 4;
}
