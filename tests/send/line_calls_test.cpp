// The serial line library on pseudo-terminals. Its system calls on the port
// are wrapped, so that a test reads their order and arguments and makes the
// failures a pseudo-terminal never gives. Then wendle-send --list, on a
// system tree built for the test (this machine has no USB adapter).
#include "serial/line_description.h"
#include "serial/posix/line_calls.h"
#include "serial/posix/line_termios.h"
#include "tests/support/pty_port.h"

#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/ioctl.h>

#include <filesystem>

namespace {

// The errno for the next calls of one name (0: make the real call); how many
// bytes TIOCOUTQ says are queued (-1: what the pseudo-terminal says, always
// 0); the calls made on the port, ", " between them.
struct Recording {
    std::string fail; // a name as logged, or its first word
    std::vector<int> errors;
    int queued = -1;
    int port = -1;
    std::string log = "";
};
Recording* recording = nullptr;

std::string IoctlName(unsigned long request, const int* lines) {
    if (request == TIOCMBIC || request == TIOCMBIS) {
        return std::string(request == TIOCMBIC ? "TIOCMBIC" : "TIOCMBIS") +
               ((*lines & TIOCM_DTR) != 0 ? " DTR" : "") +
               ((*lines & TIOCM_RTS) != 0 ? " RTS" : "");
    }
    return request == TIOCEXCL   ? "TIOCEXCL"
           : request == TIOCNXCL ? "TIOCNXCL"
           : request == TIOCOUTQ ? "TIOCOUTQ"
                                 : "ioctl " + std::to_string(request);
}

// Logs a call on the port and makes it unless it is to fail (errno set).
template <typename Call> auto Pass(int fd, const std::string& name, Call call) {
    Recording& r = *recording;
    if (fd == r.port) {
        r.log += (r.log.empty() ? "" : ", ") + name;
        if (!r.errors.empty() && (name == r.fail || name.starts_with(r.fail + " "))) {
            errno = r.errors.front();
            r.errors.erase(r.errors.begin());
            if (errno != 0) {
                return decltype(call())(-1);
            }
        }
    }
    return call();
}

// The system's calls, the port's logged; at most two bytes a write, so that
// writes come short.
const LineCalls& kReal = kSystemLineCalls;
const LineCalls kRecordingCalls = [] {
    LineCalls calls = kReal;
    calls.open = [](const char* path, int flags) {
        recording->port = -2; // the port's number is not known before the call
        return Pass(-2, "open", [&] { return recording->port = kReal.open(path, flags); });
    };
    calls.close = [](int fd) { return Pass(fd, "close", [&] { return kReal.close(fd); }); };
    calls.ioctl = [](int fd, unsigned long request, void* argument) {
        return Pass(fd, IoctlName(request, static_cast<int*>(argument)), [&] {
            if (request == TIOCOUTQ && recording->queued >= 0) {
                *static_cast<int*>(argument) = recording->queued;
                return 0;
            }
            return kReal.ioctl(fd, request, argument);
        });
    };
    calls.tcgetattr = [](int fd, termios* settings) {
        return Pass(fd, "tcgetattr", [&] { return kReal.tcgetattr(fd, settings); });
    };
    calls.tcsetattr = [](int fd, int when, const termios* settings) {
        return Pass(fd, "tcsetattr", [&] { return kReal.tcsetattr(fd, when, settings); });
    };
    calls.tcdrain = [](int fd) { return Pass(fd, "tcdrain", [&] { return kReal.tcdrain(fd); }); };
    calls.tcflush = [](int fd, int queue) {
        return Pass(fd, queue == TCOFLUSH ? "tcflush TCOFLUSH" : "tcflush",
                    [&] { return kReal.tcflush(fd, queue); });
    };
    calls.write = [](int fd, const void* bytes, std::size_t size) {
        return Pass(fd, "write " + std::to_string(size),
                    [&] { return kReal.write(fd, bytes, std::min<std::size_t>(size, 2)); });
    };
    calls.flock = [](int fd, int operation) {
        const std::string name = (operation & LOCK_EX) != 0 ? "flock EX" : "flock SH or UN";
        return Pass(fd, name + ((operation & LOCK_NB) != 0 ? "|NB" : ""),
                    [&] { return kReal.flock(fd, operation); });
    };
    return calls;
}();

// Opens the port, writes "Hello" and closes it, its calls in `calls`; the
// status of the first step that failed. What arrived is in `port.arrived`.
LineStatus SendHello(PtyPort& port, Recording& calls,
                     std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    recording = &calls;
    InstallLineCalls(&kRecordingCalls);
    SerialLine line;
    LineStatus status = OpenSerialLine(port.path(), 9600, line, LeaveLine::kAsFound);
    if (status.ok()) {
        status = WriteToLine(line, "Hello", timeout);
    }
    if (LineStatus closed = line.Close(); status.ok()) {
        status = closed;
    }
    InstallLineCalls(nullptr);
    port.Drain();
    return status;
}

// A call a signal interrupts is made again, once, and the send goes on: DTR
// and RTS lowered, and only then the port taken for sole use; short writes
// written on until all went; drained; sole use given up, then the settings
// found put back. Whatever step fails, the status says which, with the kind
// the errno means, and the port is left as it was found: out of sole use,
// with its own settings (hardware flow control among them), closed. A port
// whose queue does not empty in time has the rest discarded, and says so.
TEST(LineCalls, EachStepInterruptedOrFailing) {
    const std::string order =
        "open, tcgetattr, flock EX|NB, tcsetattr, tcgetattr, TIOCMBIC DTR RTS, TIOCEXCL, write 5, "
        "write 3, write 1, TIOCOUTQ, tcdrain, TIOCNXCL, tcsetattr, close";
    const std::string hung_up =
        ": the line was hung up: was the device unplugged? (Input/output error)";
    const std::string timed_out = "write timed out after 0.05 s: 2 of 5 bytes written, the rest ";
    // clang-format off
    struct Case {
        const char* call;
        std::vector<int> errors;
        std::string message;      // its end
        std::string_view arrived; // at most: a flush may discard what the pty had not passed on
        LineError error = LineError::kOther;
        int queued = -1;
    };
    std::vector<Case> cases = {
        {"open", {ENXIO}, ": no such port (No such device or address)", "", LineError::kNoSuchPort},
        {"open", {EBUSY}, ": port busy: another program holds it for its own use (Device or resource busy)", "", LineError::kBusy},
        {"write", {0, EIO}, "write failed after 2 of 5 bytes" + hung_up, "He"},
        {"write", {0, ENOSPC}, "write failed after 2 of 5 bytes (No space left on device)", "He"},
        {"TIOCOUTQ", {EIO}, "cannot tell how much the port has still to send" + hung_up, "Hello"},
        {"tcdrain", {EIO}, "cannot wait for the port to send" + hung_up, "Hello"},
        {"TIOCEXCL", {EPERM}, ": cannot take the port for sole use (Operation not permitted)", "", LineError::kPermissionDenied},
        {"tcsetattr", {EIO}, ": cannot set the line to 9600 baud (Input/output error)", ""},
        {"tcsetattr", {EINVAL}, ": cannot set the line to 9600 baud (Invalid argument)", "", LineError::kBadRate},
        {"flock", {EWOULDBLOCK}, ": port busy: another process has locked it; close the program that uses it and try again", "", LineError::kBusy},
        // Releasing goes on to put the settings back.
        {"TIOCNXCL", {EIO}, "cannot put the port back as found (Input/output error)", "Hello"},
        {"TIOCOUTQ", {}, timed_out + "discarded; is the device taking data (cable, power, its own flow control)?", "Hello", LineError::kTimedOut, 3},
        {"tcflush", {EIO}, timed_out + "still queued: it could not be discarded (Input/output error)", "Hello", LineError::kTimedOut, 3},
        // A device that cannot tell its queue: tcdrain waits alone.
        {"TIOCOUTQ", {ENOTTY}, "", "Hello", LineError::kNone},
        {"TIOCOUTQ", {EINVAL}, "", "Hello", LineError::kNone},
    };
    // clang-format on
    for (const char* step : {"open", "tcgetattr", "flock", "tcsetattr", "TIOCMBIC", "TIOCEXCL",
                             "write", "TIOCOUTQ", "tcdrain", "TIOCNXCL"}) {
        cases.push_back({step, {EINTR}, "", "Hello", LineError::kNone});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call + (" " + testing::PrintToString(c.errors)));
        PtyPort port;
        termios line{};
        ASSERT_EQ(tcgetattr(port.pty.slave.get(), &line), 0);
        line.c_cflag |= CRTSCTS;
        ASSERT_EQ(tcsetattr(port.pty.slave.get(), TCSANOW, &line), 0);
        const std::string found = port.Settings();
        Recording calls{c.call, c.errors, c.queued};
        const LineStatus status =
            SendHello(port, calls, std::chrono::milliseconds(c.queued < 0 ? 5000 : 50));
        EXPECT_EQ(status.error, c.error) << status.message;
        EXPECT_TRUE(status.message.ends_with(c.message)) << status.message;
        EXPECT_TRUE(c.arrived.starts_with(port.arrived)) << port.arrived;
        EXPECT_EQ(port.Settings(), found);
        EXPECT_TRUE(calls.log.ends_with(", close") || std::string_view(c.call) == "open")
            << calls.log;
        const bool exclusive = calls.log.find("TIOCEXCL") != std::string::npos;
        EXPECT_TRUE(!exclusive || calls.log.find("TIOCNXCL") != std::string::npos) << calls.log;
        EXPECT_EQ(calls.log.find("TIOCOUTQ, tcflush TCOFLUSH") != std::string::npos, c.queued >= 0)
            << calls.log;
        if (c.errors == std::vector<int>{EINTR}) { // the whole send, the interrupted call twice
            std::string expected = order;
            const std::size_t at = (", " + order).find(", " + std::string(c.call));
            expected.insert(at, order.substr(at, order.find(',', at) - at) + ", ");
            EXPECT_EQ(calls.log, expected);
            EXPECT_EQ(port.arrived, "Hello");
        }
    }
}

