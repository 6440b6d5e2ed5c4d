// A listener that records what it receives, and one that fails on purpose.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "tessel/log/log.h"

struct record {
    int level;
    std::string stamp;
    std::string text;
    char marker() const { return stamp.size() > 20 ? stamp[20] : '\0'; }
};

class capture : public tessel::log::listener
{
public:
    explicit capture(std::vector<record>& records, bool* destroyed = nullptr)
        : records_(records), destroyed_(destroyed)
    {
    }
    ~capture() override
    {
        if (destroyed_)
            *destroyed_ = true;
    }
    void write(int level, const std::string& stamp, const std::string& text) override
    {
        records_.push_back({level, stamp, text});
    }

private:
    std::vector<record>& records_;
    bool* destroyed_;
};

// Raises on its first `failures` lines, then records like capture.
class failing : public capture
{
public:
    failing(std::vector<record>& records, int failures) : capture(records), failures_(failures) {}
    void write(int level, const std::string& stamp, const std::string& text) override
    {
        if (failures_ > 0) {
            --failures_;
            throw std::runtime_error("listener failed");
        }
        capture::write(level, stamp, text);
    }

private:
    int failures_;
};
