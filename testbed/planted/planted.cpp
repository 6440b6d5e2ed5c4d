// A program or library planted where the remover must never take code from
// (the current folder, a folder on PATH), under the name of one it runs or
// loads: "Harrowlink.dll", "Quietus_2.1.5-2.1.9.exe", "rundll32.exe"... It does
// nothing but leave a mark on the trace when it runs: "<file>[<pid>] planted
// copy ran from <path>". Built once as a program and once as a library (whose
// one export lets a test build a library that needs it).
#include "testbed/common/environment.h"

#include <windows.h>

namespace {

void leave_mark()
{
    testbed::trace(L"planted copy ran from %ls", testbed::own_module_path().c_str());
}

} // namespace

#ifdef PLANTED_LIBRARY
extern "C" __declspec(dllexport) int planted_library_export()
{
    return 1;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        leave_mark();
    return TRUE;
}
#else
int main()
{
    leave_mark();
    return 0;
}
#endif
