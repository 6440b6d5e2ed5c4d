// What the run takes from the machine before it deletes anything. Names and
// paths come from registry values, key names and folder listings that others
// may have written: a name can be a relative path, a value can hide a NUL, a
// path can name a folder that Windows or every user needs. These rules keep
// such data from steering a deletion.
#pragma once

#include <string>

// Whether name is exactly one ordinary component of a path: not empty; no
// "\", "/", ":", wildcard or other character Windows refuses in a name; no
// NUL or other control character; not "." or ".."; no trailing dot or blank
// (Windows drops those, so that the name would reach another file).
bool is_plain_name(const std::string& name);
bool is_plain_name(const std::wstring& name);

// The same, with the line "Passed over '<name>': not a single plain name !"
// for a name that is not plain.
bool plain_name_or_logged(const std::string& name);

// Whether path may not be the target of a deletion, a removal or a deletion
// at the next restart; when it may not, one line on the log says why. A
// target must be a full path on a local fixed drive (no relative, UNC, device
// or "\\?\" path, no NUL), and must not be, once normalised (".", "..",
// doubled and forward separators, trailing dots and blanks, 8.3 names, letter
// case), a folder that Windows or every user needs: a drive root, the Windows
// folder and its system, drivers and Installer folders, both Program Files
// and both Common Files folders, ProgramData, every profile, the folder that
// holds the profiles, a profile's own top folders (Desktop, Documents,
// AppData, Local, Roaming, Start Menu, Programs and the folders above them).
// What lies inside those folders is the caller's to judge.
bool refuses_to_delete(const std::string& path);
bool refuses_to_delete(const std::wstring& path);

// Whether path is a full path on a local fixed drive ("X:\..."), with no NUL.
bool is_local_fixed_path(const std::wstring& path);

// Whether something in use at path may be left to the next restart to
// delete: only below the program and common files folders and the Windows
// folder (its temporary folder excepted), where only administrators can
// create folders. Elsewhere a user could swap a folder on the way for a link
// after the run, and the deletion at the restart would follow it.
bool may_wait_for_restart(const std::wstring& path);

// The one text for a path, however it is spelled: full, "." and ".."
// resolved, separators, trailing dots and blanks and 8.3 names tidied, in
// upper case. Empty for a path that is not on a drive.
std::wstring normalised_path(const std::wstring& path);

// The folders above are found once per process; tests that change them call
// this to have them found again.
void forget_protected_folders();
