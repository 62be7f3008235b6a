// The serial line library on pseudo-terminals: what wendle-send and a
// program showing a port's traffic build on.
#include "serial/serial_line_posix.h"
#include "tests/send/pty_port.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using std::chrono::milliseconds;

// A writer that opens the port for every message and closes it again, as
// Wendle does for every Send: the master goes on reading.
TEST(SerialLine, PseudoTerminalOutlivesWritersThatComeAndGo) {
    PtyPort port;
    for (const std::string message : {"first", "second", "third"}) {
        {
            UniqueFd writer(open(port.path().c_str(), O_WRONLY | O_NOCTTY));
            ASSERT_TRUE(writer.is_open());
            ASSERT_EQ(write(writer.get(), message.data(), message.size()),
                      static_cast<ssize_t>(message.size()));
        }
        std::string arrived;
        const LineStatus status = ReadFromLine(port.pty.master, arrived, milliseconds(1000));
        EXPECT_TRUE(status.ok()) << status.message;
        EXPECT_EQ(arrived, message);
    }
    std::string nothing;
    EXPECT_TRUE(ReadFromLine(port.pty.master, nothing, milliseconds(20)).ok());
    EXPECT_EQ(nothing, "");
}

// What a pseudo-terminal keeps of a writer's settings: this kernel keeps it
// at 8 data bits and no parity whatever a writer asks for.
TEST(SerialLine, SettingsAsAWriterLeftThem) {
    const struct {
        bool raw;
        speed_t speed;
        tcflag_t control;
        tcflag_t input;
        std::string_view description;
    } cases[] = {
        // The system's defaults for a new pseudo-terminal.
        {false, B38400, 0, 0,
         "38400 8N1, XON/XOFF, output processed (a line feed may leave as CR LF), line input"},
        {true, B9600, 0, 0, "9600 8N1, no flow control, raw"},
        {true, B1200, CSTOPB | CRTSCTS, 0, "1200 8N2, RTS/CTS, raw"},
        {true, B19200, 0, IXOFF, "19200 8N1, XON/XOFF, raw"},
        {true, B115200, 0, 0, "115200 8N1, no flow control, raw"},
    };
    for (const auto& c : cases) {
        PtyPort port;
        termios line{};
        ASSERT_EQ(tcgetattr(port.pty.slave.get(), &line), 0);
        if (c.raw) {
            cfmakeraw(&line);
        }
        line.c_cflag |= c.control;
        line.c_iflag |= c.input;
        cfsetspeed(&line, c.speed);
        ASSERT_EQ(tcsetattr(port.pty.slave.get(), TCSANOW, &line), 0);
        LineSettings settings;
        const LineStatus status = ReadLineSettings(port.pty.master, settings);
        EXPECT_TRUE(status.ok()) << status.message;
        EXPECT_EQ(DescribeLineSettings(settings), c.description);
    }
}

// Data bits and parity, which a real port keeps, from the record itself.
TEST(SerialLine, DataBitsAndParity) {
    const struct {
        tcflag_t control;
        std::string_view description;
    } cases[] = {
        {CS7 | PARENB | PARODD | CSTOPB, "9600 7O2, no flow control, raw"},
        {CS5 | PARENB, "9600 5E1, no flow control, raw"},
        {CS6 | PARENB | CMSPAR, "9600 6S1, no flow control, raw"},
        {CS8 | PARENB | PARODD | CMSPAR, "9600 8M1, no flow control, raw"},
        {CS8 | PARODD, "9600 8N1, no flow control, raw"},
    };
    for (const auto& c : cases) {
        termios line{};
        cfmakeraw(&line);
        cfsetspeed(&line, B9600);
        line.c_cflag = (line.c_cflag & ~tcflag_t{CSIZE | PARENB | PARODD}) | c.control;
        EXPECT_EQ(DescribeLineSettings(LineSettingsOf(line)), c.description);
    }
}

TEST(SerialLine, OpenAndWriteOnAPseudoTerminal) {
    PtyPort port;
    UniqueFd line;
    // No modem lines here: dropping DTR and RTS is no failure.
    LineStatus status = OpenSerialLine(port.path(), 4800, line);
    ASSERT_TRUE(status.ok()) << status.message;
    EXPECT_TRUE(WriteToLine(line, "a\nb", milliseconds(1000)).ok());
    EXPECT_TRUE(WriteToLine(line, "", milliseconds(1000)).ok());
    EXPECT_EQ(port.Drain(), "a\nb");
    LineSettings settings;
    ASSERT_TRUE(ReadLineSettings(line, settings).ok());
    EXPECT_EQ(DescribeLineSettings(settings), "4800 8N1, no flow control, raw");

    // The lock holds against a second open, of this process too.
    UniqueFd second;
    status = OpenSerialLine(port.path(), 4800, second);
    EXPECT_EQ(status.error, LineError::kBusy);
    EXPECT_FALSE(second.is_open());
    status = OpenSerialLine(port.path(), 9601, second);
    EXPECT_EQ(status.error, LineError::kBadRate);
    EXPECT_FALSE(second.is_open());
}

TEST(SerialLine, DefaultWriteTimeout) {
    const struct {
        std::size_t size;
        int baud;
        long long milliseconds;
    } cases[] = {
        {0, 9600, 2000},          {960, 9600, 4000},        {100, 1200, 3666},
        {1 << 20, 9600, 2186532}, {1 << 20, 38400, 548132},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DefaultWriteTimeout(c.size, c.baud).count(), c.milliseconds)
            << c.size << " bytes at " << c.baud;
    }
}

} // namespace
