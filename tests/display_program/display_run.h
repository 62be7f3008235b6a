// Running wendle-display as its users do: on files and standard input, and
// with --pty on a terminal of the test's own, the test being the writer.
#pragma once

#include "serial/serial_line.h"
#include "tests/support/tool_run.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

// Waits for `ready` as long as a loaded machine may need; its result.
inline bool Eventually(const std::function<bool()>& ready) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!ready() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ready();
}

// A terminal for the program's standard output: a raw pseudo-terminal whose
// master is read in the background.
class TestTerminal {
  public:
    TestTerminal() {
        EXPECT_TRUE(OpenPseudoTerminal(pty_).ok());
        termios raw{};
        tcgetattr(pty_.slave.get(), &raw);
        cfmakeraw(&raw);
        tcsetattr(pty_.slave.get(), TCSANOW, &raw);
        reader_ = std::thread([this] {
            while (!stop_) {
                std::string chunk;
                ReadFromLine(pty_.master, chunk, std::chrono::milliseconds(20));
                const std::lock_guard<std::mutex> lock(mutex_);
                text_ += chunk;
            }
        });
    }
    ~TestTerminal() {
        stop_ = true;
        reader_.join();
    }
    const std::string& path() const { return pty_.slave_path; }
    std::string Text() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }
    bool WaitFor(const std::string& text) {
        return Eventually([&] { return Text().find(text) != std::string::npos; });
    }

  private:
    PseudoTerminal pty_;
    std::mutex mutex_;
    std::string text_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

// `wendle-display --pty ARGS` drawing live on a TestTerminal.
struct LiveDisplay {
    TestTerminal terminal;
    RunningTool tool;
    std::string path; // the end to write to, from the program's first line

    explicit LiveDisplay(std::vector<std::string> args)
        : tool(WENDLE_DISPLAY_TOOL, Arguments(std::move(args)), {}, {}, terminal.path()) {
        EXPECT_TRUE(terminal.WaitFor("\n"));
        const std::string text = terminal.Text();
        path = text.substr(0, text.find('\n'));
    }
    static std::vector<std::string> Arguments(std::vector<std::string> args) {
        args.insert(args.begin(), "--pty");
        return args;
    }
    // Ends it with `signal`; the exit status and all it wrote, which ends
    // with the dump (the program runs with --dump).
    std::pair<int, std::string> End(int signal) {
        tool.Signal(signal);
        const int status = tool.Finish().exit_code;
        EXPECT_TRUE(Eventually([&] {
            const std::string text = terminal.Text();
            const std::size_t left = text.rfind("\x1b[?1049l");
            return left != std::string::npos && text.find("\ncursor ", left) != std::string::npos &&
                   text.ends_with('\n');
        }));
        return {status, terminal.Text()};
    }
};

// A writer that opens the port for one message and closes it again, as
// Wendle does on every Send: `speed` and `control` flags set, raw.
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
