// The front end, the dispatcher, level markers and stamps, the narrow path and
// its fallbacks, exception decoration and log_current_exception, the proxy.
#include <windows.h>
#include <comdef.h>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "capture.h"
#include "tessel/exception.h"
#include "tessel/log/log.h"
#include "tessel/unicode/unicode.h"

namespace {

namespace log = tessel::log;

// Every test starts and ends with no process-wide dispatcher.
class front_end : public ::testing::Test
{
protected:
    void SetUp() override { log::shutdown(); }
    void TearDown() override { log::shutdown(); }

    std::vector<record>& attach_capture()
    {
        log::add(new capture(records_));
        return records_;
    }

    std::vector<record> records_;
};

std::string local_time_text()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[32];
    wsprintfA(text, "%04d/%02d/%02d %02d:%02d:%02d", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
              now.wSecond);
    return text;
}

TEST_F(front_end, every_level_has_its_marker_and_a_stamp_of_the_local_time)
{
    struct row {
        int level;
        char marker;
        int delivered;
    };
    const row rows[] = {{0, '#', 0}, {1, ' ', 1}, {2, '+', 2}, {3, '!', 3}, {4, '>', 4}, {5, '@', 3}};
    auto& records = attach_capture();
    const std::string before = local_time_text();
    for (const row& r : rows) {
        try {
            throw std::runtime_error("cause");
        } catch (...) {
            log::write(r.level, std::wstring(L"text"));
        }
    }
    const std::string after = local_time_text();

    ASSERT_EQ(std::size(rows), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(rows[i].level);
        const std::string& stamp = records[i].stamp;
        ASSERT_EQ(23u, stamp.size()) << stamp;
        // "YYYY/MM/DD hh:mm:ss" sorts as text: the stamp lies between the two readings.
        EXPECT_GE(stamp.substr(0, 19), before);
        EXPECT_LE(stamp.substr(0, 19), after);
        EXPECT_EQ(std::string(" ") + rows[i].marker + "  ", stamp.substr(19));
        EXPECT_EQ(rows[i].delivered, records[i].level);
    }
}

TEST_F(front_end, entries_format_narrow_and_wide_text_at_their_levels)
{
    auto& records = attach_capture();
    log::debug("%s=%d", "narrow", 7);
    log::info(L"%s and %S", L"wide \u00e9", "narrow");
    log::error("100%% %ls", L"done");
    log::info(L"");
    log::write(log::level_info, std::string("no %s formatting"));

    ASSERT_EQ(5u, records.size());
    EXPECT_EQ(0, records[0].level);
    EXPECT_EQ("narrow=7", records[0].text);
    EXPECT_EQ(1, records[1].level);
    EXPECT_EQ("wide \xC3\xA9 and narrow", records[1].text);  // UTF-8 to the listeners
    EXPECT_EQ(3, records[2].level);
    EXPECT_EQ("100% done", records[2].text);
    EXPECT_EQ("", records[3].text);
    EXPECT_EQ("no %s formatting", records[4].text);
}

TEST_F(front_end, long_text_is_delivered_whole)
{
    auto& records = attach_capture();
    const std::string long_text(5000, 'x');
    log::info("%s|", long_text.c_str());
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(long_text + "|", records[0].text);
}

// A listener that notes its name in a shared list.
class named : public log::listener
{
public:
    named(std::vector<std::string>& order, std::string name) : order_(order), name_(std::move(name)) {}
    void write(int, const std::string&, const std::string&) override { order_.push_back(name_); }

private:
    std::vector<std::string>& order_;
    std::string name_;
};

TEST_F(front_end, listeners_receive_every_level_in_the_order_attached)
{
    std::vector<std::string> order;
    log::add(new named(order, "a"));
    log::add(new named(order, "b"));
    log::add(new named(order, "c"));
    log::debug("one");
    log::error("two");
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "a", "b", "c"}), order);
}

