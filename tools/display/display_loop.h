// wendle-display's side of the system: opening what it reads, the link to a
// pseudo-terminal, and the loop that waits for bytes (never polling while
// nothing arrives), feeds them to the module and shows them. Every system
// call is made in display_loop_posix.cpp; ports and pseudo-terminals go
// through serial/serial_line.h.
#pragma once

#include "display/module.h"
#include "serial/serial_line.h"
#include "tools/display/display_frame.h"

#include <string>
#include <string_view>

// What the program reads.
struct DisplaySource {
    UniqueFd fd;
    std::string name; // for the title and for messages
    // A port or a pseudo-terminal's master: it has line settings, read at
    // each arrival (the master gives its slave's), and no end of input.
    bool is_line = false;
};

// "-" is standard input; a terminal device is opened as a serial port at
// `baud`, raw and locked (OpenSerialLine); anything else is read as a file.
LineStatus OpenSource(const std::string& path, int baud, DisplaySource& source);

// Reads the master of `pty`.
void UsePseudoTerminal(const PseudoTerminal& pty, DisplaySource& source);

// A reader of standard output that went away makes writing fail (and the
// program end with status 1, its link removed) instead of killing it.
void IgnoreBrokenPipe();

// Whether standard output is a terminal (live mode) or a pipe or a file.
bool StandardOutputIsTerminal();

// Writes all of `text` to standard output; false with errno set on failure.
bool WriteOut(std::string_view text);

// A symbolic link at `link` to `target`, made in one step so that a program
// that looks at `link` sees the old one or the new one. An existing symbolic
// link is replaced (a Wine prefix holds com1 -> /dev/ttyS0 to begin with);
// anything else at `link` is left alone and is an error.
LineStatus MakeLink(const std::string& link, const std::string& target);

// Removes `link` if it still leads to `target`: someone may have put a link
// of their own there meanwhile.
void RemoveLink(const std::string& link, const std::string& target);

struct LoopOptions {
    bool live = false;    // draw the frame on the terminal
    bool lines = false;   // one plain line per arrival, and what was not modelled
    bool dots = false;    // the frame shows dots
    bool colour = true;   // false: NO_COLOR
    bool keys = false;    // read keys from standard input (a terminal): q ends
    double idle_exit = 0; // end this many seconds after the last byte; 0: never
};

// Whether the environment asks for no colour (NO_COLOR set and not empty) or
// names a terminal that cannot draw a frame (TERM=dumb).
bool NoColourWanted();
bool DumbTerminal();

// Reads until the input ends, SIGINT, SIGTERM or SIGHUP arrives, q is typed,
// or the idle time runs out, feeding every byte to `module` (then
// FinishModule). In live mode keys do not echo, Ctrl+Z leaves the screen as
// it was until the program is continued, the terminal is restored on every
// end and the last frame is left on it. A failure to read or to write
// standard output ends the loop with kOther.
LineStatus RunDisplayLoop(DisplaySource& source, Module& module, const LoopOptions& options);
