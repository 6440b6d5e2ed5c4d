#include "checks.h"

#include "tessel/unique_any.h"

#include <sddl.h>

#include <stdexcept>

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

void seal_key(HKEY root, const std::wstring& path, REGSAM view)
{
    tessel::unique_hkey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | WRITE_DAC | view, key.put()) != ERROR_SUCCESS) {
        key.release();
        throw std::runtime_error("cannot open the key to seal");
    }
    tessel::unique_local_memory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P", SDDL_REVISION_1, descriptor.put(), nullptr) ||
        RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor.get()) != ERROR_SUCCESS)
        throw std::runtime_error("cannot seal the key");
}

bool key_is_sealed(HKEY root, const std::wstring& path, REGSAM view)
{
    tessel::unique_hkey key;
    const LONG status = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put());
    if (status != ERROR_SUCCESS)
        key.release();
    return status == ERROR_ACCESS_DENIED;
}

bool file_exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool file_exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
