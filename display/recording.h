// Recordings: what arrived on a line and when, as text (docs/timing.md),
// to keep a session, compare it, attach it to a report and run it again.
//
//     wendle-recording 1
//     # comments and blank lines are allowed
//     0 line 9600 8N1
//     0 0C 48 65 6C 6C 6F
//     2500 line 19200 8E1
//     2600 41
//
// Each event: microseconds since the first arrival (never going backwards),
// then the line's settings after "line", or the bytes of one read in hex.
#pragma once

#include "display/module.h"
#include "display/timing.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kRecordingHeader = "wendle-recording 1";
// About 31 years: times in nanoseconds stay far inside 64 bits.
inline constexpr std::uint64_t kMaxRecordingMicroseconds = 1'000'000'000'000'000;

struct RecordingEvent {
    std::uint64_t microseconds;
    bool is_line;      // the line's settings, or bytes
    LineFrame line;    // when is_line
    std::string bytes; // otherwise

    bool operator==(const RecordingEvent&) const = default;
};

// The events of a recording, or what is wrong with its first bad line
// ("line 3: time goes backwards: 12 after 40"), in which case `events` is
// left as it was: the whole text is checked before anything is used. Byte
// lines with the same time one after another are one read.
std::string ParseRecording(std::string_view text, std::vector<RecordingEvent>& events);

// An event's lines, each ended by "\n"; bytes go 16 to a line.
std::string RecordingLines(const RecordingEvent& event);

// Writing a recording as the bytes arrive.
struct Recorder {
    bool started = false;
    std::uint64_t first_ns = 0; // the clock at the first arrival
    std::uint64_t last_us = 0;  // the time written last
    LineFrame line;             // the settings written last
};

// What to append for a read at `clock_ns` (any clock that does not go
// backwards) on a line with settings `line` (sound: CheckLineFrame, or the
// recording will be refused when read): the header and the settings before
// the first read, the settings again whenever they change, then the bytes.
std::string RecordArrival(Recorder& recorder, std::uint64_t clock_ns, const LineFrame& line,
                          std::string_view bytes);

// Runs a recording through the model with its own times.
void FeedRecording(Module& module, std::span<const RecordingEvent> events) noexcept;
