// The held ports: a fixed table of atomics, which a signal handler reads.
#include "serial/posix/held_lines.h"

#include "serial/posix/line_calls.h"
#include "serial/posix/serial_line.h"

#include <sys/ioctl.h>

#include <atomic>
#include <csignal>
#include <cstddef>

namespace {

struct HeldLine {
    std::atomic<int> fd{-1};
    termios found{};
    bool put_back = false;
};

constexpr std::size_t kHeldLines = 4;
HeldLine held_lines[kHeldLines];

HeldLine* HeldLineOf(int fd) {
    for (HeldLine& held : held_lines) {
        if (held.fd.load(std::memory_order_acquire) == fd) {
            return &held;
        }
    }
    return nullptr;
}

// Safe in a signal handler: both steps are tried, and the errno of the first
// that failed is returned (0: none).
int LetGo(const HeldLine& held) {
    const int fd = held.fd.load(std::memory_order_acquire);
    const auto shared = Retry([&] { return Line().ioctl(fd, TIOCNXCL, nullptr); });
    if (held.put_back) {
        const auto put_back = Retry([&] { return Line().tcsetattr(fd, TCSANOW, &held.found); });
        return shared.failed() ? shared.error : put_back.error;
    }
    return shared.error;
}

// Installed with SA_RESETHAND and every ending signal blocked meanwhile: the
// signal raised again at the end is taken by its default action once the
// handler returns.
extern "C" void LetGoAndEnd(int signal_number) {
    const int saved = errno;
    for (const HeldLine& held : held_lines) {
        if (held.fd.load(std::memory_order_acquire) >= 0) {
            LetGo(held); // nothing better can be done about a failure here
        }
    }
    raise(signal_number);
    errno = saved;
}

} // namespace

bool HoldLine(int fd, const termios& found, bool put_back) {
    HeldLine* held = HeldLineOf(-1);
    if (held == nullptr) {
        return false;
    }
    held->found = found;
    held->put_back = put_back;
    held->fd.store(fd, std::memory_order_release);
    return true;
}

LineStatus LetGoOfLine(int fd) {
    HeldLine* held = fd >= 0 ? HeldLineOf(fd) : nullptr;
    if (held == nullptr) {
        return {};
    }
    const int error = LetGo(*held);
    held->fd.store(-1, std::memory_order_release);
    return error == 0
               ? LineStatus{}
               : SystemFailure(ErrorKindOf(error), "cannot put the port back as found", error);
}

LineStatus LetGoOfLinesOnSignals() {
    struct sigaction action {};
    action.sa_handler = LetGoAndEnd;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int signal_number : kEndingSignals) {
        sigaddset(&action.sa_mask, signal_number);
    }
    for (const int signal_number : kEndingSignals) {
        if (sigaction(signal_number, &action, nullptr) != 0) {
            const int error = errno;
            return SystemFailure(LineError::kOther, "cannot catch the signals that end the program",
                                 error);
        }
    }
    return {};
}
