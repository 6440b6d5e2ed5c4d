// A consumer of items, and a first-in first-out queue that is one: filled from
// any thread, with an event that is set while it holds data.
#pragma once

#include "tessel/exception.h"
#include "tessel/mutex.h"
#include "tessel/unique_any.h"

#include <windows.h>

#include <deque>
#include <utility>

namespace Sundrel {

template<class T>
class MessageConsumer
{
public:
    virtual void consume(T item) = 0;
    virtual ~MessageConsumer() = default;
};

template<class T>
class BaseNotificationQueue : public MessageConsumer<T>
{
public:
    // Raises "Invalid handle, #%d" when the event cannot be created.
    BaseNotificationQueue() : has_data_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        if (!has_data_)
            throw tessel::exception_w(L"Invalid handle, #%d", static_cast<int>(GetLastError()));
    }
    BaseNotificationQueue(const BaseNotificationQueue&) = delete;
    BaseNotificationQueue& operator=(const BaseNotificationQueue&) = delete;

    void consume(T item) override
    {
        tessel::scope guard(&lock_);
        items_.push_back(std::move(item));
        SetEvent(has_data_.get());
    }

    // Raises "Wait failed, #%d" when the event cannot be polled.
    bool has_data()
    {
        if (WaitForSingleObject(has_data_.get(), 0) == WAIT_FAILED)
            throw tessel::exception_w(L"Wait failed, #%d", static_cast<int>(GetLastError()));
        tessel::scope guard(&lock_);
        return !items_.empty();
    }

    // The oldest item, or a default one when the queue is empty.
    T take()
    {
        tessel::scope guard(&lock_);
        if (items_.empty())
            return T();
        T oldest = std::move(items_.front());
        items_.pop_front();
        if (items_.empty())
            ResetEvent(has_data_.get());
        return oldest;
    }

    void clear()
    {
        tessel::scope guard(&lock_);
        items_.clear();
        ResetEvent(has_data_.get());
    }

private:
    tessel::mutex lock_;
    std::deque<T> items_;
    tessel::unique_handle has_data_;  // manual reset
};

} // namespace Sundrel
