#include "installer_db/cleaner.h"

#include "toolbox/environment.h"

void clean_installer_database(const std::wstring& upgrade_code)
{
    if (is_wow64())
        clean_installer_database64(upgrade_code);
    else
        clean_installer_database32(upgrade_code);
}
