// The connection to the running engine. Creating an av::engine loads
// Scancore.dll, connects, and from then on turns every engine callback into a
// message for its consumer, on the library's thread. The engine's four
// start-up reports (state, settings, schedule, protection) are held back until
// all four have come in and then delivered together; a bad state starts the
// gathering afresh. Destroying it commits pending settings, waits briefly for
// the engine's confirmation, disconnects and frees the library.
//
// The gathering and the pending settings are process-wide: a later session in
// the same process starts where the earlier one left them.
#pragma once

#include "engine/loader.h"
#include "engine/messages.h"
#include "engine/queues.h"
#include "tessel/reference_counting/strong_ptr.h"

#include <cstdint>
#include <memory>

namespace av {

using message_consumer = Sundrel::MessageConsumer<message_ptr>;

class engine : public tessel::reference_counting::base<engine>
{
public:
    // Raises tessel::exception_w: the library's "Scancore.dll is not found.
    // errCode %d", or "Cannot create the engine instance" when the engine
    // refuses the connection (or the library lacks an entry the session calls).
    explicit engine(message_consumer* consumer);
    ~engine() override;
    engine(const engine&) = delete;
    engine& operator=(const engine&) = delete;

    // Sends the oldest pending settings and schedule, if any, to the engine.
    void commit_changes();

    // Asks the engine to stop its watch service; the result passes check_result.
    void stop_watch_service();

    class impl;

private:
    std::unique_ptr<impl> impl_;
};

// Raises for the failure codes: 1 "Bad parameters passed to the engine",
// 2 "The engine is not up and running", 3 "The engine fails the operation".
void check_result(std::int32_t code);

// The library's state code as an av state: -1 gives bad (0), 0 gives -1, 1 to
// 6 stay, anything else is bad.
std::int32_t map_engine_state(std::int32_t code);

// Settings changed here and not yet committed to the engine.
Sundrel::BaseNotificationQueue<engine_settings>& pending_engine_settings();
Sundrel::BaseNotificationQueue<schedule_settings>& pending_schedule_settings();

// Unsets the four start-up signals, as a bad state does; for tests that need
// a session to gather from the start.
void reset_engine_signals();

} // namespace av
