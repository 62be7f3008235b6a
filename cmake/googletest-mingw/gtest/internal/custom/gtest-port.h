// GoogleTest's own start signal for the threads it creates, for a mingw
// whose win32 thread model has no std::mutex or std::condition_variable.
// Found before GoogleTest's empty header of the same name.
#pragma once

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
  public:
    Notification() = default;
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { notified_.store(true, std::memory_order_release); }
    void WaitForNotification() {
        while (!notified_.load(std::memory_order_acquire)) {
            __builtin_ia32_pause();
        }
    }

  private:
    std::atomic<bool> notified_{false};
};

} // namespace testing::internal
