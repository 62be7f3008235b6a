// Time in the module model: the serial line's frame, which says when each
// byte reaches the module, and the module's settings that say how it copes
// with a busy controller. Model time is whole nanoseconds from the first
// read.
#pragma once

#include "display/busy.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct LineFrame {
    std::uint32_t baud = 9600;
    unsigned char data_bits = 8; // 5 to 8
    char parity = 'N';           // 'N' none, 'E' even, 'O' odd, 'M' mark, 'S' space
    unsigned char stop_bits = 1; // 1 or 2

    bool operator==(const LineFrame&) const = default;
};

// The rates a line can have: from the slowest rate a system names to the
// fastest (B50 to B4000000).
inline constexpr std::uint32_t kMinBaud = 50;
inline constexpr std::uint32_t kMaxBaud = 4'000'000;

inline constexpr std::uint64_t kNanosecondsPerSecond = 1'000'000'000;

// Bits on the wire per byte: the start bit, the data bits, the parity bit
// if any, the stop bits.
unsigned FrameBits(const LineFrame& frame) noexcept;

// A byte's time on the wire in whole nanoseconds, rounded down.
std::uint64_t FrameNanoseconds(const LineFrame& frame) noexcept;

// What is wrong with a frame ("the rate 0 is not one a line can have: give
// 50 to 4000000"), or empty; the model takes only a sound frame.
std::string CheckLineFrame(const LineFrame& frame);
bool LineFrameIsSound(const LineFrame& frame) noexcept;

// "9600 8N1", and back from its two words; nothing when they are not of
// that form (the frame read is not checked).
std::string LineFrameText(const LineFrame& frame);
std::optional<LineFrame> ParseLineFrame(std::string_view rate, std::string_view bits);

// The common open firmware that waits for the controller holds 80 bytes.
inline constexpr unsigned kDefaultBuffer = 80;
inline constexpr unsigned kMaxBuffer = 65536;

struct ModuleTiming {
    unsigned oscillator_khz = kNominalOscillatorKhz; // busy times scale with 270 / it
    // Bytes the module holds while the controller is busy; 0: none, each
    // byte handed on as it arrives.
    unsigned buffer = kDefaultBuffer;

    bool operator==(const ModuleTiming&) const = default;
};

// What is wrong with the settings ("--osc 0: ..."), or empty.
std::string CheckModuleTiming(const ModuleTiming& timing);

// A time for people, to the microsecond: "0.037 ms", "1.52 ms", "2.562 ms"
// below a second, "12.5 s" from there.
std::string TimeText(std::uint64_t nanoseconds);
