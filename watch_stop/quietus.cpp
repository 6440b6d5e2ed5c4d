#include "watch_stop/quietus.h"

#include "tessel/exception.h"

namespace quietus {

namespace {

int report(std::wostream& out, const std::wstring& line, int exit_code)
{
    out << line << L"\n" << std::flush;
    return exit_code;
}

} // namespace

int run(std::wostream& out, const stop_function& stop)
{
    try {
        stop(5);
    } catch (const tessel::exception_w& failure) {
        return report(out, failure.message_w(), 1);
    } catch (...) {
        return report(out, L"Unexpected exception from av::stop_av_watch_service()", 2);
    }
    return report(out, L"Watch Service stopped", 0);
}

} // namespace quietus
