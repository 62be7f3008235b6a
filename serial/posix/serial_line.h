// Serial lines on Linux and other POSIX systems: opening a port with Wendle's
// line settings, writing a message to it in full, reading what a line's
// writer set. Every system call behind these functions is made in the
// *_posix.cpp files of this folder, those on a port through line_calls.h.
#pragma once

#include "serial/line_description.h"
#include "serial/line_rates.h"
#include "serial/line_status.h"
#include "serial/posix/unique_fd.h"

#include <chrono>
#include <csignal>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// How a port is left when Wendle closes it.
enum class LeaveLine {
    kAsFound, // the settings it had before, as serial tools leave a port
    kAsSet,   // Wendle's line (--keep-settings), for programs that do not set one
};

// A port that OpenSerialLine opened and holds. Closing it (Close, or the
// owner going) takes it out of exclusive mode, which the device keeps for
// as long as anyone else has it open (a display program holding a
// pseudo-terminal, a monitor) so that every later open by a user other than
// root would fail as busy, and puts back the settings found unless asked to
// leave Wendle's; then closes it. Close says what failed; the owner going
// cannot, and is for the ways out where a failure is told already.
class SerialLine {
  public:
    SerialLine() = default;
    SerialLine(SerialLine&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    SerialLine& operator=(SerialLine&& other) noexcept;
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;
    ~SerialLine() { Close(); }

    int get() const { return fd_; }
    bool is_open() const { return fd_ >= 0; }
    LineStatus Close();

  private:
    friend LineStatus OpenSerialLine(const std::string&, int, SerialLine&, LeaveLine);
    int fd_ = -1;
};

// Opens the port at `path` for Wendle's use and sets its line: `baud`, raw
// (no character processing either way), 8 data bits, no parity, one stop bit,
// no hardware or software flow control, the modem lines ignored, DTR and RTS
// off where the port has them. The port is held exclusively while `line` is
// open: an advisory lock other serial programs respect, and the terminal's
// exclusive mode. On failure `line` is left closed, and the port as found.
LineStatus OpenSerialLine(const std::string& path, int baud, SerialLine& line,
                          LeaveLine leave = LeaveLine::kAsFound);

// Sets an open line's rate to `baud` (one of kLineRates), the rest of
// Wendle's line kept; the status names `path` as OpenSerialLine's do.
LineStatus SetLineRate(const SerialLine& line, const std::string& path, int baud);

// PathFailure with, for a permission denied, who may open `path` as the
// system records it: how every tool tells a path it could not open.
LineStatus OpenFailure(const std::string& path, int error);

// The signals that end a program: Ctrl+C, a service manager's stop, the
// terminal closed.
inline constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// From now on the ending signals release the open ports as
// SerialLine::Close does, then end the program as the signal would have.
LineStatus ReleasePortsOnSignals();

// Called now and then while writing with the number of bytes written so far.
using WriteProgress = std::function<void(std::size_t written)>;

// Writes every byte of `bytes` and waits until the port has sent them, all
// within `timeout`. When time runs out the bytes not yet sent are discarded
// and the status says how many were written: kTimedOut, never success.
LineStatus WriteToLine(const SerialLine& line, std::string_view bytes,
                       std::chrono::milliseconds timeout, const WriteProgress& progress = {});

// Reads the settings of the line behind `fd`: a port, or either end of a
// pseudo-terminal (the master reads the slave's).
LineStatus ReadLineSettings(int fd, LineSettings& settings);
