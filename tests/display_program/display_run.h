// Running wendle-display as its users do: --pty on a terminal of the test's
// own (a raw pseudo-terminal), the test being the writer.
#pragma once

#include "tests/support/pty_port.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <thread>

// `wendle-display --pty --dump` drawing live on the test's terminal.
struct LiveDisplay {
    PtyPort terminal{true}; // all it has written there in `terminal.arrived`
    std::unique_ptr<RunningTool> tool = std::make_unique<RunningTool>(
        WENDLE_DISPLAY_TOOL, std::vector<std::string>{"--pty", "--dump"}, std::string_view{},
        std::vector<std::string>{}, terminal.path());
    std::string path; // the end to write to, its first line

    LiveDisplay() {
        EXPECT_TRUE(WaitFor("\n"));
        path = terminal.arrived.substr(0, terminal.arrived.find('\n'));
    }

    // Reads the terminal until `wanted` stands after `from`.
    bool WaitFor(const std::string& wanted, std::size_t from = 0) {
        const std::string& text = terminal.arrived;
        return terminal.ReadUntil([&] { return text.find(wanted, from) != std::string::npos; });
    }

    // Ends it with `signal`: its status, and what it wrote after leaving
    // the live screen (the last frame, then the dump).
    std::pair<int, std::string> End(int signal) {
        tool->Signal(signal);
        const int status = tool->Finish().exit_code;
        const std::string& text = terminal.arrived;
        const std::string leave = "\x1b[?7h\x1b[0m\x1b[?25h\x1b[?1049l";
        EXPECT_TRUE(WaitFor(leave) && WaitFor("\ncursor ", text.rfind(leave)));
        WaitFor("\n", text.rfind("\ncursor ") + 1);
        return {status, text.substr(text.rfind(leave) + leave.size())};
    }
};

// A writer that opens the port for one message and closes it again, as
// Wendle does on every Send: raw, `speed`, and `control` flags.
inline void WriteOnce(const std::string& path, std::string_view bytes, speed_t speed = B9600,
                      tcflag_t control = 0) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0) << path;
    termios line{};
    tcgetattr(fd, &line);
    cfmakeraw(&line);
    cfsetspeed(&line, speed);
    line.c_cflag = (line.c_cflag & ~(CSTOPB | CRTSCTS)) | control;
    tcsetattr(fd, TCSANOW, &line);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
}
