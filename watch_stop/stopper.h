// Stopping the engine's watch service through the engine itself: the service
// refuses the service manager's stop and goes down when the engine library is
// asked to stop it.
#pragma once

#include "engine/messages.h"
#include "engine/queues.h"
#include "engine/session.h"
#include "tessel/mutex.h"
#include "tessel/reference_counting/strong_ptr.h"
#include "tessel/unique_any.h"

#include <cstdint>

namespace av {

// Opens an engine session and waits (10 s at most) until the engine has
// reported a usable state and its settings; stop() then asks it to stop the
// watch service, and stopped() tells whether the engine has confirmed.
class ScrWatchServiceStopper : public Sundrel::MessageConsumer<message_ptr>, public message_handler
{
public:
    // Raises tessel::exception_w when the session cannot be opened or the
    // engine does not get ready in time.
    ScrWatchServiceStopper();
    ~ScrWatchServiceStopper() override;
    ScrWatchServiceStopper(const ScrWatchServiceStopper&) = delete;
    ScrWatchServiceStopper& operator=(const ScrWatchServiceStopper&) = delete;

    // Raises tessel::exception_w when the engine refuses the request.
    void stop();
    bool stopped();

    void consume(message_ptr message) override;
    void on_engine_state(std::int32_t state) override;
    void on_engine_settings(const engine_settings& settings) override;
    void on_stop_watch_service() override;

private:
    void end_session();

    // The events and the lock are declared before the session, so that the
    // session, whose callbacks use them, always ends first.
    tessel::mutex lock_;  // guards stopped_
    bool stopped_ = false;
    tessel::unique_handle state_event_;     // set by a usable state
    tessel::unique_handle settings_event_;  // set by the settings
    tessel::reference_counting::strong_ptr<engine> engine_;
    bool engine_created_ = false;
};

// Stops the watch service, waiting for the engine's confirmation more than
// limit_seconds whole seconds at most. Raises tessel::exception_w on every
// failure, for the time-out "Service stop request was made, but the service
// did not go down within <limit> seconds. ".
void stop_av_watch_service(std::int64_t limit_seconds);

} // namespace av
