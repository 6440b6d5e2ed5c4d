// One run of the remover at a time on a machine: a second run, started by any
// account from anywhere while one works, waits for it to end.
#pragma once

#include "tessel/mutex.h"

#include <windows.h>

#include <memory>

// Far above what a whole run takes, even one whose children all hang.
constexpr DWORD default_single_run_wait_limit_ms = 60 * 60 * 1000;

class single_run_lock
{
public:
    // Takes the machine-wide lock, waiting up to limit_ms for another run to
    // end; the log says when it had to wait and for how long. A lock that the
    // system cannot give at all is logged and the run goes on without it.
    explicit single_run_lock(DWORD limit_ms = default_single_run_wait_limit_ms);
    ~single_run_lock();
    single_run_lock(const single_run_lock&) = delete;
    single_run_lock& operator=(const single_run_lock&) = delete;

    // True when the other run did not end within the limit.
    bool timed_out() const { return timed_out_; }

private:
    std::unique_ptr<tessel::real_mutex> mutex_;
    bool held_ = false;
    bool timed_out_ = false;
};
