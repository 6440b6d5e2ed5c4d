// The remover's engine stage: stopping the engine's watch and scanning
// services by the means the installed engine version allows, uninstalling
// them, restarting them for a sibling product that keeps the engine, and
// removing the engine's driver, folders and registry traces.
//
// The engine's folder, services, driver and keys are those of the family's
// table (family/names.h); its version is the file version of the scanning
// service's program in its folder.
#pragma once

#include "family/product.h"

#include <string>

// The engine version (major, minor, build); false and all three 0 when it
// cannot be read.
bool read_engine_version(unsigned& major, unsigned& minor, unsigned& build);

// True when the version cannot be read or is greater than the one given.
bool is_engine_version_above(unsigned major, unsigned minor, unsigned build);

// How the watch service of an engine version is stopped.
enum class watch_stop_way {
    legacy,            // before 1.5.34: through the engine library's oldest table
    product_library,   // 1.5.34 to 1.5.90: the product library's " /quietus" command
    quietus_2_1_1,     // 1.5.91 to 2.1.4: Quietus's build for them
    quietus_2_1_5,     // 2.1.5 to 2.1.9: Quietus's build for them
    in_process         // 2.1.10 and later, or an unreadable version: the stopper, 30 s
};
watch_stop_way watch_stop_way_for(bool readable, unsigned major, unsigned minor, unsigned build);

// Stops both services (the watch service by the way its version needs) and,
// with uninstall, uninstalls them and, if they did not stop, removes them
// through the service manager. abbreviation is the product's short name, which
// names its library. Never raises.
void stop_and_delete_services(const ProductInfo& info, const std::wstring& abbreviation, bool uninstall);

// True when the watch service is not running at the end. Never raises.
bool stop_scancore_watch_service(const ProductInfo& info, const std::wstring& abbreviation);

// True when the scanning service is not running at the end. Never raises.
bool stop_scanning_service();

// Engines before 1.5.34: true when neither service runs at the end.
bool stop_services_legacy(const std::string& engine_folder);
void stop_watch_service_legacy();

// Starts both services again; true when both run afterwards.
bool restart_engine_services();

// Uninstalls the engine's filter driver and removes its folders, SharedDLLs
// counters and registry keys.
void kill_engine();
