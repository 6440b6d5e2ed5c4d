#include "engine/messages.h"

namespace av {

message_handler::~message_handler() = default;
void message_handler::on_engine_state(std::int32_t) {}
void message_handler::on_engine_settings(const engine_settings&) {}
#ifndef AV_QUIETUS_CLIENT
void message_handler::on_exclusions(const exclusions&) {}
#endif
void message_handler::on_ap_state(std::uint8_t) {}
void message_handler::on_reserved(std::int32_t) {}
void message_handler::on_ap_infection_found(const infection&) {}
void message_handler::on_object_scanned(const scanned_object&, std::int32_t) {}
void message_handler::on_infection_found(const infection&) {}
void message_handler::on_running_scan(const scan_options&, std::int32_t, std::int32_t, std::int32_t) {}
void message_handler::on_quarantine_changed(std::int32_t, const quarantine_list&) {}
void message_handler::on_update_state(std::int32_t) {}
void message_handler::on_update_progress(std::int32_t, std::int32_t, std::int32_t, std::int32_t) {}
void message_handler::on_scheduled_settings(const schedule_settings&) {}
void message_handler::on_write_to_log(const std::wstring&) {}
void message_handler::on_stop_watch_service() {}

message::~message() = default;

namespace {

std::wstring number(std::int64_t value)
{
    return std::to_wstring(value);
}

// label, value and "\r\n"
std::wstring item(const wchar_t* label, std::int64_t value)
{
    return label + number(value) + L"\r\n";
}

} // namespace

std::wstring to_text(const engine_settings& s)
{
    const update_settings& u = s.upd_s;
    std::wstring text = L"engine_def_date: " + number(s.engine_def_date);
    text += L" engine_def_version: " + s.engine_def_version;
    text += L" engine_version: " + s.engine_version;
    text += L" detect_spyware: " + number(s.detect_spyware);
    text += L" detect_viruses: " + number(s.detect_viruses);
    text += L" use_exclusions: " + number(s.use_exclusions);
    text += L" use_extensions: " + number(s.use_extensions);
    text += L" ap_heu_level: " + number(s.ap_heu_level);
    text += L" ap_max_scan_arc_size: " + number(s.ap_max_scan_arc_size);
    text += L" ap_max_scan_file_size: " + number(s.ap_max_scan_file_size);
    text += L" ap_scan_archives: " + number(s.ap_scan_archives);
    text += L" ap_scan_type: " + number(s.ap_scan_type);
    text += L" ap_try_disinfect: " + number(s.ap_try_disinfect);
    text += L" ap_detect_only: " + number(s.ap_detect_only);
    text += L" upd_s.is_automatic: " + number(u.is_automatic);
    text += L" upd_s.proxy_host: " + u.proxy_host;
    text += L" upd_s.proxy_port: " + number(u.proxy_port);
    text += L" upd_s.proxy_password: " + u.proxy_password;
#ifdef AV_QUIETUS_CLIENT
    text += L" upd_s.proxy_type: " + number(u.proxy_type);
#endif
    text += L" upd_s.proxy_user: " + u.proxy_user;
    text += L" upd_s.update_url: " + u.update_url;
    text += L" upd_s.use_proxy: " + number(u.use_proxy);
    return text;
}

std::wstring to_text(const scan_options& scan)
{
    std::wstring text;
    for (const std::wstring& path : scan.paths)
        text += path + L"\r\n";
    text += item(L"  scan_type         : ", scan.scan_type);
    text += item(L"  scan_local_machine: ", scan.scan_local_machine);
    text += item(L"  scan_memory       : ", scan.scan_memory);
    text += item(L"  heu_level         : ", scan.heu_level);
    text += item(L"  try_disinfect     : ", scan.try_disinfect);
    text += item(L"  use_extensions    : ", scan.use_extensions);
    text += item(L"  detect_only       : ", scan.detect_only);
    text += item(L"  detect_spyware    : ", scan.detect_spyware);
    text += item(L"  detect_viruses    : ", scan.detect_viruses);
    return text;
}

std::wstring to_text(const schedule_settings& schedule)
{
    std::wstring text = item(L"  enabled       : ", schedule.enabled);
    text += item(L"  day of month  : ", schedule.day_of_month);
    text += item(L"  mode          : ", schedule.mode);
    text += item(L"  time          : ", schedule.time);
    text += item(L"  weekdays      : ", schedule.weekdays);
    text += item(L"  last scan time: ", schedule.last_scan_time);
    return text + L"Scaner options:\r\n" + to_text(schedule.options);
}

} // namespace av
