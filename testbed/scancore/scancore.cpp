// Scancore.dll: the engine library. Each connection runs a thread of its own
// that sends the start-up reports (engine state, settings, schedule,
// protection state), carries out requests (stop the watch service, new
// settings) and calls back on that thread.
//
// Knobs, section [Scancore] of testbed.ini (see testbed/README.md):
//   connect_fails        1: SCR_connect returns 0
//   connect_delay_ms     pause before the first report
//   report_interval_ms   pause between two reports
//   reports              start-up reports in order: state, settings, schedule,
//                        protection, exclusions, state:<code> (default: the
//                        first four); a report left out is never sent
//   state                engine state codes sent by the state report, in order
//                        (default 1; -1 is the bad state)
//   protection           protection flag sent (default 1)
//   stop_result          result of SCR_stop_watch_service (default 0; else nothing happens)
//   stop_service         0: confirm without stopping the watch service
//   stop_confirm_ms      pause between the service's end and the confirmation;
//                        -1: never confirm
//   table                13, 14 or 15: callback table read, overriding the version rule
//   engine_version       version text in the settings record
#include "engine/scancore_interface.h"
#include "engine/records.h"
#include "testbed/common/environment.h"
#include "testbed/common/names.h"
#include "tessel/unique_any.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace {

using namespace testbed;

// The entries of a callback table this engine calls, whatever its size.
struct callback_slots
{
    scr_engine_state_callback engine_state = nullptr;
    scr_engine_settings_callback engine_settings = nullptr;
    scr_exclusions_callback exclusions = nullptr;
    scr_ap_state_callback ap_state = nullptr;
    scr_schedule_settings_callback schedule_settings = nullptr;
    scr_watch_service_stopped_callback watch_service_stopped = nullptr;
};

callback_slots read_table(const void* table, int size)
{
    callback_slots slots;
    if (size == 15) {
        const auto* t = static_cast<const scr_callbacks15*>(table);
        slots = {t->engine_state, t->engine_settings, t->exclusions, t->ap_state, t->schedule_settings,
                 t->watch_service_stopped};
    } else if (size == 14) {
        const auto* t = static_cast<const scr_callbacks14*>(table);
        slots = {t->engine_state, t->engine_settings, nullptr, t->ap_state, t->schedule_settings,
                 t->watch_service_stopped};
    } else {
        const auto* t = static_cast<const scr_callbacks13*>(table);
        slots = {t->engine_state, t->engine_settings, nullptr, t->ap_state, nullptr, t->watch_service_stopped};
    }
    return slots;
}

// What a freshly installed engine reports.
av::engine_settings factory_settings()
{
    av::engine_settings s;
    s.engine_version = L"2.1.12.0";
    s.engine_def_version = L"20240115.1";
    s.engine_def_date = 133494624000000000LL;  // 2024-01-15 as a file time
    s.detect_spyware = 1;
    s.detect_viruses = 1;
    s.use_extensions = 1;
    s.extensions = {L"exe", L"dll", L"com", L"scr"};
    s.ap_max_scan_file_size = 10240;
    s.ap_max_scan_arc_size = 300;
    s.ap_scan_type = 1;
    s.ap_heu_level = 1;
    s.ap_try_disinfect = 1;
    s.upd_s.update_url = L"http://updates.scancore.invalid/definitions";
    s.upd_s.proxy_port = 8080;
    s.upd_s.is_automatic = 1;
    return s;
}

av::schedule_settings factory_schedule()
{
    av::schedule_settings s;
    s.day_of_month = 1;
    s.time = 12 * 60;
    s.weekdays = 0x3E;  // Monday to Friday
    s.options.paths = {L"C:\\"};
    s.options.scan_type = 1;
    s.options.scan_local_machine = 1;
    s.options.scan_memory = 1;
    s.options.heu_level = 1;
    s.options.try_disinfect = 1;
    s.options.use_extensions = 1;
    s.options.detect_spyware = 1;
    s.options.detect_viruses = 1;
    return s;
}

std::wstring engine_folder()
{
    return folder_of(own_module_path());
}

std::wstring version_text()
{
    file_version version = read_file_version(engine_folder() + L"ScrScanningService.exe");
    if (!version.found)
        return L"2.1.12.0";
    return std::to_wstring(version.major) + L"." + std::to_wstring(version.minor) + L"." +
           std::to_wstring(version.build) + L"." + std::to_wstring(version.revision);
}

