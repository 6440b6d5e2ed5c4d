// What the installer database tests share: the test bed's Windows Installer
// packages installed by Wine's own msiexec, Windows Installer's answers about
// them, and the registry places where the installer keeps its data (64-bit
// view under WOW64).
#pragma once

#include <windows.h>
#include <msi.h>

#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace installer_test {

// Product, upgrade and component codes of the test bed's packages.
extern const wchar_t pellamore_upgrade[];
extern const wchar_t pellamore_product[];
extern const wchar_t ostravel_upgrade[];
extern const wchar_t ostravel_product[];
extern const wchar_t viewer_upgrade[];
extern const wchar_t viewer_product[];
extern const wchar_t shared_languages_component[];  // Pellamore and Ostravel
extern const wchar_t kelzip_component[];            // Pellamore and the viewer
extern const wchar_t help_component[];              // Pellamore's alone
extern const wchar_t tray_component[];              // Pellamore's qelvaTray.exe
extern const wchar_t common_tray_upgrade[];         // the family's common tray
extern const wchar_t common_tray_product[];
extern const wchar_t common_tray_qzhtml[];          // its Tray\qzhtml.dll

// Installer data of the local machine, below HKEY_LOCAL_MACHINE.
extern const wchar_t classes_installer[];  // SOFTWARE\Classes\Installer
extern const wchar_t machine_installer[];  // SOFTWARE\Microsoft\Windows\CurrentVersion\Installer
extern const wchar_t system_user_data[];   // machine_installer\UserData\S-1-5-18

// Installs build/testbed/machine/msi/<package>.msi with "msiexec /i ... /qn";
// the exit code of msiexec.
DWORD install_package(const std::string& package);
// Installs each package in turn; "" when all went, else "package: exit code "
// for each that failed.
std::string install_packages(std::initializer_list<const char*> packages);

INSTALLSTATE product_state(const wchar_t* product);
INSTALLSTATE component_state(const wchar_t* product, const wchar_t* component);
// Products registered for an upgrade code, as Windows Installer enumerates them.
std::vector<std::wstring> related_products(const wchar_t* upgrade_code);

// HKEY_LOCAL_MACHINE in the installer's view (64-bit under WOW64), or in the
// view given (KEY_WOW64_32KEY).
bool key_exists(const std::wstring& path, REGSAM view = KEY_WOW64_64KEY);
std::set<std::wstring> subkeys_of(const std::wstring& path, REGSAM view = KEY_WOW64_64KEY);
std::set<std::wstring> values_of(const std::wstring& path, REGSAM view = KEY_WOW64_64KEY);
void write_string(const std::wstring& path, const std::wstring& name, const std::wstring& text);
// A key that is a link to a key that does not exist: it can be neither
// opened nor deleted by name.
void make_dangling_link(const std::wstring& path);
// The installer data at path copied, whole, into the 32-bit view.
void copy_to_32_bit_view(const std::wstring& path);

// SharedDLLs counters of the default view, where 32-bit installers count.
std::optional<DWORD> shared_dll_counter(const std::wstring& file);
void set_shared_dll_counter(const std::wstring& file, DWORD count);

} // namespace installer_test
