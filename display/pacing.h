// The pauses a sender keeps so that a module without a buffer loses nothing:
// from the busy table, after each byte that keeps the controller busy for
// longer than the next byte takes on the wire.
#pragma once

#include "display/commands.h"
#include "display/timing.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

// The pauses are this much longer than the busy table asks, rounded up. With
// none, the next byte's stop bit would end exactly as the controller does:
// a part a little slower than the table, a module that takes a moment to
// hand a byte on, or a port that starts the next write a little early, and
// it is lost. A tenth costs a clear at 9600 baud 0.152 ms, and makes a
// character's 37 us a 41 us that still fits inside any frame up to 230400.
inline constexpr unsigned kPaceMarginPercent = 10;

struct Pause {
    std::size_t after; // the byte it follows, counted from 0
    // From the moment that byte has left the port: its busy time and the
    // margin, less one frame, the least time the next byte takes to arrive.
    std::uint64_t nanoseconds;

    bool operator==(const Pause&) const = default;
};

// The pauses for `message`, in order; none for bytes whose work and margin
// end within a frame, so that a message without slow instructions goes at
// the line's full rate. The last byte gets its pause too (for what is sent
// next). The sender does not know the screen: every position counts as a
// set address.
std::vector<Pause> PacingPauses(std::span<const unsigned char> message, const LineFrame& frame,
                                unsigned oscillator_khz = kNominalOscillatorKhz,
                                Profile profile = Profile::kCommand);
std::vector<Pause> PacingPauses(std::string_view message, const LineFrame& frame,
                                unsigned oscillator_khz = kNominalOscillatorKhz,
                                Profile profile = Profile::kCommand);
