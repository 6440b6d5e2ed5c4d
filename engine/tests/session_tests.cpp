// The engine client against the test bed's Scancore.dll: library binding,
// result check and state mapping, the text forms, the pending queue, and the
// session's gathering of the start-up reports. Built once per variant: the
// remover's client talks to an engine of the 15-entry table, Quietus's to one
// of the 14-entry table.
#include "engine/loader.h"
#include "engine/messages.h"
#include "engine/session.h"
#include "tessel/log/log.h"
#include "testbed/kit/kit.h"
#include "texts.h"
#include "log_capture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace testbed;

#ifdef AV_QUIETUS_CLIENT
const wchar_t* const engine_version = L"2.1.7";  // 14-entry table
#else
const wchar_t* const engine_version = L"2.1.12";  // 15-entry table
#endif

std::string raised_by(const std::function<void()>& call)
{
    try {
        call();
    } catch (const tessel::exception_w& e) {
        return narrow(e.message_w());
    }
    return "(nothing raised)";
}

// Records what the session delivers, one text per message.
class recorder : public av::message_consumer, public av::message_handler
{
public:
    void consume(av::message_ptr message) override { message->dispatch(*this); }

    void on_engine_state(std::int32_t state) override { add("state " + std::to_string(state)); }
    void on_engine_settings(const av::engine_settings& settings) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        last_settings_ = settings;
        add_locked("settings " + narrow(settings.engine_version));
    }
#ifndef AV_QUIETUS_CLIENT
    void on_exclusions(const av::exclusions& lists) override
    {
        add("exclusions " + std::to_string(lists.directories.size()));
    }
#endif
    void on_ap_state(std::uint8_t active) override { add("protection " + std::to_string(active)); }
    void on_scheduled_settings(const av::schedule_settings& schedule) override
    {
        add("schedule " + std::to_string(schedule.options.paths.size()));
    }
    void on_write_to_log(const std::wstring& text) override { add("log " + narrow(text)); }
    void on_stop_watch_service() override { add("stopped"); }

    // Everything but the settings texts, which say what came in, not what was passed on.
    std::vector<std::string> delivered()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> result;
        for (const std::string& item : items_)
            if (item.rfind("log received settings: ", 0) != 0)
                result.push_back(item);
        return result;
    }

    std::vector<std::string> all()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return items_;
    }

    av::engine_settings last_settings()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return last_settings_;
    }

    bool wait_for_count(const std::string& item, size_t wanted, int limit_ms = 15000)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return arrived_.wait_for(lock, std::chrono::milliseconds(limit_ms), [&] {
            size_t n = 0;
            for (const std::string& each : items_)
                n += each == item;
            return n >= wanted;
        });
    }

private:
    void add(const std::string& item)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        add_locked(item);
    }

    void add_locked(const std::string& item)
    {
        items_.push_back(item);
        arrived_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::string> items_;
    av::engine_settings last_settings_;
};

class engine_session : public ::testing::Test
{
protected:
    void SetUp() override
    {
        kit::install_engine(engine_version);
        av::reset_engine_signals();
        av::pending_engine_settings().clear();
        av::pending_schedule_settings().clear();
    }

    void TearDown() override
    {
        kit::remove_all_doubles();
        kit::remove_folder(kit::engine_folder());
    }

    static void knob(const std::wstring& key, const std::wstring& value)
    {
        kit::set_knob(L"Scancore", key, value, kit::engine_folder());
    }

    // Opens a session with the reports in this order, waits for the last
    // expected delivery and ends the session.
    static std::vector<std::string> session_with(const std::wstring& reports, const std::string& last,
                                                 size_t last_count = 1)
    {
        knob(L"reports", reports);
        recorder consumer;
        {
            av::engine session(&consumer);
            EXPECT_TRUE(consumer.wait_for_count(last, last_count)) << ::testing::PrintToString(consumer.all());
        }
        return consumer.delivered();
    }
};

const std::vector<std::string> complete_set = {"log Commit delayed callbacks", "state 1",
#ifdef AV_QUIETUS_CLIENT
                                               "settings 2.1.7.0",
#else
                                               "settings 2.1.12.0",
#endif
                                               "schedule 1", "protection 1"};

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<std::string> waiting(size_t n)
{
    return std::vector<std::string>(n, "log Waiting for all signals...");
}

TEST_F(engine_session, the_fourth_report_in_any_order_delivers_the_gathered_set_once)
{
    for (const wchar_t* order : {L"state,settings,schedule,protection", L"protection,schedule,settings,state",
                                 L"settings,protection,state,schedule"}) {
        SCOPED_TRACE(narrow(order));
        av::reset_engine_signals();
        EXPECT_EQ(waiting(3) + complete_set, session_with(order, "protection 1"));
    }
}

