#include "engine/session.h"

#include "tessel/exception.h"
#include "tessel/format.h"
#include "tessel/log/log.h"
#include "tessel/mutex.h"
#include "tessel/unique_any.h"

#include <windows.h>

#include <atomic>

namespace av {

namespace {

tessel::unique_handle make_event(bool signalled)
{
    tessel::unique_handle event(CreateEventW(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr));
    if (!event)
        throw tessel::exception_w(L"Invalid handle, #%d", static_cast<int>(GetLastError()));
    return event;
}

// Shared by every session of the process and created before the program's
// entry runs; the events are manual reset.
struct process_state
{
    tessel::unique_handle state_signal = make_event(false);
    tessel::unique_handle settings_signal = make_event(false);
    tessel::unique_handle schedule_signal = make_event(false);
    tessel::unique_handle protection_signal = make_event(false);
    tessel::unique_handle settings_committed = make_event(true);
    tessel::unique_handle schedule_committed = make_event(true);

    std::atomic<std::int32_t> last_state{0};

    tessel::mutex settings_lock;  // guards the three below
    engine_settings settings;
    schedule_settings schedule;
    std::uint8_t protection = 0;

    Sundrel::BaseNotificationQueue<engine_settings> pending_settings;
    Sundrel::BaseNotificationQueue<schedule_settings> pending_schedule;
};

process_state shared;

constexpr std::int32_t library_bad_state = -1;

bool is_set(const tessel::unique_handle& event)
{
    return WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0;
}

bool all_signals_set()
{
    return is_set(shared.state_signal) && is_set(shared.settings_signal) && is_set(shared.schedule_signal) &&
           is_set(shared.protection_signal);
}

void log_exception(const wchar_t* context)
{
    tessel::log::write(tessel::log::level_exception, std::wstring(context));
}

// What the engine accepts of a settings change: every field of ours, scan type
// and heuristic level within 0 to 2, and always 300 as the largest archive.
scr_engine_settings as_sent(const engine_settings_record& record)
{
    scr_engine_settings sent = record.get();
    if (sent.ap_scan_type < 0 || sent.ap_scan_type > 2)
        sent.ap_scan_type = 0;
    if (sent.ap_heu_level < 0 || sent.ap_heu_level > 2)
        sent.ap_heu_level = 0;
    sent.ap_max_scan_arc_size = 300;
#ifndef AV_QUIETUS_CLIENT
    sent.update_proxy_type = 0;  // the engines of this client have no proxy type
#endif
    return sent;
}

} // namespace

class engine::impl
{
public:
    explicit impl(message_consumer* consumer) : consumer_(consumer), loader_(Scancore::library_path()) {}

    void connect()
    {
        const Scancore::entries& e = loader_.entry();
        if (!e.connect || !e.close || !e.stop_watch_service || !e.set_engine_settings || !e.set_schedule_settings)
            throw tessel::exception_w(L"Cannot create the engine instance");
        SetEvent(shared.settings_committed.get());
        SetEvent(shared.schedule_committed.get());
        handle_ = e.connect(this, &table_);
        if (!handle_)
            throw tessel::exception_w(L"Cannot create the engine instance");
    }

    void end()
    {
        try {
            commit_changes();
        } catch (...) {
            log_exception(L"av::engine::impl::~impl");
        }
        const HANDLE committed[] = {shared.settings_committed.get(), shared.schedule_committed.get()};
        WaitForMultipleObjects(2, committed, TRUE, 3000);
        loader_.entry().close(handle_);
        Sleep(300);
    }

