// The users' profiles as the system lists them (the profile list in the
// registry), not as the folder above the running account's profile holds
// them: under SYSTEM that folder is C:\Windows\system32\config, and profiles
// moved to another drive or made before the profiles folder moved lie
// elsewhere.
#pragma once

#include <optional>
#include <string>
#include <vector>

// HKLM's profile list, read in the system's own registry view.
extern const wchar_t profile_list_key[];

struct user_profile {
    std::wstring sid;
    std::wstring folder;  // as listed, variables expanded
};

// The folder of one entry of the profile list: key_name is the entry's key,
// image_path its ProfileImagePath as read (expanded where it was stored to
// be), or nothing when it is missing or cannot be read. Nothing for an entry
// the run leaves alone: a key that is not a plain SID (a ".bak" copy), a
// service account's profile (S-1-5-18, -19, -20), a path that is not a full
// path on a local fixed drive once its variables are expanded, or that is
// a link.
std::optional<std::wstring> user_profile_folder(const std::wstring& key_name,
                                                const std::optional<std::wstring>& image_path);

// Every user's profile the list names, in its order; nothing when the list
// cannot be read.
std::optional<std::vector<user_profile>> listed_user_profiles();
