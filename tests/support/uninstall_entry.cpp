#include "uninstall_entry.h"

#include "tessel/unique_any.h"

#include <windows.h>
#include <stdexcept>

uninstall_entry::uninstall_entry(const std::wstring& name, const values& strings)
    : path_(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + name)
{
    tessel::unique_hkey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create an Uninstall entry");
    for (const auto& [value, data] : strings)
        RegSetValueExW(key.get(), value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

uninstall_entry::~uninstall_entry()
{
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, path_.c_str());
}
