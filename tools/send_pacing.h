// How wendle-send spaces what it writes: paced for a module without a
// buffer (--pace), a byte at a time (--char-delay), a pause after each line
// (--line-delay), or a recording at its recorded times (--replay).
#pragma once

#include "display/recording.h"
#include "display/timing.h"
#include "serial/posix/serial_line.h"

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The clock the waits keep: a steady time in nanoseconds and a sleep until a
// time of it. Tests give one of their own, whose time is arithmetic.
struct PaceClock {
    std::uint64_t (*now)();
    void (*sleep_until)(std::uint64_t nanoseconds);
};
extern constinit const PaceClock kSteadyClock;

struct Pacing {
    LineFrame frame;   // the line the bytes go on: the wire time of each
    bool pace = false; // the busy table's pauses
    unsigned oscillator_khz = kNominalOscillatorKhz;
    std::chrono::milliseconds char_delay{0}; // each byte alone, then this
    std::chrono::milliseconds line_delay{0}; // after the whole message
    std::chrono::milliseconds timeout{0};    // for each write; 0: by its size
};

// Writes `bytes` in pieces, each drained, split where a wait follows: a
// byte's pause (--pace) or its --char-delay, whichever is longer, counted
// from when the byte has left the port, which is never before its wire time
// from the write's start (a pseudo-terminal drains at once). Then the line
// delay. `progress` sees the bytes written of the whole message.
LineStatus WritePaced(const SerialLine& line, std::string_view bytes, const Pacing& pacing,
                      const WriteProgress& progress = {}, const PaceClock& clock = kSteadyClock);

// Why wendle-send cannot replay `events` (a line that is not 8N1 at one of
// kLineRates), or success; checked before the port is opened.
LineStatus CheckReplay(std::span<const RecordingEvent> events);

// The rate to open the port at: the recording's first line, or `baud` when
// bytes come before any.
int ReplayOpenRate(std::span<const RecordingEvent> events, int baud);

// Writes each read's bytes in one write at its time from the start, drained,
// and sets the line's rate at each change of the recording's line. `path`
// names the port in what fails; `progress` sees the reads sent.
LineStatus Replay(const SerialLine& line, const std::string& path, int baud,
                  std::span<const RecordingEvent> events, std::chrono::milliseconds timeout,
                  const WriteProgress& progress = {}, const PaceClock& clock = kSteadyClock);
