// A serial character-LCD module: the command layer in front of the
// controller, fed with the bytes of the serial line in chunks of any size.
// No I/O, no exceptions, no allocation while bytes are fed.
#pragma once

#include "display/commands.h"
#include "display/controller.h"
#include "display/geometry.h"
#include "display/timing.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// "command" or "prefix-only".
std::string_view ProfileName(Profile profile) noexcept;
std::optional<Profile> FindProfile(std::string_view name) noexcept;

// Bytes the model did not act on (or not as sent), with where they were.
struct UnmodelledBytes {
    std::uint64_t offset;   // of the first byte, counted over all FeedModule calls
    unsigned char bytes[2]; // the command byte, and its argument or instruction if any
    unsigned char size;
    Reason reason;

    bool operator==(const UnmodelledBytes&) const = default;
};

enum class LossCause : unsigned char {
    kBusy,       // handed on while the controller was busy, which ignored it
    kBufferFull, // arrived while the module held all it can
};

// A byte that never reached the screen.
struct LostByte {
    std::uint64_t offset;  // in the stream, as UnmodelledBytes
    std::uint64_t arrival; // when its stop bit ended
    // kBusy: when the controller is free of `busy_with`; kBufferFull: when
    // the oldest byte held is handed on, making room.
    std::uint64_t until;
    unsigned char value;
    LossCause cause;
    Work busy_with;

    bool operator==(const LostByte&) const = default;
};

// A run's reports: the first kReportsListed, which --dump and --plain list,
// and the last kReportsKept in a ring, with the count of all, so that a
// hostile or endless stream cannot make them grow.
inline constexpr std::size_t kReportsListed = 32;
inline constexpr std::size_t kReportsKept = 16;

template <typename Report> struct ReportLog {
    Report first[kReportsListed];
    Report last[kReportsKept]; // the newest at (total - 1) % kReportsKept
    std::uint64_t total;

    bool operator==(const ReportLog&) const = default;
};

template <typename Report> void AddReport(ReportLog<Report>& log, const Report& report) noexcept {
    if (log.total < kReportsListed) {
        log.first[log.total] = report;
    }
    log.last[log.total % kReportsKept] = report;
    ++log.total;
}

// The reports of the ring, oldest first.
template <typename Report> std::vector<Report> RecentReports(const ReportLog<Report>& log) {
    const std::uint64_t kept = std::min<std::uint64_t>(log.total, kReportsKept);
    std::vector<Report> reports;
    for (std::uint64_t i = log.total - kept; i < log.total; ++i) {
        reports.push_back(log.last[i % kReportsKept]);
    }
    return reports;
}

// What a module without a buffer would have lost of the same stream at the
// same times, whatever the module's own buffer.
struct NoBufferLosses {
    std::uint64_t total;
    LostByte first;
    std::uint64_t first_into; // how long the controller had been busy when it arrived
    // Per Work: the longest a byte came too early after it, so that a pause
    // that long after each avoids every loss it caused.
    std::uint64_t overrun[kWorkCount];

    bool operator==(const NoBufferLosses&) const = default;
};

// The controller's time as a module hands it bytes.
struct BusyClock {
    std::uint64_t free_at; // when it is free of what it was given last
    std::uint64_t since;   // when it was given that
    Work work;

    bool operator==(const BusyClock&) const = default;
};

// When the bytes of the line reach the module: byte `offset` of a burst
// that began at `start` arrives (offset - start_offset + 1) frames after it,
// in whole nanoseconds rounded down, with the burst's own fraction of a
// nanosecond (`start_rest` / baud) carried so that nothing accumulates.
struct WireClock {
    LineFrame frame;
    std::uint64_t frame_ns;   // a frame's whole nanoseconds
    std::uint32_t frame_rest; // and the rest, in 1/baud nanoseconds
    std::uint64_t start;
    std::uint32_t start_rest;
    std::uint64_t start_offset;
    bool timed; // a timed read has come

    bool operator==(const WireClock&) const = default;
};