    void commit_changes()
    {
        tessel::log::debug("engine::impl::commit_changes(1)");
#ifndef AV_QUIETUS_CLIENT
        tessel::log::debug("engine::impl::commit_changes: committing");
#endif
        if (shared.pending_settings.has_data()) {
            const engine_settings pending = shared.pending_settings.take();
            const engine_settings_record record(pending);
            const scr_engine_settings sent = as_sent(record);
            deliver_log(tessel::format(L"commiting settings: %s", to_text(engine_settings(sent)).c_str()));
            ResetEvent(shared.settings_committed.get());
            check_result(loader_.entry().set_engine_settings(handle_, &sent));
        } else {
            SetEvent(shared.settings_committed.get());
        }
        if (shared.pending_schedule.has_data()) {
            const schedule_settings pending = shared.pending_schedule.take();
            tessel::log::debug("engine::impl::commit_changes: shed settings: paths array: size: %d",
                               static_cast<int>(pending.options.paths.size()));
            const schedule_settings_record record(pending);
            ResetEvent(shared.schedule_committed.get());
            check_result(loader_.entry().set_schedule_settings(handle_, &record.get()));
        } else {
            SetEvent(shared.schedule_committed.get());
        }
    }

    void stop_watch_service() { check_result(loader_.entry().stop_watch_service(handle_)); }

private:
    // One reference while the consumer has it, released afterwards.
    void deliver(message* created)
    {
        message_ptr shared_message(created);
        consumer_->consume(shared_message);
    }

    void deliver_log(const std::wstring& text) { deliver(new write_to_log_message(text)); }

    // A start-up report, its data recorded: passed on at once once the set is
    // complete; otherwise its signal is set and the gathered set looked at.
    template<class Deliver>
    void gate(const tessel::unique_handle& signal, Deliver deliver_own)
    {
        if (all_signals_set()) {
            deliver_own();
            return;
        }
        SetEvent(signal.get());
        commit_delayed_callbacks();
    }

    engine_settings current_settings()
    {
        tessel::scope guard(&shared.settings_lock);
        return shared.settings;
    }

    schedule_settings current_schedule()
    {
        tessel::scope guard(&shared.settings_lock);
        return shared.schedule;
    }

    std::uint8_t current_protection()
    {
        tessel::scope guard(&shared.settings_lock);
        return shared.protection;
    }

    void commit_delayed_callbacks()
    {
        try {
            if (!all_signals_set()) {
                deliver_log(L"Waiting for all signals...");
                return;
            }
            deliver_log(L"Commit delayed callbacks");
            deliver(new engine_state_message(map_engine_state(shared.last_state)));
            deliver(new engine_settings_message(current_settings()));
            deliver(new scheduled_settings_message(current_schedule()));
            deliver(new ap_state_message(current_protection()));
        } catch (...) {
            log_exception(L"av::engine::impl::commit_delayed_callbacks");
        }
    }

    void on_state(std::int32_t code)
    {
        shared.last_state = code;
        if (!all_signals_set() && code != library_bad_state) {
            SetEvent(shared.state_signal.get());
            commit_delayed_callbacks();
            return;
        }
        deliver(new engine_state_message(map_engine_state(code)));
        if (code == library_bad_state) {
            deliver_log(L"Bad state(Reset all signals)");
            shared.pending_settings.clear();
            reset_engine_signals();
        }
    }

    void on_settings(const scr_engine_settings& record)
    {
        const engine_settings received(record);
        deliver_log(tessel::format(L"received settings: %s", to_text(received).c_str()));
        if (shared.pending_settings.has_data()) {
            deliver_log(L"WARNING: Consumers was not notified about changes because there are unsaved data");
            return;
        }
        SetEvent(shared.settings_committed.get());
        {
            tessel::scope guard(&shared.settings_lock);
            shared.settings = received;
        }
        gate(shared.settings_signal, [this] { deliver(new engine_settings_message(current_settings())); });
    }

    void on_schedule(const scr_schedule_settings& record)
    {
        const schedule_settings received(record);
        tessel::log::debug(L"Scheduler settings updated: \r\n%s", to_text(received).c_str());
        if (shared.pending_schedule.has_data()) {
            deliver_log(L"WARNING: Consumers was not notified about changes in schedule settings because there are "
                        L"unsaved data");
            return;
        }
        SetEvent(shared.schedule_committed.get());
        {
            tessel::scope guard(&shared.settings_lock);
            shared.schedule = received;
            tessel::log::debug("Number of paths for sched scan: %d", static_cast<int>(received.options.paths.size()));
        }
        gate(shared.schedule_signal, [this] { deliver(new scheduled_settings_message(current_schedule())); });
    }

