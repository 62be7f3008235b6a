// Serial lines through POSIX termios, the one place where the native tools
// call the system about ports and locks, every call through Line().
//
// Why termios directly and no serial-port library: Debian's libserialport
// 0.1.1 cannot open a pseudo-terminal (its port lookup wants the kernel's
// records of serial hardware, which ptys do not have), so a program built on
// it could not be tried out, nor tested, without a real adapter.
#include "serial/serial_line_posix.h"

#include "serial/line_calls.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// What failing to open or to use a port at all means for the user.
LineError OpenErrorKind(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENODEV:
    case ENXIO:
        return LineError::kNoSuchPort;
    case EACCES:
    case EPERM:
    case EROFS:
        return LineError::kPermissionDenied;
    case EBUSY:
    case EWOULDBLOCK:
        return LineError::kBusy;
    case ENOTTY:
    case EISDIR:
        return LineError::kNotASerialPort;
    default:
        return LineError::kOther;
    }
}

// Who may open `path`, as the system records it: the group when the group
// may read and write, else the owner alone.
std::string WhoMayOpen(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return "";
    }
    constexpr mode_t kGroupReadWrite = S_IRGRP | S_IWGRP;
    if ((info.st_mode & kGroupReadWrite) == kGroupReadWrite) {
        const group* owner_group = getgrgid(info.st_gid);
        const std::string name =
            owner_group != nullptr ? owner_group->gr_name : std::to_string(info.st_gid);
        return "; members of the group " + name +
               " may use it: add yourself with `sudo usermod -aG " + name +
               " $USER` and log in again";
    }
    const passwd* owner = getpwuid(info.st_uid);
    return "; only its owner " +
           (owner != nullptr ? std::string(owner->pw_name) : std::to_string(info.st_uid)) +
           " may use it";
}

LineStatus OpenFailure(const std::string& path, int error) {
    const LineError kind = OpenErrorKind(error);
    switch (kind) {
    case LineError::kNoSuchPort:
        return SystemFailure(kind, path + ": no such port", error);
    case LineError::kPermissionDenied:
        return {kind, SystemFailure(kind, path + ": permission denied", error).message +
                          WhoMayOpen(path)};
    case LineError::kBusy:
        return SystemFailure(kind, path + ": port busy: another program holds it for its own use",
                             error);
    case LineError::kNotASerialPort:
        return SystemFailure(kind, path + ": not a serial port", error);
    default:
        return SystemFailure(kind, path + ": cannot open", error);
    }
}

struct SpeedCode {
    int baud;
    speed_t code;
};

constexpr SpeedCode kSpeedCodes[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

speed_t SpeedCodeOf(int baud) {
    for (const SpeedCode& speed : kSpeedCodes) {
        if (speed.baud == baud) {
            return speed.code;
        }
    }
    return B0;
}

int BaudOf(speed_t code) {
    for (const SpeedCode& speed : kSpeedCodes) {
        if (speed.code == code) {
            return speed.baud;
        }
    }
    return 0;
}

// Raw both ways, 8N1, no flow control of either kind, modem status lines
// ignored (CLOCAL: a port with nothing on DCD still writes).
void SetWendleLine(termios& settings, speed_t speed) {
    cfmakeraw(&settings);
    settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
}

bool HasWendleLine(const termios& settings, speed_t speed) {
    return cfgetospeed(&settings) == speed && (settings.c_cflag & CSIZE) == CS8 &&
           (settings.c_cflag & (PARENB | CSTOPB | CRTSCTS)) == 0 &&
           (settings.c_iflag & (IXON | IXOFF)) == 0 && (settings.c_oflag & OPOST) == 0;
}

// Drops DTR and RTS. A pseudo-terminal has no modem lines and answers
// ENOTTY (some drivers EINVAL): that is a line without them, not a failure.
LineStatus DropModemLines(int fd) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (Retry([&] { return Line().ioctl(fd, TIOCMBIC, &lines); }) != 0 && errno != ENOTTY &&
        errno != EINVAL) {
        return SystemFailure(LineError::kOther, "cannot turn DTR and RTS off", errno);
    }
    return {};
}

