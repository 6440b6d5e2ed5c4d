// The engine library Scancore.dll as its callers see it: calling convention,
// exports, callback tables and the records passed through them. Plain C
// declarations, shared by the engine client and by the library itself.
//
// Every export and every callback uses SCR_CALL (__stdcall). The exports carry
// undecorated names ("SCR_connect", not "_SCR_connect@8") and are looked up by
// name at run time.
//
// Which callback table an engine reads depends on its generation:
//   engines before 1.5.34      read the 13-entry table (scr_callbacks13),
//   engines 1.5.34 to 2.1.9    read the 14-entry table (scr_callbacks14),
//   engines 2.1.10 and later   read the 15-entry table (scr_callbacks15).
// Entries a caller does not fill are null; the library skips null entries.
// Every callback gets the connection's context pointer first and runs on a
// thread of the library's own.
#ifndef ENGINE_SCANCORE_INTERFACE_H
#define ENGINE_SCANCORE_INTERFACE_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SCR_CALL __stdcall

// Engine connection handle; 0 means no connection.
typedef uint32_t scr_handle;

// Result codes of the calls that return one. Other values may appear.
enum scr_result
{
    SCR_success = 0,
    SCR_bad_parameters = 1,  // "Bad parameters passed to the engine"
    SCR_not_running = 2,     // "The engine is not up and running"
    SCR_failed = 3           // "The engine fails the operation"
};

// Engine state codes as the state callback reports them: -1 is the bad state;
// 0 and 1 to 6 are usable states.
enum scr_engine_state
{
    SCR_state_bad = -1,
    SCR_state_running = 1
};

// A list of texts: pointer to an array of pointers to zero-terminated wide
// texts, then the count. Sender owns everything.
typedef struct scr_text_list
{
    const wchar_t* const* items;
    uint32_t count;
} scr_text_list;

// Engine settings record, sent to the settings callback and taken by
// SCR_set_engine_settings. Texts are owned by the sender and valid only during
// the call.
typedef struct scr_engine_settings
{
    const wchar_t* engine_version;          //   0
    const wchar_t* engine_def_version;      //   4  signature (definitions) version
    int64_t engine_def_date;                //   8  signature date
    uint8_t detect_spyware;                 //  16
    uint8_t detect_viruses;                 //  17
    uint8_t use_exclusions;                 //  18
    uint8_t reserved[9];                    //  19  zero
    scr_text_list exclusions;               //  28
    uint8_t use_extensions;                 //  36
    scr_text_list extensions;               //  40
    uint8_t ap_scan_archives;               //  48  protection: scan archives
    uint32_t ap_max_scan_file_size;         //  52  protection: largest file to scan
    uint32_t ap_max_scan_arc_size;          //  56  protection: largest archive to scan
    int32_t ap_scan_type;                   //  60  0 to 2
    int32_t ap_heu_level;                   //  64  0 to 2
    uint8_t ap_try_disinfect;               //  68
    uint8_t ap_detect_only;                 //  69
    const wchar_t* update_url;              //  72
    uint8_t update_use_proxy;               //  76
    const wchar_t* update_proxy_host;       //  80
    uint16_t update_proxy_port;             //  84
    const wchar_t* update_proxy_user;       //  88
    const wchar_t* update_proxy_password;   //  92
    uint8_t update_is_automatic;            //  96
    // Proxy type (upd_s.proxy_type): read and sent by engines 1.5.34 to 2.1.9
    // only; later engines leave it zero and ignore it.
    int32_t update_proxy_type;              // 100
} scr_engine_settings;                      // 104 bytes

// Options of a scan, part of the schedule record and of the running-scan report.
typedef struct scr_scan_options
{
    scr_text_list paths;
    int32_t scan_type;
    uint8_t scan_local_machine;
    uint8_t scan_memory;
    int32_t heu_level;
    uint8_t try_disinfect;
    uint8_t use_extensions;
    uint8_t detect_only;
    uint8_t detect_spyware;
    uint8_t detect_viruses;
} scr_scan_options;

// Schedule settings record: schedule callback and SCR_set_schedule_settings.
typedef struct scr_schedule_settings
{
    uint8_t enabled;
    int32_t day_of_month;
    int32_t mode;
    int32_t time;
    int32_t weekdays;
    int64_t last_scan_time;
    scr_scan_options options;
} scr_schedule_settings;

typedef struct scr_exclusions
{
    scr_text_list directories;
    scr_text_list files;
} scr_exclusions;

typedef struct scr_scanned_object
{
    const wchar_t* path;
    uint32_t flags;
} scr_scanned_object;

typedef struct scr_infection
{
    const wchar_t* path;
    const wchar_t* threat_name;
    int32_t action;
} scr_infection;

typedef struct scr_quarantine_item
{
    const wchar_t* id;
    const wchar_t* original_path;
    const wchar_t* threat_name;
    int64_t date;
} scr_quarantine_item;

