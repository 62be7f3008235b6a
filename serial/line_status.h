// How a failure on a line is told, on every platform: its kind, whose value
// is the exit status of every tool, and one line for the user.
#pragma once

#include <string>

// What went wrong. Each kind's value is the exit status the tools give it.
enum class LineError {
    kNone = 0,
    kOther = 1,            // any other failure of the system
    kNoSuchPort = 3,       // no device at that path
    kPermissionDenied = 4, // the device exists, the user may not open it
    kBusy = 5,             // another process holds the port
    kNotASerialPort = 6,   // the path is no terminal device
    kBadRate = 7,          // not one of kLineRates, or one the port refused
    kTimedOut = 8,         // the port took the bytes too slowly, or not at all
};

// The outcome of a step: kNone, or the kind of failure and one line for the
// user that says what failed (with the system's words) and what to do.
struct LineStatus {
    LineError error = LineError::kNone;
    std::string message;

    bool ok() const { return error == LineError::kNone; }
};

// What a line whose other end went away is told by: a USB adapter
// unplugged, a pseudo-terminal's master closed. Reading it gives nothing,
// writing it EIO.
inline constexpr char kHungUp[] = "the line was hung up: was the device unplugged?";

// The one reading of an errno value met while opening a path or using a
// line: what it means for the user, and so the exit status.
LineError ErrorKindOf(int error);

// Every failed system call is told the same way: what was being done, then
// the system's own words for `error` (errno, saved at the failing call
// before anything else could change it).
LineStatus SystemFailure(LineError kind, const std::string& what, int error);

// A path that could not be opened: the kind by ErrorKindOf, told in its
// words ("PATH: no such port (...)"), then `advice` (who may open it, say).
LineStatus PathFailure(const std::string& path, int error, const std::string& advice = {});
