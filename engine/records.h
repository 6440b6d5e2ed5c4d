// The engine's settings and schedule in the client's own form: owned texts and
// lists in place of the library's pointers. A *_record object lends the plain
// library record (engine/scancore_interface.h) of such a value, pointing into
// it: valid while both live and the value is unchanged.
#pragma once

#include "engine/scancore_interface.h"

#include <cstdint>
#include <string>
#include <vector>

namespace av {

using text_list = std::vector<std::wstring>;

struct update_settings
{
    std::wstring update_url;
    std::uint8_t use_proxy = 0;
    std::wstring proxy_host;
    std::uint16_t proxy_port = 0;
    std::wstring proxy_user;
    std::wstring proxy_password;
    // Known to the engines of the 14-entry table only; the others send 0.
    std::int32_t proxy_type = 0;
    std::uint8_t is_automatic = 0;
};

struct engine_settings
{
    engine_settings() = default;
    explicit engine_settings(const scr_engine_settings& record);

    std::wstring engine_version;
    std::wstring engine_def_version;
    std::int64_t engine_def_date = 0;
    std::uint8_t detect_spyware = 0;
    std::uint8_t detect_viruses = 0;
    std::uint8_t use_exclusions = 0;
    text_list exclusions;
    std::uint8_t use_extensions = 0;
    text_list extensions;
    std::uint8_t ap_scan_archives = 0;
    std::uint32_t ap_max_scan_file_size = 0;
    std::uint32_t ap_max_scan_arc_size = 0;
    std::int32_t ap_scan_type = 0;
    std::int32_t ap_heu_level = 0;
    std::uint8_t ap_try_disinfect = 0;
    std::uint8_t ap_detect_only = 0;
    update_settings upd_s;
};

struct scan_options
{
    scan_options() = default;
    explicit scan_options(const scr_scan_options& record);

    text_list paths;
    std::int32_t scan_type = 0;
    std::uint8_t scan_local_machine = 0;
    std::uint8_t scan_memory = 0;
    std::int32_t heu_level = 0;
    std::uint8_t try_disinfect = 0;
    std::uint8_t use_extensions = 0;
    std::uint8_t detect_only = 0;
    std::uint8_t detect_spyware = 0;
    std::uint8_t detect_viruses = 0;
};

struct schedule_settings
{
    schedule_settings() = default;
    explicit schedule_settings(const scr_schedule_settings& record);

    std::uint8_t enabled = 0;
    std::int32_t day_of_month = 0;
    std::int32_t mode = 0;
    std::int32_t time = 0;
    std::int32_t weekdays = 0;
    std::int64_t last_scan_time = 0;
    scan_options options;
};

// The texts of a library list, null items read as empty.
text_list to_text_list(const scr_text_list& list);

// Pointers to the texts of a list, as the library takes them.
class text_list_record
{
public:
    explicit text_list_record(const text_list& texts);
    text_list_record(const text_list_record&) = delete;
    text_list_record& operator=(const text_list_record&) = delete;

    scr_text_list get() const;

private:
    std::vector<const wchar_t*> pointers_;
};

class engine_settings_record
{
public:
    explicit engine_settings_record(const engine_settings& settings);
    engine_settings_record(const engine_settings_record&) = delete;
    engine_settings_record& operator=(const engine_settings_record&) = delete;

    const scr_engine_settings& get() const { return record_; }

private:
    text_list_record exclusions_;
    text_list_record extensions_;
    scr_engine_settings record_{};
};

class schedule_settings_record
{
public:
    explicit schedule_settings_record(const schedule_settings& schedule);
    schedule_settings_record(const schedule_settings_record&) = delete;
    schedule_settings_record& operator=(const schedule_settings_record&) = delete;

    const scr_schedule_settings& get() const { return record_; }

private:
    text_list_record paths_;
    scr_schedule_settings record_{};
};

} // namespace av
