// Child program of the log tests: logs from a process of its own.
//
//   log_child console
//       attaches a console listener and logs lines with characters that the
//       OEM code page has and lacks.
//   log_child append BASE TAG COUNT RENDEZVOUS
//       releases the named semaphore RENDEZVOUS-ready once and waits for the
//       named manual-reset event RENDEZVOUS-go, then attaches a file listener
//       on BASE and logs COUNT lines "TAG NNNN padding".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "tessel/log/log.h"
#include "tessel/unique_any.h"

namespace {

int log_to_console()
{
    tessel::log::add(new tessel::log::console());
    tessel::log::info(L"caf\u00e9");                     // all in the OEM code page
    tessel::log::info(L"caf\u00e9 \u65e5 \u20ac end");   // two characters it lacks
    tessel::log::error(L"\u65e5");                       // nothing it has
    tessel::log::info("narrow plain");
    tessel::log::shutdown();
    return 0;
}

int append_lines(const char* base, const char* tag, int count, const std::string& rendezvous)
{
    // Says it is ready, then waits until the other process is ready too.
    const tessel::unique_handle ready(OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, (rendezvous + "-ready").c_str()));
    const tessel::unique_handle go(OpenEventA(SYNCHRONIZE, FALSE, (rendezvous + "-go").c_str()));
    if (!ready.get() || !go.get()) {
        std::fprintf(stderr, "rendezvous %s not found: %lu\n", rendezvous.c_str(), GetLastError());
        return 2;
    }
    ReleaseSemaphore(ready.get(), 1, nullptr);
    if (WaitForSingleObject(go.get(), 60000) != WAIT_OBJECT_0)
        return 3;

    // Long lines: a torn write would show.
    const std::string padding(180, tag[0]);
    tessel::log::add(new tessel::log::file(base));
    for (int i = 0; i < count; ++i)
        tessel::log::info("%s %04d %s", tag, i, padding.c_str());
    tessel::log::shutdown();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        const std::string mode = argc > 1 ? argv[1] : "";
        if (mode == "console")
            return log_to_console();
        if (mode == "append" && argc == 6)
            return append_lines(argv[2], argv[3], std::atoi(argv[4]), argv[5]);
        std::fprintf(stderr, "usage: log_child console | append BASE TAG COUNT RENDEZVOUS\n");
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "log_child: %s\n", e.what());
        return 1;
    }
}
