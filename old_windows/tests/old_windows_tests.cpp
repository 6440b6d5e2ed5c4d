#include "old_windows/tick_count.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct widening_case {
    std::uint64_t last;
    std::uint32_t now;
    std::uint64_t widened;
};

class widened_tick_table : public testing::TestWithParam<widening_case> {};

TEST_P(widened_tick_table, carries_each_wrap_into_the_high_half)
{
    const widening_case& c = GetParam();
    EXPECT_EQ(old_windows::widened_tick(c.last, c.now), c.widened);
}

INSTANTIATE_TEST_SUITE_P(
    ticks, widened_tick_table,
    testing::Values(widening_case{0, 5000, 5000},                              // first call
                    widening_case{5000, 5000, 5000},                           // same tick
                    widening_case{0xFFFFFFF0u, 0xFFFFFFFFu, 0xFFFFFFFFu},      // just before the wrap
                    widening_case{0xFFFFFFF0u, 0x10, 0x100000010ull},          // across the wrap
                    widening_case{0x1FFFFFFF0ull, 0x10, 0x200000010ull},       // the second wrap
                    widening_case{0x300000010ull, 0x20, 0x300000020ull}));     // after wraps

TEST(widened_tick_count, never_goes_back_when_threads_read_it_at_once)
{
    std::vector<std::thread> readers;
    std::vector<int> backwards(4, 0);
    for (int& count : backwards)
        readers.emplace_back([&count] {
            std::uint64_t last = old_windows::widened_tick_count();
            for (int i = 0; i < 20000; ++i) {
                const std::uint64_t now = old_windows::widened_tick_count();
                if (now < last)
                    ++count;
                last = now;
            }
        });
    for (std::thread& reader : readers)
        reader.join();
    for (int count : backwards)
        EXPECT_EQ(count, 0);
    const std::uint32_t system = GetTickCount();
    const auto low = static_cast<std::uint32_t>(old_windows::widened_tick_count());
    EXPECT_LT(std::uint32_t(low - system), 1000u) << "the low half is the system's tick";
}

// Timed waits of the thread runtime measure their time through its
// GetTickCount64 slot: a wait that times out takes its time, no less.
TEST(thread_runtime, timed_wait_lasts_its_time_through_the_slot)
{
    std::mutex lock;
    std::condition_variable never;
    std::unique_lock<std::mutex> hold(lock);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(never.wait_for(hold, std::chrono::milliseconds(300)), std::cv_status::timeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(290));
}

} // namespace
