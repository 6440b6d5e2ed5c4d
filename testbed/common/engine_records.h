// Owning copies of the engine library's records: the library keeps its
// current settings this way, and a test client keeps what its callbacks
// received. view() gives the plain record, valid while the copy is unchanged.
#pragma once

#include "engine/scancore_interface.h"

#include <string>
#include <vector>

namespace testbed {

class text_list_copy
{
public:
    text_list_copy() = default;
    explicit text_list_copy(const scr_text_list& list);
    explicit text_list_copy(std::vector<std::wstring> items) : items_(std::move(items)) {}

    const std::vector<std::wstring>& items() const { return items_; }
    scr_text_list view() const;

private:
    std::vector<std::wstring> items_;
    mutable std::vector<const wchar_t*> pointers_;
};

class engine_settings_copy
{
public:
    engine_settings_copy();  // the engine's factory settings
    explicit engine_settings_copy(const scr_engine_settings& record);

    scr_engine_settings view() const;

    // Scalars as received; the text and list fields of this record are not used.
    scr_engine_settings values{};
    std::wstring engine_version, engine_def_version, update_url, update_proxy_host, update_proxy_user,
        update_proxy_password;
    text_list_copy exclusions, extensions;
};

class schedule_settings_copy
{
public:
    schedule_settings_copy();  // the engine's factory schedule
    explicit schedule_settings_copy(const scr_schedule_settings& record);

    scr_schedule_settings view() const;

    scr_schedule_settings values{};
    text_list_copy paths;
};

}  // namespace testbed
