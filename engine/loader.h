// Scancore.dll, the engine's client library, loaded from the suite's shared
// engine folder with its entries bound by name. An entry the library does not
// export stays null.
#pragma once

#include "engine/scancore_interface.h"
#include "tessel/unique_any.h"

#include <string>

namespace Scancore {

struct entries
{
    SCR_connect_fn connect = nullptr;
    SCR_close_fn close = nullptr;
    SCR_get_engine_state_fn get_engine_state = nullptr;
    SCR_activate_protection_fn activate_protection = nullptr;
    SCR_deactivate_protection_fn deactivate_protection = nullptr;
    SCR_set_engine_settings_fn set_engine_settings = nullptr;
    SCR_set_exclusions_fn set_exclusions = nullptr;  // the remover's client only
    SCR_set_default_exts_fn set_default_exts = nullptr;
    SCR_get_quarantine_items_fn get_quarantine_items = nullptr;
    SCR_restore_quarantine_items_fn restore_quarantine_items = nullptr;
    SCR_delete_quarantine_items_fn delete_quarantine_items = nullptr;
    SCR_restore_and_exclude_quarantine_items_fn restore_and_exclude_quarantine_items = nullptr;  // ditto
    SCR_start_scanning_fn start_scanning = nullptr;
    SCR_stop_scanning_fn stop_scanning = nullptr;
    SCR_scan_object_fn scan_object = nullptr;
    SCR_start_updating_fn start_updating = nullptr;
    SCR_cancel_updating_fn cancel_updating = nullptr;
    SCR_set_schedule_settings_fn set_schedule_settings = nullptr;
    SCR_delete_log_file_fn delete_log_file = nullptr;
    SCR_stop_watch_service_fn stop_watch_service = nullptr;
};

// The engine's library in the engine's folder (family/names.h); empty when
// the shell does not know the folder.
std::wstring library_path();

class Loader
{
public:
    // Loads the library (its own dependencies found in its folder) and binds
    // the entries; raises tessel::exception_w "Scancore.dll is not found.
    // errCode %d" when it cannot be loaded.
    explicit Loader(const std::wstring& path);
    virtual ~Loader();  // frees the library
    Loader(const Loader&) = delete;
    Loader& operator=(const Loader&) = delete;

    const entries& entry() const { return entries_; }

private:
    tessel::unique_module module_;
    entries entries_;
};

} // namespace Scancore
