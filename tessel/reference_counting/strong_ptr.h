// Intrusive shared ownership for objects handed between threads. A shared
// object derives from base<T>; strong_ptr<T> owns one share of it. The count
// changes under the object's own lock; the last share destroys the object
// (after the lock is let go) and first sets every registered back-reference
// slot to null.
#pragma once

#include <cstdint>
#include <set>
#include <type_traits>
#include <utility>

#include "tessel/exception.h"
#include "tessel/mutex.h"

namespace tessel::reference_counting {

struct generic : tessel::exception
{
    explicit generic(const std::string& message) : tessel::exception(message) { append_category("generic"); }
};

template<class T> class strong_ptr;

template<class T>
class base
{
public:
    base() = default;
    // A copy of an object is a new object: it starts without shares or slots.
    base(const base&) : base() {}
    base& operator=(const base&) { return *this; }
    virtual ~base() = default;

    // A slot that refers to the object without owning it; it is set to null
    // when the object dies. Remove it before the slot itself goes away.
    void add_back_reference(T** slot)
    {
        scope guard(&lock_);
        back_references_.insert(slot);
    }

    void remove_back_reference(T** slot)
    {
        scope guard(&lock_);
        back_references_.erase(slot);
    }

private:
    template<class> friend class strong_ptr;

    void take_share()
    {
        scope guard(&lock_);
        ++count_;
    }

    void give_up_share()
    {
        scope guard(&lock_);
        if (--count_ != 0)
            return;
        for (T** slot : back_references_)
            *slot = nullptr;
        guard.release();
        delete this;
    }

    mutex lock_;
    std::int32_t count_ = 0;
    std::set<T**> back_references_;
};

template<class T>
class strong_ptr
{
public:
    strong_ptr() noexcept = default;
    strong_ptr(std::nullptr_t) noexcept {}
    strong_ptr(T* object) : object_(object) { take(); }
    strong_ptr(const strong_ptr& other) : object_(other.object_) { take(); }
    strong_ptr(strong_ptr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}

    // From a pointer to a derived class.
    template<class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    strong_ptr(const strong_ptr<U>& other) : object_(other.get()) { take(); }

    ~strong_ptr() { reset(); }

    strong_ptr& operator=(const strong_ptr& other)
    {
        strong_ptr(other).swap(*this);
        return *this;
    }

    strong_ptr& operator=(strong_ptr&& other) noexcept
    {
        strong_ptr(std::move(other)).swap(*this);
        return *this;
    }

    strong_ptr& operator=(T* object)
    {
        strong_ptr(object).swap(*this);
        return *this;
    }

    // Gives up the share; the object dies if it was the last one.
    void reset()
    {
        if (T* object = std::exchange(object_, nullptr))
            object->give_up_share();
    }

    void swap(strong_ptr& other) noexcept { std::swap(object_, other.object_); }

    T* get() const noexcept { return object_; }
    T& operator*() const { return *checked(); }
    T* operator->() const { return checked(); }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    friend bool operator==(const strong_ptr& a, const strong_ptr& b) noexcept { return a.object_ == b.object_; }

private:
    void take()
    {
        if (object_)
            object_->take_share();
    }

    T* checked() const
    {
        if (!object_)
            throw generic("null pointer in dereference");
        return object_;
    }

    T* object_ = nullptr;
};

} // namespace tessel::reference_counting
