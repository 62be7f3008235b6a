// The process-wide locks of the serial subsystem: flags taken by atomic
// exchange. They are constant-initialised, so they work before (or without)
// the C runtime's start-up, as when another process loads the EXE.
#pragma once

#include <atomic>

using SpinFlag = std::atomic_flag;

// Held while a port number is drawn and through each device open until its
// table entry is complete. The only lock held while another is taken.
extern constinit SpinFlag OpenLock;
// Held for each lookup, insertion and removal in the port table.
extern constinit SpinFlag TableLock;
// Held for the duration of each device call.
extern constinit SpinFlag DeviceCallLock;

void AcquireSpinFlag(SpinFlag& flag) noexcept;
void ReleaseSpinFlag(SpinFlag& flag) noexcept;

class SpinGuard {
  public:
    explicit SpinGuard(SpinFlag& flag) noexcept : flag_(flag) { AcquireSpinFlag(flag_); }
    ~SpinGuard() { ReleaseSpinFlag(flag_); }
    SpinGuard(const SpinGuard&) = delete;
    SpinGuard& operator=(const SpinGuard&) = delete;

  private:
    SpinFlag& flag_;
};