    void on_ap_state(std::uint8_t active)
    {
        {
            tessel::scope guard(&shared.settings_lock);
            shared.protection = active;
        }
        gate(shared.protection_signal, [this] { deliver(new ap_state_message(current_protection())); });
    }

#ifndef AV_QUIETUS_CLIENT
    void on_exclusions(const scr_exclusions& record)
    {
        const exclusions lists{to_text_list(record.directories), to_text_list(record.files)};
        deliver_log(tessel::format(L"received exclusions: %d directory(ies) and %d file(s)",
                                   static_cast<int>(lists.directories.size()), static_cast<int>(lists.files.size())));
        deliver(new exclusions_message(lists));
    }
#endif

    static std::wstring text_of(const wchar_t* text) { return text ? text : L""; }

    static infection infection_of(const scr_infection* record)
    {
        return record ? infection{text_of(record->path), text_of(record->threat_name), record->action} : infection{};
    }

    // Runs one callback's work; whatever it raises stays here and is logged
    // with the callback's name.
    template<class Work>
    static void guarded(const wchar_t* context, Work work)
    {
        try {
            work();
        } catch (...) {
            log_exception(context);
        }
    }

    static impl* self(void* context) { return static_cast<impl*>(context); }

    static void SCR_CALL state_callback(void* context, std::int32_t state)
    {
        guarded(L"av::engine::impl::state_callback", [&] { self(context)->on_state(state); });
    }

    static void SCR_CALL settings_callback(void* context, const scr_engine_settings* settings)
    {
        guarded(L"av::engine::impl::settings_callback", [&] { self(context)->on_settings(*settings); });
    }

#ifndef AV_QUIETUS_CLIENT
    static void SCR_CALL exclusions_callback(void* context, const scr_exclusions* lists)
    {
        guarded(L"av::engine::impl::exclusions_callback", [&] { self(context)->on_exclusions(*lists); });
    }
#endif

    static void SCR_CALL ap_state_callback(void* context, std::uint8_t active)
    {
        guarded(L"av::engine::impl::ap_state_callback", [&] { self(context)->on_ap_state(active); });
    }

    static void SCR_CALL scan_callback(void* context, const scr_scanned_object* object, std::int32_t result)
    {
        guarded(L"av::engine::impl::scan_callback", [&] {
            scanned_object scanned = object ? scanned_object{text_of(object->path), object->flags} : scanned_object{};
            self(context)->deliver(new object_scanned_message(scanned, result));
        });
    }

    static void SCR_CALL scan_infection_callback(void* context, const scr_infection* found)
    {
        guarded(L"av::engine::impl::scan_infection_callback",
                [&] { self(context)->deliver(new infection_found_message(infection_of(found))); });
    }

    static void SCR_CALL running_scan_callback(void* context, const scr_scan_options* scan, std::int32_t files_scanned,
                                               std::int32_t infections, std::int32_t progress)
    {
        guarded(L"av::engine::impl::running_scan_callback", [&] {
            const scan_options options = scan ? scan_options(*scan) : scan_options();
            tessel::log::debug(L"Running scan...\r\n%s", to_text(options).c_str());
            self(context)->deliver(new running_scan_message(options, files_scanned, infections, progress));
        });
    }

    static void SCR_CALL ap_scan_infection_callback(void* context, const scr_infection* found)
    {
        guarded(L"av::engine::impl::ap_scan_infection_callback",
                [&] { self(context)->deliver(new ap_infection_found_message(infection_of(found))); });
    }