TEST(dispatcher, a_failing_listener_stops_the_walk_and_the_failure_propagates)
{
    std::vector<record> first, second;
    log::dispatcher target;
    target.attach(new capture(first));
    target.attach(new failing(second, 1));
    std::vector<std::string> order;
    target.attach(new named(order, "after"));

    EXPECT_THROW(target.deliver(1, L"line"), std::runtime_error);
    EXPECT_EQ(1u, first.size());
    EXPECT_TRUE(order.empty());

    target.deliver(1, L"next");
    EXPECT_EQ(2u, first.size());
    EXPECT_EQ(1u, second.size());
    EXPECT_EQ(1u, order.size());
}

TEST(dispatcher, print_formats_wide_text)
{
    std::vector<record> records;
    log::dispatcher target;
    target.attach(new capture(records));
    target.print(3, L"%s: %d%%", L"count", 12);
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ("count: 12%", records[0].text);
    EXPECT_EQ('!', records[0].marker());
}

TEST_F(front_end, shutdown_deletes_the_listeners_and_the_next_call_starts_afresh)
{
    bool destroyed = false;
    log::add(new capture(records_, &destroyed));
    log::info("before");
    log::shutdown();
    EXPECT_TRUE(destroyed);

    // A fresh, empty dispatcher: lines go nowhere, and nothing raises.
    EXPECT_NO_THROW(log::info("after"));
    EXPECT_NO_THROW(log::error(L"after \xD800"));  // a lone surrogate is never converted
    EXPECT_NO_THROW(log::shutdown());
    EXPECT_NO_THROW(log::shutdown());
    ASSERT_EQ(1u, records_.size());
    EXPECT_EQ("before", records_[0].text);
}

TEST_F(front_end, a_null_listener_is_ignored)
{
    log::add(nullptr);
    auto& records = attach_capture();
    EXPECT_NO_THROW(log::info("line"));
    EXPECT_EQ(1u, records.size());
}

// Narrow text: ANSI first, then UTF-8, then a fixed line. A listener that
// fails its first deliveries drives the fallbacks (with code page 1252 every
// byte is valid ANSI). The first row's text is "café" in code page 1252, the
// others' in UTF-8.
TEST_F(front_end, narrow_text_falls_back_to_utf8_then_to_a_fixed_line)
{
    struct row {
        const char* name;
        const char* narrow;
        int failures;
        const char* delivered;  // null: the failure propagates
    };
    const row rows[] = {
        {"ansi", "caf\xE9", 0, "caf\xC3\xA9"},
        {"utf8 retry", "caf\xC3\xA9", 1, "caf\xC3\xA9"},
        {"fixed line", "caf\xC3\xA9", 2, "tessel::log: unable to convert input to unicode"},
        {"propagates", "caf\xC3\xA9", 3, nullptr},
    };
    ASSERT_EQ(1252u, GetACP()) << "the rows assume code page 1252";
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<record> records;
        log::shutdown();
        log::add(new failing(records, r.failures));
        if (!r.delivered) {
            EXPECT_THROW(log::write(log::level_error, std::string(r.narrow)), std::runtime_error);
            EXPECT_TRUE(records.empty());
            continue;
        }
        log::write(log::level_error, std::string(r.narrow));
        ASSERT_EQ(1u, records.size());
        EXPECT_EQ(r.delivered, records[0].text);
        EXPECT_EQ(3, records[0].level);
        EXPECT_EQ('!', records[0].marker());
    }
}

// The exception kinds a handler may hold, in the order the log tells them apart.
struct exception_kind {
    const char* name;
    std::function<void()> raise;
    std::string decoration;  // after the message in a level-5 line
    std::string reported;    // after the context in log_current_exception's line
};

std::string com_error_text()
{
    const _com_error error(E_FAIL);
    const char* text = error.ErrorMessage();
    return tessel::unicode::to_narrow(tessel::unicode::to_wide(text ? text : "", CP_ACP), 65001, true);
}

