#include "suite_bed.h"

#include "installer_db/packed_guid.h"
#include "remover/stages.h"
#include "tessel/log/log.h"
#include "tessel/registry2/key.h"
#include "tessel/unique_any.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>

namespace suite_bed {

namespace {

const wchar_t shared_dlls[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const wchar_t components[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components";

std::wstring shell_folder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return std::wstring(path) + L"\\";
}

tessel::unique_hkey open_64(const std::wstring& path)
{
    tessel::unique_hkey key;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.put());
    return key;
}

std::vector<std::wstring> subkeys(HKEY key)
{
    std::vector<std::wstring> names;
    wchar_t name[300];
    for (DWORD i = 0;; ++i) {
        DWORD length = 300;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return names;
        names.emplace_back(name, length);
    }
}

std::vector<std::wstring> string_values(HKEY key)
{
    std::vector<std::wstring> texts;
    for (DWORD i = 0;; ++i) {
        wchar_t name[300];
        wchar_t data[1024] = {};
        DWORD length = 300, size = sizeof data - sizeof(wchar_t), type = 0;
        if (RegEnumValueW(key, i, name, &length, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
            ERROR_SUCCESS)
            return texts;
        if (type == REG_SZ)
            texts.emplace_back(data);
    }
}

} // namespace

std::wstring place(const std::wstring& double_name, const std::wstring& folder)
{
    return testbed::kit::copy_double(L"..\\" + double_name, folder);
}

DWORD install_package(const std::wstring& package)
{
    const std::wstring relative = testbed::kit::bin_folder() + L"..\\..\\testbed\\machine\\msi\\" + package + L".msi";
    wchar_t full[MAX_PATH] = {};
    GetFullPathNameW(relative.c_str(), MAX_PATH, full, nullptr);
    return testbed::kit::run(L"msiexec.exe /i \"" + std::wstring(full) + L"\" /qn", 120000);
}

std::wstring suite_folder() { return testbed::kit::program_files() + L"Drummets\\"; }
std::wstring tray_folder() { return suite_folder() + L"Tray\\"; }
std::wstring configurations() { return testbed::kit::common_app_data() + L"Drummets\\Tray\\Configurations\\"; }
std::wstring app_data() { return shell_folder(CSIDL_APPDATA); }

std::wstring other_profile()
{
    std::wstring mine = shell_folder(CSIDL_PROFILE);
    mine.pop_back();
    return mine.substr(0, mine.rfind(L'\\') + 1) + L"Second\\";
}

namespace {
std::wstring product_list_path()
{
    return testbed::kit::common_app_data() + L"Drummets\\Suite\\Products.ini";
}
} // namespace

void register_products(const std::vector<std::wstring>& lines)
{
    std::string text = "[Products]\r\n";
    for (const std::wstring& line : lines)
        text += narrow(line) + "\r\n";
    testbed::kit::write_file(product_list_path(), text);
}

std::string product_list()
{
    std::string text;
    tessel::unique_file_handle file(CreateFileW(product_list_path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
    if (!file)
        return text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    return text;
}

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<DWORD> shared_dll_counter(const std::wstring& file)
{
    try {
        return tessel::registry2::key(HKEY_LOCAL_MACHINE).open(shared_dlls, false).read_dword(file);
    } catch (const tessel::exception&) {
        return std::nullopt;
    }
}

void set_shared_dll_counter(const std::wstring& file, DWORD count)
{
    tessel::registry2::key(HKEY_LOCAL_MACHINE).open(shared_dlls, true).write_dword(file, count);
}

std::vector<std::wstring> component_key_paths()
{
    std::vector<std::wstring> paths;
    const tessel::unique_hkey all = open_64(components);
    if (!all)
        return paths;
    for (const std::wstring& component : subkeys(all.get())) {
        const tessel::unique_hkey one = open_64(std::wstring(components) + L"\\" + component);
        if (one)
            for (const std::wstring& path : string_values(one.get()))
                paths.push_back(path);
    }
    return paths;
}

bool any_component_contains(const std::wstring& text)
{
    for (const std::wstring& path : component_key_paths())
        if (path.find(text) != std::wstring::npos)
            return true;
    return false;
}

namespace {
const wchar_t classes_products[] = L"SOFTWARE\\Classes\\Installer\\Products\\";

void write_64(const std::wstring& path, const std::wstring& name, const std::wstring& text)
{
    tessel::registry2::key(HKEY_LOCAL_MACHINE, tessel::registry2::view::view_64)
        .open(path, true, tessel::registry2::view::view_64)
        .write_string(name, text);
}
} // namespace

void lay_installer_product(const std::wstring& packed_product, const std::vector<std::wstring>& key_paths,
                           const std::wstring& upgrade_code)
{
    write_64(classes_products + packed_product, L"ProductName", L"Laid by hand");
    write_64(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\" +
                 packed_product + L"\\InstallProperties",
             L"DisplayName", L"Laid by hand");
    for (std::size_t index = 0; index < key_paths.size(); ++index) {
        wchar_t digits[3];
        swprintf(digits, 3, L"%02X", unsigned(index));
        write_64(std::wstring(components) + L"\\" + packed_product.substr(0, 30) + digits, packed_product,
                 key_paths[index]);
    }
    if (!upgrade_code.empty())
        write_64(L"SOFTWARE\\Classes\\Installer\\UpgradeCodes\\" + pack_guid(upgrade_code), packed_product, L"");
}

bool installer_product_registered(const std::wstring& packed_product)
{
    return bool(open_64(classes_products + packed_product));
}

bool key_exists(const std::wstring& path)
{
    tessel::unique_hkey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

bool value_exists(const std::wstring& path, const std::wstring& name)
{
    tessel::unique_hkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return false;
    return RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

int private_copies()
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    WIN32_FIND_DATAW found;
    tessel::unique_find_handle search(FindFirstFileW((std::wstring(temp) + L"Harrowlink.*").c_str(), &found));
    if (!search)
        return 0;
    int count = 0;
    do
        ++count;
    while (FindNextFileW(search.get(), &found));
    return count;
}

bool has(const std::vector<std::string>& texts, const std::string& text)
{
    for (const std::string& line : texts)
        if (line == text)
            return true;
    return false;
}

void print_log(const char* title, const std::vector<std::string>& texts)
{
    std::printf("---- %s\n", title);
    for (const std::string& line : texts)
        std::printf("%s\n", line.c_str());
    std::printf("----\n");
    std::fflush(stdout);
}

const char guard_line[] = "Unregistering in Sundrel caused problems with the remover...";
const std::vector<std::string> stage_heading = {"**** Deal with Sundrel 3.1.x ****", ""};
const std::vector<std::string> stage_closing = {"==================================================", ""};

stage_outcome run_suite_stage(const std::string& known_email)
{
    // As at the start of a run: nothing decided yet.
    sibling_registered = false;
    ProductInfo info("Pellamore");
    info.user_email = known_email;
    stage_outcome outcome;
    outcome.framework_removed = ::run_suite_stage(info);
    outcome.sibling_registered = sibling_registered;
    outcome.email = info.user_email;
    return outcome;
}

const wchar_t tray_key[] = L"SOFTWARE\\Drummets\\Tray";
const wchar_t run_key[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

std::wstring tray_program() { return tray_folder() + L"DrummetsTray.exe"; }

bool start_tray(std::unique_ptr<testbed::kit::process>& tray)
{
    tray = std::make_unique<testbed::kit::process>(L"\"" + tray_program() + L"\"");
    const std::string running = "DrummetsTray.exe[" + std::to_string(tray->id()) + "] running";
    for (int poll = 0; poll < 300; ++poll) {
        if (testbed::kit::trace_text().find(running) != std::string::npos)
            return true;
        Sleep(100);
    }
    return false;
}

void lay_tray(const std::vector<std::wstring>& configuration_files, bool with_qzhtml)
{
    place(L"DrummetsTray.exe", tray_folder());
    if (with_qzhtml)
        testbed::kit::write_file(tray_folder() + L"qzhtml.dll", "qzhtml");
    testbed::kit::write_file(tray_folder() + L"HTML\\gfx\\Icon_SDTRAY-UPD-QELVA.png", "icon");
    for (const std::wstring& name : configuration_files)
        testbed::kit::write_file(configurations() + name, "<configuration/>");
    const tessel::registry2::key machine(HKEY_LOCAL_MACHINE);
    machine.open(tray_key, true).write_string(L"Version", L"2.4.18");
    machine.open(run_key, true).write_string(L"CommonSundrelTray", L"\"" + tray_program() + L"\"");
    set_shared_dll_counter(tray_program(), 2);
    set_shared_dll_counter(tray_folder() + L"qzhtml.dll", 2);
}

std::wstring other_app_data()
{
    return other_profile() + app_data().substr(shell_folder(CSIDL_PROFILE).size());
}

void lay_profiles_data()
{
    using testbed::kit::write_file;
    write_file(app_data() + L"Drummets\\Suite\\settings.xml", "<suite/>");
    write_file(app_data() + L"Drummets\\Tray\\settings.xml", "<tray/>");
    write_file(other_app_data() + L"Drummets\\Tray\\settings.xml", "<tray/>");
    write_file(other_app_data() + L"Drummets\\Ostravel\\user.xml", "<user/>");
    write_file(other_app_data() + L"Kelmar\\keep.txt", "not the family's");
}

void clear_machine()
{
    testbed::kit::remove_all_doubles();
    testbed::kit::clear_knobs();
    testbed::kit::remove_folder(suite_folder());
    testbed::kit::remove_folder(testbed::kit::common_app_data() + L"Drummets");
    testbed::kit::remove_folder(app_data() + L"Drummets");
    testbed::kit::remove_folder(other_profile());
    for (const wchar_t* key : {L"Hostmark", L"Tray"})
        try {
            tessel::registry2::key(HKEY_LOCAL_MACHINE).open(L"SOFTWARE\\Drummets", false).remove_key(key, true);
        } catch (const tessel::exception&) {
        }
}

} // namespace suite_bed
