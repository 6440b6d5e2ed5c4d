// Removal of one product family's Windows Installer registrations, found by
// upgrade code, from the installer's registry database: the upgrade code, the
// registrations of its products with their feature lists, their component
// registrations, and the SharedDLLs counters of the components' key files.
//
// Each cleaning writes its report to the log; it raises nothing. The 64-bit
// cleaner works in the 64-bit registry view (the remover's choice on every
// 64-bit Windows); the 32-bit cleaner in the calling process's own view.
#pragma once

#include <string>

// The remover's choice: under WOW64 (any 64-bit Windows) the installer service
// is a 64-bit program and keeps its data in the 64-bit view, where the 64-bit
// cleaner works; the 32-bit cleaner everywhere else. upgrade_code: a GUID
// text, braced or not.
void clean_installer_database(const std::wstring& upgrade_code);

// Each cleaner by itself, whatever the system.
void clean_installer_database64(const std::wstring& upgrade_code);
void clean_installer_database32(const std::wstring& upgrade_code);
