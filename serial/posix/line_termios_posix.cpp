// Wendle's line in termios terms, and reading a line's settings back.
#include "serial/posix/line_termios.h"

#include "serial/posix/retry.h"
#include "serial/posix/serial_line.h"

#include <termios.h>

namespace {

struct SpeedCode {
    int baud;
    speed_t code;
};

constexpr SpeedCode kSpeedCodes[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

constexpr speed_t SpeedCodeOf(int baud) {
    for (const SpeedCode& speed : kSpeedCodes) {
        if (speed.baud == baud) {
            return speed.code;
        }
    }
    return B0;
}

constexpr bool EveryLineRateHasACode() {
    for (const int baud : kLineRates) {
        if (SpeedCodeOf(baud) == B0) {
            return false;
        }
    }
    return true;
}
static_assert(EveryLineRateHasACode());

int BaudOf(speed_t code) {
    for (const SpeedCode& speed : kSpeedCodes) {
        if (speed.code == code) {
            return speed.baud;
        }
    }
    return 0;
}

} // namespace

// CLOCAL: a port with nothing on DCD still writes.
void SetWendleLine(termios& settings, int baud) {
    cfmakeraw(&settings);
    settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, SpeedCodeOf(baud));
    cfsetospeed(&settings, SpeedCodeOf(baud));
}

bool HasRate(const termios& settings, int baud) {
    return cfgetospeed(&settings) == SpeedCodeOf(baud);
}

bool HasWendleFraming(const termios& settings) {
    return (settings.c_cflag & CSIZE) == CS8 &&
           (settings.c_cflag & (PARENB | CSTOPB | CRTSCTS)) == 0 &&
           (settings.c_iflag & (IXON | IXOFF)) == 0 && (settings.c_oflag & OPOST) == 0;
}

LineSettings LineSettingsOf(const termios& line) {
    LineSettings settings;
    settings.baud = BaudOf(cfgetospeed(&line));
    switch (line.c_cflag & CSIZE) {
    case CS5:
        settings.data_bits = 5;
        break;
    case CS6:
        settings.data_bits = 6;
        break;
    case CS7:
        settings.data_bits = 7;
        break;
    default:
        settings.data_bits = 8;
        break;
    }
    const bool odd = (line.c_cflag & PARODD) != 0;
    if ((line.c_cflag & PARENB) == 0) {
        settings.parity = 'N';
    } else if ((line.c_cflag & CMSPAR) != 0) {
        settings.parity = odd ? 'M' : 'S';
    } else {
        settings.parity = odd ? 'O' : 'E';
    }
    settings.stop_bits = (line.c_cflag & CSTOPB) != 0 ? 2 : 1;
    settings.rts_cts = (line.c_cflag & CRTSCTS) != 0;
    settings.xon_xoff_output = (line.c_iflag & IXON) != 0;
    settings.xon_xoff_input = (line.c_iflag & IXOFF) != 0;
    settings.output_processing = (line.c_oflag & OPOST) != 0;
    settings.canonical_input = (line.c_lflag & ICANON) != 0;
    return settings;
}

LineStatus ReadLineSettings(int fd, LineSettings& settings) {
    termios line{};
    if (const auto got = Retry([&] { return tcgetattr(fd, &line); }); got.failed()) {
        return SystemFailure(ErrorKindOf(got.error), "cannot read the line settings", got.error);
    }
    settings = LineSettingsOf(line);
    return {};
}
