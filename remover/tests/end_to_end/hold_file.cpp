// Holds a file open the way a running program holds its data file (readable
// and writable by others, not deletable) for a number of seconds:
//   hold_file PATH SECONDS
// Creates the file when it is missing, and the empty file PATH.holding once
// it holds it.
#include "tessel/unique_any.h"

#include <windows.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const tessel::unique_file_handle held(CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!held)
        return 3;
    tessel::unique_file_handle(CreateFileA((std::string(argv[1]) + ".holding").c_str(), GENERIC_WRITE, 0, nullptr,
                                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)) * 1000);
    return 0;
}
