// A child for the program runner's tests, told by RUN_CHILD_MODE what to do:
//   hang    writes a line, then sleeps with its output still open
//   flood   writes 100000 bytes, more than the pipe holds, and exits with 7
#include <windows.h>

#include <cstring>
#include <string>

int main()
{
    char mode[16] = {};
    GetEnvironmentVariableA("RUN_CHILD_MODE", mode, sizeof mode);
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    if (std::strcmp(mode, "hang") == 0) {
        WriteFile(out, "hanging\n", 8, &written, nullptr);
        Sleep(600000);
        return 0;
    }
    const std::string flood(100000, 'x');
    WriteFile(out, flood.data(), DWORD(flood.size()), &written, nullptr);
    return 7;
}