TEST_F(engine_session, three_reports_of_four_give_only_waiting_texts)
{
    knob(L"reports", L"state,settings,schedule");
    recorder consumer;
    {
        av::engine session(&consumer);
        ASSERT_TRUE(consumer.wait_for_count("log Waiting for all signals...", 3));
        Sleep(500);
    }
    EXPECT_EQ(waiting(3), consumer.delivered());
}

TEST_F(engine_session, a_bad_state_after_completion_resets_the_gathering)
{
    std::vector<std::string> delivered =
        session_with(L"state,settings,schedule,protection,state:-1,state:1,settings", "log Waiting for all signals...", 5);
    std::vector<std::string> expected =
        waiting(3) + complete_set + std::vector<std::string>{"state 0", "log Bad state(Reset all signals)"} + waiting(2);
    EXPECT_EQ(expected, delivered);
}

TEST_F(engine_session, a_complete_session_passes_later_reports_on_at_once)
{
    std::vector<std::string> expected = waiting(3) + complete_set + std::vector<std::string>{"state 1"};
#ifndef AV_QUIETUS_CLIENT
    expected.push_back("log received exclusions: 0 directory(ies) and 0 file(s)");
    expected.push_back("exclusions 0");
    EXPECT_EQ(expected, session_with(L"state,settings,schedule,protection,state,exclusions", "exclusions 0"));
#else
    EXPECT_EQ(expected, session_with(L"state,settings,schedule,protection,state", "state 1", 2));
#endif
}

// A change is pending: the engine's settings are neither stored nor passed
// on; the session's end commits the change and the engine's confirmation
// completes the set.
TEST_F(engine_session, settings_pending_at_the_end_are_committed_and_confirmed)
{
    av::engine_settings changed;
    changed.engine_version = L"changed";
    changed.ap_scan_type = 7;            // out of range: sent as 0
    changed.ap_heu_level = 2;
    changed.ap_max_scan_arc_size = 5;    // always sent as 300
    changed.upd_s.proxy_host = L"proxy.invalid";
    changed.upd_s.proxy_type = 2;
    av::pending_engine_settings().consume(changed);

    knob(L"reports", L"state,settings,schedule,protection");
    recorder consumer;
    {
        av::engine session(&consumer);
        ASSERT_TRUE(consumer.wait_for_count("log Waiting for all signals...", 3));
    }
    av::engine_settings sent = changed;
    sent.ap_scan_type = 0;
    sent.ap_max_scan_arc_size = 300;
#ifndef AV_QUIETUS_CLIENT
    sent.upd_s.proxy_type = 0;
#endif
    // The reports come as state, settings, schedule, protection.
    std::vector<std::string> expected =
        waiting(1) +
        std::vector<std::string>{"log WARNING: Consumers was not notified about changes because there are unsaved data"} +
        waiting(2);
    expected.push_back("log commiting settings: " + narrow(av::to_text(sent)));
    expected = expected + std::vector<std::string>{"log Commit delayed callbacks", "state 1", "settings changed",
                                                   "schedule 1", "protection 1"};
    EXPECT_EQ(expected, consumer.delivered());

    av::engine_settings confirmed = consumer.last_settings();
    EXPECT_EQ(0, confirmed.ap_scan_type);
    EXPECT_EQ(2, confirmed.ap_heu_level);
    EXPECT_EQ(300u, confirmed.ap_max_scan_arc_size);
    EXPECT_EQ("proxy.invalid", narrow(confirmed.upd_s.proxy_host));
#ifdef AV_QUIETUS_CLIENT
    EXPECT_EQ(2, confirmed.upd_s.proxy_type);
#else
    EXPECT_EQ(0, confirmed.upd_s.proxy_type);
#endif
    EXPECT_FALSE(av::pending_engine_settings().has_data());
}

TEST_F(engine_session, a_refused_connection_raises_and_frees_the_library)
{
    knob(L"connect_fails", L"1");
    recorder consumer;
    EXPECT_EQ("Cannot create the engine instance", raised_by([&] { av::engine session(&consumer); }));
    EXPECT_EQ(nullptr, GetModuleHandleW((kit::engine_folder() + L"Scancore.dll").c_str()));
}

