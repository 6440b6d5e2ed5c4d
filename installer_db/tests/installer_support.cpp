#include "installer_support.h"

#include "checks.h"
#include "run_support.h"
#include "tessel/unique_any.h"

#include <stdexcept>

namespace installer_test {

const wchar_t pellamore_upgrade[] = L"{5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}";
const wchar_t pellamore_product[] = L"{7474D25A-55B7-4CB8-9D93-1FB2B1F3726B}";
const wchar_t ostravel_upgrade[] = L"{9E4D2B71-0C3A-4F85-B6D9-2E17A5C0F348}";
const wchar_t ostravel_product[] = L"{7DD6CF44-030E-4C40-8ED6-4CAED4A9754B}";
const wchar_t viewer_upgrade[] = L"{16463E1D-3FF8-44E4-A630-C533ED0E66B9}";
const wchar_t viewer_product[] = L"{716DC500-AB32-4E17-B062-282EA7470425}";
const wchar_t shared_languages_component[] = L"{5C1A4E71-3B20-6F4D-8A9C-0E1F2B3D4C5A}";
const wchar_t kelzip_component[] = L"{3C7F1C39-8BF6-454F-82FF-937C2E1A67A4}";
const wchar_t help_component[] = L"{E667DA36-FD9B-4390-8318-173F0B41B23E}";
const wchar_t tray_component[] = L"{BEBA90D3-1FB1-44FB-A1A0-57C4528A3045}";
const wchar_t common_tray_upgrade[] = L"{91D323B7-30F2-4503-BAEA-CA519B12F207}";
const wchar_t common_tray_product[] = L"{CF6B13EA-1408-4C58-8484-99F0081933AA}";
const wchar_t common_tray_qzhtml[] = L"{54AE3123-6660-450C-9880-4429FE7464DC}";

const wchar_t classes_installer[] = L"SOFTWARE\\Classes\\Installer";
const wchar_t machine_installer[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer";
const wchar_t system_user_data[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18";

namespace {

const wchar_t shared_dlls[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

using owned_key = tessel::unique_hkey;
using owned_handle = tessel::unique_handle;

owned_key open(const std::wstring& path, REGSAM access)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &key) != ERROR_SUCCESS)
        return owned_key();
    return owned_key(key);
}

owned_key create(HKEY root, const std::wstring& path, REGSAM view, DWORD options = 0)
{
    HKEY key = nullptr;
    const LONG result = RegCreateKeyExW(root, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS | view, nullptr, &key,
                                        nullptr);
    if (result != ERROR_SUCCESS)
        throw std::runtime_error("RegCreateKeyExW failed: " + std::to_string(result));
    return owned_key(key);
}

template<class Enumerate>
std::set<std::wstring> names_of(const std::wstring& path, REGSAM view, Enumerate enumerate)
{
    std::set<std::wstring> names;
    const owned_key key = open(path, KEY_READ | view);
    if (!key)
        return names;
    wchar_t name[300];
    for (DWORD index = 0;; ++index) {
        DWORD length = 300;
        if (enumerate(key.get(), index, name, &length) != ERROR_SUCCESS)
            return names;
        names.emplace(name, length);
    }
}

std::string package_path(const std::string& package)
{
    const std::string relative = program_folder() + "..\\testbed\\machine\\msi\\" + package + ".msi";
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(relative.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH)
        throw std::runtime_error("no full path for " + relative);
    return full;
}

} // namespace

DWORD install_package(const std::string& package)
{
    std::string command = "msiexec.exe /i \"" + package_path(package) + "\" /qn";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        throw std::runtime_error("cannot start " + command);
    const owned_handle process_handle(process.hProcess);
    const owned_handle thread_handle(process.hThread);
    if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 255);
        throw std::runtime_error(command + " did not finish");
    }
    DWORD exit_code = 0;
    GetExitCodeProcess(process.hProcess, &exit_code);
    return exit_code;
}

std::string install_packages(std::initializer_list<const char*> packages)
{
    std::string failures;
    for (const char* package : packages)
        if (const DWORD result = install_package(package))
            failures += std::string(package) + ": " + std::to_string(result) + " ";
    return failures;
}

INSTALLSTATE product_state(const wchar_t* product)
{
    return MsiQueryProductStateW(product);
}

INSTALLSTATE component_state(const wchar_t* product, const wchar_t* component)
{
    wchar_t path[MAX_PATH];
    DWORD length = MAX_PATH;
    return MsiGetComponentPathW(product, component, path, &length);
}

std::vector<std::wstring> related_products(const wchar_t* upgrade_code)
{
    std::vector<std::wstring> products;
    wchar_t product[39];
    for (DWORD index = 0; MsiEnumRelatedProductsW(upgrade_code, 0, index, product) == ERROR_SUCCESS; ++index)
        products.push_back(product);
    return products;
}

bool key_exists(const std::wstring& path, REGSAM view)
{
    return ::key_exists(HKEY_LOCAL_MACHINE, path, view);
}

std::set<std::wstring> subkeys_of(const std::wstring& path, REGSAM view)
{
    return names_of(path, view, [](HKEY key, DWORD index, wchar_t* name, DWORD* length) {
        return RegEnumKeyExW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}

std::set<std::wstring> values_of(const std::wstring& path, REGSAM view)
{
    return names_of(path, view, [](HKEY key, DWORD index, wchar_t* name, DWORD* length) {
        return RegEnumValueW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}

void write_string(const std::wstring& path, const std::wstring& name, const std::wstring& text)
{
    const owned_key key = create(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY);
    RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   DWORD((text.size() + 1) * sizeof(wchar_t)));
}

void make_dangling_link(const std::wstring& path)
{
    const owned_key link = create(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY | KEY_CREATE_LINK, REG_OPTION_CREATE_LINK);
    // The target is a native path, stored without a terminator.
    const std::wstring target = L"\\Registry\\Machine\\Software\\InstallerDbTests\\Missing";
    const LONG result = RegSetValueExW(link.get(), L"SymbolicLinkValue", 0, REG_LINK,
                                       reinterpret_cast<const BYTE*>(target.data()),
                                       DWORD(target.size() * sizeof(wchar_t)));
    if (result != ERROR_SUCCESS)
        throw std::runtime_error("cannot make the link: " + std::to_string(result));
}

void copy_to_32_bit_view(const std::wstring& path)
{
    const owned_key source = open(path, KEY_READ | KEY_WOW64_64KEY);
    if (!source)
        throw std::runtime_error("nothing to copy");
    const owned_key target = create(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY);
    const LONG result = RegCopyTreeW(source.get(), nullptr, target.get());
    if (result != ERROR_SUCCESS)
        throw std::runtime_error("RegCopyTreeW failed: " + std::to_string(result));
}

std::optional<DWORD> shared_dll_counter(const std::wstring& file)
{
    DWORD count = 0;
    DWORD size = sizeof count;
    DWORD type = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, shared_dlls, file.c_str(), RRF_RT_REG_DWORD, &type, &count, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return count;
}

void set_shared_dll_counter(const std::wstring& file, DWORD count)
{
    const owned_key key = create(HKEY_LOCAL_MACHINE, shared_dlls, 0);
    RegSetValueExW(key.get(), file.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof count);
}

} // namespace installer_test
