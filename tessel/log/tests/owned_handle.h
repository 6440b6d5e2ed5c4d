// Closes a kernel handle when it goes out of scope.
#pragma once

#include <windows.h>

class owned_handle
{
public:
    explicit owned_handle(HANDLE handle = nullptr) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~owned_handle()
    {
        if (handle_)
            CloseHandle(handle_);
    }
    owned_handle(owned_handle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    owned_handle& operator=(owned_handle&& other) noexcept
    {
        if (this != &other) {
            if (handle_)
                CloseHandle(handle_);
            handle_ = other.handle_;
            other.handle_ = nullptr;
        }
        return *this;
    }
    owned_handle(const owned_handle&) = delete;
    owned_handle& operator=(const owned_handle&) = delete;

    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};
