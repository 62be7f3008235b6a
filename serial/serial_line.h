// Serial lines on Linux and other POSIX systems: opening a port with Wendle's
// line settings, writing a message to it in full, and the pseudo-terminals
// that stand in for a port and its display. Every system call behind these
// functions is made in serial_line_posix.cpp (ports, locks) and
// pseudo_terminal_posix.cpp (pseudo-terminals, reading a line).
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// What went wrong. Each kind's value is the exit status the tools give it.
enum class LineError {
    kNone = 0,
    kOther = 1,            // any other failure of the system
    kNoSuchPort = 3,       // no device at that path
    kPermissionDenied = 4, // the device exists, the user may not open it
    kBusy = 5,             // another process holds the port
    kNotASerialPort = 6,   // the path is no terminal device
    kBadRate = 7,          // not one of kLineRates
    kTimedOut = 8,         // the port took the bytes too slowly, or not at all
};

// The outcome of a step: kNone, or the kind of failure and one line for the
// user that says what failed (with the system's words) and what to do.
struct LineStatus {
    LineError error = LineError::kNone;
    std::string message;

    bool ok() const { return error == LineError::kNone; }
};

// Every failed system call is told the same way: what was being done, then
// the system's own words for `error` (errno, saved before anything else can
// change it).
LineStatus SystemFailure(LineError kind, const std::string& what, int error);

// The rates a port can be opened at.
inline constexpr int kLineRates[] = {1200, 2400, 4800, 9600, 19200, 38400};

bool IsLineRate(int baud);

// kNone for a rate of kLineRates, else kBadRate with a message that lists them.
LineStatus CheckLineRate(int baud);

// "1200, 2400, 4800, 9600, 19200 or 38400", for messages and help texts.
std::string LineRatesText();

// A file descriptor that is closed when its owner goes.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();

    int get() const { return fd_; }
    bool is_open() const { return fd_ >= 0; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_ = -1;
};

// How a port is left when Wendle closes it.
enum class LeaveLine {
    kAsFound, // the settings it had before, as serial tools leave a port
    kAsSet,   // Wendle's line (--keep-settings), for programs that do not set one
};

// Opens the port at `path` for Wendle's use and sets its line: `baud`, raw
// (no character processing either way), 8 data bits, no parity, one stop bit,
// no hardware or software flow control, the modem lines ignored, DTR and RTS
// off where the port has them. The port is held exclusively while `line` is
// open: an advisory lock other serial programs respect, and the terminal's
// exclusive mode. On failure `line` is left closed, and the port as found.
LineStatus OpenSerialLine(const std::string& path, int baud, UniqueFd& line,
                          LeaveLine leave = LeaveLine::kAsFound);

// Closes a port that OpenSerialLine opened (as `line` going out of scope
// does): takes it out of exclusive mode, which the device keeps for as long
// as anyone else has it open (a display program holding a pseudo-terminal, a
// monitor) so that every later open by a user other than root would fail as
// busy, and puts back the settings found unless asked to leave Wendle's.
void CloseSerialLine(UniqueFd& line);

// From now on SIGINT, SIGTERM and SIGHUP let go of the open ports as
// CloseSerialLine does, then end the program as the signal would have.
void LetGoOfLinesOnSignals();

// Called now and then while writing with the number of bytes written so far.
using WriteProgress = std::function<void(std::size_t written)>;

// Writes every byte of `bytes` and waits until the port has sent them, all
// within `timeout`. When time runs out the bytes not yet sent are discarded
// and the status says how many were written: kTimedOut, never success.
LineStatus WriteToLine(const UniqueFd& line, std::string_view bytes,
                       std::chrono::milliseconds timeout, const WriteProgress& progress = {});

// How long writing `size` bytes at `baud` may take before it counts as stuck:
// twice the time on the wire (ten bits a byte) and two seconds more.
std::chrono::milliseconds DefaultWriteTimeout(std::size_t size, int baud);

// A pseudo-terminal: the master end a program reads and writes, and the path
// of the slave end that a writer opens as its port. The slave stays open in
// `slave` as long as this lives, so that a writer that opens and closes the
// port for every message never leaves the master without a slave (where
// reading it would fail). The slave keeps the system's default settings
// until a writer changes them.
struct PseudoTerminal {
    UniqueFd master;
    UniqueFd slave;
    std::string slave_path;
};

LineStatus OpenPseudoTerminal(PseudoTerminal& pty);

// A line's settings as a writer left them.
struct LineSettings {
    int baud = 0;                   // 0: a rate the system has no number for
    int data_bits = 8;              // 5 to 8
    char parity = 'N';              // 'N' none, 'E' even, 'O' odd, 'M' mark, 'S' space
    int stop_bits = 1;              // 1 or 2
    bool rts_cts = false;           // hardware flow control
    bool xon_xoff_output = false;   // output stops at XOFF (IXON)
    bool xon_xoff_input = false;    // XOFF is sent when input fills (IXOFF)
    bool output_processing = false; // OPOST: the system changes bytes on the way out
    bool canonical_input = false;   // ICANON: input is read line by line
};

// Reads the settings of the line behind `fd`: a port, or either end of a
// pseudo-terminal (the master reads the slave's).
LineStatus ReadLineSettings(const UniqueFd& fd, LineSettings& settings);

// "9600 8N1, no flow control, raw" and the like, for a person to read.
std::string DescribeLineSettings(const LineSettings& settings);

// Waits up to `wait` for bytes on `fd` and appends what one read gives then,
// up to `limit` and at most 64 KiB. Appends nothing when none came in time. Reading the master
// of a pseudo-terminal whose slave nobody holds is an error (kOther).
LineStatus ReadFromLine(const UniqueFd& fd, std::string& out, std::chrono::milliseconds wait,
                        std::size_t limit = 65536);
