#include "serial/win/device_calls.h"

#include <atomic>

constinit const DeviceCalls kWin32DeviceCalls{
    &::CreateFileW,       &::GetFileType, &::EscapeCommFunction, &::GetCommState, &::SetCommState,
    &::GetCommProperties, &::SetupComm,   &::WriteFile,          &::CloseHandle,
};

namespace {

constinit std::atomic<const DeviceCalls*> installedCalls{&kWin32DeviceCalls};

} // namespace

const DeviceCalls& Device() noexcept {
    return *installedCalls.load(std::memory_order_acquire);
}

const DeviceCalls* InstallDeviceCalls(const DeviceCalls* calls) noexcept {
    return installedCalls.exchange(calls ? calls : &kWin32DeviceCalls, std::memory_order_acq_rel);
}
