#include "old_windows/fallbacks.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <io.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <ctime>
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

TEST(time_from_system_clock, agrees_with_the_runtime_clock)
{
    __time64_t stored = 0;
    const __time64_t ours = old_windows::time_from_system_clock(&stored);
    const __time64_t runtime = _time64(nullptr);
    EXPECT_EQ(stored, ours);
    EXPECT_LE(runtime - ours, 1);
    EXPECT_GE(runtime - ours, 0);
}

TEST(fstat_through_fstati64, gives_what_fstat64_gives)
{
    const char* name = "fstat_probe.txt";
    std::FILE* file = std::fopen(name, "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("twelve bytes", file);
    std::fflush(file);
    struct _stat64 expected = {};
    struct _stat64 ours = {};
    ASSERT_EQ(_fstat64(_fileno(file), &expected), 0);
    EXPECT_EQ(old_windows::fstat_through_fstati64(_fileno(file), &ours), 0);
    std::fclose(file);
    std::remove(name);
    EXPECT_EQ(ours.st_size, 12);
    EXPECT_EQ(ours.st_size, expected.st_size);
    EXPECT_EQ(ours.st_mode, expected.st_mode);
    EXPECT_EQ(ours.st_mtime, expected.st_mtime);
    EXPECT_EQ(ours.st_nlink, expected.st_nlink);
}

TEST(fstat_through_fstati64, fails_on_a_closed_descriptor)
{
    struct _stat64 ours = {};
    EXPECT_EQ(old_windows::fstat_through_fstati64(-1, &ours), -1);
}

} // namespace
