// Small questions about the machine the remover runs on. Every call asks the
// system afresh.
#pragma once

#include "tessel/registry2/key.h"

#include <windows.h>
#include <string>

namespace family {
struct place;
}

std::string get_os_description();
bool is_before_windows_2000();
bool is_xp_or_server_2003();

// Whether a message box this process shows would be seen by anyone, so that
// it can be answered: not on a window station no user sees (a service's, or
// one a deployment tool made), and not in session 0 of Windows Vista or later,
// where no user signs in. A question the system does not answer counts as
// unseen: a box nobody answers holds the run until it is killed.
bool message_boxes_are_seen();
// The same decision from its three facts.
bool message_boxes_are_seen(bool visible_window_station, DWORD session, DWORD windows_major);

// 1 administrator, 0 not, -1 the test itself failed (logged).
int IsRunAsAdministrator(const std::wstring& title);
// Whether a token's group list holds the built-in Administrators group, in
// whatever state (enabled or deny-only). -1 when the group's identifier cannot
// be built (logged).
int groups_include_administrators(const TOKEN_GROUPS& groups);

bool is_wow64();
// The registry view the system's own programs see: the 64-bit one under
// WOW64, else the only one there is.
tessel::registry2::view native_registry_view();
// The registry view Windows Installer keeps its data in (products, components,
// folder records): the 64-bit one under WOW64, where its service is a 64-bit
// program, else the only one there is.
tessel::registry2::view installer_registry_view();
std::wstring registry_root_name(HKEY root);

// Narrow paths (ANSI code page) that always end with one appended backslash.
// Raise tessel::exception when the shell has no answer.
std::string get_shell_folder(int csidl);
std::string get_common_program_files_folder();
std::string get_profile_folder();
std::string get_app_data_folder();
std::string get_common_app_data_folder();
std::string get_desktop_folder();
std::string get_common_desktop_folder();
std::string get_common_programs_folder();
std::string get_programs_folder();
std::string get_program_files_folder();

// A place of the family's table (family/names.h): its shell folder followed
// by its path, narrow (the ANSI code page) or wide. They raise as the shell
// folders do.
std::string path_of(const family::place& place);
std::wstring wide_path_of(const family::place& place);

// The folder of the running program's own file ("C:\Support\Remover\");
// empty when the system has no answer.
std::string get_own_program_folder();

// The system folder of 32-bit programs such as this one, with a trailing
// backslash: system32 on 32-bit Windows, SysWOW64 under WOW64; empty when
// the system has no answer.
std::string get_system_folder();
