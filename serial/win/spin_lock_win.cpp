#include "serial/win/spin_lock.h"

#include <windows.h>

constinit SpinFlag OpenLock;
constinit SpinFlag TableLock;
constinit SpinFlag DeviceCallLock;

void AcquireSpinFlag(SpinFlag& flag) noexcept {
    while (flag.test_and_set(std::memory_order_acquire)) {
        // A holder of the device-call lock may sit in a blocking write for a
        // long time: give the processor away instead of burning it.
        while (flag.test(std::memory_order_relaxed)) {
            SwitchToThread();
        }
    }
}

void ReleaseSpinFlag(SpinFlag& flag) noexcept {
    flag.clear(std::memory_order_release);
}
