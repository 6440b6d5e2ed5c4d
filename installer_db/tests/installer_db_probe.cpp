// Runs the remover's installer database cleaning for the upgrade code in the
// environment variable INSTALLER_DB_UPGRADE_CODE, with the log on the console,
// so that a test can start it under another Windows version setting. With
// INSTALLER_DB_CLEANER set to "32" it runs the 32-bit cleaner itself instead of
// the remover's choice.
#include "installer_db/cleaner.h"
#include "tessel/log/log.h"

#include <windows.h>

#include <string>

int main()
{
    wchar_t code[100] = {};
    const DWORD length = GetEnvironmentVariableW(L"INSTALLER_DB_UPGRADE_CODE", code, 100);
    if (length == 0 || length >= 100)
        return 2;
    wchar_t cleaner[8] = {};
    const DWORD chosen = GetEnvironmentVariableW(L"INSTALLER_DB_CLEANER", cleaner, 8);
    tessel::log::add(new tessel::log::console);
    if (chosen > 0 && std::wstring(cleaner) == L"32")
        clean_installer_database32(code);
    else
        clean_installer_database(code);
    tessel::log::shutdown();
    return 0;
}
