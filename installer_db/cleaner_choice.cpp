#include "installer_db/cleaner.h"

#include "toolbox/environment.h"

void clean_installer_database(const std::wstring& upgrade_code)
{
    if (is_xp_or_server_2003() && is_wow64())
        installer_db_cleaner64 cleaner(upgrade_code);
    else
        installer_db_cleaner32 cleaner(upgrade_code);
}
