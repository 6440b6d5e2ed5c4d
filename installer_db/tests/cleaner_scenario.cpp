#include "cleaner_scenario.h"

#include "installer_db/packed_guid.h"

namespace installer_test {

const wchar_t tools_product[] = L"{0B5E2C47-9A13-4E8D-B6F0-3C2A1D7E9F58}";
const wchar_t foreign_product[] = L"{6A1B3C5D-7E9F-4A2B-8C4D-6E8F0A2B4C6D}";
const wchar_t private_component[] = L"{2D7F4A90-6C1E-4B3D-8E52-A9F0C6B71D34}";
const wchar_t long_path_component[] = L"{8E3A5C71-2B4D-4F69-A0C8-1D3E5F7A9B2C}";
const wchar_t private_file[] = L"C:\\Program Files (x86)\\Drummets\\Pellamore\\x.dll";
const wchar_t qelva_library[] = L"C:\\Program Files (x86)\\Drummets\\Pellamore\\QELVA.dll";
const wchar_t kelzip_library[] = L"C:\\Program Files (x86)\\Common Files\\Kelmar\\kelzip.dll";

std::wstring component_key(const wchar_t* component)
{
    return std::wstring(system_user_data) + L"\\Components\\" + pack_guid(component);
}

std::wstring product_key(const wchar_t* product)
{
    return std::wstring(system_user_data) + L"\\Products\\" + pack_guid(product);
}

std::wstring feature_list_key(const wchar_t* product)
{
    return std::wstring(classes_installer) + L"\\Features\\" + pack_guid(product);
}

std::string lay_scenario()
{
    for (const char* package : {"pellamore", "ostravel", "viewer"})
        if (const DWORD result = install_package(package))
            return std::string("msiexec could not install ") + package + ": " + std::to_string(result);

    // A second product under the same upgrade code, in every root store.
    const std::wstring tools = pack_guid(tools_product);
    for (const wchar_t* installer : {classes_installer, machine_installer})
        write_string(std::wstring(installer) + L"\\UpgradeCodes\\" + pack_guid(pellamore_upgrade), tools, L"");
    write_string(std::wstring(classes_installer) + L"\\Products\\" + tools, L"ProductName", L"Pellamore Tools");
    write_string(product_key(tools_product) + L"\\InstallProperties", L"DisplayName", L"Pellamore Tools");
    // Its own component, with the drive's colon written as "?", and its share
    // of Pellamore's tray component.
    write_string(component_key(private_component), tools, L"C?\\Program Files (x86)\\Drummets\\Pellamore\\x.dll");
    write_string(component_key(tray_component), tools, L"C:\\Program Files (x86)\\Drummets\\Pellamore\\qelvaTray.exe");
    set_shared_dll_counter(private_file, 3);

    // Key paths longer than 149 characters.
    const std::wstring long_path =
        L"C:\\Program Files (x86)\\Drummets\\Pellamore\\" + std::wstring(160, L'd') + L"\\long.dll";
    write_string(component_key(help_component), pack_guid(foreign_product), long_path);
    write_string(component_key(long_path_component), pack_guid(pellamore_product), long_path);
    return {};
}

program_run run_cleaning(bool xp64, bool force_cleaner32)
{
    const std::string probe = "installer_db_probe.exe";
    const scoped_environment code("INSTALLER_DB_UPGRADE_CODE", "{5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}");
    const scoped_environment cleaner("INSTALLER_DB_CLEANER", force_cleaner32 ? "32" : "");
    if (xp64)
        set_wine_version_for(probe, "winxp64");
    program_run run = run_program(probe, "C:\\work\\cleaning", 600000);
    clear_wine_version_for(probe);
    return run;
}

} // namespace installer_test
