// The serial line library on pseudo-terminals: what wendle-send and a
// program showing a port's traffic build on.
#include "serial/serial_line_posix.h"
#include "tests/support/pty_port.h"

#include <gtest/gtest.h>

#include <termios.h>

namespace {

using std::chrono::milliseconds;

TEST(SerialLine, SettingsAsTheyAreDescribed) {
    const struct {
        tcflag_t control, input;
        std::string_view description;
    } cases[] = {
        {CS8, 0, "9600 8N1, no flow control, raw"},
        {CS7 | PARENB | PARODD | CSTOPB | CRTSCTS, 0, "9600 7O2, RTS/CTS, raw"},
        {CS5 | PARENB, IXOFF, "9600 5E1, XON/XOFF, raw"},
        {CS6 | PARENB | CMSPAR, IXON, "9600 6S1, XON/XOFF, raw"},
        {CS8 | PARENB | PARODD | CMSPAR, 0, "9600 8M1, no flow control, raw"},
    };
    for (const auto& c : cases) {
        termios line{};
        cfmakeraw(&line);
        cfsetspeed(&line, B9600);
        line.c_cflag = (line.c_cflag & ~tcflag_t{CSIZE | PARENB}) | c.control;
        line.c_iflag |= c.input;
        EXPECT_EQ(DescribeLineSettings(LineSettingsOf(line)), c.description);
    }
    // A new pseudo-terminal, read through its master: the system's defaults,
    // then what a writer changed on the slave.
    PtyPort port;
    LineSettings settings;
    ASSERT_TRUE(ReadLineSettings(port.pty.master, settings).ok());
    EXPECT_EQ(DescribeLineSettings(settings),
              "38400 8N1, XON/XOFF, output processed (a line feed may leave as CR LF), line input");
    termios line{};
    ASSERT_EQ(tcgetattr(port.pty.slave.get(), &line), 0);
    cfmakeraw(&line);
    cfsetspeed(&line, B1200);
    line.c_cflag |= CSTOPB | CRTSCTS;
    ASSERT_EQ(tcsetattr(port.pty.slave.get(), TCSANOW, &line), 0);
    ASSERT_TRUE(ReadLineSettings(port.pty.master, settings).ok());
    EXPECT_EQ(DescribeLineSettings(settings), "1200 8N2, RTS/CTS, raw");
}

TEST(SerialLine, DefaultWriteTimeout) {
    const struct {
        std::size_t size;
        int baud;
        long long milliseconds;
    } cases[] = {{0, 9600, 2000}, {960, 9600, 4000}, {100, 1200, 3666}, {1 << 20, 38400, 548132}};
    for (const auto& c : cases) {
        EXPECT_EQ(DefaultWriteTimeout(c.size, c.baud).count(), c.milliseconds) << c.size;
    }
}

} // namespace
