// Ownership of one open serial device: closed through the device-call
// pattern when the owner goes away.
#pragma once

#include "serial/win/device_io.h"

#include <utility>

class PortHandle {
  public:
    PortHandle() noexcept = default;
    explicit PortHandle(HANDLE device) noexcept : device_(device) {}
    PortHandle(PortHandle&& other) noexcept : device_(other.Release()) {}
    PortHandle& operator=(PortHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            device_ = other.Release();
        }
        return *this;
    }
    PortHandle(const PortHandle&) = delete;
    PortHandle& operator=(const PortHandle&) = delete;
    ~PortHandle() { Reset(); }

    HANDLE Get() const noexcept { return device_; }
    explicit operator bool() const noexcept { return device_ != INVALID_HANDLE_VALUE; }
    HANDLE Release() noexcept { return std::exchange(device_, INVALID_HANDLE_VALUE); }
    void Reset() noexcept {
        if (device_ != INVALID_HANDLE_VALUE) {
            CloseDevice(Release());
        }
    }

  private:
    HANDLE device_ = INVALID_HANDLE_VALUE;
};