std::string Seconds(std::chrono::milliseconds time) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(time.count()) / 1000.0);
    return text;
}

// Gives up on a write: the bytes still queued are thrown away, so that
// closing the port does not wait for them, and the caller learns how far
// it got.
LineStatus TimedOut(int fd, std::size_t written, std::size_t size,
                    std::chrono::milliseconds timeout) {
    Line().tcflush(fd, TCOFLUSH); // best effort: the status says what matters
    return {LineError::kTimedOut, "write timed out after " + Seconds(timeout) + ": " +
                                      std::to_string(written) + " of " + std::to_string(size) +
                                      " bytes written, the rest discarded; is the device taking "
                                      "data (cable, power, its own flow control)?"};
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
        if (Retry([&] { return Line().ioctl(fd, TIOCOUTQ, &queued); }) != 0 || queued <= 0) {
            break;
        }
        if (MillisecondsLeft(deadline) == 0) {
            return TimedOut(fd, size - static_cast<std::size_t>(queued), size, timeout);
        }
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::min(5, MillisecondsLeft(deadline))));
    }
    if (Retry([&] { return Line().tcdrain(fd); }) != 0) {
        return SystemFailure(LineError::kOther, "cannot wait for the port to send", errno);
    }
    return {};
}

// The ports open now, each with the settings it had before it was opened, so
// that closing it, or a signal that ends the program, can put them back. A
// fixed table of atomics: the signal handler reads it.
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

// Takes exclusive mode off and, unless the user asked to keep Wendle's
// line, puts back the settings found. Safe in a signal handler. No error is
// reported: the port is being let go, and nothing better can be done.
void LetGo(const HeldLine& held) {
    const int fd = held.fd.load(std::memory_order_acquire);
    Line().ioctl(fd, TIOCNXCL, nullptr);
    if (held.put_back) {
        Retry([&] { return Line().tcsetattr(fd, TCSANOW, &held.found); });
    }
}

void CloseFd(int fd) {
    if (HeldLine* held = HeldLineOf(fd)) {
        LetGo(*held);
        held->fd.store(-1, std::memory_order_release);
    }
    // Not retried on EINTR: Linux has closed the descriptor either way.
    Line().close(fd);
}

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

void LetGoAndEnd(int signal_number) {
    for (const HeldLine& held : held_lines) {
        if (held.fd.load(std::memory_order_acquire) >= 0) {
            LetGo(held);
        }
    }
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

} // namespace

LineStatus SystemFailure(LineError kind, const std::string& what, int error) {
    return {kind, what + " (" + std::strerror(error) + ")"};
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        UniqueFd old(fd_);
        fd_ = other.Release();
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) {
        CloseFd(fd_);
    }
}

LineStatus OpenSerialLine(const std::string& path, int baud, UniqueFd& line, LeaveLine leave) {
    line = UniqueFd();
    if (LineStatus status = CheckLineRate(baud); !status.ok()) {
        return status;
    }
    // Non-blocking, so that opening does not wait for a carrier on DCD.
    UniqueFd port(Retry(
        [&] { return Line().open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }));
    if (!port.is_open()) {
        return OpenFailure(path, errno);
    }
    termios settings{};
    if (Retry([&] { return Line().tcgetattr(port.get(), &settings); }) != 0) {
        return OpenFailure(path, errno);
    }
    // The advisory lock is the one other serial programs take; root passes
    // TIOCEXCL, so the lock is what also keeps root's programs apart.
    if (Retry([&] { return Line().flock(port.get(), LOCK_EX | LOCK_NB); }) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            return {LineError::kBusy, path + ": port busy: another process has locked it; "
                                             "close the program that uses it and try again"};
        }
        return SystemFailure(LineError::kOther, path + ": cannot lock the port", error);
    }
    // Held from here on: whatever fails below, closing `port` puts the
    // settings found back.
    HeldLine* held = HeldLineOf(-1);
    if (held == nullptr) {
        return {LineError::kOther, path + ": too many ports open at once"};
    }
    held->found = settings;
    held->put_back = leave == LeaveLine::kAsFound;
    held->fd.store(port.get(), std::memory_order_release);

    const speed_t speed = SpeedCodeOf(baud);
    SetWendleLine(settings, speed);
    if (Retry([&] { return Line().tcsetattr(port.get(), TCSANOW, &settings); }) != 0) {
        return SystemFailure(LineError::kOther, path + ": cannot set the line", errno);
    }
    // tcsetattr succeeds when any of the settings took: read them back.
    termios applied{};
    if (Retry([&] { return Line().tcgetattr(port.get(), &applied); }) != 0) {
        return SystemFailure(LineError::kOther, path + ": cannot read the line settings back",
                             errno);
    }
    if (!HasWendleLine(applied, speed)) {
        return {LineError::kOther,
                path + ": the port did not take " + std::to_string(baud) + " baud 8N1 raw"};
    }
    if (LineStatus status = DropModemLines(port.get()); !status.ok()) {
        status.message = path + ": " + status.message;
        return status;
    }
    // Last, so that no failure above leaves the device in exclusive mode.
    if (Retry([&] { return Line().ioctl(port.get(), TIOCEXCL, nullptr); }) != 0) {
        return SystemFailure(LineError::kOther, path + ": cannot take the port for sole use",
                             errno);
    }
    line = std::move(port);
    return {};
}