struct request
{
    enum class kind { stop_watch_service, set_settings, set_schedule, report_state, set_protection };
    explicit request(kind k) : what(k) {}

    kind what;
    std::optional<av::engine_settings> settings;
    std::optional<av::schedule_settings> schedule;
    bool stop_service = true;
    int confirm_ms = 0;
    uint8_t protection = 0;
};

class connection
{
public:
    connection(scr_handle handle, void* context, const void* table, int table_size)
        : handle_(handle), context_(context), table_size_(table_size), slots_(read_table(table, table_size))
    {
        settings knobs = own_settings();
        settings_.engine_version = knobs.text(L"engine_version", version_text());
        settings_.upd_s.proxy_type = 0;
        protection_ = static_cast<uint8_t>(knobs.integer(L"protection", 1));
        worker_ = std::thread([this] { run(); });
    }

    // Ends the connection's thread. Called from a callback, the thread cannot
    // wait for itself: it then frees the connection when the callback returns,
    // and close answers false; otherwise the caller frees it.
    bool close()
    {
        bool own_thread = worker_.get_id() == std::this_thread::get_id();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
            free_on_exit_ = own_thread;
        }
        wake_.notify_all();
        if (own_thread) {
            worker_.detach();
            return false;
        }
        worker_.join();
        return true;
    }

    void post(request r)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(std::move(r));
        }
        wake_.notify_all();
    }

    int table_size() const { return table_size_; }

