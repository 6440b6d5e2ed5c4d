#include "remover/single_run.h"

#include "tessel/log/log.h"

namespace {

// Every build of the remover, for any product of the family, shares the suite
// and the engine, so all of them share one lock.
const char lock_name[] = "Global\\QLRemover.single_run";

} // namespace

single_run_lock::single_run_lock(DWORD limit_ms)
{
    try {
        mutex_.reset(new tessel::real_mutex(lock_name));
    } catch (const std::exception& e) {
        tessel::log::error("The lock against a second run could not be made (%s): running without it", e.what());
        return;
    }
    if (mutex_->acquire_within(0)) {
        held_ = true;
        return;
    }
    tessel::log::info("Another run of the remover is working on this machine: waiting for it to end ...");
    const DWORD started = GetTickCount();
    held_ = mutex_->acquire_within(limit_ms);
    const unsigned waited = static_cast<unsigned>((GetTickCount() - started + 500) / 1000);
    if (held_) {
        tessel::log::info("Waited %u s for the other run of the remover to end.", waited);
        tessel::log::info("");
    } else {
        timed_out_ = true;
        tessel::log::info("The other run of the remover has not ended within %u s: giving up.", waited);
    }
}

single_run_lock::~single_run_lock()
{
    if (held_) {
        try {
            mutex_->release();
        } catch (const std::exception&) {
            // The system frees it when the process ends.
        }
    }
}
