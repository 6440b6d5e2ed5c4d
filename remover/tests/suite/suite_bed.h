// What the suite and tray tests share: the family laid by its own packages
// and doubles, the registry places they are checked in, and the log.
//
// These programs run from a folder of their own, where no Harrowlink.dll lies
// beside them: the library has to be found where the suite puts it.
#pragma once

#include "testbed/kit/kit.h"
#include "log_capture.h"
#include "texts.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace suite_bed {

// A double of the build (build/bin), copied into the folder.
std::wstring place(const std::wstring& double_name, const std::wstring& folder);
// msiexec /i of one of the test bed's packages ("suite", "tray"); its exit code.
DWORD install_package(const std::wstring& package);

std::wstring suite_folder();      // Program Files\Drummets\ .
std::wstring tray_folder();       // suite folder + Tray\ .
std::wstring configurations();    // CommonAppData\Drummets\Tray\Configurations\ .
std::wstring app_data();          // this user's, with a trailing backslash
std::wstring other_profile();     // C:\users\Second\ : a second user's profile
std::wstring other_app_data();    // its application data

// Writes the suite's product list, "KEY=Name" lines.
void register_products(const std::vector<std::wstring>& lines);
std::string product_list();       // its text, "" when missing

bool exists(const std::wstring& path);

// SharedDLLs counters of the 32-bit view, where the family's installers count.
std::optional<DWORD> shared_dll_counter(const std::wstring& file);
void set_shared_dll_counter(const std::wstring& file, DWORD count);

// Key paths of every installer component of the machine (64-bit view).
std::vector<std::wstring> component_key_paths();
bool any_component_contains(const std::wstring& text);

// A product registered with Windows Installer by hand (64-bit view): its
// product keys, and for each key path a component of its own holding the
// product's value; with an upgrade code (a GUID text), its value there.
void lay_installer_product(const std::wstring& packed_product, const std::vector<std::wstring>& key_paths,
                           const std::wstring& upgrade_code = std::wstring());
// Whether the classes still list the product (packed), as Windows Installer
// reads them.
bool installer_product_registered(const std::wstring& packed_product);

// HKLM key or value in this program's (32-bit) view.
bool key_exists(const std::wstring& path);
bool value_exists(const std::wstring& path, const std::wstring& name);

// Folders "Harrowlink.*" in the temporary folder: private copies of the library.
int private_copies();

bool has(const std::vector<std::string>& texts, const std::string& text);
void print_log(const char* title, const std::vector<std::string>& texts);

// The suite stage of the stage sequence itself, for the default maker and a
// product whose record knows known_email already (none by default): its
// heading, its guard, which writes guard_line, and its closing; the library
// is freed at the end of the guarded block (an error skips that: the
// remover's destruction frees it).
extern const char guard_line[];
extern const std::vector<std::string> stage_heading;
extern const std::vector<std::string> stage_closing;
struct stage_outcome {
    bool sibling_registered = false;
    std::string email;  // the record's after the stage
    bool framework_removed = false;
};
stage_outcome run_suite_stage(const std::string& known_email = std::string());

// The common tray's files laid by hand: the program and qzhtml.dll (when
// asked) in the tray folder, the configuration files given, its registry key
// and autorun value, and counters of 2 for its two files.
void lay_tray(const std::vector<std::wstring>& configuration_files, bool with_qzhtml);
std::wstring tray_program();  // tray folder + DrummetsTray.exe
extern const wchar_t tray_key[];  // SOFTWARE\Drummets\Tray
extern const wchar_t run_key[];   // SOFTWARE\Microsoft\Windows\CurrentVersion\Run
// Starts the tray program and waits (30 s at most) until it says it runs, so
// that it hears a "/quit". False when it did not.
bool start_tray(std::unique_ptr<testbed::kit::process>& tray);
// Data of the maker in this user's and a second user's application data.
void lay_profiles_data();

// Takes the family off the machine again after a test.
void clear_machine();

} // namespace suite_bed
