// Binding of the suite's framework client library at its first call.
//
// The library is taken from the suite's own folders only, the tray folder and
// the suite folder, never from wherever the system's search for the bare name
// would find one first (the current folder, PATH): a user who can write such
// a place could otherwise have a library of that name run with the remover's
// rights. Nor is it used in place: the suite stage deletes the files of that
// folder while the library is still loaded, and a loaded library cannot be
// deleted. A copy is loaded instead, by its full path, from a folder that the
// run creates new under the temporary folder, with an access list that lets
// in administrators and the system alone, and both are deleted again when the
// library is freed.
#include "remover/harrowlink.h"

#include "family/names.h"
#include "tessel/administrators_only.h"
#include "tessel/format.h"
#include "tessel/log/log.h"
#include "tessel/unicode/unicode.h"

#include <windows.h>

namespace harrowlink {

using tessel::unicode::to_ansi;

namespace {

const std::wstring library_name = family::suite_names().library;

struct binding {
    tessel::unique_module module;
    std::wstring private_folder;  // empty unless a private copy is loaded
};

binding& bound()
{
    static binding current;
    return current;
}

[[noreturn]] void unavailable(const std::string& message)
{
    tessel::log::error("%s", message.c_str());
    throw harrowlink_unavailable(message);
}

std::wstring module_path(HMODULE module)
{
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH + 1);
    return length > 0 && length <= MAX_PATH ? std::wstring(path, length) : std::wstring();
}

bool file_exists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Names tried for the private folder before the run gives up.
const unsigned private_folder_names = 10000;

// A folder under the temporary folder that this call creates, named after
// this process, with an access list for administrators and the system alone:
// no other account can put a library into it or swap the copy. A name that is
// taken already (a folder, a file or a link that someone made first, perhaps
// to have their library loaded or to make the library unavailable) is passed
// over, never used.
std::wstring make_private_folder()
{
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH)
        unavailable(tessel::format("GetTempPath() failed (%lu)", GetLastError()));
    const tessel::unique_local_memory descriptor = tessel::administrators_only_descriptor();
    if (!descriptor)
        unavailable(tessel::format("ConvertStringSecurityDescriptorToSecurityDescriptor() failed (%lu)",
                                   GetLastError()));
    SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
    const DWORD process = GetCurrentProcessId();
    for (unsigned attempt = 0; attempt < private_folder_names; ++attempt) {
        const std::wstring folder = tessel::format(L"%sHarrowlink.%lu.%u\\", temp, process, attempt);
        if (CreateDirectoryW(folder.c_str(), &security)) {
            if (attempt > 0)
                tessel::log::info("%u names for the folder of the copy of Harrowlink.dll were taken already and "
                                  "passed over (%sHarrowlink.%lu.*)",
                                  attempt, to_ansi(temp).c_str(), process);
            return folder;
        }
        // A name in the middle of its deletion answers "access denied".
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED)
            unavailable(tessel::format("CreateDirectory() failed: \"%s\" (%lu)", to_ansi(folder).c_str(), error));
    }
    unavailable("CreateDirectory() failed: no free private folder for Harrowlink.dll");
}

