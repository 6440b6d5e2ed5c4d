#include "engine/records.h"

namespace av {

namespace {

std::wstring text_or_empty(const wchar_t* text)
{
    return text ? std::wstring(text) : std::wstring();
}

} // namespace

text_list to_text_list(const scr_text_list& list)
{
    text_list texts;
    for (std::uint32_t i = 0; list.items && i < list.count; ++i)
        texts.push_back(text_or_empty(list.items[i]));
    return texts;
}

engine_settings::engine_settings(const scr_engine_settings& record)
    : engine_version(text_or_empty(record.engine_version)),
      engine_def_version(text_or_empty(record.engine_def_version)),
      engine_def_date(record.engine_def_date),
      detect_spyware(record.detect_spyware),
      detect_viruses(record.detect_viruses),
      use_exclusions(record.use_exclusions),
      exclusions(to_text_list(record.exclusions)),
      use_extensions(record.use_extensions),
      extensions(to_text_list(record.extensions)),
      ap_scan_archives(record.ap_scan_archives),
      ap_max_scan_file_size(record.ap_max_scan_file_size),
      ap_max_scan_arc_size(record.ap_max_scan_arc_size),
      ap_scan_type(record.ap_scan_type),
      ap_heu_level(record.ap_heu_level),
      ap_try_disinfect(record.ap_try_disinfect),
      ap_detect_only(record.ap_detect_only),
      upd_s{text_or_empty(record.update_url),
            record.update_use_proxy,
            text_or_empty(record.update_proxy_host),
            record.update_proxy_port,
            text_or_empty(record.update_proxy_user),
            text_or_empty(record.update_proxy_password),
            record.update_proxy_type,
            record.update_is_automatic}
{
}

scan_options::scan_options(const scr_scan_options& record)
    : paths(to_text_list(record.paths)),
      scan_type(record.scan_type),
      scan_local_machine(record.scan_local_machine),
      scan_memory(record.scan_memory),
      heu_level(record.heu_level),
      try_disinfect(record.try_disinfect),
      use_extensions(record.use_extensions),
      detect_only(record.detect_only),
      detect_spyware(record.detect_spyware),
      detect_viruses(record.detect_viruses)
{
}

schedule_settings::schedule_settings(const scr_schedule_settings& record)
    : enabled(record.enabled),
      day_of_month(record.day_of_month),
      mode(record.mode),
      time(record.time),
      weekdays(record.weekdays),
      last_scan_time(record.last_scan_time),
      options(record.options)
{
}

text_list_record::text_list_record(const text_list& texts)
{
    for (const std::wstring& text : texts)
        pointers_.push_back(text.c_str());
}

scr_text_list text_list_record::get() const
{
    return {pointers_.empty() ? nullptr : pointers_.data(), static_cast<std::uint32_t>(pointers_.size())};
}

engine_settings_record::engine_settings_record(const engine_settings& settings)
    : exclusions_(settings.exclusions), extensions_(settings.extensions)
{
    record_.engine_version = settings.engine_version.c_str();
    record_.engine_def_version = settings.engine_def_version.c_str();
    record_.engine_def_date = settings.engine_def_date;
    record_.detect_spyware = settings.detect_spyware;
    record_.detect_viruses = settings.detect_viruses;
    record_.use_exclusions = settings.use_exclusions;
    record_.exclusions = exclusions_.get();
    record_.use_extensions = settings.use_extensions;
    record_.extensions = extensions_.get();
    record_.ap_scan_archives = settings.ap_scan_archives;
    record_.ap_max_scan_file_size = settings.ap_max_scan_file_size;
    record_.ap_max_scan_arc_size = settings.ap_max_scan_arc_size;
    record_.ap_scan_type = settings.ap_scan_type;
    record_.ap_heu_level = settings.ap_heu_level;
    record_.ap_try_disinfect = settings.ap_try_disinfect;
    record_.ap_detect_only = settings.ap_detect_only;
    record_.update_url = settings.upd_s.update_url.c_str();
    record_.update_use_proxy = settings.upd_s.use_proxy;
    record_.update_proxy_host = settings.upd_s.proxy_host.c_str();
    record_.update_proxy_port = settings.upd_s.proxy_port;
    record_.update_proxy_user = settings.upd_s.proxy_user.c_str();
    record_.update_proxy_password = settings.upd_s.proxy_password.c_str();
    record_.update_is_automatic = settings.upd_s.is_automatic;
    record_.update_proxy_type = settings.upd_s.proxy_type;
}

schedule_settings_record::schedule_settings_record(const schedule_settings& schedule) : paths_(schedule.options.paths)
{
    record_.enabled = schedule.enabled;
    record_.day_of_month = schedule.day_of_month;
    record_.mode = schedule.mode;
    record_.time = schedule.time;
    record_.weekdays = schedule.weekdays;
    record_.last_scan_time = schedule.last_scan_time;
    const scan_options& options = schedule.options;
    record_.options.paths = paths_.get();
    record_.options.scan_type = options.scan_type;
    record_.options.scan_local_machine = options.scan_local_machine;
    record_.options.scan_memory = options.scan_memory;
    record_.options.heu_level = options.heu_level;
    record_.options.try_disinfect = options.try_disinfect;
    record_.options.use_extensions = options.use_extensions;
    record_.options.detect_only = options.detect_only;
    record_.options.detect_spyware = options.detect_spyware;
    record_.options.detect_viruses = options.detect_viruses;
}

} // namespace av
