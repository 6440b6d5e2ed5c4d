// The log: a front end of free functions that format a message and hand it,
// with a level, to one process-wide dispatcher, which stamps it with the local
// time and a level marker and passes it to every attached listener (console,
// UTF-8 file shared between processes, proxy into another dispatcher).
//
// Every line is "YYYY/MM/DD hh:mm:ss M  " followed by the text, where M is the
// level's marker from "# +!>@".
#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>
#include <map>
#include <string>

#include "tessel/exception.h"
#include "tessel/mutex.h"
#include "tessel/unique_any.h"

namespace tessel::log {

constexpr int level_debug = 0;      // '#': trace lines
constexpr int level_info = 1;       // ' ': progress lines
constexpr int level_error = 3;      // '!': errors
// '@': only while an exception is being handled. The text is decorated with a
// description of that exception and delivered as level_error; the stamp keeps
// the '@'. Levels 2 ('+') and 4 ('>') have no front-end entry.
constexpr int level_exception = 5;

// Raised by the file listener's constructor when the file cannot be opened.
struct generic : tessel::exception
{
    explicit generic(const std::string& message) : tessel::exception(message) { append_category("log"); }
};

// One output of the log. The level passed to write is the delivered one
// (never level_exception); the text is UTF-8.
class listener
{
public:
    virtual ~listener();
    virtual void write(int level, const std::string& stamp, const std::string& text) = 0;
};

// Stamps lines and hands them to its listeners, which it owns.
class dispatcher
{
public:
    dispatcher() = default;
    ~dispatcher();
    dispatcher(const dispatcher&) = delete;
    dispatcher& operator=(const dispatcher&) = delete;

    // Takes ownership; the listener receives every level, after those attached before.
    void attach(listener* added);
    // An exception from a conversion or a listener propagates; listeners
    // later in the table do not receive the line.
    void deliver(int level, const std::wstring& text);
    // Narrow text in the ANSI code page, else UTF-8; if neither gets through,
    // a fixed line saying so is delivered instead.
    void deliver_narrow(int level, const std::string& text);
    // Wide printf-style (%s wide, %S narrow), then deliver.
    void print(int level, const wchar_t* format, ...);
    // Deletes every listener.
    void clear();

private:
    // handled: the exception a level_exception line describes, captured where
    // the line entered the log, so a failed first delivery cannot replace it.
    void deliver(int level, const std::wstring& text, const std::exception_ptr& handled);

    tessel::mutex lock_;
    std::multimap<int, listener*> table_;  // minimum level -> listener
};

// Standard output, in the OEM code page; characters the code page lacks
// become "?".
class console : public listener
{
public:
    void write(int level, const std::string& stamp, const std::string& text) override;
};

// "<base_name>.log.txt", UTF-8 with a byte-order mark, appended line by line
// with one write each and kept open. Processes logging to the same base name
// share the file and serialise their lines on a named mutex.
//
// Limits: once the file has reached max_size bytes, the next line first saves
// it as the numbered copy "<base_name>.<n>.log.txt" (n from 1 to keep, 1 the
// oldest; with no free number the copies move down by one and the oldest is
// dropped), then starts the file afresh. With keep 0 the file is only started
// afresh. The defaults (no_limit, 0) let the file grow without limit.
class file : public listener
{
public:
    static constexpr std::uint32_t no_limit = 0xFFFFFFFF;

    // Raises generic when the file cannot be opened, and tessel::exception
    // when the named mutex cannot be had.
    explicit file(const std::string& base_name, std::uint32_t max_size = no_limit, std::uint32_t keep = 0);
    ~file() override;
    file(const file&) = delete;
    file& operator=(const file&) = delete;

    void write(int level, const std::string& stamp, const std::string& text) override;

private:
    static HANDLE open(const std::string& name);
    bool reached_limit() const;
    bool rotate() const;
    void shift_copies() const;
    void start_afresh() const;
    std::string live_name() const;
    std::string copy_name(std::uint32_t number) const;

    tessel::real_mutex lock_;
    std::string base_name_;
    std::uint32_t max_size_;
    std::uint32_t keep_;
    unique_file_handle handle_;
};

// Forwards every line, behind a prefix (UTF-8), into another dispatcher,
// which stamps it again. The target is not owned.
class proxy : public listener
{
public:
    proxy(dispatcher* target, const std::string& prefix);
    void write(int level, const std::string& stamp, const std::string& text) override;

private:
    dispatcher* target_;
    std::string prefix_;
};

// Front end. Each call holds one process-wide lock for its whole duration and
// creates the process-wide dispatcher on first use.
void add(listener* added);  // ownership passes to the log
void shutdown();            // deletes the dispatcher and its listeners
void write(int level, const std::string& text);
void write(int level, const std::wstring& text);
void debug(const char* format, ...) __attribute__((format(ms_printf, 1, 2)));
void debug(const wchar_t* format, ...);
void info(const char* format, ...) __attribute__((format(ms_printf, 1, 2)));
void info(const wchar_t* format, ...);
void error(const char* format, ...) __attribute__((format(ms_printf, 1, 2)));
void error(const wchar_t* format, ...);

// From inside a handler: one error line of the context (ANSI) and the caught
// exception, told apart as _com_error, tessel::exception_w, std::exception or
// anything else.
void log_current_exception(const std::string& context);

// No exception class: what every exception but those of Passed go on up means.
struct nothing_passed {};

// "Log the exception and go on": runs body() and answers true; where it raises,
// logged() is called from inside the handler (where log_current_exception
// describes the exception) and false is answered. Exceptions of the class
// Passed go on up untouched.
template <class Passed = nothing_passed, class Body, class Logged>
bool logged_and_gone_on(Body&& body, Logged&& logged)
{
    try {
        body();
        return true;
    } catch (const Passed&) {
        throw;
    } catch (...) {
        logged();
        return false;
    }
}

} // namespace tessel::log
