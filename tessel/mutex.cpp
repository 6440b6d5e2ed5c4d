#include "tessel/mutex.h"

#include "tessel/exception.h"

namespace tessel {

scope_semantics::~scope_semantics() = default;
void scope_semantics::before_acquire() {}
void scope_semantics::before_release() {}

mutex::mutex() { InitializeCriticalSection(&section_); }
mutex::~mutex() { DeleteCriticalSection(&section_); }

bool mutex::acquire()
{
    EnterCriticalSection(&section_);
    return true;
}

void mutex::release() { LeaveCriticalSection(&section_); }

namespace {

bool windows_2000_or_later()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && version.dwMajorVersion > 4;
}

// Windows 2000 and later: a plain name goes into the global namespace, seen by
// every session. Older systems have no namespaces: keep only the last part.
std::string namespaced_name(const std::string& name)
{
    std::string::size_type backslash = name.rfind('\\');
    if (windows_2000_or_later())
        return backslash == std::string::npos ? "Global\\" + name : name;
    return backslash == std::string::npos ? name : name.substr(backslash + 1);
}

} // namespace

real_mutex::real_mutex(const std::string& name) : name_(namespaced_name(name))
{
    // A null access-control list lets every account use the mutex.
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};

    handle_.reset(CreateMutexA(&attributes, FALSE, name_.c_str()));
    if (!handle_) {
        // Waiting needs SYNCHRONIZE as well as the right to release.
        handle_.reset(OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name_.c_str()));
    }
    if (!handle_)
        throw exception("OpenMutex returned 0x%08x", unsigned(GetLastError()));
}

bool real_mutex::acquire()
{
    return acquire_within(INFINITE);
}

bool real_mutex::acquire_within(DWORD limit_ms)
{
    switch (WaitForSingleObject(handle_.get(), limit_ms)) {
    case WAIT_TIMEOUT:
        return false;
    case WAIT_FAILED:
        throw exception("WaitForSingleObject returned 0x%08x", unsigned(GetLastError()));
    default:
        // WAIT_OBJECT_0, or WAIT_ABANDONED: the owner died holding it; it is ours now.
        return true;
    }
}

void real_mutex::release()
{
    if (!ReleaseMutex(handle_.get()))
        throw exception("ReleaseMutex returned 0x%08x", unsigned(GetLastError()));
}

scope::scope(scope_semantics* guarded) : guarded_(guarded)
{
    if (guarded_ && !acquire())
        guarded_ = nullptr;  // not taken: nothing to give back
}

scope::~scope()
{
    try {
        release();
    } catch (...) {
        // A destructor must not throw; the lock is as the system left it.
    }
}

bool scope::acquire()
{
    if (!guarded_)
        return false;
    guarded_->before_acquire();
    return guarded_->acquire();
}

void scope::release()
{
    if (scope_semantics* guarded = guarded_) {
        guarded_ = nullptr;
        guarded->before_release();
        guarded->release();
    }
}

} // namespace tessel
