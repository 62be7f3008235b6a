#include "serial/posix/pseudo_terminal.h"

#include "serial/posix/retry.h"

#include <fcntl.h>
#include <poll.h>
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
