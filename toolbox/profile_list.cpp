#include "toolbox/profile_list.h"

#include "toolbox/environment.h"
#include "toolbox/path_rules.h"
#include "tessel/registry2/key.h"

#include <windows.h>

const wchar_t profile_list_key[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

namespace {

// "S-1-" and then numbers, each after a dash: nothing else, so no ".bak".
bool is_plain_sid(const std::wstring& name)
{
    if (name.compare(0, 4, L"S-1-") != 0)
        return false;
    bool digit_before = false;
    for (std::size_t at = 4; at < name.size(); ++at) {
        if (name[at] == L'-' && digit_before)
            digit_before = false;
        else if (name[at] >= L'0' && name[at] <= L'9')
            digit_before = true;
        else
            return false;
    }
    return digit_before;
}

bool is_service_account(const std::wstring& sid)
{
    return sid == L"S-1-5-18" || sid == L"S-1-5-19" || sid == L"S-1-5-20";
}

// The text with the variables this process knows expanded; a stored path of
// the kind that should have been expanded is taken as Windows takes it.
std::wstring expanded(const std::wstring& text)
{
    const DWORD size = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (size == 0)
        return text;
    std::wstring result(size, L'\0');
    const DWORD written = ExpandEnvironmentStringsW(text.c_str(), result.data(), size);
    if (written == 0 || written > size)
        return text;
    result.resize(written - 1);
    return result;
}

bool is_link(const std::wstring& folder)
{
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::optional<std::wstring> image_path_of(const tessel::registry2::key& list, const std::wstring& sid)
{
    try {
        return tessel::registry2::up_to_first_nul(list.open(sid, false).read_string(L"ProfileImagePath"));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

std::optional<std::wstring> user_profile_folder(const std::wstring& key_name,
                                                const std::optional<std::wstring>& image_path)
{
    if (!is_plain_sid(key_name) || is_service_account(key_name) || !image_path)
        return std::nullopt;
    const std::wstring folder = expanded(*image_path);
    if (!is_local_fixed_path(folder) || is_link(folder))
        return std::nullopt;
    return folder;
}

std::optional<std::vector<user_profile>> listed_user_profiles()
{
    std::vector<user_profile> profiles;
    try {
        const tessel::registry2::key list =
            tessel::registry2::key(HKEY_LOCAL_MACHINE).open(profile_list_key, false, native_registry_view());
        for (const std::wstring& sid : list.subkey_names())
            if (const auto folder = user_profile_folder(sid, image_path_of(list, sid)))
                profiles.push_back({sid, *folder});
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return profiles;
}