void CloseSerialLine(UniqueFd& line) {
    line = UniqueFd();
}

void LetGoOfLinesOnSignals() {
    for (const int signal_number : kEndingSignals) {
        std::signal(signal_number, LetGoAndEnd);
    }
}

LineStatus WriteToLine(const UniqueFd& line, std::string_view bytes,
                       std::chrono::milliseconds timeout, const WriteProgress& progress) {
    const int fd = line.get();
    const Clock::time_point deadline = Clock::now() + timeout;
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count =
            Retry([&] { return Line().write(fd, bytes.data() + written, bytes.size() - written); });
        if (count > 0) {
            written += static_cast<std::size_t>(count);
            if (progress) {
                progress(written);
            }
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            const int error = errno;
            Line().tcflush(fd, TCOFLUSH); // best effort: the status says what matters
            return SystemFailure(LineError::kOther,
                                 "write failed after " + std::to_string(written) + " of " +
                                     std::to_string(bytes.size()) + " bytes",
                                 error);
        }
        // The port's queue is full: wait for room, but not past the deadline.
        const int left = MillisecondsLeft(deadline);
        pollfd wait{fd, POLLOUT, 0};
        if (left == 0 || Retry([&] { return Line().poll(&wait, 1, left); }) == 0) {
            return TimedOut(fd, written, bytes.size(), timeout);
        }
    }
    return Drain(fd, bytes.size(), deadline, timeout);
}

LineSettings LineSettingsOf(const termios& line) {
    LineSettings settings;
    settings.baud = BaudOf(cfgetospeed(&line));
    switch (line.c_cflag & CSIZE) {
    case CS5:
        settings.data_bits = 5;
        break;
    case CS6:
        settings.data_bits = 6;
        break;
    case CS7:
        settings.data_bits = 7;
        break;
    default:
        settings.data_bits = 8;
        break;
    }
    const bool odd = (line.c_cflag & PARODD) != 0;
    if ((line.c_cflag & PARENB) == 0) {
        settings.parity = 'N';
    } else if ((line.c_cflag & CMSPAR) != 0) {
        settings.parity = odd ? 'M' : 'S';
    } else {
        settings.parity = odd ? 'O' : 'E';
    }
    settings.stop_bits = (line.c_cflag & CSTOPB) != 0 ? 2 : 1;
    settings.rts_cts = (line.c_cflag & CRTSCTS) != 0;
    settings.xon_xoff_output = (line.c_iflag & IXON) != 0;
    settings.xon_xoff_input = (line.c_iflag & IXOFF) != 0;
    settings.output_processing = (line.c_oflag & OPOST) != 0;
    settings.canonical_input = (line.c_lflag & ICANON) != 0;
    return settings;
}

LineStatus ReadLineSettings(const UniqueFd& fd, LineSettings& settings) {
    termios line{};
    if (tcgetattr(fd.get(), &line) != 0) {
        return SystemFailure(OpenErrorKind(errno), "cannot read the line settings", errno);
    }
    settings = LineSettingsOf(line);
    return {};
}
