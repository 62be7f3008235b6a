// The open ports: a fixed table of atomics, which a signal handler reads.
#include "serial/posix/open_ports.h"

#include "serial/posix/line_calls.h"
#include "serial/posix/serial_line.h"

#include <sys/ioctl.h>

#include <atomic>
#include <csignal>
#include <cstddef>

namespace {

struct OpenPort {
    std::atomic<int> fd{-1};
    termios found{};
    bool put_back = false;
};

constexpr std::size_t kOpenPorts = 4;
OpenPort open_ports[kOpenPorts];

OpenPort* OpenPortOf(int fd) {
    for (OpenPort& port : open_ports) {
        if (port.fd.load(std::memory_order_acquire) == fd) {
            return &port;
        }
    }
    return nullptr;
}

// Safe in a signal handler: both steps are tried, and the errno of the first
// that failed is returned (0: none).
int Release(const OpenPort& port) {
    const int fd = port.fd.load(std::memory_order_acquire);
    const auto shared = Retry([&] { return Line().ioctl(fd, TIOCNXCL, nullptr); });
    if (port.put_back) {
        const auto put_back = Retry([&] { return Line().tcsetattr(fd, TCSANOW, &port.found); });
        return shared.failed() ? shared.error : put_back.error;
    }
    return shared.error;
}

// Installed with SA_RESETHAND and every ending signal blocked meanwhile: the
// signal raised again at the end is taken by its default action once the
// handler returns.
extern "C" void ReleaseAndEnd(int signal_number) {
    const int saved = errno;
    for (const OpenPort& port : open_ports) {
        if (port.fd.load(std::memory_order_acquire) >= 0) {
            Release(port); // nothing better can be done about a failure here
        }
    }
    raise(signal_number);
    errno = saved;
}

} // namespace

bool NoteOpenPort(int fd, const termios& found, bool put_back) {
    OpenPort* port = OpenPortOf(-1);
    if (port == nullptr) {
        return false;
    }
    port->found = found;
    port->put_back = put_back;
    port->fd.store(fd, std::memory_order_release);
    return true;
}

LineStatus ReleasePort(int fd) {
    OpenPort* port = fd >= 0 ? OpenPortOf(fd) : nullptr;
    if (port == nullptr) {
        return {};
    }
    const int error = Release(*port);
    port->fd.store(-1, std::memory_order_release);
    return error == 0
               ? LineStatus{}
               : SystemFailure(ErrorKindOf(error), "cannot put the port back as found", error);
}

LineStatus ReleasePortsOnSignals() {
    struct sigaction action {};
    action.sa_handler = ReleaseAndEnd;
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