struct ModuleTime {
    ModuleTiming timing;
    std::uint32_t busy_ns[kWorkCount]; // BusyNanoseconds at the module's oscillator
    // Bit w: Work w keeps the controller busy past the next byte's arrival.
    std::uint32_t slow_works;
    // Bit w: the next byte must be timed if its Work is w. While the clocks
    // are settled (nothing held, the controller free by the next byte's
    // arrival, the module without a buffer reading the stream as this one
    // does) only a slow byte changes any time: slow_works. Otherwise ~0.
    std::uint32_t timed_works;
    WireClock wire;
    BusyClock controller;
    BusyClock no_buffer;                  // the module without a buffer
    unsigned char no_buffer_pending;      // its command waiting, as Module::pending
    std::vector<std::uint64_t> handed_on; // a ring of `buffer` hand-on times (HandOn says how)

    bool operator==(const ModuleTime&) const = default;
};

struct Module {
    const Geometry* geometry;
    Profile profile;
    Controller controller;
    bool backlight_on;
    std::uint64_t bells;
    std::uint64_t offset;         // bytes fed so far
    unsigned char pending;        // 0, or the command byte still waiting for its next byte
    std::uint64_t pending_offset; // where that byte was
    ReportLog<UnmodelledBytes> unmodelled;
    ModuleTime time;
    ReportLog<LostByte> lost;
    NoBufferLosses no_buffer;

    bool operator==(const Module&) const = default;
};

// A module of that size and kind as it is after power-on: the controller
// initialised by its firmware, backlight on, nothing received yet.
// `timing` passes CheckModuleTiming; the line is 9600 8N1 until SetModuleLine.
Module MakeModule(const Geometry& geometry, Profile profile, const ModuleTiming& timing = {});

// Feeds the next bytes of the line. A command that spans two bytes may be
// split between calls.
void FeedModule(Module& module, std::span<const unsigned char> bytes) noexcept;
void FeedModule(Module& module, std::string_view bytes) noexcept;

// Timed feeding (a module is fed one way or the other). The bytes of a read
// at `read_ns` reach the module back to back, the first one frame after
// `read_ns` or after the previous byte, whichever is later. The controller
// is busy after each byte for its Work's time (BusyTable); the module holds
// up to `timing.buffer` bytes meanwhile and hands them on in order as the
// controller comes free, or with no buffer hands each on at once, and a byte
// that finds the buffer full, or the controller busy, is lost (module.lost).
// What is held is applied at once, in order: the screen shows what the
// module will have shown once its buffer has drained.
void FeedModuleAt(Module& module, std::uint64_t read_ns,
                  std::span<const unsigned char> bytes) noexcept;
void FeedModuleAt(Module& module, std::uint64_t read_ns, std::string_view bytes) noexcept;

// The line's frame from the next byte on; false, and the frame kept, when
// `frame` is not one a line can have (CheckLineFrame says why).
bool SetModuleLine(Module& module, const LineFrame& frame) noexcept;

// The line has ended: a command still waiting for its next byte is reported
// as unfinished and dropped.
void FinishModule(Module& module) noexcept;

// The reports of bytes not modelled in the ring, oldest first.
std::vector<UnmodelledBytes> RecentUnmodelled(const Module& module);

// "offset 12: 1B: ESC sequence not modelled".
std::string DescribeUnmodelled(const UnmodelledBytes& entry);

// "offset 1 'H' at 2.083 ms: controller busy with clear display until
// 2.562 ms", or "...: buffer full (80 bytes) until ...".
std::string DescribeLost(const Module& module, const LostByte& lost);

// What a module without a buffer loses of this stream at this rate, as a
// sentence: "at 9600 baud a module without a buffer loses 1 byte: offset 1
// 'H' arrives 1.042 ms into a 1.52 ms clear; pause 0.5 ms after each clear,
// or send with wendle-send --pace" (pauses rounded up to 0.1 ms), or "at
// 9600 baud a module without a buffer loses nothing".
std::string NoBufferSummary(const Module& module);

// Whether a position command's argument names a cell of the screen.
bool PositionOnScreen(const Geometry& geometry, unsigned char argument) noexcept;