std::vector<exception_kind> exception_kinds()
{
    const std::string com = com_error_text();
    return {
        {"_com_error", [] { throw _com_error(E_FAIL); }, "_com_error: " + com, "_com_error: " + com},
        {"exception_w", [] { throw tessel::exception_w(std::wstring(L"wide \u00fc 100%")); }, "exception: [wide \xC3\xBC 100%]",
         "Exception: [wide \xC3\xBC 100%]"},
        {"tessel::exception", [] { throw tessel::exception(std::string("narrow %s")); },
         "exception: [narrow %s]", "exception: [narrow %s]"},
        {"derived narrow", [] { throw tessel::unicode::invalid_codepage(""); },
         "exception: unicode.invalid_codepage[]", "exception: unicode.invalid_codepage[]"},
        {"std::exception", [] { throw std::runtime_error("std text \xE9"); }, "exception: std text \xC3\xA9",
         "exception: std text \xC3\xA9"},
        {"anything else", [] { throw 42; }, "unknown exception", "unknown exception caught"},
    };
}

TEST_F(front_end, a_level_5_line_describes_the_exception_being_handled)
{
    // Message and what goes between it and the description.
    const std::pair<std::string, std::string> messages[] = {
        {"Failed", "Failed  "}, {"Failed ", "Failed  "}, {"", " "}};
    auto& records = attach_capture();
    for (const exception_kind& kind : exception_kinds()) {
        for (const auto& [message, lead] : messages) {
            SCOPED_TRACE(std::string(kind.name) + " / '" + message + "'");
            records.clear();
            try {
                kind.raise();
            } catch (...) {
                log::write(log::level_exception, tessel::unicode::to_wide(message, CP_ACP));
                log::write(log::level_exception, message);  // the narrow path too
            }
            ASSERT_EQ(2u, records.size());
            for (const record& r : records) {
                EXPECT_EQ(lead + kind.decoration, r.text);
                EXPECT_EQ(3, r.level);
                EXPECT_EQ('@', r.marker());
            }
        }
    }
}

TEST_F(front_end, a_level_5_line_whose_first_delivery_fails_still_describes_the_handled_exception)
{
    std::vector<record> records;
    log::add(new failing(records, 1));
    try {
        throw tessel::exception(std::string("original"));
    } catch (...) {
        log::write(log::level_exception, std::string("Stage"));
    }
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ("Stage  exception: [original]", records[0].text);
}

TEST_F(front_end, a_level_5_line_outside_any_handler_says_unknown_and_does_not_end_the_process)
{
    auto& records = attach_capture();
    log::write(log::level_exception, std::wstring(L"Stray"));
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ("Stray  unknown exception", records[0].text);
}

TEST_F(front_end, log_current_exception_writes_one_error_line_per_kind)
{
    auto& records = attach_capture();
    for (const exception_kind& kind : exception_kinds()) {
        SCOPED_TRACE(kind.name);
        records.clear();
        try {
            kind.raise();
        } catch (...) {
            log::log_current_exception("remove_dir(\"C:\\\\x \xE9\"):");
        }
        ASSERT_EQ(1u, records.size());
        EXPECT_EQ("remove_dir(\"C:\\\\x \xC3\xA9\"): " + kind.reported, records[0].text);
        EXPECT_EQ(3, records[0].level);
        EXPECT_EQ('!', records[0].marker());
    }
}

TEST_F(front_end, log_current_exception_before_any_listener_raises_nothing)
{
    try {
        throw std::runtime_error("x");
    } catch (...) {
        EXPECT_NO_THROW(log::log_current_exception("context"));
    }
    EXPECT_NO_THROW(log::log_current_exception("outside"));
}

TEST_F(front_end, a_proxy_forwards_behind_its_prefix_and_the_target_stamps_again)
{
    std::vector<record> forwarded;
    log::dispatcher target;
    target.attach(new capture(forwarded));
    log::add(new log::proxy(&target, "engine \xC3\xA9: "));

    log::info(L"started");
    try {
        throw std::runtime_error("boom");
    } catch (...) {
        log::write(log::level_exception, std::string("failed"));
    }

    ASSERT_EQ(2u, forwarded.size());
    EXPECT_EQ("engine \xC3\xA9: started", forwarded[0].text);
    EXPECT_EQ(1, forwarded[0].level);
    EXPECT_EQ(' ', forwarded[0].marker());
    // The decorated line arrives as an error and is stamped as one.
    EXPECT_EQ("engine \xC3\xA9: failed  exception: boom", forwarded[1].text);
    EXPECT_EQ(3, forwarded[1].level);
    EXPECT_EQ('!', forwarded[1].marker());
}

} // namespace
