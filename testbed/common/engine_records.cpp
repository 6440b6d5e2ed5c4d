#include "testbed/common/engine_records.h"

namespace testbed {

namespace {

std::wstring text_or_empty(const wchar_t* text)
{
    return text ? std::wstring(text) : std::wstring();
}

}  // namespace

text_list_copy::text_list_copy(const scr_text_list& list)
{
    for (uint32_t i = 0; list.items && i < list.count; ++i)
        items_.push_back(text_or_empty(list.items[i]));
}

scr_text_list text_list_copy::view() const
{
    pointers_.clear();
    for (const std::wstring& item : items_)
        pointers_.push_back(item.c_str());
    return scr_text_list{pointers_.empty() ? nullptr : pointers_.data(), static_cast<uint32_t>(pointers_.size())};
}

engine_settings_copy::engine_settings_copy()
    : engine_version(L"2.1.12.0"),
      engine_def_version(L"20240115.1"),
      update_url(L"http://updates.scancore.invalid/definitions"),
      extensions(std::vector<std::wstring>{L"exe", L"dll", L"com", L"scr"})
{
    values.engine_def_date = 133494624000000000LL;  // 2024-01-15 as a file time
    values.detect_spyware = 1;
    values.detect_viruses = 1;
    values.use_extensions = 1;
    values.ap_max_scan_file_size = 10240;
    values.ap_max_scan_arc_size = 300;
    values.ap_scan_type = 1;
    values.ap_heu_level = 1;
    values.ap_try_disinfect = 1;
    values.update_proxy_port = 8080;
    values.update_is_automatic = 1;
}

engine_settings_copy::engine_settings_copy(const scr_engine_settings& record)
    : values(record),
      engine_version(text_or_empty(record.engine_version)),
      engine_def_version(text_or_empty(record.engine_def_version)),
      update_url(text_or_empty(record.update_url)),
      update_proxy_host(text_or_empty(record.update_proxy_host)),
      update_proxy_user(text_or_empty(record.update_proxy_user)),
      update_proxy_password(text_or_empty(record.update_proxy_password)),
      exclusions(record.exclusions),
      extensions(record.extensions)
{
}

scr_engine_settings engine_settings_copy::view() const
{
    scr_engine_settings record = values;
    record.engine_version = engine_version.c_str();
    record.engine_def_version = engine_def_version.c_str();
    record.update_url = update_url.c_str();
    record.update_proxy_host = update_proxy_host.c_str();
    record.update_proxy_user = update_proxy_user.c_str();
    record.update_proxy_password = update_proxy_password.c_str();
    record.exclusions = exclusions.view();
    record.extensions = extensions.view();
    return record;
}

schedule_settings_copy::schedule_settings_copy()
    : paths(std::vector<std::wstring>{L"C:\\"})
{
    values.day_of_month = 1;
    values.time = 12 * 60;
    values.weekdays = 0x3E;  // Monday to Friday
    values.options.scan_type = 1;
    values.options.scan_local_machine = 1;
    values.options.scan_memory = 1;
    values.options.heu_level = 1;
    values.options.try_disinfect = 1;
    values.options.use_extensions = 1;
    values.options.detect_spyware = 1;
    values.options.detect_viruses = 1;
}

schedule_settings_copy::schedule_settings_copy(const scr_schedule_settings& record)
    : values(record), paths(record.options.paths)
{
}

scr_schedule_settings schedule_settings_copy::view() const
{
    scr_schedule_settings record = values;
    record.options.paths = paths.view();
    return record;
}

}  // namespace testbed
