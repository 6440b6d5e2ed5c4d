#include "checks.h"

#include "tessel/unique_any.h"

namespace {

tessel::unique_hkey open_for_reading(HKEY root, const std::wstring& path, REGSAM view)
{
    tessel::unique_hkey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS)
        key.release();  // nothing was opened
    return key;
}

} // namespace

bool key_exists(HKEY root, const std::wstring& path, REGSAM view)
{
    return static_cast<bool>(open_for_reading(root, path, view));
}

bool value_exists(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view)
{
    const tessel::unique_hkey key = open_for_reading(root, path, view);
    return key && RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool file_exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool file_exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
