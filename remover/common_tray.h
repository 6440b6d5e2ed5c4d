// Removal of the family's common tray (family/names.h: the maker's tray
// program in the maker's tray folder): this product's configuration file and icon always; the tray
// itself, its data, autorun entry, registry key and installer components only
// when no product with a configuration file is left. The tray's SharedDLLs
// counters are set to the number of products left in every case.
#pragma once

#include <string>

struct CommonTrayRemover
{
    // The tray folder and the product's short name of the family's table.
    CommonTrayRemover(std::wstring maker, std::wstring tray_program_name);
    CommonTrayRemover(std::wstring maker, std::wstring tray_folder_name, std::wstring product_abbreviation,
                      std::wstring tray_program_name);

    // Never raises: an error that no step catches ends the stage with a line.
    void remove_common_tray() const;

    std::wstring maker;
    std::wstring tray_folder_name;
    std::wstring product_abbreviation;
    std::wstring tray_program_name;
};

// The products that still use the tray, by the configuration files left in
// the folder (which ends with a backslash); 0 on any error.
int count_tray_products(const std::wstring& configurations_folder);

// Sets the counters of the files in the maker's tray folder to count (deletes
// them at 0).
// Never raises.
void fix_common_tray_shared_dll_counters(int count, const std::wstring& maker);