// What cannot be deleted now goes at the next restart: no other account can
// have replaced the folder or the copy by then, the access list keeps them out.
void delete_private_copy(const std::wstring& folder)
{
    const std::wstring copy = folder + library_name;
    if (!DeleteFileW(copy.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
        MoveFileExW(copy.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    if (!RemoveDirectoryW(folder.c_str()))
        MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

void load_private_copy(const std::wstring& original)
{
    const std::wstring folder = make_private_folder();
    const std::wstring copy = folder + library_name;
    if (!CopyFileW(original.c_str(), copy.c_str(), FALSE)) {
        const DWORD error = GetLastError();
        delete_private_copy(folder);
        unavailable(tessel::format("CopyFile() failed: \"%s\" to \"%s\" (%lu)", to_ansi(original).c_str(),
                                   to_ansi(copy).c_str(), error));
    }
    // Libraries the suite's one needs are then looked for beside the copy.
    bound().module.reset(LoadLibraryExW(copy.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!bound().module) {
        const DWORD error = GetLastError();
        delete_private_copy(folder);
        unavailable(tessel::format("LoadLibrary() failed: \"%s\", copied from \"%s\" (%lu)", to_ansi(copy).c_str(),
                                   to_ansi(original).c_str(), error));
    }
    bound().private_folder = folder;
}

template <typename F>
F entry(const char* name)
{
    if (!bound().module)
        unavailable(tessel::format("Harrowlink.dll is not loaded: %s() cannot be called", name));
    const FARPROC found = GetProcAddress(bound().module.get(), name);
    if (!found)
        unavailable(tessel::format("GetProcAddress() failed: \"%s\" in \"%s\" (%lu)", name,
                                   to_ansi(module_path(bound().module.get())).c_str(), GetLastError()));
    return reinterpret_cast<F>(reinterpret_cast<void*>(found));
}

} // namespace

void bind(const std::wstring& suite_folder)
{
    if (bound().module)
        return;
    const std::wstring tray_folder = suite_folder + family::tray_names().folder_name + L"\\";
    for (const std::wstring& folder : {tray_folder, suite_folder}) {
        if (file_exists(folder + library_name)) {
            load_private_copy(folder + library_name);
            return;
        }
    }
    unavailable(tessel::format("Harrowlink.dll is neither in \"%s\" nor in \"%s\", and it is taken from nowhere else",
                               to_ansi(tray_folder).c_str(), to_ansi(suite_folder).c_str()));
}

HL_Lib_Handle_* open_lib()
{
    return entry<HL_Lib_Handle_*(__stdcall*)()>("HL_Open_Lib")();
}

HL_Products_Handle_* products_open(HL_Lib_Handle_* library)
{
    return entry<HL_Products_Handle_*(__stdcall*)(HL_Lib_Handle_*)>("HL_Products_Open")(library);
}

int products_count(HL_Products_Handle_* products)
{
    return entry<int(__stdcall*)(HL_Products_Handle_*)>("HL_Products_Count")(products);
}

const wchar_t* products_name(HL_Products_Handle_* products, const wchar_t* product_key)
{
    using call = const wchar_t*(__stdcall*)(HL_Products_Handle_*, const wchar_t*);
    const wchar_t* name = entry<call>("HL_Products_Name")(products, product_key);
    return name ? name : L"";
}

int products_unregister(HL_Products_Handle_* products, const wchar_t* product_key)
{
    using call = int(__stdcall*)(HL_Products_Handle_*, const wchar_t*);
    return entry<call>("HL_Products_Unregister")(products, product_key);
}

HL_Suite_Handle_* open_suite_file(HL_Lib_Handle_* library, const wchar_t* path)
{
    using call = HL_Suite_Handle_*(__stdcall*)(HL_Lib_Handle_*, const wchar_t*);
    return entry<call>("HL_Open_SuiteFile")(library, path);
}

const wchar_t* get_user_name(HL_Suite_Handle_* suite)
{
    const wchar_t* name = entry<const wchar_t*(__stdcall*)(HL_Suite_Handle_*)>("HL_Get_User_Name")(suite);
    return name ? name : L"";
}

const wchar_t* get_user_site(HL_Suite_Handle_* suite)
{
    const wchar_t* site = entry<const wchar_t*(__stdcall*)(HL_Suite_Handle_*)>("HL_Get_User_Site")(suite);
    return site ? site : L"";
}

std::wstring last_error_description(void* handle)
{
    const wchar_t* text = entry<const wchar_t*(__stdcall*)(void*)>("HL_Last_Error_Description")(handle);
    return text ? text : L"";
}

void close_handle(void* handle)
{
    // Owners call this on their way out, also while an error unwinds: without
    // the library or its entry the handle can only be left to the process's end.
    if (!bound().module)
        return;
    const FARPROC found = GetProcAddress(bound().module.get(), "HL_Close_Handle");
    if (found)
        reinterpret_cast<void(__stdcall*)(void*)>(reinterpret_cast<void*>(found))(handle);
}

void free_library()
{
    binding& current = bound();
    current.module.reset();
    if (!current.private_folder.empty())
        delete_private_copy(std::exchange(current.private_folder, std::wstring()));
}

} // namespace harrowlink
