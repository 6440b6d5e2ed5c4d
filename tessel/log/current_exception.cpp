// Describing the exception being handled. Both reporters tell the kinds apart
// most specific first: _com_error, tessel::exception_w, std::exception (every
// other class of ours), anything else.
#include <comdef.h>

#include "tessel/format.h"
#include "tessel/log/internal.h"
#include "tessel/log/log.h"
#include "tessel/unicode/unicode.h"

namespace tessel::log {

namespace {

const char* message_of(const _com_error& error)
{
    const char* text = error.ErrorMessage();
    return text ? text : "";
}

// Raises the exception again so that the handlers below can sort it; with none
// (a caller outside any handler) it counts as unknown instead of ending the
// process, as a bare "throw;" would.
void raise_again(const std::exception_ptr& handled)
{
    if (handled)
        std::rethrow_exception(handled);
}

} // namespace

std::wstring internal::decorate(std::wstring message, const std::exception_ptr& handled)
{
    if (!message.empty() && message.back() != L' ')
        message += L' ';
    try {
        raise_again(handled);
    } catch (const _com_error& e) {
        return tessel::format(L"%s _com_error: %S", message.c_str(), message_of(e));
    } catch (const tessel::exception_w& e) {
        return tessel::format(L"%s exception: %s", message.c_str(), e.what_w());
    } catch (const std::exception& e) {
        return tessel::format(L"%s exception: %s", message.c_str(), unicode::to_wide(e.what(), CP_ACP).c_str());
    } catch (...) {
    }
    return tessel::format(L"%s unknown exception", message.c_str());
}

void log_current_exception(const std::string& context)
{
    const std::exception_ptr handled = std::current_exception();
    const std::wstring where = unicode::to_wide(context, CP_ACP);
    // The process-wide lock keeps the dispatcher alive while it prints (a
    // shutdown on another thread would delete it); it is recursive and comes
    // before the dispatcher's own lock, as in every other call.
    tessel::scope guard(&internal::process_lock());
    dispatcher& target = internal::process_dispatcher();
    try {
        raise_again(handled);
    } catch (const _com_error& e) {
        const std::wstring text = unicode::to_wide(message_of(e), CP_ACP);
        target.print(level_error, L"%s _com_error: %s", where.c_str(), text.c_str());
        return;
    } catch (const tessel::exception_w& e) {
        target.print(level_error, L"%s Exception: %s", where.c_str(), e.what_w());
        return;
    } catch (const std::exception& e) {
        const std::wstring text = unicode::to_wide(e.what(), CP_ACP);
        target.print(level_error, L"%s exception: %s", where.c_str(), text.c_str());
        return;
    } catch (...) {
    }
    target.print(level_error, L"%s unknown exception caught", where.c_str());
}

} // namespace tessel::log
