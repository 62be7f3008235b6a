// Writing a message to a port in full, and waiting until it has left.
#include "serial/posix/line_calls.h"
#include "serial/posix/line_termios.h"
#include "serial/posix/serial_line.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cstdio>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

std::string Seconds(std::chrono::milliseconds time) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(time.count()) / 1000.0);
    return text;
}

// A write or a drain that failed; EIO is a line hung up.
LineStatus UseFailure(const std::string& what, int error) {
    return SystemFailure(ErrorKindOf(error), error == EIO ? what + ": " + kHungUp : what, error);
}

// Gives up on a write: the bytes still queued are thrown away, so that
// closing the port does not wait for them, and the caller learns how far
// it got.
LineStatus TimedOut(int fd, std::size_t written, std::size_t size,
                    std::chrono::milliseconds timeout) {
    std::string message = "write timed out after " + Seconds(timeout) + ": " +
                          std::to_string(written) + " of " + std::to_string(size) +
                          " bytes written, ";
    if (const auto flushed = Retry([&] { return Line().tcflush(fd, TCOFLUSH); });
        flushed.failed()) {
        return SystemFailure(LineError::kTimedOut,
                             message + "the rest still queued: it could not be discarded",
                             flushed.error);
    }
    return {LineError::kTimedOut, message + "the rest discarded; is the device taking data "
                                            "(cable, power, its own flow control)?"};
}

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

// Waits until the bytes written have left the system's queue, then for the
// last of them to leave the port (tcdrain). TIOCOUTQ lets the wait keep to
// the deadline; where a device cannot tell (ENOTTY, EINVAL) tcdrain waits
// alone.
LineStatus Drain(int fd, std::size_t size, Clock::time_point deadline,
                 std::chrono::milliseconds timeout) {
    for (;;) {
        int queued = 0;
        const auto asked = Retry([&] { return Line().ioctl(fd, TIOCOUTQ, &queued); });
        if (asked.failed() && asked.error != ENOTTY && asked.error != EINVAL) {
            return UseFailure("cannot tell how much the port has still to send", asked.error);
        }
        if (asked.failed() || queued <= 0) {
            break;
        }
        if (MillisecondsLeft(deadline) == 0) {
            return TimedOut(fd, size - std::min(size, static_cast<std::size_t>(queued)), size,
                            timeout);
        }
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::min(5, MillisecondsLeft(deadline))));
    }
    if (const auto drained = Retry([&] { return Line().tcdrain(fd); }); drained.failed()) {
        return UseFailure("cannot wait for the port to send", drained.error);
    }
    return {};
}

// How long `size` bytes take on the wire at the line's settings: a start
// bit, the data bits, a parity bit if any, the stop bits each. Nothing when
// the settings cannot be read or name no rate.
Clock::duration WireTime(int fd, std::size_t size) {
    termios line{};
    if (Retry([&] { return Line().tcgetattr(fd, &line); }).failed()) {
        return {};
    }
    const LineSettings settings = LineSettingsOf(line);
    if (settings.baud <= 0) {
        return {};
    }
    const auto bits =
        static_cast<long long>(size) *
        (1 + settings.data_bits + (settings.parity != 'N' ? 1 : 0) + settings.stop_bits);
    // Whole seconds apart from the rest, so that no size overflows.
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::seconds(bits / settings.baud) +
        std::chrono::nanoseconds((bits % settings.baud * 1'000'000'000 + settings.baud - 1) /
                                 settings.baud));
}

} // namespace

LineStatus WriteToLine(const SerialLine& line, std::string_view bytes,
                       std::chrono::milliseconds timeout, const WriteProgress& progress) {
    const int fd = line.get();
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + timeout;
    std::size_t written = 0;
    bool queue_filled = false;
    while (written < bytes.size()) {
        const auto wrote =
            Retry([&] { return Line().write(fd, bytes.data() + written, bytes.size() - written); });
        if (wrote.value > 0) {
            written += static_cast<std::size_t>(wrote.value);
            queue_filled |= written < bytes.size();
            if (progress) {
                progress(written);
            }
            continue;
        }
        if (wrote.failed() && wrote.error != EAGAIN && wrote.error != EWOULDBLOCK) {
            // Its result deliberately unused: the write's failure is what is told.
            Retry([&] { return Line().tcflush(fd, TCOFLUSH); });
            return UseFailure("write failed after " + std::to_string(written) + " of " +
                                  std::to_string(bytes.size()) + " bytes",
                              wrote.error);
        }
        // The port's queue is full: wait for room, but not past the deadline.
        const int left = MillisecondsLeft(deadline);
        if (left == 0) {
            return TimedOut(fd, written, bytes.size(), timeout);
        }
        pollfd wait{fd, POLLOUT, 0};
        const auto ready = Retry([&] { return Line().poll(&wait, 1, left); });
        if (ready.failed()) {
            return UseFailure("cannot wait for room in the port's queue", ready.error);
        }
        if (ready.value == 0) {
            return TimedOut(fd, written, bytes.size(), timeout);
        }
    }
    if (LineStatus drained = Drain(fd, bytes.size(), deadline, timeout); !drained.ok()) {
        return drained;
    }
    // A pseudo-terminal drains at once, whatever its rate: wait out the
    // bytes' time on the wire as a port would have, so that the settings
    // put back and the close come after a reader has taken the bytes with
    // the settings they were sent at. On a port tcdrain has waited already.
    // A queue that filled was being read: the reader has seen the settings
    // (they come ahead of the bytes), and a mebibyte need not take minutes.
    if (!queue_filled) {
        std::this_thread::sleep_until(std::min(start + WireTime(fd, bytes.size()), deadline));
    }
    return {};
}
