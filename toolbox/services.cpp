#include "toolbox/services.h"

#include "toolbox/processes.h"
#include "toolbox/waits.h"
#include "tessel/log/log.h"
#include "tessel/registry2/key.h"
#include "tessel/unicode/unicode.h"
#include "tessel/unique_any.h"

#include <set>

namespace {

using owned_service_handle = tessel::unique_service_handle;

const DWORD stop_budget_ms = 30000;
// While a stop is pending, one line each second of waiting.
const DWORD pending_line_interval_ms = 1000;
const wchar_t services_path[] = L"SYSTEM\\CurrentControlSet\\Services";

int last_error()
{
    return static_cast<int>(GetLastError());
}

// The one time budget of a stop, running from construction.
class stop_budget {
public:
    bool spent() const { return stop_budget_exceeded(start_, GetTickCount()); }

private:
    DWORD start_ = GetTickCount();
};

// The service's current state; false (logged) when it cannot be queried.
bool query_state(SC_HANDLE service, DWORD& state)
{
    SERVICE_STATUS_PROCESS status{};
    static_assert(sizeof status == 36, "process-information status record");
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                              &needed)) {
        tessel::log::info("QueryServiceStatusEx failed, System Error Code = %d", last_error());
        return false;
    }
    state = status.dwCurrentState;
    return true;
}

enum class pending_end { stopped, running, failed };

// A stop already under way: wait for it without sending a control of our own,
// as long as the service keeps reporting stop pending. The service is looked
// at every look interval; the pending line is written once a second.
pending_end wait_for_pending_stop(SC_HANDLE service, const stop_budget& budget)
{
    const DWORD start = GetTickCount();
    DWORD lines = 0;
    for (;;) {
        if (static_cast<DWORD>(GetTickCount() - start) >= lines * pending_line_interval_ms) {
            tessel::log::info("Service stop pending...");
            ++lines;
        }
        Sleep(look_interval_ms);
        DWORD state = 0;
        if (!query_state(service, state))
            return pending_end::failed;
        if (state == SERVICE_STOPPED) {
            tessel::log::info("Service stopped successfully.");
            return pending_end::stopped;
        }
        if (budget.spent()) {
            tessel::log::info("Service stop timed out.");
            return pending_end::failed;
        }
        if (state != SERVICE_STOP_PENDING)
            return pending_end::running;
    }
}

// Sends the stop control and polls until the service reports stopped or the
// budget is spent.
bool send_stop_and_wait(SC_HANDLE service, const stop_budget& budget)
{
    SERVICE_STATUS status{};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        tessel::log::info("ControlService failed, System Error Code = %d", last_error());
        return false;
    }
    DWORD state = status.dwCurrentState;
    while (state != SERVICE_STOPPED) {
        Sleep(look_interval_ms);
        if (!query_state(service, state))
            return false;
        if (state == SERVICE_STOPPED)
            break;
        if (budget.spent()) {
            tessel::log::info("Wait timed out");
            return false;
        }
    }
    tessel::log::info("Service stopped successfully.");
    return true;
}

// True once the service is known to be stopped.
bool bring_to_stop(SC_HANDLE service, const stop_budget& budget)
{
    DWORD state = 0;
    if (!query_state(service, state))
        return false;
    if (state == SERVICE_STOPPED) {
        tessel::log::info("Service is already stopped.");
        return true;
    }
    if (state == SERVICE_STOP_PENDING) {
        const pending_end end = wait_for_pending_stop(service, budget);
        if (end != pending_end::running)
            return end == pending_end::stopped;
    }
    return send_stop_and_wait(service, budget);
}

// Whether the program that the service key's ImagePath names (expanded when
// it is an expandable string, in the ANSI code page; quotes and arguments
// taken off) has the process name as its whole file name. A matching key must
// also have a string DisplayName, which comes back in display_name. Raises
// when the key or one of the two values cannot be read as a string.
bool image_matches(const tessel::registry2::key& services, const std::wstring& name, const std::string& process_name,
                   std::wstring& display_name)
{
    const tessel::registry2::key service = services.open(name, false);
    using tessel::registry2::up_to_first_nul;
    const std::string image_path = up_to_first_nul(service.read_string(std::string("ImagePath")));
    if (!process_name_matches(program_file_name(image_path), process_name))
        return false;
    display_name = up_to_first_nul(service.read_string(std::wstring(L"DisplayName")));
    return true;
}

