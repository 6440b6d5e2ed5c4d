#include <cstdarg>
#include <memory>
#include <new>

#include "tessel/format.h"
#include "tessel/log/internal.h"
#include "tessel/log/log.h"

namespace tessel::log {

namespace {

std::unique_ptr<dispatcher> the_dispatcher;  // null until first use, and after shutdown

// Ends a va_list on every way out of a variadic entry.
class va_list_end
{
public:
    explicit va_list_end(va_list& args) : args_(args) {}
    ~va_list_end() { va_end(args_); }
    va_list_end(const va_list_end&) = delete;
    va_list_end& operator=(const va_list_end&) = delete;

private:
    va_list& args_;
};

// Formatting happens under the process-wide lock too: the whole call is one step.
template<class Char>
void write_formatted(int level, const Char* format, va_list args)
{
    tessel::scope guard(&internal::process_lock());
    write(level, tessel::vformat(format, args));
}

} // namespace

tessel::mutex& internal::process_lock()
{
    // Built on first use and never destroyed, so that code running in other
    // objects' static constructors and destructors may log too.
    alignas(tessel::mutex) static unsigned char storage[sizeof(tessel::mutex)];
    static tessel::mutex* lock = new (storage) tessel::mutex;
    return *lock;
}

dispatcher& internal::process_dispatcher()
{
    if (!the_dispatcher)
        the_dispatcher = std::make_unique<dispatcher>();
    return *the_dispatcher;
}

void add(listener* added)
{
    std::unique_ptr<listener> owned(added);
    tessel::scope guard(&internal::process_lock());
    internal::process_dispatcher().attach(owned.release());
}

void shutdown()
{
    tessel::scope guard(&internal::process_lock());
    if (the_dispatcher) {
        the_dispatcher->clear();
        the_dispatcher.reset();
    }
}

void write(int level, const std::string& text)
{
    tessel::scope guard(&internal::process_lock());
    internal::process_dispatcher().deliver_narrow(level, text);
}

void write(int level, const std::wstring& text)
{
    tessel::scope guard(&internal::process_lock());
    internal::process_dispatcher().deliver(level, text);
}

void debug(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const va_list_end end(args);
    write_formatted(level_debug, format, args);
}

void debug(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const va_list_end end(args);
    write_formatted(level_debug, format, args);
}

void info(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const va_list_end end(args);
    write_formatted(level_info, format, args);
}

void info(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const va_list_end end(args);
    write_formatted(level_info, format, args);
}

void error(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const va_list_end end(args);
    write_formatted(level_error, format, args);
}

void error(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const va_list_end end(args);
    write_formatted(level_error, format, args);
}

} // namespace tessel::log
