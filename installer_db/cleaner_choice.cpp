#include "installer_db/cleaner.h"

#include "toolbox/environment.h"

void clean_installer_database(const std::wstring& upgrade_code)
{
    if (is_wow64())
        installer_db_cleaner64 cleaner(upgrade_code);
    else
        installer_db_cleaner32 cleaner(upgrade_code);
}
