// Locks: one interface, a process-local lock, a lock shared between processes
// by name, and a scoped guard that takes any of them.
#pragma once

#include <windows.h>

#include "tessel/unique_any.h"

#include <string>

namespace tessel {

class scope_semantics
{
public:
    virtual ~scope_semantics();
    virtual void before_acquire();  // hook; does nothing here
    virtual bool acquire() = 0;     // true when the lock was taken
    virtual void before_release();  // hook; does nothing here
    virtual void release() = 0;
};

// Critical section; the owning thread may take it again.
class mutex : public scope_semantics
{
public:
    mutex();
    ~mutex() override;
    mutex(const mutex&) = delete;
    mutex& operator=(const mutex&) = delete;

    bool acquire() override;  // always true
    void release() override;

private:
    CRITICAL_SECTION section_;
};

// Named mutex shared by every process of every user on the machine: a name
// without a backslash goes into the global namespace ("Global\\" in front), and
// any account may open it. Failures raise tessel::exception.
class real_mutex : public scope_semantics
{
public:
    explicit real_mutex(const std::string& name);
    real_mutex(const real_mutex&) = delete;
    real_mutex& operator=(const real_mutex&) = delete;

    // Waits without time limit; a mutex abandoned by a dead owner is taken too.
    bool acquire() override;
    // The same, waiting at most limit_ms; false when the time ran out.
    bool acquire_within(DWORD limit_ms);
    void release() override;

    // The name the mutex was created or opened under.
    const std::string& name() const { return name_; }

private:
    unique_handle handle_;
    std::string name_;
};

// Holds a lock from construction until release() or destruction. A null
// pointer makes every operation a no-op.
class scope : public scope_semantics
{
public:
    explicit scope(scope_semantics* guarded);  // acquires
    ~scope() override;                         // as release(); never throws
    scope(const scope&) = delete;
    scope& operator=(const scope&) = delete;

    bool acquire() override;  // takes the guarded lock again, if any
    void release() override;  // gives it back and forgets it

private:
    scope_semantics* guarded_;
};

} // namespace tessel
