// The one table of the product family's names and places: the product's
// programs, autorun values, installer codes, data folders, shortcuts and
// registry keys; the sibling product's; the suite framework's and the common
// tray's programs, folders and keys; the engine's services, driver, folders
// and keys. Nothing else in the remover spells them.
//
// Names that stand alone are given here, as the members' initial values. The
// names that follow the maker, the product, the sibling or the tools folder,
// and the lists that hold them, are derived in names.cpp, and only there, by
// the functions at the end: a struct made without them holds its fixed names
// alone.
//
// Every folder and file is a place (one of the shell's folders and the path
// below it) and every key names its root and parent, so that whoever walks
// the table, such as the report of what is left, reaches what the stages
// reach without asking them.
#pragma once

#include "family/product.h"

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace family {

// A folder or file: the shell folder (a CSIDL_ value) it lies in and the path
// below that folder, without a leading backslash. A folder's path ends with a
// backslash where the run names it so.
struct place {
    int shell_folder = 0;
    std::wstring path;
};

// A registry key (the 32-bit view, as the family's 32-bit setups write it):
// its root, its parent's path and its own name.
struct key {
    HKEY root = nullptr;
    std::wstring parent;
    std::wstring name;
};

// A Windows service: its name and its program's file name.
struct service {
    std::string name;
    std::string program;
};

// The suite framework's own folder name under the common program files and
// application data folders, and its key under Software.
inline constexpr wchar_t common_suite[] = L"Common Sundrel Suite";

// The anti-malware engine, which the family's products share: the same for
// every maker.
struct engine_names {
    // Its folder, and the library, the filter driver's information file and
    // the two services' programs in it.
    place folder{CSIDL_PROGRAM_FILES_COMMON, std::wstring(common_suite) + L"\\Scancore\\"};
    std::wstring library = L"Scancore.dll";
    std::string driver_information_file = "scrfsfilter.inf";
    service watch{"AV Watch Service", "ScrWatchService.exe"};
    service scanning{"Scancore Scanning Service", "ScrScanningService.exe"};
    // The watch-service stopper's two builds, shipped beside the remover: for
    // engines 1.5.91 to 2.1.4 and 2.1.5 to 2.1.9.
    std::string stopper_2_1_1 = "Quietus_2.1.1-2.1.4.exe";
    std::string stopper_2_1_5 = "Quietus_2.1.5-2.1.9.exe";
    // Its data, then the suite's shared folders above the engine's (removed
    // when empty); the program one also names the SharedDLLs counters.
    place data_folder{CSIDL_COMMON_APPDATA, std::wstring(common_suite) + L"\\Scancore\\"};
    place shared_data_folder{CSIDL_COMMON_APPDATA, common_suite};
    place shared_program_folder{CSIDL_PROGRAM_FILES_COMMON, common_suite};
    std::vector<place> caches{{CSIDL_COMMON_APPDATA, L"clp"}, {CSIDL_APPDATA, L"clp"}};
    // Removed with their subtrees.
    std::vector<key> keys{{HKEY_LOCAL_MACHINE, L"Software\\" + std::wstring(common_suite), L"Scancore"},
                          {HKEY_LOCAL_MACHINE, L"Software", L"AntimalwareSolution"}};
};

// The suite framework ("Sundrel 3.1.x") of a maker.
struct suite_names {
    // The suite's own line in its product list; its client library, looked
    // for in the tray folder and the suite folder; the suite folder's
    // language files; a product's suite configuration, in the product's data
    // folder under the common application data.
    std::wstring product_key = L"SUNDREL";
    std::wstring library = L"Harrowlink.dll";
    std::wstring languages = L"Languages";
    std::wstring configuration = L"suite.cfg";

    // Derived from the maker.
    std::wstring name;             // "Suite", or the maker's name followed by " Suite"
    std::wstring service_name;
    std::wstring service_program;
    std::wstring launcher;         // the launcher program's base name
    place folder;                  // Program Files\<maker>\: the suite's and the maker's program folder
    std::vector<place> data_folders;
    place maker_data_folder;       // CommonAppData\<maker>, removed when empty
    // Texts the key paths of the suite's installer components hold, and the
    // patterns of its files' SharedDLLs counters.
    std::vector<std::wstring> component_key_paths;
    std::vector<std::wstring> counter_patterns;
    key identity;                  // the machine's identity in the suite
};

// The common tray of a maker, which the family's products share.
struct tray_names {
    // Its folder's name (under the maker's program and data folders), its
    // autorun value (the machine's Run key), its own configuration, the
    // lower-case configuration names of the sibling and of this product, and
    // the page library whose presence means that the tray hears "/quit".
    std::wstring folder_name = L"Tray";
    std::wstring autorun = L"CommonSundrelTray";
    std::wstring own_configuration = L"sdtray.xml";
    std::wstring sibling_configuration = L"zorna.xml";
    std::wstring product_configuration = L"qelva.xml";
    std::wstring page_library = L"qzhtml.dll";

    // Derived from the maker (and the folder, product and program names the
    // tray's removal is given).
    std::wstring program;                  // the maker's name followed by "Tray.exe"
    place folder;                          // Program Files\<maker>\Tray\ .
    place program_path;
    place configurations;                  // its "Configurations\" under the common data
    place product_configuration_file;      // this product's file there
    place product_icon;
    std::vector<place> data_folders;       // common and this user's data
    std::vector<place> profile_folders;    // in every profile, relative to the profile folder
    key registry;
    std::vector<std::wstring> component_key_paths;
    std::wstring counter_pattern;
};

// The product the remover takes away.
struct product_names {
    // Its short name: its line in the suite's product list, its key under the
    // maker's and the suite's keys, its folder in the maker's data, its
    // library's name and its tray configuration's. Its installer feature,
    // its two installer components (packed codes), and the texts the key
    // paths of its components shared with the sibling hold.
    std::wstring product_key = L"QELVA";
    std::wstring feature = L"QLV";
    std::vector<std::wstring> component_codes{L"17E4A1C502B3D4F6A8C9E0F1B2D3C4A5",
                                              L"2B7C9D0E4F6A8B1C3D5E7F9A0B2C4D6E"};
    std::vector<std::wstring> shared_component_texts{L"upd-qelva.png", L"qelva.xml", L"uninstall\\pellamore",
                                                     L"QELVA\\OppositeProductForTranslations",
                                                     L"Kessavane\\Pellamore"};
    // Subkeys of HKLM Software whose lower-case names begin with these.
    std::vector<std::wstring> software_key_prefixes{L"pellamore", L"stageserver"};

    // Derived from the profile.
    std::wstring name;
    std::wstring upgrade_code;
    std::wstring administrator_test_title;
    std::vector<std::string> programs;      // its tray, its messaging program, the launcher
    std::vector<std::wstring> guard_autoruns;
    place install_folder;                   // where it is when the Uninstall key does not say
    // Data folders in the order they go, the pattern of the files its
    // installation caches hold, and the cache that goes only with the sibling.
    std::vector<place> data_folders;
    std::string installation_cache_pattern;
    place shared_installation_cache;
    // Keys removed with their subtrees, then those removed only when empty.
    std::vector<key> keys;
    std::vector<key> parent_keys;
    // The program menus' group folder, the program's own shortcut (also on
    // the desktop) and the family's tools shortcut.
    std::string shortcut_group;
    std::string shortcut;
    std::string tools_shortcut;
    // The tools folder, the product's folder in it and its picture.
    place tools_folder;
    place tools_product_folder;
    place tools_picture;
};

// The sibling product, which shares the suite and the engine.
struct sibling_names {
    // Its line in the suite's product list, its installer upgrade code, its
    // tray program; and the autorun value of a third product of the family,
    // the one that lives in the current user's Run key.
    std::wstring product_key = L"ZORNA";
    std::wstring upgrade_code = L"{9E4D2B71-0C3A-4F85-B6D9-2E17A5C0F348}";
    std::string tray = "zornaTray.exe";
    std::wstring third_product_autorun = L"Lintorra";

    // Derived from the profile.
    std::wstring name;
    place tray_path;                        // Program Files\<maker>\<sibling>\<tray>
};

// The maker's own places.
struct maker_names {
    std::wstring name;                      // also the display name of the suite's Uninstall entry
    place program_folder;                   // Program Files\<maker>\ .
    place app_data_folder;
    place common_data_folder;
    std::string virtual_store;              // its folder under ProgramData in every profile's virtual store
};

struct names {
    maker_names maker;
    product_names product;
    sibling_names sibling;
    suite_names suite;
    tray_names tray;
    engine_names engine;
};

// The whole table for a profile.
names names_of(const ProductProfile& profile);

// The suite of a maker, its names derived from the maker; or with the suite,
// service and service program names given.
suite_names suite_of(const std::wstring& maker);
suite_names suite_of(const std::wstring& maker, const std::wstring& name, const std::wstring& service_name,
                     const std::wstring& service_program);

// The common tray of a maker, its names derived from the maker; or with the
// tray folder's name, the product's short name and the tray program given.
tray_names tray_of(const std::wstring& maker);
tray_names tray_of(const std::wstring& maker, const std::wstring& folder_name, const std::wstring& product_key,
                   const std::wstring& program);

} // namespace family