typedef struct scr_quarantine_list
{
    const scr_quarantine_item* items;
    uint32_t count;
} scr_quarantine_list;

// Callbacks. The records they receive are valid only during the call.
typedef void (SCR_CALL* scr_engine_state_callback)(void* context, int32_t state);
typedef void (SCR_CALL* scr_engine_settings_callback)(void* context, const scr_engine_settings* settings);
typedef void (SCR_CALL* scr_exclusions_callback)(void* context, const scr_exclusions* exclusions);
typedef void (SCR_CALL* scr_ap_state_callback)(void* context, uint8_t active);
typedef void (SCR_CALL* scr_scan_callback)(void* context, const scr_scanned_object* object, int32_t result);
typedef void (SCR_CALL* scr_infection_callback)(void* context, const scr_infection* infection);
typedef void (SCR_CALL* scr_running_scan_callback)(void* context, const scr_scan_options* scan,
                                                   int32_t files_scanned, int32_t infections, int32_t progress);
typedef void (SCR_CALL* scr_quarantine_callback)(void* context, int32_t change, const scr_quarantine_list* items);
typedef void (SCR_CALL* scr_update_state_callback)(void* context, int32_t state);
typedef void (SCR_CALL* scr_update_progress_callback)(void* context, int32_t received, int32_t total,
                                                      int32_t files_done, int32_t files_total);
typedef void (SCR_CALL* scr_schedule_settings_callback)(void* context, const scr_schedule_settings* schedule);
typedef void (SCR_CALL* scr_watch_service_stopped_callback)(void* context);
typedef void (SCR_CALL* scr_unused_callback)(void);

// Table of engines 2.1.10 and later (15 entries).
typedef struct scr_callbacks15
{
    scr_engine_state_callback engine_state;                    //  0
    scr_engine_settings_callback engine_settings;              //  1
    scr_exclusions_callback exclusions;                        //  2
    scr_ap_state_callback ap_state;                            //  3
    scr_scan_callback scan;                                    //  4
    scr_unused_callback unused5;                               //  5  null
    scr_infection_callback scan_infection;                     //  6
    scr_running_scan_callback running_scan;                    //  7
    scr_infection_callback ap_infection;                       //  8
    scr_quarantine_callback quarantine;                        //  9
    scr_update_state_callback update_state;                    // 10
    scr_update_progress_callback update_progress;              // 11
    scr_unused_callback unused12;                              // 12  null
    scr_schedule_settings_callback schedule_settings;          // 13
    scr_watch_service_stopped_callback watch_service_stopped;  // 14
} scr_callbacks15;

// Table of engines 1.5.34 to 2.1.9 (14 entries): no exclusions entry.
typedef struct scr_callbacks14
{
    scr_engine_state_callback engine_state;                    //  0
    scr_engine_settings_callback engine_settings;              //  1
    scr_ap_state_callback ap_state;                            //  2
    scr_scan_callback scan;                                    //  3
    scr_unused_callback unused4;                               //  4  null
    scr_infection_callback scan_infection;                     //  5
    scr_running_scan_callback running_scan;                    //  6
    scr_infection_callback ap_infection;                       //  7
    scr_quarantine_callback quarantine;                        //  8
    scr_update_state_callback update_state;                    //  9
    scr_update_progress_callback update_progress;              // 10
    scr_unused_callback unused11;                              // 11  null
    scr_schedule_settings_callback schedule_settings;          // 12
    scr_watch_service_stopped_callback watch_service_stopped;  // 13
} scr_callbacks14;

// Table of engines before 1.5.34 (13 entries): no exclusions and no schedule entry.
typedef struct scr_callbacks13
{
    scr_engine_state_callback engine_state;                    //  0
    scr_engine_settings_callback engine_settings;              //  1
    scr_ap_state_callback ap_state;                            //  2
    scr_scan_callback scan;                                    //  3
    scr_unused_callback unused4;                               //  4  null
    scr_infection_callback scan_infection;                     //  5
    scr_running_scan_callback running_scan;                    //  6
    scr_infection_callback ap_infection;                       //  7
    scr_quarantine_callback quarantine;                        //  8
    scr_update_state_callback update_state;                    //  9
    scr_update_progress_callback update_progress;              // 10
    scr_unused_callback unused11;                              // 11  null
    scr_watch_service_stopped_callback watch_service_stopped;  // 12
} scr_callbacks13;

