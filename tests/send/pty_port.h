// A pseudo-terminal standing in for a serial port and the device behind it:
// the tests hold its slave open in the system's default (cooked) mode, as a
// fresh port would be, and read what arrives on the master.
#pragma once

#include "serial/serial_line.h"
#include "tests/support/tool_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

struct PtyPort {
    PseudoTerminal pty;

    PtyPort() {
        const LineStatus status = OpenPseudoTerminal(pty);
        EXPECT_TRUE(status.ok()) << status.message;
    }

    const std::string& path() const { return pty.slave_path; }

    // Everything the master can read now or within `wait`.
    std::string Drain(std::chrono::milliseconds wait = std::chrono::milliseconds(50)) {
        std::string arrived;
        for (std::size_t had = static_cast<std::size_t>(-1); had != arrived.size();) {
            had = arrived.size();
            const LineStatus status = ReadFromLine(pty.master, arrived, wait, 1 << 20);
            EXPECT_TRUE(status.ok()) << status.message;
        }
        return arrived;
    }
};

struct Delivery {
    ToolRun run;
    std::string arrived;
};

// Runs wendle-send with -p set to the port, reading the master while it runs
// (a large message fills the pseudo-terminal's buffer otherwise).
inline Delivery SendThrough(PtyPort& port, const std::vector<std::string>& args,
                            std::string_view input = {}) {
    std::vector<std::string> all{"-p", port.path()};
    all.insert(all.end(), args.begin(), args.end());
    RunningTool tool(WENDLE_SEND_TOOL, all, input);
    Delivery delivery;
    while (!tool.Ended()) {
        ReadFromLine(port.pty.master, delivery.arrived, std::chrono::milliseconds(10), 1 << 20);
    }
    delivery.arrived += port.Drain();
    delivery.run = tool.Finish();
    return delivery;
}
