#include "remover/leftovers.h"

#include "family/names.h"
#include "installer_db/packed_guid.h"
#include "tessel/log/log.h"
#include "tessel/registry2/key.h"
#include "tessel/unicode/unicode.h"
#include "toolbox/environment.h"
#include "toolbox/processes.h"
#include "toolbox/restart.h"
#include "toolbox/services.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

using tessel::registry2::open_subkey;
using tessel::registry2::view;

const wchar_t uninstall_path[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const wchar_t run_path[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t upgrade_codes_path[] = L"Software\\Classes\\Installer\\UpgradeCodes\\";

class leftovers
{
public:
    void folder(const std::string& path)
    {
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            still_there("the folder " + path);
    }
    void file(const std::string& path)
    {
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            still_there("the file " + path);
    }
    void uninstall_entry(const std::wstring& name)
    {
        if (open_subkey(HKEY_LOCAL_MACHINE, uninstall_path + name, KEY_READ, view::default_view))
            still_there(L"the Uninstall entry " + name);
    }
    // The installer's record of the packages with this upgrade code (kept in
    // the 64-bit view on 64-bit Windows, shared by both views).
    void installer_registration(const std::wstring& upgrade_code)
    {
        const std::wstring packed = pack_guid(upgrade_code);
        if (!packed.empty() && open_subkey(HKEY_LOCAL_MACHINE, upgrade_codes_path + packed, KEY_READ, view::view_64))
            still_there(L"the Windows Installer registration of upgrade code " + upgrade_code);
    }
    void service(const std::string& name)
    {
        if (is_service_installed(name))
            still_there("the service " + name);
    }
    void process(const std::string& name)
    {
        if (is_process_running(adjust_process_name(name)))
            still_there("the running program " + name);
    }
    // What the run met in use where nothing waits for the restart.
    void in_use(const std::wstring& path)
    {
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            still_there(L"the file or folder " + path + L", in use");
    }
    void autorun(const std::wstring& value)
    {
        const tessel::unique_hkey run = open_subkey(HKEY_LOCAL_MACHINE, run_path, KEY_READ, view::default_view);
        if (run && RegQueryValueExW(run.get(), value.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
            still_there(L"the autorun value " + value);
    }

    bool none() const { return found_ == 0; }

private:
    void still_there(const std::string& what)
    {
        ++found_;
        tessel::log::info("Still on the machine: %s", what.c_str());
    }
    void still_there(const std::wstring& what)
    {
        ++found_;
        tessel::log::info(L"Still on the machine: %ls", what.c_str());
    }

    int found_ = 0;
};

// What the stages name in the family's table, where the run's record does not
// say otherwise.
void look(leftovers& left, const ProductInfo& info, bool everything_to_go)
{
    const family::names names = family::names_of(product_profile());
    left.folder(info.install_dir);
    for (const std::wstring& path : left_in_use())
        left.in_use(path);
    for (const std::wstring& entry : info.uninstall_keys)
        left.uninstall_entry(entry);
    for (const std::string& program : names.product.programs)
        left.process(program);
    for (const std::wstring& value : names.product.guard_autoruns)
        left.autorun(value);
    if (!everything_to_go)
        return;
    const family::engine_names& engine = names.engine;
    const family::suite_names& suite = names.suite;
    left.installer_registration(names.product.upgrade_code);
    left.folder(path_of(engine.folder));
    left.folder(path_of(engine.data_folder));
    const std::string suite_program = tessel::unicode::to_ansi(suite.service_program);
    left.file(path_of(suite.folder) + suite_program);
    left.service(tessel::unicode::to_ansi(suite.service_name));
    for (const family::service& service : {engine.watch, engine.scanning})
        left.service(service.name);
    for (const std::string& program :
         {suite_program, engine.watch.program, engine.scanning.program, tessel::unicode::to_ansi(names.tray.program)})
        left.process(program);
}

} // namespace

void report_leftovers(const ProductInfo& info, bool everything_to_go)
{
    tessel::log::info("**** Checking what is left ****");
    tessel::log::info("");
    try {
        leftovers left;
        look(left, info, everything_to_go);
        if (left.none())
            tessel::log::info(L"Nothing that the run removes is left of %ls.", product_profile().product_name.c_str());
    } catch (...) {
        tessel::log::log_current_exception("The check of what is left failed");
    }
    tessel::log::info("==================================================");
    tessel::log::info("");
}
