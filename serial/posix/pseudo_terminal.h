// Pseudo-terminals that stand in for a port and its display, and reading
// what arrives on a line.
#pragma once

#include "serial/line_status.h"
#include "serial/posix/unique_fd.h"

#include <chrono>
#include <cstddef>
#include <string>

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

// Makes every change of the slave's settings known on the master: packet
// mode there, and EXTPROC on the slave, so that each tcsetattr by a writer
// puts a status packet with TIOCPKT_IOCTL ahead of the bytes written after
// it. Every read of the master then begins with a packet byte
// (PacketBytes). The settings read then are those in force at that moment,
// not at the change: a writer that sets them back before the reader has
// looked is seen with the later ones.
LineStatus WatchLineSettings(const PseudoTerminal& pty);

// What one read of a master in packet mode gave: data after a 0 byte, or a
// status byte alone.
struct Packet {
    bool settings_changed = false; // TIOCPKT_IOCTL: a writer set the line
    std::size_t data_offset = 1;   // where the data begin in what was read
};
Packet PacketBytes(const char* read, std::size_t size) noexcept;

// Waits up to `wait` for bytes on `fd` and appends what one read gives then,
// up to `limit` and at most 64 KiB. Appends nothing when none came in time.
// Reading the master of a pseudo-terminal whose slave nobody holds is an
// error (kOther).
LineStatus ReadFromLine(int fd, std::string& out, std::chrono::milliseconds wait,
                        std::size_t limit = 65536);