TEST_F(engine_session, a_consumer_that_raises_is_logged_with_the_callback_name)
{
    class raising : public av::message_consumer
    {
    public:
        void consume(av::message_ptr) override { throw std::runtime_error("consumer failed"); }
    };
    log_capture capture;
    knob(L"reports", L"state,settings");
    raising consumer;
    {
        av::engine session(&consumer);
        Sleep(1000);
    }
    // Written at the exception level: delivered as errors, decorated with the exception.
    auto logged_as_error = [&](const std::string& context) {
        for (const captured_line& line : capture.lines())
            if (line.level == tessel::log::level_error && line.text.rfind(context, 0) == 0 &&
                line.text.find("consumer failed") != std::string::npos)
                return true;
        return false;
    };
    EXPECT_TRUE(logged_as_error("av::engine::impl::commit_delayed_callbacks")) << ::testing::PrintToString(capture.texts());
    EXPECT_TRUE(logged_as_error("av::engine::impl::settings_callback")) << ::testing::PrintToString(capture.texts());
}

TEST(engine_library, is_found_in_the_suites_engine_folder)
{
    EXPECT_EQ(narrow(kit::engine_folder() + L"Scancore.dll"), narrow(Scancore::library_path()));
}

TEST(engine_library, that_cannot_be_loaded_raises_with_the_error_code)
{
    for (const std::wstring& path : {std::wstring(), kit::engine_folder() + L"Scancore.dll"}) {
        // ERROR_MOD_NOT_FOUND: the code the system gave, not what the thread's
        // last error holds after the exception was caught.
        EXPECT_EQ("Scancore.dll is not found. errCode 126", raised_by([&] { Scancore::Loader loader(path); }));
    }
}

TEST(engine_library, without_some_entries_loads_and_leaves_them_null)
{
    Scancore::Loader loader(kit::bin_folder() + L"QELVA.dll");
    EXPECT_EQ(nullptr, loader.entry().connect);
    EXPECT_EQ(nullptr, loader.entry().stop_watch_service);
}

TEST(engine_library, binds_the_entries_of_its_variant)
{
    Scancore::Loader loader(kit::bin_folder() + L"Scancore.dll");
    const Scancore::entries& e = loader.entry();
    for (const void* entry : {(const void*)e.connect, (const void*)e.close, (const void*)e.get_engine_state,
                              (const void*)e.set_engine_settings, (const void*)e.set_schedule_settings,
                              (const void*)e.delete_log_file, (const void*)e.stop_watch_service})
        EXPECT_NE(nullptr, entry);
#ifdef AV_QUIETUS_CLIENT
    EXPECT_EQ(nullptr, e.set_exclusions);
    EXPECT_EQ(nullptr, e.restore_and_exclude_quarantine_items);
#else
    EXPECT_NE(nullptr, e.set_exclusions);
    EXPECT_NE(nullptr, e.restore_and_exclude_quarantine_items);
#endif
}

TEST(engine_result, codes_1_to_3_raise_and_others_pass)
{
    EXPECT_EQ("Bad parameters passed to the engine", raised_by([] { av::check_result(1); }));
    EXPECT_EQ("The engine is not up and running", raised_by([] { av::check_result(2); }));
    EXPECT_EQ("The engine fails the operation", raised_by([] { av::check_result(3); }));
    for (int passing : {0, 4, -1, 100})
        EXPECT_EQ("(nothing raised)", raised_by([&] { av::check_result(passing); }));
}

TEST(engine_state, maps_the_library_codes)
{
    const std::pair<int, int> cases[] = {{-1, 0}, {0, -1}, {1, 1}, {6, 6}, {7, 0}, {-2, 0}};
    for (auto [code, state] : cases)
        EXPECT_EQ(state, av::map_engine_state(code)) << code;
}

TEST(pending_queue, gives_items_oldest_first_and_a_default_when_empty)
{
    Sundrel::BaseNotificationQueue<int> queue;
    EXPECT_FALSE(queue.has_data());
    queue.consume(1);
    queue.consume(2);
    EXPECT_TRUE(queue.has_data());
    EXPECT_EQ(1, queue.take());
    EXPECT_EQ(2, queue.take());
    EXPECT_FALSE(queue.has_data());
    EXPECT_EQ(0, queue.take());
    queue.consume(3);
    queue.clear();
    EXPECT_FALSE(queue.has_data());
}

av::engine_settings full_settings()
{
    av::engine_settings s;
    s.engine_version = L"2.1.12.0";
    s.engine_def_version = L"20240115.1";
    s.engine_def_date = 133494624000000000LL;
    s.detect_spyware = 1;
    s.detect_viruses = 0;
    s.use_exclusions = 1;
    s.exclusions = {L"C:\\Temp"};
    s.use_extensions = 1;
    s.extensions = {L"exe", L"dll"};
    s.ap_scan_archives = 1;
    s.ap_max_scan_file_size = 10240;
    s.ap_max_scan_arc_size = 300;
    s.ap_scan_type = 2;
    s.ap_heu_level = 1;
    s.ap_try_disinfect = 1;
    s.ap_detect_only = 0;
    s.upd_s = {L"http://u.invalid/", 1, L"proxy", 3128, L"user", L"secret", 3, 1};
    return s;
}