// Walks the subkeys of the Services key in ascending name order and calls
// visit(services, name, display_name) for each one that image_matches, until
// visit returns true. A subkey that fails in any way (cannot be opened, lacks
// a string value, visit raising) is passed over; a Services key that cannot
// be opened or listed is walked as empty. The search and the removal walk
// alike, so that both settle on the same key.
template <class Visit>
bool find_matching_service_key(const std::string& process_name, Visit visit)
{
    try {
        const tessel::registry2::key services =
            tessel::registry2::key(HKEY_LOCAL_MACHINE).open(services_path, false);
        const std::set<std::wstring> names = services.subkey_names();
        for (const std::wstring& name : names) {
            try {
                std::wstring display_name;
                if (image_matches(services, name, process_name, display_name) &&
                    visit(services, name, display_name))
                    return true;
            } catch (...) {
            }
        }
    } catch (...) {
    }
    return false;
}

} // namespace

bool stop_budget_exceeded(DWORD start_tick, DWORD now_tick)
{
    return static_cast<DWORD>(now_tick - start_tick) > stop_budget_ms;
}

bool is_service_installed(const std::string& service_name)
{
    owned_service_handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return true;
    owned_service_handle service(OpenServiceA(manager.get(), service_name.c_str(), SERVICE_QUERY_STATUS));
    return service || GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST;
}

bool is_service_deleted(const std::string& service_name)
{
    owned_service_handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return false;
    owned_service_handle service(OpenServiceA(manager.get(), service_name.c_str(), SERVICE_CHANGE_CONFIG));
    if (!service) {
        const DWORD error = GetLastError();
        return error == ERROR_SERVICE_DOES_NOT_EXIST || error == ERROR_SERVICE_MARKED_FOR_DELETE;
    }
    // A change that changes nothing is refused only for a service marked for
    // deletion, which may still be opened and queried until it stops.
    return !ChangeServiceConfigA(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) &&
           GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
}

bool stop_and_delete_service(const std::string& service_name, bool delete_service)
{
    tessel::log::info("Stop & Delete '%s' Service", service_name.c_str());
    const stop_budget budget;

    owned_service_handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        tessel::log::info("OpenSCManager failed, System Error Code = %d", last_error());
        return false;
    }
    owned_service_handle service(
        OpenServiceA(manager.get(), service_name.c_str(), DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) {
        tessel::log::info("OpenService call failed, System Error Code = %d", last_error());
        return false;
    }
    if (!bring_to_stop(service.get(), budget))
        return false;
    if (!delete_service)
        return true;
    if (!DeleteService(service.get())) {
        tessel::log::info("DeleteService failed, System Error Code = %d", last_error());
        return false;
    }
    tessel::log::info("Service deleted successfully");
    return true;
}

std::string find_service_by_image(const std::string& process_name)
{
    tessel::log::info("Search if %s service is installed", process_name.c_str());
    std::string found;
    const bool matched = find_matching_service_key(
        process_name,
        [&](const tessel::registry2::key&, const std::wstring& name, const std::wstring& display_name) {
            // The key name, not the display name: the service control manager
            // opens services by their key name only.
            std::string key_name = tessel::unicode::to_narrow(name, CP_ACP, true);
            tessel::log::info(L"Service found. Display Name: %ls", display_name.c_str());
            found = std::move(key_name);
            return true;
        });
    if (!matched)
        tessel::log::info("Service not found");
    return found;
}

bool remove_service_by_image(const std::string& process_name)
{
    return find_matching_service_key(
        process_name, [](const tessel::registry2::key& services, const std::wstring& name, const std::wstring&) {
            services.remove_key(name, true);
            tessel::log::info(L"Service %ls is killed", name.c_str());
            return true;
        });
}

void remove_service(const std::string& service_name, const std::string& process_name, bool delete_service)
{
    std::string name = service_name;
    if (!is_service_installed(name)) {
        tessel::log::info("The specified service (%s) does not exist as an installed service.", name.c_str());
        std::string found = find_service_by_image(process_name);
        if (!found.empty())
            name = std::move(found);
    }
    if (is_service_installed(name) && stop_and_delete_service(name, delete_service))
        return;
    // The service control manager could not do it: end the service's process
    // and take its registration out of the registry directly.
    deal_with_process(process_name);
    if (delete_service)
        remove_service_by_image(process_name);
}
