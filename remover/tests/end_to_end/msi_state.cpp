// Prints what Windows Installer says of each product code on the command
// line, one "CODE STATE" line each (MsiQueryProductStateW: 5 installed,
// 1 advertised, -1 unknown).
#include <windows.h>
#include <msi.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv)
{
    for (int i = 1; i < argc; ++i)
        std::printf("%ls %d\n", argv[i], static_cast<int>(MsiQueryProductStateW(argv[i])));
    return 0;
}
