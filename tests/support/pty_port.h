// A pseudo-terminal standing in for a serial port and the device behind it,
// or for a user's terminal: the test holds its slave open (cooked, as a fresh
// port would be, unless made raw) and reads what arrives on the master.
#pragma once

#include "serial/posix/pseudo_terminal.h"
#include "serial/posix/serial_line.h"
#include "tests/support/tool_run.h"

#include <termios.h>

#include <cstdio>

struct PtyPort {
    PseudoTerminal pty;
    std::string arrived; // all the master has read so far

    explicit PtyPort(bool raw = false) {
        const LineStatus status = OpenPseudoTerminal(pty);
        EXPECT_TRUE(status.ok()) << status.message;
        termios line{};
        if (raw && tcgetattr(pty.slave.get(), &line) == 0) {
            cfmakeraw(&line);
            tcsetattr(pty.slave.get(), TCSANOW, &line);
        }
    }

    const std::string& path() const { return pty.slave_path; }

    // What a writer may change, as "ispeed ospeed iflag oflag cflag lflag".
    std::string Settings() const {
        termios line{};
        EXPECT_EQ(tcgetattr(pty.slave.get(), &line), 0);
        char text[96];
        std::snprintf(text, sizeof text, "%u %u %x %x %x %x", cfgetispeed(&line),
                      cfgetospeed(&line), line.c_iflag, line.c_oflag, line.c_cflag, line.c_lflag);
        return text;
    }

    // Reads until `done` holds or `limit` has passed, as long as a loaded
    // machine may need; whether it holds.
    bool ReadUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            ReadFromLine(pty.master.get(), arrived, std::chrono::milliseconds(10), 1 << 20);
        }
        return done();
    }

    // What arrives from now on until the line has been quiet for 50 ms.
    std::string Drain() {
        const std::size_t from = arrived.size();
        for (std::size_t had = static_cast<std::size_t>(-1); had != arrived.size();) {
            had = arrived.size();
            const LineStatus status =
                ReadFromLine(pty.master.get(), arrived, std::chrono::milliseconds(50), 1 << 20);
            EXPECT_TRUE(status.ok()) << status.message;
        }
        return arrived.substr(from);
    }
};
