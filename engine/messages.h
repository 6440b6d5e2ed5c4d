// What the engine session hands its consumer: one message per engine
// callback, shared between the library's thread and the consumer through
// counted references. A consumer dispatches a message to its handler, and the
// message calls the handler operation of its kind with its payload.
//
// The engine client is built in two variants from this source: the remover's
// (the 15-entry callback table with the exclusions report) and, with
// AV_QUIETUS_CLIENT defined, Quietus's (the 14-entry table of the engines it
// serves: no exclusions, and the update settings' proxy type).
#pragma once

#include "engine/records.h"
#include "tessel/reference_counting/strong_ptr.h"

#include <cstdint>
#include <string>
#include <vector>

namespace av {

// Payloads of the reports nothing in the programs looks into.
struct exclusions
{
    text_list directories;
    text_list files;
};

struct scanned_object
{
    std::wstring path;
    std::uint32_t flags = 0;
};

struct infection
{
    std::wstring path;
    std::wstring threat_name;
    std::int32_t action = 0;
};

struct quarantine_item
{
    std::wstring id;
    std::wstring original_path;
    std::wstring threat_name;
    std::int64_t date = 0;
};

using quarantine_list = std::vector<quarantine_item>;

// Engine state values after the session's mapping: 0 is bad; -1 and 1 to 6
// are usable.
constexpr std::int32_t bad = 0;

// Every operation does nothing unless overridden. The order of the operations
// is the engine client's interface layout; keep it.
class message_handler
{
public:
    virtual ~message_handler();
    virtual void on_engine_state(std::int32_t state);
    virtual void on_engine_settings(const engine_settings& settings);
#ifndef AV_QUIETUS_CLIENT
    virtual void on_exclusions(const exclusions& lists);
#endif
    virtual void on_ap_state(std::uint8_t active);
    // Kept for the layout; no message calls it.
    virtual void on_reserved(std::int32_t value);
    virtual void on_ap_infection_found(const infection& found);
    virtual void on_object_scanned(const scanned_object& object, std::int32_t result);
    virtual void on_infection_found(const infection& found);
    virtual void on_running_scan(const scan_options& scan, std::int32_t files_scanned, std::int32_t infections,
                                 std::int32_t progress);
    virtual void on_quarantine_changed(std::int32_t change, const quarantine_list& items);
    virtual void on_update_state(std::int32_t state);
    virtual void on_update_progress(std::int32_t received, std::int32_t total, std::int32_t files_done,
                                    std::int32_t files_total);
    virtual void on_scheduled_settings(const schedule_settings& schedule);
    virtual void on_write_to_log(const std::wstring& text);
    virtual void on_stop_watch_service();
};

class message : public tessel::reference_counting::base<message>
{
public:
    ~message() override;
    virtual void dispatch(message_handler& handler) const = 0;
};

using message_ptr = tessel::reference_counting::strong_ptr<message>;

class engine_state_message : public message
{
public:
    explicit engine_state_message(std::int32_t state) : state_(state) {}
    void dispatch(message_handler& handler) const override { handler.on_engine_state(state_); }

private:
    std::int32_t state_;
};

class engine_settings_message : public message
{
public:
    explicit engine_settings_message(const engine_settings& settings) : settings_(settings) {}
    void dispatch(message_handler& handler) const override { handler.on_engine_settings(settings_); }

private:
    engine_settings settings_;
};

#ifndef AV_QUIETUS_CLIENT
class exclusions_message : public message
{
public:
    explicit exclusions_message(const exclusions& lists) : lists_(lists) {}
    void dispatch(message_handler& handler) const override { handler.on_exclusions(lists_); }

private:
    exclusions lists_;
};
#endif

class ap_state_message : public message
{
public:
    explicit ap_state_message(std::uint8_t active) : active_(active) {}
    void dispatch(message_handler& handler) const override { handler.on_ap_state(active_); }

private:
    std::uint8_t active_;
};

class ap_infection_found_message : public message
{
public:
    explicit ap_infection_found_message(const infection& found) : found_(found) {}
    void dispatch(message_handler& handler) const override { handler.on_ap_infection_found(found_); }

private:
    infection found_;
};

class object_scanned_message : public message
{
public:
    object_scanned_message(const scanned_object& object, std::int32_t result) : object_(object), result_(result) {}
    void dispatch(message_handler& handler) const override { handler.on_object_scanned(object_, result_); }

private:
    scanned_object object_;
    std::int32_t result_;
};

class infection_found_message : public message
{
public:
    explicit infection_found_message(const infection& found) : found_(found) {}
    void dispatch(message_handler& handler) const override { handler.on_infection_found(found_); }

private:
    infection found_;
};

class running_scan_message : public message
{
public:
    running_scan_message(const scan_options& scan, std::int32_t files_scanned, std::int32_t infections,
                         std::int32_t progress)
        : scan_(scan), files_scanned_(files_scanned), infections_(infections), progress_(progress)
    {
    }
    void dispatch(message_handler& handler) const override
    {
        handler.on_running_scan(scan_, files_scanned_, infections_, progress_);
    }

private:
    scan_options scan_;
    std::int32_t files_scanned_;
    std::int32_t infections_;
    std::int32_t progress_;
};

class quarntine_changed_message : public message
{
public:
    quarntine_changed_message(std::int32_t change, const quarantine_list& items) : change_(change), items_(items) {}
    void dispatch(message_handler& handler) const override { handler.on_quarantine_changed(change_, items_); }

private:
    std::int32_t change_;
    quarantine_list items_;
};

class update_state_message : public message
{
public:
    explicit update_state_message(std::int32_t state) : state_(state) {}
    void dispatch(message_handler& handler) const override { handler.on_update_state(state_); }

private:
    std::int32_t state_;
};

class update_progress_message : public message
{
public:
    update_progress_message(std::int32_t received, std::int32_t total, std::int32_t files_done,
                            std::int32_t files_total)
        : values_{received, total, files_done, files_total}
    {
    }
    void dispatch(message_handler& handler) const override
    {
        handler.on_update_progress(values_[0], values_[1], values_[2], values_[3]);
    }

private:
    std::int32_t values_[4];
};

class scheduled_settings_message : public message
{
public:
    explicit scheduled_settings_message(const schedule_settings& schedule) : schedule_(schedule) {}
    void dispatch(message_handler& handler) const override { handler.on_scheduled_settings(schedule_); }

private:
    schedule_settings schedule_;
};

class write_to_log_message : public message
{
public:
    explicit write_to_log_message(const std::wstring& text) : text_(text) {}
    void dispatch(message_handler& handler) const override { handler.on_write_to_log(text_); }

private:
    std::wstring text_;
};

class stop_watch_service_message : public message
{
public:
    void dispatch(message_handler& handler) const override { handler.on_stop_watch_service(); }
};

// Text forms, as the session writes them into its log texts.
std::wstring to_text(const engine_settings& settings);  // one line
std::wstring to_text(const scan_options& scan);         // "\r\n" after every item
std::wstring to_text(const schedule_settings& schedule);

} // namespace av
