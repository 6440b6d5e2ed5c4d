#include "watch_stop/stopper.h"

#include "tessel/exception.h"
#include "tessel/format.h"
#include "tessel/log/log.h"

#include <windows.h>

#include <ctime>
#include <string>

namespace av {

namespace {

tessel::unique_handle make_event()
{
    return tessel::unique_handle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

[[noreturn]] void fail(const wchar_t* logged, const std::wstring& raised)
{
    tessel::log::error(L"%s", logged);
    throw tessel::exception_w(raised);
}

} // namespace

ScrWatchServiceStopper::ScrWatchServiceStopper()
{
    tessel::log::debug("Entering ScrWatchServiceStopper's ctor");
    settings_event_ = make_event();
    state_event_ = make_event();
    engine_ = new engine(this);
    engine_created_ = true;
    tessel::log::debug("Waiting for engine to send settings and ready signal");
    const HANDLE ready[] = {settings_event_.get(), state_event_.get()};
    const DWORD waited = WaitForMultipleObjects(2, ready, TRUE, 10000);
    if (waited == WAIT_OBJECT_0) {
        tessel::log::debug("Leaving ScrWatchServiceStopper's ctor");
        return;
    }
    end_session();
    if (waited == WAIT_TIMEOUT) {
        const wchar_t* text = L"Can't stop watch service because connection to Scancore can't be established";
        fail(text, text);
    }
    fail(L"WaitForMultipleObjects did not return WAIT_OBJECT_0",
         tessel::format(L"WaitForMultipleObjects returned %d", static_cast<int>(waited)));
}

ScrWatchServiceStopper::~ScrWatchServiceStopper()
{
    tessel::log::debug("Entering ~ScrWatchServiceStopper");
    end_session();
    tessel::log::debug("Leaving ~ScrWatchServiceStopper");
}

// The session first: no callback can reach the events once it has ended.
void ScrWatchServiceStopper::end_session()
{
    engine_.reset();
    settings_event_.reset();
    state_event_.reset();
}

void ScrWatchServiceStopper::stop()
{
    if (!engine_created_ || !engine_)
        throw tessel::exception_w(L"ScrWatchServiceStopper::stop: Engine is not initialized");
    tessel::log::debug("Making stop_watch_service() dll call");
    engine_->stop_watch_service();
    tessel::log::debug("Made stop_watch_service() dll call");
}

bool ScrWatchServiceStopper::stopped()
{
    tessel::scope guard(&lock_);
    return stopped_;
}

void ScrWatchServiceStopper::consume(message_ptr message)
{
    message->dispatch(*this);
}

void ScrWatchServiceStopper::on_engine_state(std::int32_t state)
{
    if (state == bad) {
        tessel::log::error("Scancore indicates that it's in av::bad state");
        return;
    }
    tessel::log::debug("ScrWatchServiceStopper: received state");
    SetEvent(state_event_.get());
}

void ScrWatchServiceStopper::on_engine_settings(const engine_settings&)
{
    tessel::log::debug("ScrWatchServiceStopper: received settings");
    SetEvent(settings_event_.get());
}

void ScrWatchServiceStopper::on_stop_watch_service()
{
    tessel::scope guard(&lock_);
    stopped_ = true;
}

void stop_av_watch_service(std::int64_t limit_seconds)
{
    tessel::log::debug("Entering stop_av_watch_service");
    ScrWatchServiceStopper stopper;
    stopper.stop();
    tessel::log::debug("Stop service request made, awaiting service's signal");
    const std::int64_t start = _time64(nullptr);
    do {
        if (stopper.stopped()) {
            tessel::log::debug("Received service's signal, leaving stop_av_watch_service");
            return;
        }
        Sleep(20);
    } while (_time64(nullptr) - start <= limit_seconds);
    const std::wstring text = L"Service stop request was made, but the service did not go down within " +
                              std::to_wstring(limit_seconds) + L" seconds. ";
    tessel::log::error(L"%s", text.c_str());
    throw tessel::exception_w(text);
}

} // namespace av
