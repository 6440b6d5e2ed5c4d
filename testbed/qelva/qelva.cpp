// QELVA.dll: the product library. Its command-line handler understands
// "/quietus": it connects to the engine library, asks the engine to stop its
// watch service and waits for the confirmation.
//
// Knobs, section [QELVA] of testbed.ini (see testbed/README.md):
//   create_fails   1: create_application returns null
//   no_handler     1: the application has no command-line handler
#include "testbed/qelva/qelva_application.h"

#include "engine/scancore_interface.h"
#include "testbed/common/environment.h"
#include "testbed/common/handles.h"
#include "testbed/common/names.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cwctype>
#include <string>

namespace {

using namespace testbed;

constexpr DWORD ready_limit_ms = 10000;
constexpr DWORD confirmation_limit_ms = 30000;

struct stop_exchange
{
    unique_handle ready = own_handle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    unique_handle stopped = own_handle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
};

void SCR_CALL on_engine_state(void* context, int32_t state)
{
    if (state != SCR_state_bad)
        SetEvent(static_cast<stop_exchange*>(context)->ready.get());
}

void SCR_CALL on_watch_service_stopped(void* context)
{
    SetEvent(static_cast<stop_exchange*>(context)->stopped.get());
}

// One table of each size, only the two entries used filled in.
struct tables
{
    scr_callbacks15 t15{};
    scr_callbacks14 t14{};
    scr_callbacks13 t13{};

    tables()
    {
        t15.engine_state = t14.engine_state = t13.engine_state = on_engine_state;
        t15.watch_service_stopped = t14.watch_service_stopped = t13.watch_service_stopped = on_watch_service_stopped;
    }

    const void* of_size(int size) const
    {
        return size == 13 ? static_cast<const void*>(&t13) : size == 14 ? static_cast<const void*>(&t14) : &t15;
    }
};

bool stop_watch_service()
{
    std::wstring folder = shell_folder(CSIDL_PROGRAM_FILES_COMMON) + engine_subfolder;
    unique_module library(LoadLibraryExW((folder + L"Scancore.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!library) {
        trace(L"engine library not loaded (%lu)", GetLastError());
        return false;
    }
    auto connect = bound_export<SCR_connect_fn>(library.get(), "SCR_connect");
    auto close = bound_export<SCR_close_fn>(library.get(), "SCR_close");
    auto stop = bound_export<SCR_stop_watch_service_fn>(library.get(), "SCR_stop_watch_service");
    if (!connect || !close || !stop)
        return false;

    stop_exchange exchange;
    tables callbacks;
    scr_handle engine = connect(&exchange, callbacks.of_size(engine_table_size(folder)));
    if (!engine) {
        trace(L"no engine connection");
        return false;
    }
    bool stopped = false;
    if (WaitForSingleObject(exchange.ready.get(), ready_limit_ms) != WAIT_OBJECT_0) {
        trace(L"engine not ready");
    } else {
        int32_t result = stop(engine);
        stopped = result == SCR_success &&
                  WaitForSingleObject(exchange.stopped.get(), confirmation_limit_ms) == WAIT_OBJECT_0;
        trace(L"stop request %d, %ls", result, stopped ? L"confirmed" : L"not confirmed");
    }
    close(engine);  // ends the engine's thread before the events go
    return stopped;
}

class handler : public qelva::command_line_handler
{
public:
    bool process_command_line(const wchar_t* command_line) override
    {
        std::wstring text = command_line ? command_line : L"";
        trace(L"command line '%ls'", text.c_str());
        std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
        return text.find(L"/quietus") != std::wstring::npos && stop_watch_service();
    }
};

class application : public qelva::application
{
public:
    qelva::command_line_handler* get_command_line_handler() override
    {
        if (own_settings().integer(L"no_handler", 0))
            return nullptr;
        return &handler_;
    }

private:
    handler handler_;
};

application the_application;

}  // namespace

extern "C" qelva::application* __cdecl create_application(void)
{
    if (own_settings().integer(L"create_fails", 0)) {
        trace(L"create_application fails as set");
        return nullptr;
    }
    return &the_application;
}
