// wendle-display's side of the system: opening what it reads, the link to a
// pseudo-terminal, and the loop that waits for bytes (never polling while
// nothing arrives), feeds them to the module and shows them. Every system
// call is made in the *_posix.cpp files of this folder: opening, the link
// and standard output in display_source_posix.cpp; the signals in
// display_signals_posix.cpp, the terminal and keyboard in
// live_terminal_posix.cpp, the loop in display_loop_posix.cpp. Ports and
// pseudo-terminals go through serial/posix/.
#pragma once

#include "display/module.h"
#include "display/recording.h"
#include "serial/posix/pseudo_terminal.h"
#include "serial/posix/serial_line.h"
#include "tools/display/display_frame.h"

#include <span>
#include <string>
#include <string_view>

// What the program reads.
struct DisplaySource {
    SerialLine line;  // a port, opened as wendle-send opens one
    UniqueFd file;    // anything else: a file, standard input, a pseudo-terminal's master
    std::string name; // for the title and for messages
    // A port or a pseudo-terminal's master: it has line settings, read at
    // each arrival (the master gives its slave's), and no end of input.
    bool is_line = false;
    // A pseudo-terminal's master in packet mode (WatchLineSettings): the
    // settings are read when a writer changes them.
    bool packets = false;

    int fd() const { return line.is_open() ? line.get() : file.get(); }
};

// "-" is standard input; a terminal device is opened as a serial port at
// `baud`, raw and locked (OpenSerialLine); anything else is read as a file.
LineStatus OpenSource(const std::string& path, int baud, DisplaySource& source);

// Reads the master of `pty`, told of every change of its settings.
LineStatus UsePseudoTerminal(const PseudoTerminal& pty, DisplaySource& source);

// Holds back the ending signals (kEndingSignals) until RunDisplayLoop is
// ready for them, and again once it is done, to the end of the program:
// called first thing, so that a Ctrl+C at start-up, or while the program
// finishes, still ends it the orderly way (the terminal restored, the link
// removed, the port put back).
LineStatus HoldEndingSignals();

// A reader of standard output that went away makes writing fail (and the
// program end with status 1, its link removed) instead of killing it.
LineStatus IgnoreBrokenPipe();

// Writes all of `text` to standard output.
LineStatus WriteOut(std::string_view text);

// Makes (or empties) the file a recording is written to as bytes arrive.
LineStatus MakeRecordFile(const std::string& path, UniqueFd& file);

// Appends `text` to the recording.
LineStatus WriteRecord(const UniqueFd& file, const std::string& path, std::string_view text);

// A symbolic link at `link` to `target`, made in one step so that a program
// that looks at `link` sees the old one or the new one. An existing symbolic
// link is replaced (a Wine prefix holds com1 -> /dev/ttyS0 to begin with);
// anything else at `link` is left alone and is an error.
LineStatus MakeLink(const std::string& link, const std::string& target);

// Removes `link` if it still leads to `target`: someone may have put a link
// of their own there meanwhile (a second display given the same --link).
LineStatus RemoveLink(const std::string& link, const std::string& target);

struct LoopOptions {
    bool live = false;    // draw the frame on the terminal
    bool lines = false;   // one plain line per arrival, and what was not modelled
    bool dots = false;    // the frame shows dots
    bool colour = true;   // false: NO_COLOR
    bool keys = false;    // read keys from standard input (a terminal): q ends
    double idle_exit = 0; // end this many seconds after the last byte; 0: never
    // A recording to replay instead of reading the source, as fast as it
    // is computed or, with real_time, at its own pace.
    std::span<const RecordingEvent> replay;
    bool replaying = false;
    bool real_time = false;
    const UniqueFd* record = nullptr; // every arrival written there, with its time
    std::string record_path;
};

// Whether the environment asks for no colour (NO_COLOR set and not empty) or
// names a terminal that cannot draw a frame (TERM=dumb).
bool NoColourWanted();
bool DumbTerminal();

// Reads until the input ends, an ending signal arrives, q is typed, or the
// idle time runs out, feeding every byte to `module` (then FinishModule)
// with its time: a port's or a pseudo-terminal's reads at their times since
// the first, from a steady clock, with the line's settings then; a file or
// standard input as one burst at time 0, at the module's line. In
// live mode keys do not echo, Ctrl+Z leaves the screen as it was until the
// program is continued, the terminal is restored on every end and the last
// frame is left on it. A failure to read, to set the terminal or to write
// standard output ends the loop and is its status.
LineStatus RunDisplayLoop(DisplaySource& source, Module& module, const LoopOptions& options);
