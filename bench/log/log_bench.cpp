// Cost of one log line written to a file listener, against one bare WriteFile
// of the same bytes to an open file, measured in the same run. Rounds of the
// two alternate; the median round of each counts. Prints figures, asserts
// nothing.
//
//   log_bench [LINES_PER_ROUND [ROUNDS]]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench/clock.h"
#include "tessel/log/log.h"
#include "tessel/mutex.h"
#include "tessel/unique_any.h"

namespace {


double now_us()
{
    static const double ticks_per_us = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return double(frequency.QuadPart) / 1e6;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return double(counter.QuadPart) / ticks_per_us;
}

// Microseconds per call of body, over count calls.
double per_call_us(int count, const std::function<void(int)>& body)
{
    const double start = now_us();
    for (int i = 0; i < count; ++i)
        body(i);
    return (now_us() - start) / count;
}

// A line as the remover writes them: a format with one narrow argument.
const char line_format[] = "Removing file \"%s\" ...";
const char line_argument[] = "C:\\Program Files\\Maker\\Product\\bin\\component.dll";

} // namespace

int main(int argc, char** argv)
{
    const int lines = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;

    char text[512];
    std::snprintf(text, sizeof text, line_format, line_argument);
    // The bytes the listener writes per line: stamp, text, CR LF.
    const std::string line = std::string("2024/01/02 03:04:05    ") + text + "\r\n";

    const tessel::unique_file_handle bare(CreateFileA("bench-bare.txt", GENERIC_WRITE,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!bare) {
        std::printf("cannot create bench-bare.txt: %lu\n", GetLastError());
        return 1;
    }
    DeleteFileA("bench-log.log.txt");
    tessel::log::add(new tessel::log::file("bench-log"));
    tessel::log::file listener("bench-listener");
    const std::string stamp = line.substr(0, 23);
    const std::string body = text;
    tessel::real_mutex lock("log-bench-lock");

    std::vector<double> bare_us, log_us, listener_us, lock_us;
    for (int round = 0; round < rounds; ++round) {
        bare_us.push_back(per_call_us(lines, [&](int) {
            DWORD written = 0;
            WriteFile(bare.get(), line.data(), DWORD(line.size()), &written, nullptr);
        }));
        log_us.push_back(per_call_us(lines, [&](int) { tessel::log::info(line_format, line_argument); }));
        listener_us.push_back(per_call_us(lines, [&](int) { listener.write(1, stamp, body); }));
        lock_us.push_back(per_call_us(lines, [&](int) {
            lock.acquire();
            lock.release();
        }));
    }
    tessel::log::shutdown();

    const double bare_line = median(bare_us), log_line = median(log_us);
    std::printf("log bench: %d rounds of %d lines of %u bytes (median round)\n", rounds, lines,
                unsigned(line.size()));
    std::printf("  bare WriteFile to an open file:      %8.2f us/line\n", bare_line);
    std::printf("  tessel::log::info to a file listener: %8.2f us/line\n", log_line);
    std::printf("  ratio log/bare: %.2f (goal: at most 2.00)\n", log_line / bare_line);
    // The file listener takes the named cross-process mutex for every line;
    // under Wine its wait and release are two round trips to the wineserver.
    const double lock_pair = median(lock_us);
    std::printf("  of which: file listener write alone %.2f us/line; named mutex wait+release %.2f us/pair\n",
                median(listener_us), lock_pair);
    std::printf("  log without the mutex pair: %.2f us/line, ratio %.2f\n", log_line - lock_pair,
                (log_line - lock_pair) / bare_line);
    return 0;
}
