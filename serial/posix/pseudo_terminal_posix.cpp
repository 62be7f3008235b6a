#include "serial/posix/pseudo_terminal.h"

#include "serial/posix/retry.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

LineStatus OpenPseudoTerminal(PseudoTerminal& pty) {
    pty = PseudoTerminal();
    const auto opened = Retry([] { return posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC); });
    if (opened.failed()) {
        return SystemFailure(LineError::kOther, "cannot make a pseudo-terminal", opened.error);
    }
    UniqueFd master(opened.value);
    if (grantpt(master.get()) != 0 || unlockpt(master.get()) != 0) {
        const int error = errno;
        return SystemFailure(LineError::kOther, "cannot unlock the pseudo-terminal", error);
    }
    char name[128];
    if (const int error = ptsname_r(master.get(), name, sizeof name); error != 0) {
        return SystemFailure(LineError::kOther, "cannot name the pseudo-terminal", error);
    }
    const auto slave = Retry([&] { return open(name, O_RDWR | O_NOCTTY | O_CLOEXEC); });
    if (slave.failed()) {
        return SystemFailure(ErrorKindOf(slave.error), std::string(name) + ": cannot hold it open",
                             slave.error);
    }
    pty.master = std::move(master);
    pty.slave = UniqueFd(slave.value);
    pty.slave_path = name;
    return {};
}

// Seen on Linux 6.x: a writer that sets 9600, writes "abc", sets 19200 and
// writes "de", read after all that, gives one status packet 0x50
// (TIOCPKT_IOCTL | TIOCPKT_NOSTOP) alone, then "abcde" after a 0 byte, and
// the master's settings read 19200 at both: changes between two reads make
// one packet, and the bytes of both settings come in one read. cfmakeraw
// keeps EXTPROC; a writer that clears it makes one last packet, then none.
LineStatus WatchLineSettings(const PseudoTerminal& pty) {
    int on = 1;
    if (const auto set = Retry([&] { return ioctl(pty.master.get(), TIOCPKT, &on); });
        set.failed()) {
        return SystemFailure(LineError::kOther, "cannot put the pseudo-terminal in packet mode",
                             set.error);
    }
    termios line{};
    if (const auto got = Retry([&] { return tcgetattr(pty.slave.get(), &line); }); got.failed()) {
        return SystemFailure(LineError::kOther, pty.slave_path + ": cannot read its settings",
                             got.error);
    }
    line.c_lflag |= EXTPROC;
    if (const auto set = Retry([&] { return tcsetattr(pty.slave.get(), TCSANOW, &line); });
        set.failed()) {
        return SystemFailure(LineError::kOther, pty.slave_path + ": cannot set EXTPROC", set.error);
    }
    return {};
}

Packet PacketBytes(const char* read, std::size_t size) noexcept {
    if (size == 0 || read[0] == TIOCPKT_DATA) {
        return {};
    }
    return {(read[0] & TIOCPKT_IOCTL) != 0, size};
}

LineStatus ReadFromLine(int fd, std::string& out, std::chrono::milliseconds wait,
                        std::size_t limit) {
    pollfd ready{fd, POLLIN, 0};
    const auto waited = Retry([&] { return poll(&ready, 1, static_cast<int>(wait.count())); });
    if (waited.failed()) {
        return SystemFailure(LineError::kOther, "cannot wait for the line", waited.error);
    }
    if (waited.value == 0) {
        return {};
    }
    char chunk[65536];
    const auto got = Retry([&] { return read(fd, chunk, std::min(limit, sizeof chunk)); });
    if (got.failed()) {
        // EIO on a master: no one holds the slave end open.
        return SystemFailure(ErrorKindOf(got.error), "cannot read the line", got.error);
    }
    if (got.value == 0) {
        return {LineError::kOther, kHungUp};
    }
    out.append(chunk, static_cast<std::size_t>(got.value));
    return {};
}
