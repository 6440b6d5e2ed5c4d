// A small client of the engine library for the tests: loads Scancore.dll,
// connects with a callback table of the given size and records every callback.
#pragma once

#include "engine/scancore_interface.h"
#include "engine/records.h"
#include "tessel/unique_any.h"

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace testbed::tests {

struct engine_report
{
    std::string kind;  // "state", "settings", "schedule", "protection", "exclusions", "stopped"
    int32_t value = 0; // state code or protection flag
    DWORD thread = 0;  // thread that called back
};

class engine_client
{
public:
    engine_client(const std::wstring& library_path, int table_size);
    ~engine_client();

    scr_handle connect();
    void close();
    int32_t stop_watch_service();
    int32_t set_engine_settings(const scr_engine_settings& settings);

    // Waits until `count` reports of this kind have arrived; false on time-out.
    bool wait_for(const std::string& kind, DWORD limit_ms, size_t count = 1);
    std::vector<engine_report> reports();
    std::vector<std::string> kinds();
    size_t count(const std::string& kind);
    av::engine_settings last_settings();
    av::schedule_settings last_schedule();
    size_t exclusions_received();

    scr_handle handle() const { return handle_; }

private:
    static void SCR_CALL on_state(void* context, int32_t state);
    static void SCR_CALL on_settings(void* context, const scr_engine_settings* settings);
    static void SCR_CALL on_exclusions(void* context, const scr_exclusions* exclusions);
    static void SCR_CALL on_protection(void* context, uint8_t active);
    static void SCR_CALL on_schedule(void* context, const scr_schedule_settings* schedule);
    static void SCR_CALL on_stopped(void* context);
    void record(const std::string& kind, int32_t value);

    tessel::unique_module library_;
    int table_size_;
    scr_callbacks15 table15_{};
    scr_callbacks14 table14_{};
    scr_callbacks13 table13_{};
    scr_handle handle_ = 0;

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<engine_report> reports_;
    av::engine_settings settings_;
    av::schedule_settings schedule_;
    size_t exclusions_ = 0;
};

}  // namespace testbed::tests
