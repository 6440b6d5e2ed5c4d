#include "engine/loader.h"

#include "family/names.h"
#include "tessel/exception.h"

#include <shlobj.h>

namespace Scancore {

namespace {

template<class F>
void bind(HMODULE module, const char* name, F& entry)
{
    entry = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

std::wstring library_path()
{
    const family::engine_names engine;
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, engine.folder.shell_folder, nullptr, 0, folder)))
        return std::wstring();
    return std::wstring(folder) + L"\\" + engine.folder.path + engine.library;
}

Loader::Loader(const std::wstring& path)
    : module_(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH))
{
    if (!module_)
        throw tessel::exception_w(L"Scancore.dll is not found. errCode %d", static_cast<int>(GetLastError()));
    HMODULE m = module_.get();
    bind(m, "SCR_connect", entries_.connect);
    bind(m, "SCR_close", entries_.close);
    bind(m, "SCR_get_engine_state", entries_.get_engine_state);
    bind(m, "SCR_activate_protection", entries_.activate_protection);
    bind(m, "SCR_deactivate_protection", entries_.deactivate_protection);
    bind(m, "SCR_set_engine_settings", entries_.set_engine_settings);
#ifndef AV_QUIETUS_CLIENT
    bind(m, "SCR_set_exclusions", entries_.set_exclusions);
#endif
    bind(m, "SCR_set_default_exts", entries_.set_default_exts);
    bind(m, "SCR_get_quarantine_items", entries_.get_quarantine_items);
    bind(m, "SCR_restore_quarantine_items", entries_.restore_quarantine_items);
    bind(m, "SCR_delete_quarantine_items", entries_.delete_quarantine_items);
#ifndef AV_QUIETUS_CLIENT
    bind(m, "SCR_restore_and_exclude_quarantine_items", entries_.restore_and_exclude_quarantine_items);
#endif
    bind(m, "SCR_start_scanning", entries_.start_scanning);
    bind(m, "SCR_stop_scanning", entries_.stop_scanning);
    bind(m, "SCR_scan_object", entries_.scan_object);
    bind(m, "SCR_start_updating", entries_.start_updating);
    bind(m, "SCR_cancel_updating", entries_.cancel_updating);
    bind(m, "SCR_set_schedule_settings", entries_.set_schedule_settings);
    bind(m, "SCR_delete_log_file", entries_.delete_log_file);
    bind(m, "SCR_stop_watch_service", entries_.stop_watch_service);
}

Loader::~Loader() = default;

} // namespace Scancore
