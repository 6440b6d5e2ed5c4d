// The family's names that follow the profile, derived from it: the only place
// that knows how a maker, a product, a sibling or a tools folder turns into
// programs, folders and keys.
#include "family/names.h"

#include "tessel/unicode/unicode.h"

using tessel::unicode::to_ansi;

namespace family {

namespace {

// The product's tray and messaging programs, whatever the maker.
const wchar_t product_tray[] = L"qelvaTray.exe";
const wchar_t messaging_program[] = L"Chimebox.exe";

// The suite's programs and files in the maker's program folder besides its
// launcher and service program, and its other data folder.
const wchar_t trace_gatherer[] = L"Tracegather.exe";
const wchar_t host_marker[] = L"Hostmark.exe";
const wchar_t host_marker_gateway[] = L"HostmarkGateway.dll";
const wchar_t host_marker_key[] = L"Hostmark";
const wchar_t suite_other_data[] = L"Ribbonet";

// The default maker's programs are named after "Drummet", not the folder.
const wchar_t default_launcher[] = L"DrummetLauncher";
const wchar_t default_suite_service_program[] = L"DrummetSuiteService.exe";
const wchar_t suite_service_program[] = L"SuiteService.exe";

// The suite's per-user folder keeps the default maker's suite name.
const wchar_t default_suite_name[] = L"Suite";

// Cache folders of the product's installations in the maker's common data:
// the product's own two (after its installer feature) and the shared one.
const wchar_t installation_cache[] = L"InstallationCache";
const wchar_t install_cache[] = L"InstallCache";

const wchar_t tray_program_suffix[] = L"Tray.exe";
const wchar_t tools_picture[] = L"Folder.jpg";

place in(int shell_folder, const std::wstring& path)
{
    return {shell_folder, path};
}

// The file name without its extension: "Tracegather.exe" is "Tracegather".
std::wstring stem(const std::wstring& file_name)
{
    return file_name.substr(0, file_name.rfind(L'.'));
}

std::wstring launcher_of(const std::wstring& maker)
{
    return is_default_maker(maker) ? default_launcher : maker + L"Launcher";
}

std::wstring tray_program_of(const std::wstring& maker)
{
    return maker + tray_program_suffix;
}

maker_names maker_of(const ProductProfile& profile)
{
    const std::wstring& maker = profile.maker_folder;
    maker_names made;
    made.name = maker;
    made.program_folder = in(CSIDL_PROGRAM_FILES, maker + L"\\");
    made.app_data_folder = in(CSIDL_APPDATA, maker);
    made.common_data_folder = in(CSIDL_COMMON_APPDATA, maker);
    made.virtual_store = to_ansi(maker);
    return made;
}

product_names product_of(const ProductProfile& profile, const suite_names& suite)
{
    const std::wstring& maker = profile.maker_folder;
    const std::wstring& product = profile.product_name;
    const std::wstring tools = maker + L"\\" + profile.tools_folder + L"\\";
    product_names made;
    made.name = product;
    made.upgrade_code = profile.product_id;
    made.administrator_test_title = product + L" force remover";
    made.programs = {to_ansi(product_tray), to_ansi(messaging_program),
                      to_ansi(suite.launcher + L".exe")};
    made.guard_autoruns = {made.product_key + L"guard", L"pellamoreguard", product + L"guard"};
    made.install_folder = in(CSIDL_PROGRAM_FILES, maker + L"\\" + product + L"\\");

    made.data_folders = {in(CSIDL_APPDATA, maker + L"\\" + made.product_key),
                          in(CSIDL_APPDATA, maker + L"\\" + product),
                          in(CSIDL_APPDATA, product),
                          in(CSIDL_COMMON_APPDATA, product),
                          in(CSIDL_COMMON_APPDATA, maker + L"\\" + made.feature + installation_cache),
                          in(CSIDL_COMMON_APPDATA, maker + L"\\" + made.feature + install_cache),
                          in(CSIDL_COMMON_APPDATA, maker + L"\\" + product)};
    made.installation_cache_pattern = to_ansi(product + L".*");
    made.shared_installation_cache = in(CSIDL_COMMON_APPDATA, maker + L"\\" + install_cache);

    made.keys = {{HKEY_CURRENT_USER, L"Software\\" + maker, made.product_key},
                  {HKEY_CURRENT_USER, L"Software\\" + std::wstring(common_suite), made.product_key},
                  {HKEY_LOCAL_MACHINE, L"Software\\" + maker, made.product_key}};
    made.parent_keys = {{HKEY_LOCAL_MACHINE, L"Software", maker}, {HKEY_LOCAL_MACHINE, L"Software", common_suite}};

    made.shortcut_group = to_ansi(maker);
    made.shortcut = to_ansi(product);
    made.tools_shortcut = to_ansi(profile.tools_folder);
    made.tools_folder = in(CSIDL_PROGRAM_FILES, tools);
    made.tools_product_folder = in(CSIDL_PROGRAM_FILES, tools + product + L"\\");
    made.tools_picture = in(CSIDL_PROGRAM_FILES, tools + product + L"\\" + tools_picture);
    return made;
}

sibling_names sibling_of(const ProductProfile& profile)
{
    sibling_names made;
    made.name = profile.sibling_name;
    made.tray_path = in(CSIDL_PROGRAM_FILES, profile.maker_folder + L"\\" + profile.sibling_name + L"\\" +
                                                 tessel::unicode::from_ansi(made.tray));
    return made;
}

} // namespace

suite_names suite_of(const std::wstring& maker)
{
    const std::wstring name = is_default_maker(maker) ? default_suite_name : maker + L" " + default_suite_name;
    return suite_of(maker, name, name + L" Service",
                    is_default_maker(maker) ? default_suite_service_program : suite_service_program);
}

suite_names suite_of(const std::wstring& maker, const std::wstring& name, const std::wstring& service_name,
                     const std::wstring& service_program)
{
    const std::wstring in_maker = maker + L"\\";
    const std::wstring page_library = tray_names().page_library;
    suite_names made;
    made.name = name;
    made.service_name = service_name;
    made.service_program = service_program;
    made.launcher = launcher_of(maker);
    made.folder = in(CSIDL_PROGRAM_FILES, in_maker);
    made.data_folders = {in(CSIDL_COMMON_APPDATA, in_maker + name), in(CSIDL_COMMON_APPDATA, in_maker + suite_other_data)};
    made.maker_data_folder = in(CSIDL_COMMON_APPDATA, maker);
    made.component_key_paths = {made.launcher + L".exe",         service_program,
                                 in_maker + page_library,          in_maker + trace_gatherer,
                                 in_maker + host_marker,           in_maker + host_marker_gateway};
    // Patterns match parts of paths: "Hostmark.exe" keeps its extension, or
    // it would match the gateway too.
    made.counter_patterns = {in_maker + made.launcher,           in_maker + stem(service_program),
                              in_maker + stem(trace_gatherer),     in_maker + stem(page_library),
                              in_maker + host_marker,              in_maker + stem(host_marker_gateway)};
    made.identity = {HKEY_LOCAL_MACHINE, L"SOFTWARE\\" + maker, host_marker_key};
    return made;
}

tray_names tray_of(const std::wstring& maker)
{
    const tray_names fixed;
    return tray_of(maker, fixed.folder_name, product_names().product_key, tray_program_of(maker));
}

tray_names tray_of(const std::wstring& maker, const std::wstring& folder_name, const std::wstring& product_key,
                   const std::wstring& program)
{
    const std::wstring tray = maker + L"\\" + folder_name;
    const std::wstring configurations = tray + L"\\Configurations\\";
    tray_names made;
    made.folder_name = folder_name;
    made.program = program;
    made.folder = in(CSIDL_PROGRAM_FILES, tray + L"\\");
    made.program_path = in(CSIDL_PROGRAM_FILES, tray + L"\\" + program);
    made.configurations = in(CSIDL_COMMON_APPDATA, configurations);
    made.product_configuration_file = in(CSIDL_COMMON_APPDATA, configurations + product_key + L".xml");
    made.product_icon = in(CSIDL_PROGRAM_FILES, tray + L"\\HTML\\gfx\\Icon_SDTRAY-UPD-" + product_key + L".png");
    made.data_folders = {in(CSIDL_COMMON_APPDATA, tray), in(CSIDL_APPDATA, tray)};
    made.profile_folders = {in(CSIDL_APPDATA, maker + L"\\" + default_suite_name), in(CSIDL_APPDATA, maker)};
    made.registry = {HKEY_LOCAL_MACHINE, L"Software\\" + maker, folder_name};
    // The tray's own program is known to the installer by the default
    // maker's name, whatever the maker.
    const std::wstring in_tray = folder_name + L"\\";
    made.component_key_paths = {tray_program_of(default_product_profile().maker_folder),
                                 in_tray + messaging_program, in_tray + made.page_library,
                                 in_tray + suite_names().library};
    made.counter_pattern = tray;
    return made;
}

names names_of(const ProductProfile& profile)
{
    names table;
    table.maker = maker_of(profile);
    table.suite = suite_of(profile.maker_folder);
    table.product = product_of(profile, table.suite);
    table.sibling = sibling_of(profile);
    table.tray = tray_of(profile.maker_folder);
    return table;
}

} // namespace family