private:
    // Sleeps unless the connection is being closed; false once it is.
    bool pause(int ms)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (ms > 0)
            wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return closing_; });
        return !closing_;
    }

    bool closing()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return closing_;
    }

    void run()
    {
        serve();
        bool free_this = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            free_this = free_on_exit_;
        }
        if (free_this)
            delete this;
    }

    void serve()
    {
        settings knobs = own_settings();
        if (!pause(knobs.integer(L"connect_delay_ms", 0)))
            return;
        send_start_up_reports(knobs);
        for (;;) {
            std::optional<request> next;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return closing_ || !requests_.empty(); });
                if (closing_)
                    return;
                next = std::move(requests_.front());
                requests_.pop_front();
            }
            carry_out(*next);
        }
    }

    void send_start_up_reports(const settings& knobs)
    {
        int interval = knobs.integer(L"report_interval_ms", 0);
        std::wstring order = knobs.text(L"reports", L"state,settings,schedule,protection");
        bool first = true;
        for (const std::wstring& report : split_list(order)) {
            // "state" sends the codes of the state knob; "state:<code>" one code.
            std::vector<std::wstring> codes;
            if (equal_no_case(report, L"state"))
                codes = split_list(knobs.text(L"state", L"1"));
            else if (report.size() > 6 && equal_no_case(report.substr(0, 6), L"state:"))
                codes = {report.substr(6)};
            if (!codes.empty()) {
                for (const std::wstring& code : codes) {
                    if (!first && !pause(interval))
                        return;
                    first = false;
                    last_state_ = static_cast<int32_t>(std::wcstol(code.c_str(), nullptr, 10));
                    send_state();
                }
                continue;
            }
            if (!first && !pause(interval))
                return;
            first = false;
            if (equal_no_case(report, L"settings"))
                send_settings();
            else if (equal_no_case(report, L"schedule"))
                send_schedule();
            else if (equal_no_case(report, L"protection"))
                send_protection();
            else if (equal_no_case(report, L"exclusions"))
                send_exclusions();
        }
    }

    void carry_out(request& r)
    {
        switch (r.what) {
        case request::kind::stop_watch_service:
            stop_watch_service(r.stop_service, r.confirm_ms);
            break;
        case request::kind::set_settings:
            settings_ = std::move(*r.settings);
            send_settings();
            break;
        case request::kind::set_schedule:
            schedule_ = std::move(*r.schedule);
            send_schedule();
            break;
        case request::kind::report_state:
            send_state();
            break;
        case request::kind::set_protection:
            protection_ = r.protection;
            send_protection();
            break;
        }
    }

    void send_state()
    {
        trace(L"engine %u: state %d", handle_, last_state_);
        if (slots_.engine_state)
            slots_.engine_state(context_, last_state_);
    }

    void send_settings()
    {
        trace(L"engine %u: settings", handle_);
        if (!slots_.engine_settings)
            return;
        av::engine_settings sent = settings_;
        // Only the engines that read the 14-entry table know the proxy type.
        if (table_size_ != 14)
            sent.upd_s.proxy_type = 0;
        av::engine_settings_record record(sent);
        slots_.engine_settings(context_, &record.get());
    }

    void send_schedule()
    {
        trace(L"engine %u: schedule", handle_);
        if (!slots_.schedule_settings)
            return;
        av::schedule_settings_record record(schedule_);
        slots_.schedule_settings(context_, &record.get());
    }

    void send_protection()
    {
        trace(L"engine %u: protection %u", handle_, protection_);
        if (slots_.ap_state)
            slots_.ap_state(context_, protection_);
    }

    void send_exclusions()
    {
        trace(L"engine %u: exclusions", handle_);
        if (!slots_.exclusions)
            return;
        av::text_list_record directories(settings_.exclusions);
        av::text_list_record files(av::text_list{});
        scr_exclusions record{directories.get(), files.get()};
        slots_.exclusions(context_, &record);
    }

    void stop_watch_service(bool stop_service, int confirm_ms)
    {
        if (stop_service && !wait_for_watch_service_end())
            return;
        if (confirm_ms < 0) {
            trace(L"engine %u: stop confirmation withheld", handle_);
            return;
        }
        if (!pause(confirm_ms))
            return;
        trace(L"engine %u: watch service stopped", handle_);
        if (slots_.watch_service_stopped)
            slots_.watch_service_stopped(context_);
    }

    // Asks the running watch service to stop and waits until its process has
    // ended. True when it is down (or was not running); false when it could
    // not be asked or the connection is closed meanwhile.
    bool wait_for_watch_service_end()
    {
        tessel::unique_service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        tessel::unique_service_handle service(
            manager ? OpenServiceW(manager.get(), watch_service_name, SERVICE_QUERY_STATUS) : nullptr);
        SERVICE_STATUS_PROCESS status{};
        DWORD size = 0;
        if (!service || !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                                              reinterpret_cast<BYTE*>(&status), sizeof status, &size) ||
            status.dwCurrentState == SERVICE_STOPPED) {
            trace(L"engine %u: watch service is not running", handle_);
            return true;
        }
        tessel::unique_handle process(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
        tessel::unique_handle request_event(OpenEventW(EVENT_MODIFY_STATE, FALSE, watch_stop_request_event));
        if (!process || !request_event) {
            trace(L"engine %u: cannot reach the watch service (%lu)", handle_, GetLastError());
            return false;
        }
        trace(L"engine %u: asking the watch service to stop", handle_);
        SetEvent(request_event.get());
        while (WaitForSingleObject(process.get(), 50) == WAIT_TIMEOUT) {
            if (closing())
                return false;
        }
        return true;
    }

    const scr_handle handle_;
    void* const context_;
    const int table_size_;
    const callback_slots slots_;

    // Touched by the worker thread only once it runs.
    int32_t last_state_ = SCR_state_running;
    uint8_t protection_ = 1;
    av::engine_settings settings_ = factory_settings();
    av::schedule_settings schedule_ = factory_schedule();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<request> requests_;
    bool closing_ = false;
    bool free_on_exit_ = false;
    std::thread worker_;
};

// Live connections by handle. Never destroyed: at process exit the workers
// are gone already and must not be joined.
std::mutex& registry_lock()
{
    static auto* lock = new std::mutex;
    return *lock;
}

std::map<scr_handle, connection*>& registry()
{
    static auto* connections = new std::map<scr_handle, connection*>;
    return *connections;
}

scr_handle next_handle = 0x5C000000;

// Runs what on the connection under the registry lock, so that SCR_close
// cannot free it meanwhile; SCR_bad_parameters for an unknown handle.
template <typename F>
int32_t with_connection(scr_handle handle, F what)
{
    std::lock_guard<std::mutex> lock(registry_lock());
    auto found = registry().find(handle);
    if (found == registry().end())
        return SCR_bad_parameters;
    return what(*found->second);
}

int32_t post(scr_handle handle, request r)
{
    return with_connection(handle, [&](connection& c) {
        c.post(std::move(r));
        return SCR_success;
    });
}

}  // namespace

