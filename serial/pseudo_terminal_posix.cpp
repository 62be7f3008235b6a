// Pseudo-terminals for a program that shows what a writer sends, and reading
// what arrives on a line.
#include "serial/line_calls.h"
#include "serial/serial_line.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

LineStatus OpenPseudoTerminal(PseudoTerminal& pty) {
    pty = PseudoTerminal();
    UniqueFd master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master.is_open()) {
        return SystemFailure(LineError::kOther, "cannot make a pseudo-terminal", errno);
    }
    if (grantpt(master.get()) != 0 || unlockpt(master.get()) != 0) {
        return SystemFailure(LineError::kOther, "cannot unlock the pseudo-terminal", errno);
    }
    char name[128];
    if (const int error = ptsname_r(master.get(), name, sizeof name); error != 0) {
        return SystemFailure(LineError::kOther, "cannot name the pseudo-terminal", error);
    }
    UniqueFd slave(Retry([&] { return open(name, O_RDWR | O_NOCTTY | O_CLOEXEC); }));
    if (!slave.is_open()) {
        return SystemFailure(LineError::kOther, std::string(name) + ": cannot hold it open", errno);
    }
    pty.master = std::move(master);
    pty.slave = std::move(slave);
    pty.slave_path = name;
    return {};
}

LineStatus ReadFromLine(const UniqueFd& fd, std::string& out, std::chrono::milliseconds wait,
                        std::size_t limit) {
    pollfd ready{fd.get(), POLLIN, 0};
    const int waited = Retry([&] { return poll(&ready, 1, static_cast<int>(wait.count())); });
    if (waited < 0) {
        return SystemFailure(LineError::kOther, "cannot wait for the line", errno);
    }
    if (waited == 0) {
        return {};
    }
    char chunk[65536];
    const ssize_t count =
        Retry([&] { return read(fd.get(), chunk, std::min(limit, sizeof chunk)); });
    const int error = errno;
    if (count > 0) {
        out.append(chunk, static_cast<std::size_t>(count));
    }
    if (count < 0) {
        // EIO on a master: no one holds the slave end open.
        return SystemFailure(LineError::kOther, "cannot read the line", error);
    }
    if (count == 0) {
        return {LineError::kOther, "the line was hung up"};
    }
    return {};
}
