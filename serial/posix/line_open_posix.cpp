// Opening a port for Wendle's use and locking it, and closing it again.
//
// Why termios directly and no serial-port library: Debian's libserialport
// 0.1.1 cannot open a pseudo-terminal (its port lookup wants the kernel's
// records of serial hardware, which ptys do not have), so a program built on
// it could not be tried out, nor tested, without a real adapter.
#include "serial/posix/line_calls.h"
#include "serial/posix/line_termios.h"
#include "serial/posix/open_ports.h"
#include "serial/posix/serial_line.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <utility>

namespace {

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

// Drops DTR and RTS. A pseudo-terminal has no modem lines and answers
// ENOTTY (some drivers EINVAL): that is a line without them, not a failure.
LineStatus DropModemLines(int fd) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    const auto dropped = Retry([&] { return Line().ioctl(fd, TIOCMBIC, &lines); });
    if (dropped.failed() && dropped.error != ENOTTY && dropped.error != EINVAL) {
        return SystemFailure(ErrorKindOf(dropped.error), "cannot turn DTR and RTS off",
                             dropped.error);
    }
    return {};
}

// Sets Wendle's line and reads it back: tcsetattr succeeds when any of the
// settings took. A device that refuses the line refuses its rate, the one
// setting of it that varies: that is told as a rate refused (EINVAL).
LineStatus SetLine(int fd, const std::string& path, int baud, termios settings) {
    SetWendleLine(settings, baud);
    const std::string line = std::to_string(baud) + " baud";
    if (const auto set = Retry([&] { return Line().tcsetattr(fd, TCSANOW, &settings); });
        set.failed()) {
        return SystemFailure(set.error == EINVAL ? LineError::kBadRate : ErrorKindOf(set.error),
                             path + ": cannot set the line to " + line, set.error);
    }
    termios applied{};
    if (const auto got = Retry([&] { return Line().tcgetattr(fd, &applied); }); got.failed()) {
        return SystemFailure(ErrorKindOf(got.error), path + ": cannot read the line settings back",
                             got.error);
    }
    if (!HasRate(applied, baud)) {
        return {LineError::kBadRate, path + ": the port did not take " + line};
    }
    if (!HasWendleFraming(applied)) {
        return {LineError::kOther, path + ": the port did not take 8N1 raw"};
    }
    return {};
}

} // namespace

LineStatus OpenFailure(const std::string& path, int error) {
    return PathFailure(path, error,
                       ErrorKindOf(error) == LineError::kPermissionDenied ? WhoMayOpen(path) : "");
}

SerialLine& SerialLine::operator=(SerialLine&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

LineStatus SerialLine::Close() {
    if (fd_ < 0) {
        return {};
    }
    LineStatus status = ReleasePort(fd_);
    // Not retried on EINTR: Linux has closed the descriptor either way.
    if (Line().close(std::exchange(fd_, -1)) != 0) {
        const int error = errno;
        if (status.ok() && error != EINTR) {
            status = SystemFailure(ErrorKindOf(error), "cannot close the port", error);
        }
    }
    return status;
}

LineStatus OpenSerialLine(const std::string& path, int baud, SerialLine& line, LeaveLine leave) {
    line = SerialLine();
    if (LineStatus status = CheckLineRate(baud); !status.ok()) {
        return status;
    }
    // Non-blocking, so that opening does not wait for a carrier on DCD.
    const auto opened = Retry(
        [&] { return Line().open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (opened.failed()) {
        return OpenFailure(path, opened.error);
    }
    SerialLine port;
    port.fd_ = opened.value;
    termios found{};
    if (const auto got = Retry([&] { return Line().tcgetattr(port.fd_, &found); }); got.failed()) {
        return OpenFailure(path, got.error);
    }
    // The advisory lock is the one other serial programs take; root passes
    // TIOCEXCL, so the lock is what also keeps root's programs apart.
    if (const auto locked = Retry([&] { return Line().flock(port.fd_, LOCK_EX | LOCK_NB); });
        locked.failed()) {
        if (locked.error == EWOULDBLOCK) {
            return {LineError::kBusy, path + ": port busy: another process has locked it; "
                                             "close the program that uses it and try again"};
        }
        return SystemFailure(ErrorKindOf(locked.error), path + ": cannot lock the port",
                             locked.error);
    }
    // Open and noted from here on: whatever fails below, closing `port` puts the
    // settings found back.
    if (!NoteOpenPort(port.fd_, found, leave == LeaveLine::kAsFound)) {
        return {LineError::kOther, path + ": too many ports open at once"};
    }
    if (LineStatus status = SetLine(port.fd_, path, baud, found); !status.ok()) {
        return status;
    }
    if (LineStatus status = DropModemLines(port.fd_); !status.ok()) {
        status.message = path + ": " + status.message;
        return status;
    }
    // Last, so that no failure above leaves the device in exclusive mode.
    if (const auto taken = Retry([&] { return Line().ioctl(port.fd_, TIOCEXCL, nullptr); });
        taken.failed()) {
        return SystemFailure(ErrorKindOf(taken.error), path + ": cannot take the port for sole use",
                             taken.error);
    }
    line = std::move(port);
    return {};
}

LineStatus SetLineRate(const SerialLine& line, const std::string& path, int baud) {
    if (LineStatus status = CheckLineRate(baud); !status.ok()) {
        return status;
    }
    termios settings{};
    if (const auto got = Retry([&] { return Line().tcgetattr(line.get(), &settings); });
        got.failed()) {
        return SystemFailure(ErrorKindOf(got.error), path + ": cannot read the line settings",
                             got.error);
    }
    return SetLine(line.get(), path, baud, settings);
}