extern "C" {

scr_handle SCR_CALL SCR_connect(void* context, const void* callbacks)
{
    settings knobs = own_settings();
    if (!callbacks || knobs.integer(L"connect_fails", 0)) {
        trace(L"connect refused");
        return 0;
    }
    int table_size = engine_table_size(engine_folder());
    std::lock_guard<std::mutex> lock(registry_lock());
    scr_handle handle = ++next_handle;
    registry()[handle] = new connection(handle, context, callbacks, table_size);
    trace(L"engine %u: connected, %d-entry table", handle, table_size);
    return handle;
}

void SCR_CALL SCR_close(scr_handle engine)
{
    connection* closed = nullptr;
    {
        std::lock_guard<std::mutex> lock(registry_lock());
        auto found = registry().find(engine);
        if (found == registry().end())
            return;
        closed = found->second;
        registry().erase(found);
    }
    trace(L"engine %u: closing", engine);
    if (closed->close())
        delete closed;
    trace(L"engine %u: closed", engine);
}

int32_t SCR_CALL SCR_stop_watch_service(scr_handle engine)
{
    settings knobs = own_settings();
    int32_t result = knobs.integer(L"stop_result", SCR_success);
    trace(L"engine %u: stop_watch_service -> %d", engine, result);
    if (result != SCR_success)
        return result;
    request r(request::kind::stop_watch_service);
    r.stop_service = knobs.integer(L"stop_service", 1) != 0;
    r.confirm_ms = knobs.integer(L"stop_confirm_ms", 0);
    return post(engine, std::move(r));
}

int32_t SCR_CALL SCR_set_engine_settings(scr_handle engine, const scr_engine_settings* settings)
{
    if (!settings)
        return SCR_bad_parameters;
    request r(request::kind::set_settings);
    r.settings.emplace(*settings);
    return post(engine, std::move(r));
}

int32_t SCR_CALL SCR_set_schedule_settings(scr_handle engine, const scr_schedule_settings* schedule)
{
    if (!schedule)
        return SCR_bad_parameters;
    int32_t table_size = with_connection(engine, [](connection& c) { return c.table_size(); });
    if (table_size == 13)
        return SCR_failed;  // these engines have no schedule
    request r(request::kind::set_schedule);
    r.schedule.emplace(*schedule);
    return post(engine, std::move(r));
}

int32_t SCR_CALL SCR_get_engine_state(scr_handle engine)
{
    return post(engine, request(request::kind::report_state));
}

int32_t SCR_CALL SCR_activate_protection(scr_handle engine)
{
    request r(request::kind::set_protection);
    r.protection = 1;
    return post(engine, std::move(r));
}

int32_t SCR_CALL SCR_deactivate_protection(scr_handle engine)
{
    request r(request::kind::set_protection);
    r.protection = 0;
    return post(engine, std::move(r));
}

// The rest is accepted and does nothing: no caller of this engine uses them.
static int32_t accepted(scr_handle engine)
{
    return with_connection(engine, [](connection&) { return SCR_success; });
}

int32_t SCR_CALL SCR_set_exclusions(scr_handle engine, const scr_exclusions*) { return accepted(engine); }
int32_t SCR_CALL SCR_set_default_exts(scr_handle engine) { return accepted(engine); }
int32_t SCR_CALL SCR_get_quarantine_items(scr_handle engine) { return accepted(engine); }
int32_t SCR_CALL SCR_restore_quarantine_items(scr_handle engine, const scr_text_list*) { return accepted(engine); }
int32_t SCR_CALL SCR_delete_quarantine_items(scr_handle engine, const scr_text_list*) { return accepted(engine); }
int32_t SCR_CALL SCR_restore_and_exclude_quarantine_items(scr_handle engine, const scr_text_list*)
{
    return accepted(engine);
}
int32_t SCR_CALL SCR_start_scanning(scr_handle engine, const scr_scan_options*) { return accepted(engine); }
int32_t SCR_CALL SCR_stop_scanning(scr_handle engine) { return accepted(engine); }
int32_t SCR_CALL SCR_scan_object(scr_handle engine, const wchar_t*) { return accepted(engine); }
int32_t SCR_CALL SCR_start_updating(scr_handle engine) { return accepted(engine); }
int32_t SCR_CALL SCR_cancel_updating(scr_handle engine) { return accepted(engine); }
int32_t SCR_CALL SCR_delete_log_file(scr_handle engine) { return accepted(engine); }

}  // extern "C"
