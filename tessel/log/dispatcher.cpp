#include <cstdarg>
#include <memory>
#include <utility>

#include "tessel/format.h"
#include "tessel/log/internal.h"
#include "tessel/log/log.h"
#include "tessel/unicode/unicode.h"

namespace tessel::log {

namespace {

constexpr char markers[] = "# +!>@";
constexpr int utf8 = 65001;

char marker_of(int level)
{
    return level >= 0 && level < int(sizeof markers - 1) ? markers[level] : '?';
}

void append_digits(std::string& out, int value, int width)
{
    char digits[8];
    int count = 0;
    do {
        digits[count++] = char('0' + value % 10);
        value /= 10;
    } while (value > 0 && count < int(sizeof digits));
    for (int pad = count; pad < width; ++pad)
        out += '0';
    while (count > 0)
        out += digits[--count];
}

// "%.4d/%.2d/%.2d %.2d:%.2d:%.2d %c  " of the local time, built by hand: it is
// made for every line, and a formatter call costs more than the rest of it.
std::string stamp_of(int level)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::string stamp;
    stamp.reserve(24);
    append_digits(stamp, now.wYear, 4);
    stamp += '/';
    append_digits(stamp, now.wMonth, 2);
    stamp += '/';
    append_digits(stamp, now.wDay, 2);
    stamp += ' ';
    append_digits(stamp, now.wHour, 2);
    stamp += ':';
    append_digits(stamp, now.wMinute, 2);
    stamp += ':';
    append_digits(stamp, now.wSecond, 2);
    stamp += ' ';
    stamp += marker_of(level);
    stamp += "  ";
    return stamp;
}

} // namespace

listener::~listener() = default;

dispatcher::~dispatcher() { clear(); }

void dispatcher::attach(listener* added)
{
    std::unique_ptr<listener> owned(added);
    if (!owned)
        return;
    tessel::scope guard(&lock_);
    // A multimap inserts after the entries with an equal key: attach order is kept.
    table_.emplace(0, owned.get());
    owned.release();
}

void dispatcher::deliver(int level, const std::wstring& text)
{
    deliver(level, text, level == level_exception ? std::current_exception() : std::exception_ptr());
}

void dispatcher::deliver(int level, const std::wstring& text, const std::exception_ptr& handled)
{
    const std::string stamp = stamp_of(level);
    std::wstring line = text;
    if (level == level_exception) {
        line = internal::decorate(std::move(line), handled);
        level = level_error;
    }

    tessel::scope guard(&lock_);
    const auto end = table_.upper_bound(level);
    std::string utf8_text;
    bool converted = false;
    for (auto entry = table_.begin(); entry != end; ++entry) {
        // Converted once, when the first listener needs it: with no listener
        // (a program that attaches none) the line costs no conversion.
        if (!converted) {
            utf8_text = unicode::to_narrow(line, utf8, true);
            converted = true;
        }
        entry->second->write(level, stamp, utf8_text);
    }
}

void dispatcher::deliver_narrow(int level, const std::string& text)
{
    // Captured now: inside the handlers below, the exception being handled is
    // the failed delivery's, not the one the line describes.
    const std::exception_ptr handled = level == level_exception ? std::current_exception() : std::exception_ptr();
    try {
        deliver(level, unicode::to_wide(text, CP_ACP), handled);
        return;
    } catch (...) {
    }
    try {
        deliver(level, unicode::to_wide(text, utf8), handled);
        return;
    } catch (...) {
    }
    deliver(level, L"tessel::log: unable to convert input to unicode", handled);
}

void dispatcher::print(int level, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    std::wstring text;
    try {
        text = tessel::vformat(format, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    deliver(level, text);
}

void dispatcher::clear()
{
    tessel::scope guard(&lock_);
    for (auto& entry : table_)
        delete entry.second;
    table_.clear();
}

} // namespace tessel::log
