#include "support.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <cstring>

std::vector<BYTE> bytes_of(const std::wstring& text)
{
    std::vector<BYTE> bytes(text.size() * sizeof(wchar_t));
    std::memcpy(bytes.data(), text.data(), bytes.size());
    return bytes;
}

std::vector<BYTE> bytes_of(std::initializer_list<int> bytes)
{
    return std::vector<BYTE>(bytes.begin(), bytes.end());
}

void PrintTo(const stored& value, std::ostream* out)
{
    static const char digits[] = "0123456789abcdef";
    *out << "type " << value.type << ":";
    for (const BYTE byte : value.bytes)
        *out << ' ' << digits[byte >> 4] << digits[byte & 0xF];
}

tessel::unique_hkey create_key(HKEY root, const std::wstring& path, REGSAM view)
{
    tessel::unique_hkey key;
    const LONG status =
        RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.put(), nullptr);
    EXPECT_EQ(ERROR_SUCCESS, status) << "RegCreateKeyExW " << narrow(path);
    return key;
}

std::optional<stored> read_value(HKEY key, const std::wstring& name)
{
    stored value;
    DWORD size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    value.bytes.resize(size + 1);
    DWORD read = size + 1;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, name.c_str(), nullptr, &value.type, value.bytes.data(), &read));
    value.bytes.resize(read);
    return value;
}

void delete_tree(HKEY root, const std::wstring& path, REGSAM view)
{
    tessel::unique_hkey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, key.put()) != ERROR_SUCCESS)
        return;
    RegDeleteTreeW(key.get(), nullptr);
    key.reset();
    RegDeleteKeyExW(root, path.c_str(), view, 0);
}

namespace {

void take_snapshot(HKEY key, const std::wstring& relative, tree& into, REGSAM view)
{
    auto& values = into[relative];
    wchar_t name[16384];
    for (DWORD index = 0;; ++index) {
        DWORD length = 16384;
        if (RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        const std::wstring value_name(name, length);
        values[value_name] = read_value(key, value_name).value_or(stored{});
    }
    std::vector<std::wstring> subkeys;
    for (DWORD index = 0;; ++index) {
        DWORD length = 16384;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.emplace_back(name, length);
    }
    for (const std::wstring& subkey : subkeys) {
        tessel::unique_hkey child;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(key, subkey.c_str(), 0, KEY_READ | view, child.put()))
            << narrow(subkey);
        take_snapshot(child.get(), relative.empty() ? subkey : relative + L"\\" + subkey, into, view);
    }
}

} // namespace

tree snapshot(HKEY root, const std::wstring& path, REGSAM view)
{
    tree taken;
    tessel::unique_hkey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS)
        take_snapshot(key.get(), L"", taken, view);
    return taken;
}

std::vector<BYTE> file_bytes(const std::wstring& path)
{
    const tessel::unique_file_handle file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(file.is_valid()) << narrow(path);
    std::vector<BYTE> bytes;
    BYTE chunk[65536];
    DWORD read = 0;
    while (file && ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0)
        bytes.insert(bytes.end(), chunk, chunk + read);
    return bytes;
}

std::wstring file_text(const std::wstring& path)
{
    const std::vector<BYTE> bytes = file_bytes(path);
    EXPECT_TRUE(bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) << "no UTF-16LE byte-order mark";
    if (bytes.size() < 2)
        return {};
    std::wstring text((bytes.size() - 2) / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), bytes.data() + 2, text.size() * sizeof(wchar_t));
    return text;
}

void write_file(const std::wstring& path, const std::vector<BYTE>& bytes)
{
    const tessel::unique_file_handle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.is_valid()) << narrow(path);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr));
}

namespace {

std::wstring windows_folder()
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
    EXPECT_TRUE(length > 0 && length < MAX_PATH);
    return std::wstring(folder, length);
}

std::wstring system_folder()
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    EXPECT_TRUE(length > 0 && length < MAX_PATH);
    return std::wstring(folder, length);
}

// Runs `program` with `arguments` and waits for it; its exit code. With
// `native`, the path is taken as a 64-bit process would see it: this 32-bit
// process is otherwise given the 32-bit regedit.exe for the Windows folder's.
DWORD run(const std::wstring& program, const std::wstring& arguments, bool native = false)
{
    std::wstring command = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    void* redirection = nullptr;
    if (native) {
        EXPECT_TRUE(Wow64DisableWow64FsRedirection(&redirection));
    }
    const BOOL started = CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS,
                                        nullptr, nullptr, &startup, &process);
    const DWORD error = GetLastError();
    if (native) {
        EXPECT_TRUE(Wow64RevertWow64FsRedirection(redirection));
    }
    if (!started) {
        SetLastError(error);
        ADD_FAILURE() << "CreateProcess " << narrow(program) << " (" << GetLastError() << ")";
        return DWORD(-1);
    }
    const tessel::unique_handle process_handle(process.hProcess);
    const tessel::unique_handle thread_handle(process.hThread);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 60000));
    DWORD code = DWORD(-1);
    GetExitCodeProcess(process.hProcess, &code);
    return code;
}

} // namespace

DWORD import_file(importer by, const std::wstring& file)
{
    const std::wstring quoted = L"\"" + file + L"\"";
    switch (by) {
    case importer::reg_64_switch:
        return run(system_folder() + L"\\reg.exe", L"import " + quoted + L" /reg:64");
    case importer::reg_64_bit:
        return run(windows_folder() + L"\\Sysnative\\reg.exe", L"import " + quoted);
    case importer::regedit_64_bit:
        return run(windows_folder() + L"\\regedit.exe", L"/s " + quoted, true);
    }
    return DWORD(-1);
}

void PrintTo(importer by, std::ostream* out)
{
    static const char* const names[] = {"reg_64_switch", "reg_64_bit", "regedit_64_bit"};
    *out << names[int(by)];
}

DWORD reg_import(const std::wstring& file)
{
    return import_file(importer::reg_64_switch, file);
}

std::wstring current_user_sid()
{
    tessel::unique_handle token;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()));
    BYTE buffer[512];
    DWORD size = 0;
    EXPECT_TRUE(GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size));
    wchar_t* text = nullptr;
    EXPECT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text));
    const tessel::unique_local_memory owned(text);
    return text ? std::wstring(text) : std::wstring();
}

std::wstring fresh_folder(const std::wstring& name)
{
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring folder = std::wstring(temp, length) + name + L"\\";
    WIN32_FIND_DATAW found;
    const tessel::unique_find_handle search(FindFirstFileW((folder + L"*").c_str(), &found));
    if (search) {
        do {
            DeleteFileW((folder + found.cFileName).c_str());
        } while (FindNextFileW(search.get(), &found));
    }
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}
