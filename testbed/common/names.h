// Names the doubles and their tests agree on.
#pragma once

namespace testbed {

// The engine's two services, registered under these names (display name the same).
inline constexpr const wchar_t* watch_service_name = L"AV Watch Service";
inline constexpr const wchar_t* scanning_service_name = L"Scancore Scanning Service";

// The watch service waits on this event; the engine library sets it to stop the service.
inline constexpr const wchar_t* watch_stop_request_event = L"Global\\ScrWatchServiceStopRequest";

// Engine folder below the common program files folder.
inline constexpr const wchar_t* engine_subfolder = L"Common Sundrel Suite\\Scancore\\";

// Settings file each double reads beside itself, and the machine-wide folder
// below the common application data folder that holds the fallback settings
// file and the trace every double writes.
inline constexpr const wchar_t* settings_file_name = L"testbed.ini";
inline constexpr const wchar_t* machine_folder = L"testbed\\";
inline constexpr const wchar_t* trace_file_name = L"trace.log";

}  // namespace testbed
