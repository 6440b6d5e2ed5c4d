// One product's whole Windows Installer registration: what it is, and its
// removal. Under WOW64 they work in the 64-bit registry view, where the
// installer keeps its data. None raises.
#pragma once

#include <set>
#include <string>

// The packed codes of every product registered for the upgrade code (a GUID
// text), in the installer's own and the classes' upgrade codes. Writes nothing.
std::set<std::wstring> products_of_upgrade_code(const std::wstring& upgrade_code);

// Whether Windows Installer has the product (its code packed or braced)
// registered: its Products key in the classes or its user data in any user's.
bool is_product_registered(const std::wstring& product_code);

// The cached packages that the product's user data names (InstallProperties'
// LocalPackage in every user's data). Writes nothing.
std::set<std::wstring> cached_packages_of(const std::wstring& product_code);

// Deletes a cached package when it is a file directly in the Windows Installer
// folder (%WINDIR%\Installer); any other path is refused with a line. True
// when it was deleted.
bool remove_cached_package(const std::wstring& path);

// Removes one product's registration (its code packed or braced) so that
// Windows Installer no longer lists it: its Products and Features keys in the
// classes, its value in every upgrade code (a code left without values goes
// too), its user data in every user's data, its value in every component (a
// component left empty goes), its Uninstall entry named by the product code in
// either view, and its cached package when that is a file directly in the
// Windows Installer folder (%WINDIR%\Installer). Keys and values of other
// products are never touched; neither are the SharedDLLs counters. One line
// for each thing removed and for each failure.
void remove_product_registration(const std::wstring& product_code);
