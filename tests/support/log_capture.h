// Collects what this process writes to the log, line by line, with the
// thread that wrote each line and when, for tests that check exact log lines.
#pragma once

#include "tessel/log/log.h"

#include <windows.h>
#include <mutex>
#include <string>
#include <vector>

struct captured_line {
    DWORD thread = 0;
    DWORD tick = 0; // GetTickCount() when the line arrived
    int level = 0;
    std::string text;
};

class log_capture {
public:
    // Attaches a listener to the log; the log is shut down (and the listener
    // deleted) when the capture ends.
    log_capture() : sink_(new sink) { tessel::log::add(sink_); }
    ~log_capture() { tessel::log::shutdown(); }
    log_capture(const log_capture&) = delete;
    log_capture& operator=(const log_capture&) = delete;

    std::vector<captured_line> lines() const
    {
        std::lock_guard<std::mutex> hold(sink_->lock);
        return sink_->lines;
    }
    // The texts, all threads, in order.
    std::vector<std::string> texts() const
    {
        std::vector<std::string> all;
        for (const captured_line& line : lines())
            all.push_back(line.text);
        return all;
    }
    // The texts written by one thread.
    std::vector<std::string> texts_of(DWORD thread) const
    {
        std::vector<std::string> found;
        for (const captured_line& line : lines())
            if (line.thread == thread)
                found.push_back(line.text);
        return found;
    }
    void clear()
    {
        std::lock_guard<std::mutex> hold(sink_->lock);
        sink_->lines.clear();
    }

private:
    struct sink : tessel::log::listener {
        std::mutex lock;
        std::vector<captured_line> lines;
        void write(int level, const std::string&, const std::string& text) override
        {
            std::lock_guard<std::mutex> hold(lock);
            lines.push_back({GetCurrentThreadId(), GetTickCount(), level, text});
        }
    };
    sink* sink_; // owned by the log
};