    static void SCR_CALL q_callback(void* context, std::int32_t change, const scr_quarantine_list* items)
    {
        guarded(L"av::engine::impl::q_callback", [&] {
            quarantine_list list;
            for (std::uint32_t i = 0; items && items->items && i < items->count; ++i) {
                const scr_quarantine_item& item = items->items[i];
                list.push_back({text_of(item.id), text_of(item.original_path), text_of(item.threat_name), item.date});
            }
            self(context)->deliver(new quarntine_changed_message(change, list));
        });
    }

    static void SCR_CALL update_state_callback(void* context, std::int32_t state)
    {
        guarded(L"av::engine::impl::update_state_callback",
                [&] { self(context)->deliver(new update_state_message(state)); });
    }

    static void SCR_CALL update_progress_callback(void* context, std::int32_t received, std::int32_t total,
                                                  std::int32_t files_done, std::int32_t files_total)
    {
        guarded(L"av::engine::impl::update_progress_callback", [&] {
            self(context)->deliver(new update_progress_message(received, total, files_done, files_total));
        });
    }

    static void SCR_CALL schedule_settings_callback(void* context, const scr_schedule_settings* schedule)
    {
        guarded(L"av::engine::impl::schedule_settings_callback", [&] { self(context)->on_schedule(*schedule); });
    }

    static void SCR_CALL watch_service_stopped_callback(void* context)
    {
        guarded(L"av::engine::impl::watch_service_stopped_callback",
                [&] { self(context)->deliver(new stop_watch_service_message()); });
    }

#ifndef AV_QUIETUS_CLIENT
    using callback_table = scr_callbacks15;
#else
    using callback_table = scr_callbacks14;
#endif

    static callback_table make_table()
    {
        callback_table table{};
        table.engine_state = state_callback;
        table.engine_settings = settings_callback;
#ifndef AV_QUIETUS_CLIENT
        table.exclusions = exclusions_callback;
#endif
        table.ap_state = ap_state_callback;
        table.scan = scan_callback;
        table.scan_infection = scan_infection_callback;
        table.running_scan = running_scan_callback;
        table.ap_infection = ap_scan_infection_callback;
        table.quarantine = q_callback;
        table.update_state = update_state_callback;
        table.update_progress = update_progress_callback;
        table.schedule_settings = schedule_settings_callback;
        table.watch_service_stopped = watch_service_stopped_callback;
        return table;
    }

    message_consumer* consumer_;
    scr_handle handle_ = 0;
    Scancore::Loader loader_;
    const callback_table table_ = make_table();
};

engine::engine(message_consumer* consumer) : impl_(std::make_unique<impl>(consumer))
{
    impl_->connect();
}

engine::~engine()
{
    impl_->end();
}

void engine::commit_changes()
{
    impl_->commit_changes();
}

void engine::stop_watch_service()
{
    impl_->stop_watch_service();
}

void check_result(std::int32_t code)
{
    switch (code) {
    case SCR_bad_parameters:
        throw tessel::exception_w(L"Bad parameters passed to the engine");
    case SCR_not_running:
        throw tessel::exception_w(L"The engine is not up and running");
    case SCR_failed:
        throw tessel::exception_w(L"The engine fails the operation");
    default:
        return;
    }
}

std::int32_t map_engine_state(std::int32_t code)
{
    if (code == library_bad_state)
        return bad;
    if (code == 0)
        return -1;
    if (code >= 1 && code <= 6)
        return code;
    return bad;
}

Sundrel::BaseNotificationQueue<engine_settings>& pending_engine_settings()
{
    return shared.pending_settings;
}

Sundrel::BaseNotificationQueue<schedule_settings>& pending_schedule_settings()
{
    return shared.pending_schedule;
}

void reset_engine_signals()
{
    ResetEvent(shared.state_signal.get());
    ResetEvent(shared.settings_signal.get());
    ResetEvent(shared.schedule_signal.get());
    ResetEvent(shared.protection_signal.get());
}

} // namespace av