TEST(text_form, of_the_engine_settings_shows_every_label_in_order)
{
    const std::string proxy_type =
#ifdef AV_QUIETUS_CLIENT
        " upd_s.proxy_type: 3";
#else
        "";
#endif
    EXPECT_EQ("engine_def_date: 133494624000000000 engine_def_version: 20240115.1 engine_version: 2.1.12.0"
              " detect_spyware: 1 detect_viruses: 0 use_exclusions: 1 use_extensions: 1 ap_heu_level: 1"
              " ap_max_scan_arc_size: 300 ap_max_scan_file_size: 10240 ap_scan_archives: 1 ap_scan_type: 2"
              " ap_try_disinfect: 1 ap_detect_only: 0 upd_s.is_automatic: 1 upd_s.proxy_host: proxy"
              " upd_s.proxy_port: 3128 upd_s.proxy_password: secret" +
                  proxy_type + " upd_s.proxy_user: user upd_s.update_url: http://u.invalid/ upd_s.use_proxy: 1",
              narrow(av::to_text(full_settings())));

    const std::string empty_proxy_type =
#ifdef AV_QUIETUS_CLIENT
        " upd_s.proxy_type: 0";
#else
        "";
#endif
    EXPECT_EQ("engine_def_date: 0 engine_def_version:  engine_version:  detect_spyware: 0 detect_viruses: 0"
              " use_exclusions: 0 use_extensions: 0 ap_heu_level: 0 ap_max_scan_arc_size: 0"
              " ap_max_scan_file_size: 0 ap_scan_archives: 0 ap_scan_type: 0 ap_try_disinfect: 0"
              " ap_detect_only: 0 upd_s.is_automatic: 0 upd_s.proxy_host:  upd_s.proxy_port: 0"
              " upd_s.proxy_password: " +
                  empty_proxy_type + " upd_s.proxy_user:  upd_s.update_url:  upd_s.use_proxy: 0",
              narrow(av::to_text(av::engine_settings())));
}

TEST(text_form, of_the_schedule_lists_the_paths_then_the_scan_options)
{
    av::schedule_settings s;
    s.enabled = 1;
    s.day_of_month = 15;
    s.mode = 2;
    s.time = 720;
    s.weekdays = 62;
    s.last_scan_time = 133494624000000000LL;
    s.options.paths = {L"C:\\", L"D:\\data"};
    s.options.scan_type = 1;
    s.options.scan_local_machine = 1;
    s.options.heu_level = 2;
    s.options.try_disinfect = 1;
    s.options.use_extensions = 1;
    s.options.detect_spyware = 1;
    s.options.detect_viruses = 1;
    EXPECT_EQ("  enabled       : 1\r\n  day of month  : 15\r\n  mode          : 2\r\n  time          : 720\r\n"
              "  weekdays      : 62\r\n  last scan time: 133494624000000000\r\nScaner options:\r\n"
              "C:\\\r\nD:\\data\r\n"
              "  scan_type         : 1\r\n  scan_local_machine: 1\r\n  scan_memory       : 0\r\n"
              "  heu_level         : 2\r\n  try_disinfect     : 1\r\n  use_extensions    : 1\r\n"
              "  detect_only       : 0\r\n  detect_spyware    : 1\r\n  detect_viruses    : 1\r\n",
              narrow(av::to_text(s)));
    EXPECT_EQ("  scan_type         : 0\r\n  scan_local_machine: 0\r\n  scan_memory       : 0\r\n"
              "  heu_level         : 0\r\n  try_disinfect     : 0\r\n  use_extensions    : 0\r\n"
              "  detect_only       : 0\r\n  detect_spyware    : 0\r\n  detect_viruses    : 0\r\n",
              narrow(av::to_text(av::scan_options())));
}

TEST(library_records, carry_empty_lists_as_count_0_and_back)
{
    av::engine_settings empty;
    av::engine_settings_record record(empty);
    EXPECT_EQ(0u, record.get().exclusions.count);
    EXPECT_EQ(0u, record.get().extensions.count);
    av::engine_settings full = full_settings();
    av::engine_settings_record full_record(full);
    EXPECT_EQ(narrow(av::to_text(full)), narrow(av::to_text(av::engine_settings(full_record.get()))));
    EXPECT_EQ(full.exclusions, av::engine_settings(full_record.get()).exclusions);
}

} // namespace