// Exports, as pointer types for GetProcAddress. The callback table is one of
// the three above, as the engine's generation requires; it is read during
// SCR_connect only.
typedef scr_handle (SCR_CALL* SCR_connect_fn)(void* context, const void* callbacks);
typedef void (SCR_CALL* SCR_close_fn)(scr_handle engine);
typedef int32_t (SCR_CALL* SCR_stop_watch_service_fn)(scr_handle engine);
typedef int32_t (SCR_CALL* SCR_set_engine_settings_fn)(scr_handle engine, const scr_engine_settings* settings);
typedef int32_t (SCR_CALL* SCR_set_schedule_settings_fn)(scr_handle engine, const scr_schedule_settings* schedule);
typedef int32_t (SCR_CALL* SCR_get_engine_state_fn)(scr_handle engine);
typedef int32_t (SCR_CALL* SCR_activate_protection_fn)(scr_handle engine);
typedef int32_t (SCR_CALL* SCR_deactivate_protection_fn)(scr_handle engine);
typedef int32_t (SCR_CALL* SCR_set_exclusions_fn)(scr_handle engine, const scr_exclusions* exclusions);
typedef int32_t (SCR_CALL* SCR_set_default_exts_fn)(scr_handle engine);
typedef int32_t (SCR_CALL* SCR_get_quarantine_items_fn)(scr_handle engine);
typedef int32_t (SCR_CALL* SCR_restore_quarantine_items_fn)(scr_handle engine, const scr_text_list* ids);
typedef int32_t (SCR_CALL* SCR_delete_quarantine_items_fn)(scr_handle engine, const scr_text_list* ids);
typedef int32_t (SCR_CALL* SCR_restore_and_exclude_quarantine_items_fn)(scr_handle engine, const scr_text_list* ids);
typedef int32_t (SCR_CALL* SCR_start_scanning_fn)(scr_handle engine, const scr_scan_options* scan);
typedef int32_t (SCR_CALL* SCR_stop_scanning_fn)(scr_handle engine);
typedef int32_t (SCR_CALL* SCR_scan_object_fn)(scr_handle engine, const wchar_t* path);
typedef int32_t (SCR_CALL* SCR_start_updating_fn)(scr_handle engine);
typedef int32_t (SCR_CALL* SCR_cancel_updating_fn)(scr_handle engine);
typedef int32_t (SCR_CALL* SCR_delete_log_file_fn)(scr_handle engine);

#ifdef __cplusplus
}  // extern "C"

#define SCR_LAYOUT_CHECK(condition) static_assert(condition, #condition)
#else
#define SCR_LAYOUT_CHECK(condition) _Static_assert(condition, #condition)
#endif

SCR_LAYOUT_CHECK(sizeof(void*) == 4);
SCR_LAYOUT_CHECK(sizeof(wchar_t) == 2);
SCR_LAYOUT_CHECK(sizeof(scr_text_list) == 8);
SCR_LAYOUT_CHECK(offsetof(scr_engine_settings, engine_def_date) == 8);
SCR_LAYOUT_CHECK(offsetof(scr_engine_settings, detect_spyware) == 16);
SCR_LAYOUT_CHECK(offsetof(scr_engine_settings, reserved) == 19);
SCR_LAYOUT_CHECK(offsetof(scr_engine_settings, exclusions) == 28);
SCR_LAYOUT_CHECK(offsetof(scr_engine_settings, use_extensions) == 36);
SCR_LAYOUT_CHECK(offsetof(scr_engine_settings, extensions) == 40);
SCR_LAYOUT_CHECK(offsetof(scr_engine_settings, ap_scan_archives) == 48);
SCR_LAYOUT_CHECK(offsetof(scr_engine_settings, ap_max_scan_file_size) == 52);
SCR_LAYOUT_CHECK(offsetof(scr_engine_settings, ap_max_scan_arc_size) == 56);
SCR_LAYOUT_CHECK(offsetof(scr_engine_settings, ap_scan_type) == 60);
SCR_LAYOUT_CHECK(offsetof(scr_engine_settings, ap_heu_level) == 64);
SCR_LAYOUT_CHECK(offsetof(scr_engine_settings, ap_try_disinfect) == 68);
SCR_LAYOUT_CHECK(offsetof(scr_engine_settings, ap_detect_only) == 69);
SCR_LAYOUT_CHECK(offsetof(scr_engine_settings, update_url) == 72);
SCR_LAYOUT_CHECK(offsetof(scr_engine_settings, update_use_proxy) == 76);
SCR_LAYOUT_CHECK(offsetof(scr_engine_settings, update_proxy_host) == 80);
SCR_LAYOUT_CHECK(offsetof(scr_engine_settings, update_proxy_port) == 84);
SCR_LAYOUT_CHECK(offsetof(scr_engine_settings, update_proxy_user) == 88);
SCR_LAYOUT_CHECK(offsetof(scr_engine_settings, update_proxy_password) == 92);
SCR_LAYOUT_CHECK(offsetof(scr_engine_settings, update_is_automatic) == 96);
SCR_LAYOUT_CHECK(offsetof(scr_engine_settings, update_proxy_type) == 100);
SCR_LAYOUT_CHECK(sizeof(scr_engine_settings) == 104);
SCR_LAYOUT_CHECK(sizeof(scr_callbacks15) == 15 * sizeof(void*));
SCR_LAYOUT_CHECK(sizeof(scr_callbacks14) == 14 * sizeof(void*));
SCR_LAYOUT_CHECK(sizeof(scr_callbacks13) == 13 * sizeof(void*));

#undef SCR_LAYOUT_CHECK

#endif
