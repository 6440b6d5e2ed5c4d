#include "testbed/common/environment.h"

#include "testbed/common/handles.h"
#include "testbed/common/ini.h"
#include "testbed/common/names.h"

#include <shlobj.h>
#include <cstdarg>
#include <cwchar>
#include <cwctype>

namespace testbed {

std::wstring own_module_path()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&own_module_path), &module);
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring folder_of(const std::wstring& path)
{
    auto slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring file_name(const std::wstring& path)
{
    auto slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring base_name(const std::wstring& path)
{
    std::wstring name = file_name(path);
    auto dot = name.find_last_of(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

std::wstring shell_folder(int csidl)
{
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, buffer)))
        return {};
    std::wstring folder = buffer;
    if (!folder.empty() && folder.back() != L'\\')
        folder += L'\\';
    return folder;
}

std::wstring machine_folder_path()
{
    std::wstring folder = shell_folder(CSIDL_COMMON_APPDATA) + machine_folder;
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

settings::settings(const std::wstring& module_path)
    : section_(base_name(module_path)),
      beside_(folder_of(module_path) + settings_file_name),
      machine_(machine_folder_path() + settings_file_name)
{
}

bool settings::lookup(const wchar_t* key, std::wstring& value) const
{
    for (const std::wstring* file : {&beside_, &machine_}) {
        std::optional<std::wstring> text = ini::read(*file);
        std::optional<std::wstring> found = text ? ini::value(*text, section_, key) : std::nullopt;
        if (found) {
            value = *found;
            return true;
        }
    }
    return false;
}

int settings::integer(const wchar_t* key, int fallback) const
{
    std::wstring value;
    if (!lookup(key, value) || value.empty())
        return fallback;
    return static_cast<int>(std::wcstol(value.c_str(), nullptr, 0));
}

std::wstring settings::text(const wchar_t* key, const std::wstring& fallback) const
{
    std::wstring value;
    return lookup(key, value) ? value : fallback;
}

settings own_settings()
{
    return settings(own_module_path());
}

void trace(const wchar_t* format, ...)
{
    wchar_t text[2048];
    va_list arguments;
    va_start(arguments, format);
    _vsnwprintf(text, 2047, format, arguments);
    va_end(arguments);
    text[2047] = 0;

    std::wstring line = file_name(own_module_path()) + L"[" + std::to_wstring(GetCurrentProcessId()) + L"] " +
                        text + L"\r\n";
    int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), bytes.data(), size, nullptr,
                        nullptr);

    // Doubles start in crowds; one named lock around open, seek and write keeps
    // every process's line whole and in the file, whatever the system's
    // append mode guarantees.
    unique_handle lock = own_handle(CreateMutexW(nullptr, FALSE, L"Global\\testbed-trace"));
    const bool locked = lock && WaitForSingleObject(lock.get(), 10000) != WAIT_TIMEOUT;
    unique_handle file = own_handle(CreateFileW((machine_folder_path() + trace_file_name).c_str(),
                                                FILE_APPEND_DATA | FILE_WRITE_DATA,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        LARGE_INTEGER end{};
        SetFilePointerEx(file.get(), end, nullptr, FILE_END);
        DWORD written = 0;
        WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
    if (locked)
        ReleaseMutex(lock.get());
}

std::vector<std::wstring> split_list(const std::wstring& text)
{
    std::vector<std::wstring> items;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(L',', start);
        if (comma == std::wstring::npos)
            comma = text.size();
        std::wstring item = text.substr(start, comma - start);
        while (!item.empty() && std::iswspace(item.back()))
            item.pop_back();
        size_t first = 0;
        while (first < item.size() && std::iswspace(item[first]))
            ++first;
        if (first < item.size())
            items.push_back(item.substr(first));
        start = comma + 1;
    }
    return items;
}

bool equal_no_case(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

file_version read_file_version(const std::wstring& path)
{
    file_version version;
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0)
        return version;
    std::vector<unsigned char> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT info_size = 0;
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &info_size) || !info)
        return version;
    version.found = true;
    version.major = HIWORD(info->dwFileVersionMS);
    version.minor = LOWORD(info->dwFileVersionMS);
    version.build = HIWORD(info->dwFileVersionLS);
    version.revision = LOWORD(info->dwFileVersionLS);
    return version;
}

int engine_table_size(const std::wstring& engine_folder)
{
    int chosen = settings(engine_folder + L"Scancore.dll").integer(L"table", 0);
    if (chosen >= 13 && chosen <= 15)
        return chosen;
    file_version version = read_file_version(engine_folder + L"ScrScanningService.exe");
    if (!version.found)
        return 15;
    auto below = [&](unsigned major, unsigned minor, unsigned build) {
        if (version.major != major)
            return version.major < major;
        if (version.minor != minor)
            return version.minor < minor;
        return version.build < build;
    };
    if (below(1, 5, 34))
        return 13;
    if (below(2, 1, 10))
        return 14;
    return 15;
}

}  // namespace testbed
