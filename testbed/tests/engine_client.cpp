#include "testbed/tests/engine_client.h"

#include "testbed/common/handles.h"

#include <chrono>
#include <stdexcept>

namespace testbed::tests {

engine_client::engine_client(const std::wstring& library_path, int table_size)
    : library_(LoadLibraryExW(library_path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)), table_size_(table_size)
{
    if (!library_)
        throw std::runtime_error("engine library not loaded, error " + std::to_string(GetLastError()));
    table15_ = {on_state, on_settings, on_exclusions, on_protection, nullptr, nullptr, nullptr, nullptr,
                nullptr,  nullptr,     nullptr,       nullptr,       nullptr, on_schedule, on_stopped};
    table14_.engine_state = table13_.engine_state = on_state;
    table14_.engine_settings = table13_.engine_settings = on_settings;
    table14_.ap_state = table13_.ap_state = on_protection;
    table14_.schedule_settings = on_schedule;
    table14_.watch_service_stopped = table13_.watch_service_stopped = on_stopped;
}

engine_client::~engine_client()
{
    close();
}

scr_handle engine_client::connect()
{
    auto connect = bound_export<SCR_connect_fn>(library_.get(), "SCR_connect");
    const void* table = table_size_ == 13   ? static_cast<const void*>(&table13_)
                        : table_size_ == 14 ? static_cast<const void*>(&table14_)
                                            : static_cast<const void*>(&table15_);
    handle_ = connect(this, table);
    return handle_;
}

void engine_client::close()
{
    if (handle_)
        bound_export<SCR_close_fn>(library_.get(), "SCR_close")(handle_);
    handle_ = 0;
}

int32_t engine_client::stop_watch_service()
{
    return bound_export<SCR_stop_watch_service_fn>(library_.get(), "SCR_stop_watch_service")(handle_);
}

int32_t engine_client::set_engine_settings(const scr_engine_settings& settings)
{
    return bound_export<SCR_set_engine_settings_fn>(library_.get(), "SCR_set_engine_settings")(handle_, &settings);
}

bool engine_client::wait_for(const std::string& kind, DWORD limit_ms, size_t wanted)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::milliseconds(limit_ms), [&] {
        size_t n = 0;
        for (const engine_report& r : reports_)
            n += r.kind == kind;
        return n >= wanted;
    });
}

std::vector<engine_report> engine_client::reports()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
}

std::vector<std::string> engine_client::kinds()
{
    std::vector<std::string> result;
    for (const engine_report& r : reports())
        result.push_back(r.kind);
    return result;
}

size_t engine_client::count(const std::string& kind)
{
    size_t n = 0;
    for (const engine_report& r : reports())
        n += r.kind == kind;
    return n;
}

av::engine_settings engine_client::last_settings()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
}

av::schedule_settings engine_client::last_schedule()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return schedule_;
}

size_t engine_client::exclusions_received()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return exclusions_;
}

void engine_client::record(const std::string& kind, int32_t value)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reports_.push_back({kind, value, GetCurrentThreadId()});
    }
    arrived_.notify_all();
}

void SCR_CALL engine_client::on_state(void* context, int32_t state)
{
    static_cast<engine_client*>(context)->record("state", state);
}

void SCR_CALL engine_client::on_settings(void* context, const scr_engine_settings* settings)
{
    auto* self = static_cast<engine_client*>(context);
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->settings_ = av::engine_settings(*settings);
    }
    self->record("settings", 0);
}

void SCR_CALL engine_client::on_exclusions(void* context, const scr_exclusions* exclusions)
{
    auto* self = static_cast<engine_client*>(context);
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->exclusions_ = exclusions->directories.count + exclusions->files.count;
    }
    self->record("exclusions", 0);
}

void SCR_CALL engine_client::on_protection(void* context, uint8_t active)
{
    static_cast<engine_client*>(context)->record("protection", active);
}

void SCR_CALL engine_client::on_schedule(void* context, const scr_schedule_settings* schedule)
{
    auto* self = static_cast<engine_client*>(context);
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->schedule_ = av::schedule_settings(*schedule);
    }
    self->record("schedule", 0);
}

void SCR_CALL engine_client::on_stopped(void* context)
{
    static_cast<engine_client*>(context)->record("stopped", 0);
}

}  // namespace testbed::tests