// A line as read back and told (pseudo-terminals clear PARENB, so mark and
// space are read from a termios value); a write's default time-out: twice
// the time on the wire, plus 2 s.
TEST(SerialLine, DescriptionAndDefaultTimeout) {
    const auto told = [](tcflag_t iflag, tcflag_t cflag, speed_t speed) {
        termios line{};
        line.c_iflag = iflag;
        line.c_cflag = cflag;
        cfsetospeed(&line, speed);
        return DescribeLineSettings(LineSettingsOf(line));
    };
    EXPECT_EQ(told(IXOFF, CS8, B9600), "9600 8N1, XON/XOFF, raw");
    EXPECT_EQ(told(0, CS8 | PARENB | CMSPAR | PARODD | CRTSCTS, B38400), "38400 8M1, RTS/CTS, raw");
    EXPECT_EQ(DefaultWriteTimeout(0, 9600).count(), 2000);
    EXPECT_EQ(DefaultWriteTimeout(1 << 20, 38400).count(), 548132);
}

// The shapes the kernel gives: a USB adapter (tty below the USB interface,
// details on the USB device), 8250 lines with and without a UART behind them
// (newer kernels put the serial core's port devices in between), and a
// virtual console with no device.
TEST(PortList, TheToolPrintsThem) {
    namespace fs = std::filesystem;
    const fs::path root = testing::TempDir() + "wendle_sys_" + std::to_string(getpid());
    const auto link = [&](const std::string& at, const std::string& to) {
        fs::create_directories(root / to);
        fs::create_directories((root / at).parent_path());
        fs::create_symlink(root / to, root / at);
    };
    const auto tty = [&](const std::string& name, const std::string& device, const std::string& bus,
                         const std::string& driver, const std::string& type) {
        link(device + "/subsystem", "sys/bus/" + bus);
        link(device + "/driver", "sys/bus/" + bus + "/drivers/" + driver);
        link("sys/class/tty/" + name + "/device", device);
        if (!type.empty()) {
            std::ofstream(root / "sys/class/tty" / name / "type") << type << "\n";
        }
    };
    const std::string usb = "sys/devices/pci0000:00/usb1/1-1";
    tty("ttyUSB0", usb + "/1-1:1.0/ttyUSB0", "usb-serial", "ftdi_sio", "");
    for (const auto& [file, value] : {std::pair{"idVendor", "0403"},
                                      {"manufacturer", "FTDI"},
                                      {"product", "FT232R USB UART"},
                                      {"serial", "A50285BI"}}) {
        std::ofstream(root / usb / file) << value << "\n";
    }
    link("sys/devices/pnp0/00:00/subsystem", "sys/bus/pnp");
    link("sys/devices/pnp0/00:00/driver", "sys/bus/pnp/drivers/serial");
    link("sys/devices/pnp0/00:00/00:00:0/subsystem", "sys/bus/serial-base");
    tty("ttyS0", "sys/devices/pnp0/00:00/00:00:0/00:00:0.0", "serial-base", "port", "4");
    for (const std::string name : {"ttyS2", "ttyS10", "ttyS1"}) {
        tty(name, "sys/devices/platform/serial8250/tty/" + name, "platform", "serial8250",
            name == "ttyS1" ? "0" : "4");
    }
    fs::create_directories(root / "sys/class/tty/tty1");
    fs::create_directories(root / "dev/serial/by-id");
    fs::create_symlink("../../ttyUSB0",
                       root / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");

    RunningTool list(WENDLE_SEND_TOOL, {"--list"}, "", {"WENDLE_SYSTEM_ROOT=" + root.string()});
    const ToolRun run = list.Finish();
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, "/dev/ttyS0  driver serial\n"
                       "/dev/ttyS2  driver serial8250\n"
                       "/dev/ttyS10  driver serial8250\n"
                       "/dev/ttyUSB0  FTDI FT232R USB UART (serial A50285BI), driver ftdi_sio\n"
                       "    /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\n");
    fs::remove_all(root);
}

} // namespace
