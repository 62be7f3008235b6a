// How long the controller stays busy after what the module gives it, as one
// table that the model, its reports, the sender's pacing and docs/timing.md
// share.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

// What one byte gives the controller.
enum class Work : unsigned char {
    kNothing, // the module keeps the byte: the prefix, bell, backlight, a byte it reports
    kClearDisplay,
    kReturnHome,
    kEntryModeSet,
    kDisplayControl,
    kCursorShift,
    kFunctionSet,
    kSetCgramAddress,
    kSetDdramAddress,
    kDataWrite,
    kBackspace, // the module's own: set DDRAM address, data write, set DDRAM address
};
inline constexpr std::size_t kWorkCount = static_cast<std::size_t>(Work::kBackspace) + 1;

struct BusyRow {
    Work work;
    std::string_view name;       // "clear display"
    std::string_view short_name; // "clear", as in "pause 0.5 ms after each clear"
    std::uint32_t nanoseconds;   // busy at the nominal oscillator
};

// Row i is Work i.
extern const BusyRow BusyTable[kWorkCount];

// The oscillator the datasheet's times are given for.
inline constexpr unsigned kNominalOscillatorKhz = 270;
// The oscillators a module may be given: any positive frequency is sound
// arithmetic; past 10 MHz the times would round to nothing.
inline constexpr unsigned kMinOscillatorKhz = 1;
inline constexpr unsigned kMaxOscillatorKhz = 10000;

// The busy time of `work` with an oscillator of `khz`: the nominal time
// times 270 / khz, rounded up to the nanosecond (the datasheet's times are
// maxima, so the model never frees the controller early).
std::uint32_t BusyNanoseconds(Work work, unsigned khz) noexcept;

// The instruction an instruction byte (what follows the prefix) gives: its
// highest set bit names it; 0 names none and does nothing.
constexpr Work InstructionWork(unsigned char instruction) noexcept {
    constexpr Work kByHighestBit[] = {
        Work::kClearDisplay, Work::kReturnHome,  Work::kEntryModeSet,    Work::kDisplayControl,
        Work::kCursorShift,  Work::kFunctionSet, Work::kSetCgramAddress, Work::kSetDdramAddress};
    return instruction == 0 ? Work::kNothing : kByHighestBit[std::bit_width(instruction) - 1];
}
