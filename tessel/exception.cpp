#include "tessel/exception.h"

#include <cstdarg>
#include <windows.h>

#include "tessel/format.h"
#include "tessel/unicode/unicode.h"

namespace tessel {

exception::exception(const std::string& message) : message_(message) {}

exception::exception(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    try {
        message_ = vformat(format, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
}

const char* exception::what() const noexcept
{
    try {
        what_buffer_ = category_ + "[" + message_ + "]";
        return what_buffer_.c_str();
    } catch (...) {
        // No memory for the joined text: the bare message is the best we have.
        return message_.c_str();
    }
}

std::string exception::message() const { return message_; }

std::string exception::category() const { return category_; }

void exception::append_category(const char* component)
{
    if (!category_.empty())
        category_ += '.';
    category_ += component;
}

exception_w::exception_w(const std::wstring& message) : exception(std::string()), message_w_(message) {}

exception_w::exception_w(const wchar_t* format, ...) : exception(std::string())
{
    va_list args;
    va_start(args, format);
    try {
        message_w_ = vformat(format, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
}

void exception_w::fill_narrow() const
{
    if (narrow_ready_)
        return;
    category_ = unicode::to_narrow(category_w_, CP_ACP, false);
    message_ = unicode::to_narrow(message_w_, CP_ACP, false);
    narrow_ready_ = true;
}

const char* exception_w::what() const noexcept
{
    try {
        fill_narrow();
    } catch (...) {
        // Leave the narrow text as far as it got; what() must not throw.
    }
    return exception::what();
}

std::string exception_w::message() const
{
    fill_narrow();
    return exception::message();
}

std::string exception_w::category() const
{
    fill_narrow();
    return exception::category();
}

const wchar_t* exception_w::what_w() const
{
    try {
        what_buffer_w_ = category_w_ + L"[" + message_w_ + L"]";
        return what_buffer_w_.c_str();
    } catch (...) {
        return message_w_.c_str();
    }
}

std::wstring exception_w::message_w() const { return message_w_; }

std::wstring exception_w::category_w() const { return category_w_; }

} // namespace tessel
