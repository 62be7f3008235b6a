// The serial line's system calls as a port sees them: the calls a
// pseudo-terminal takes, wrapped so that the test reads their order and
// arguments and makes the failures a pseudo-terminal never gives.
#include "serial/line_calls.h"
#include "tests/support/pty_port.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <cstring>
#include <deque>
#include <map>

namespace {

using std::chrono::seconds;
using Log = std::vector<std::string>;

// What the wrapped calls saw, and what they are to do instead of the real
// call: fail with an errno (0: make the real call) for the next calls of a
// name as logged.
struct Recording {
    int port = -1;
    Log log;
    std::map<std::string, std::deque<int>, std::less<>> failures;
    std::size_t write_limit = 0; // at most this many bytes a write; 0: any
};

Recording* recording = nullptr;

std::string IoctlName(unsigned long request, void* argument) {
    constexpr struct {
        unsigned long request;
        const char* name;
    } kRequests[] = {{TIOCMBIC, "ioctl TIOCMBIC"},
                     {TIOCMBIS, "ioctl TIOCMBIS"},
                     {TIOCEXCL, "ioctl TIOCEXCL"},
                     {TIOCNXCL, "ioctl TIOCNXCL"},
                     {TIOCOUTQ, "ioctl TIOCOUTQ"}};
    std::string name = "ioctl " + std::to_string(request);
    for (const auto& known : kRequests) {
        name = known.request == request ? known.name : name;
    }
    if (request == TIOCMBIC || request == TIOCMBIS) {
        const int lines = *static_cast<int*>(argument);
        name += (lines & TIOCM_DTR) != 0 ? " DTR" : "";
        name += (lines & TIOCM_RTS) != 0 ? ((lines & TIOCM_DTR) != 0 ? "|RTS" : " RTS") : "";
    }
    return name;
}

std::string FlockName(int operation) {
    const char* kind = (operation & LOCK_EX) != 0   ? "flock LOCK_EX"
                       : (operation & LOCK_SH) != 0 ? "flock LOCK_SH"
                                                    : "flock LOCK_UN";
    return kind + std::string((operation & LOCK_NB) != 0 ? "|LOCK_NB" : "");
}

// Logs a call on the port and says whether it is to fail (errno set).
bool Logged(int fd, const std::string& name) {
    if (fd != recording->port) {
        return false;
    }
    recording->log.push_back(name);
    for (auto& [call, errors] : recording->failures) {
        const bool named =
            name.starts_with(call) && (name.size() == call.size() || name[call.size()] == ' ');
        if (named && !errors.empty()) {
            errno = errors.front();
            errors.pop_front();
            return errno != 0;
        }
    }
    return false;
}

template <typename Call> auto Pass(int fd, const std::string& name, Call call) {
    return Logged(fd, name) ? decltype(call())(-1) : call();
}

const LineCalls kRecordingCalls{
    [](const char* path, int flags) {
        recording->port = -2; // the port's number is not known before the call
        recording->log.push_back("open");
        auto& failures = recording->failures["open"];
        if (!failures.empty() && failures.front() != 0) {
            errno = failures.front();
            failures.pop_front();
            return -1;
        }
        return recording->port = kSystemLineCalls.open(path, flags);
    },
    [](int fd) { return Pass(fd, "close", [&] { return kSystemLineCalls.close(fd); }); },
    [](int fd, unsigned long request, void* argument) {
        return Pass(fd, IoctlName(request, argument),
                    [&] { return kSystemLineCalls.ioctl(fd, request, argument); });
    },
    [](int fd, termios* settings) {
        return Pass(fd, "tcgetattr", [&] { return kSystemLineCalls.tcgetattr(fd, settings); });
    },
    [](int fd, int when, const termios* settings) {
        return Pass(fd, when == TCSANOW ? "tcsetattr TCSANOW" : "tcsetattr later",
                    [&] { return kSystemLineCalls.tcsetattr(fd, when, settings); });
    },
    [](int fd) { return Pass(fd, "tcdrain", [&] { return kSystemLineCalls.tcdrain(fd); }); },
    [](int fd, int queue) {
        return Pass(fd, "tcflush", [&] { return kSystemLineCalls.tcflush(fd, queue); });
    },
    [](int fd, const void* bytes, std::size_t size) {
        return Pass(fd, "write " + std::to_string(size), [&] {
            const std::size_t limit = recording->write_limit;
            return kSystemLineCalls.write(fd, bytes, limit != 0 ? std::min(size, limit) : size);
        });
    },
    [](int fd, int operation) {
        return Pass(fd, FlockName(operation),
                    [&] { return kSystemLineCalls.flock(fd, operation); });
    },
    [](pollfd* fds, nfds_t count, int timeout) {
        return Pass(fds[0].fd, "poll", [&] { return kSystemLineCalls.poll(fds, count, timeout); });
    },
};

// Puts the recording calls in use for the life of a test.
struct Recorded : Recording {
    Recorded() {
        recording = this;
        InstallLineCalls(&kRecordingCalls);
    }
    ~Recorded() {
        InstallLineCalls(nullptr);
        recording = nullptr;
    }
};

// The settings a writer may change, as "ispeed ospeed iflag oflag cflag lflag".
std::string Settings(const PtyPort& port) {
    termios line{};
    EXPECT_EQ(tcgetattr(port.pty.slave.get(), &line), 0);
    char text[96];
    std::snprintf(text, sizeof text, "%u %u %x %x %x %x", cfgetispeed(&line), cfgetospeed(&line),
                  line.c_iflag, line.c_oflag, line.c_cflag, line.c_lflag);
    return text;
}

// Opens the port, writes `bytes` and closes it; the status of the first step
// that failed, and what arrived.
LineStatus SendOnce(PtyPort& port, std::string_view bytes, LeaveLine leave = LeaveLine::kAsFound) {
    UniqueFd line;
    LineStatus status = OpenSerialLine(port.path(), 9600, line, leave);
    if (status.ok()) {
        status = WriteToLine(line, bytes, seconds(5));
    }
    CloseSerialLine(line);
    port.Drain();
    return status;
}

const Log kWholeSend = {"open", "tcgetattr", "flock LOCK_EX|LOCK_NB", "tcsetattr TCSANOW",
                        "tcgetattr",
                        // Lowered, and only then the port taken for sole use, last.
                        "ioctl TIOCMBIC DTR|RTS", "ioctl TIOCEXCL",
                        // Two bytes a write: the rest is written again until all went.
                        "write 5", "write 3", "write 1", "ioctl TIOCOUTQ", "tcdrain",
                        // Sole use given up, then the settings found put back.
                        "ioctl TIOCNXCL", "tcsetattr TCSANOW", "close"};

TEST(LineCalls, OrderAndArgumentsOfASend) {
    PtyPort port;
    const std::string found = Settings(port);
    Recorded calls;
    calls.write_limit = 2;
    const LineStatus status = SendOnce(port, "Hello");
    EXPECT_TRUE(status.ok()) << status.message;
    EXPECT_EQ(calls.log, kWholeSend);
    EXPECT_EQ(port.arrived, "Hello");
    EXPECT_EQ(Settings(port), found);
}

// A signal that interrupts a call is no failure: the call is made again.
TEST(LineCalls, InterruptedCallsAreMadeAgain) {
    for (const char* call : {"open", "tcgetattr", "flock", "tcsetattr", "ioctl TIOCMBIC",
                             "ioctl TIOCEXCL", "write", "tcdrain"}) {
        PtyPort port;
        Recorded calls;
        calls.failures[call] = {EINTR};
        const LineStatus status = SendOnce(port, "Hello");
        EXPECT_TRUE(status.ok()) << call << ": " << status.message;
        EXPECT_EQ(port.arrived, "Hello") << call;
        EXPECT_EQ(calls.log.size(), kWholeSend.size() - 2 + 1) << call;
    }
}

// Whatever step fails, the status says which, and the port is left as it
// was found: out of sole use, with its own settings, closed.
TEST(LineCalls, AFailingStepLeavesThePortAsFound) {
    const struct {
        const char* call;
        std::deque<int> errors;
        LineError error;
        std::string message;
        std::string_view arrived; // at most; a flush may discard what the pty had not passed on
    } cases[] = {
        {"write",
         {0, EIO},
         LineError::kOther,
         "write failed after 2 of 5 bytes (Input/output error)",
         "He"},
        {"tcdrain",
         {EIO},
         LineError::kOther,
         "cannot wait for the port to send (Input/output error)",
         "Hello"},
        {"ioctl TIOCEXCL",
         {EPERM},
         LineError::kOther,
         ": cannot take the port for sole use (Operation not permitted)",
         ""},
        {"ioctl TIOCMBIC",
         {EIO},
         LineError::kOther,
         ": cannot turn DTR and RTS off (Input/output error)",
         ""},
        {"tcsetattr", {EIO}, LineError::kOther, ": cannot set the line (Input/output error)", ""},
        {"flock",
         {EWOULDBLOCK},
         LineError::kBusy,
         ": port busy: another process has locked it; close the program that uses it and try "
         "again",
         ""},
    };
    for (const auto& c : cases) {
        PtyPort port;
        const std::string found = Settings(port);
        Recorded calls;
        calls.write_limit = 2;
        calls.failures[c.call] = c.errors;
        const LineStatus status = SendOnce(port, "Hello");
        EXPECT_EQ(status.error, c.error) << c.call;
        EXPECT_EQ(status.message.substr(status.message.size() -
                                        std::min(status.message.size(), c.message.size())),
                  c.message);
        EXPECT_TRUE(c.arrived.starts_with(port.arrived)) << c.call << ": " << port.arrived;
        EXPECT_EQ(Settings(port), found) << c.call;
        ASSERT_FALSE(calls.log.empty());
        EXPECT_EQ(calls.log.back(), "close") << c.call;
        const bool exclusive =
            std::find(calls.log.begin(), calls.log.end(), "ioctl TIOCEXCL") != calls.log.end();
        const bool let_go =
            std::find(calls.log.begin(), calls.log.end(), "ioctl TIOCNXCL") != calls.log.end();
        EXPECT_TRUE(!exclusive || let_go) << c.call;
    }
}

// Asked to keep Wendle's line, closing leaves it: raw, 8N1, each rate.
TEST(LineCalls, KeptSettingsAreWendlesLine) {
    const struct {
        int baud;
        speed_t speed;
    } rates[] = {{1200, B1200}, {2400, B2400},   {4800, B4800},
                 {9600, B9600}, {19200, B19200}, {38400, B38400}};
    for (const auto& rate : rates) {
        PtyPort port;
        termios line{};
        ASSERT_EQ(tcgetattr(port.pty.slave.get(), &line), 0);
        // What another program may have left: two stop bits, flow control.
        line.c_cflag |= CSTOPB | CRTSCTS;
        line.c_iflag |= IXON | IXOFF | IXANY;
        ASSERT_EQ(tcsetattr(port.pty.slave.get(), TCSANOW, &line), 0);
        {
            UniqueFd held;
            ASSERT_TRUE(OpenSerialLine(port.path(), rate.baud, held, LeaveLine::kAsSet).ok());
        }
        ASSERT_EQ(tcgetattr(port.pty.slave.get(), &line), 0);
        EXPECT_EQ(cfgetospeed(&line), rate.speed);
        EXPECT_EQ(cfgetispeed(&line), rate.speed);
        EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL), CS8 | CLOCAL);
        EXPECT_EQ(line.c_iflag & (IXON | IXOFF | IXANY | ICRNL), 0u);
        EXPECT_EQ(line.c_oflag & OPOST, 0u);
        EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
    }
}

} // namespace
