// A serial character-LCD module: the command layer in front of the
// controller, fed with the bytes of the serial line in chunks of any size.
// No I/O, no exceptions, no allocation while bytes are fed.
#pragma once

#include "display/commands.h"
#include "display/controller.h"
#include "display/geometry.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Which layer wins for bytes below 32.
enum class Profile : unsigned char {
    kCommand,    // "command": bytes below 32 are the module's own commands
    kPrefixOnly, // "prefix-only": every byte but the prefix goes to the controller as data
};

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

// The last kUnmodelledKept reports and how many there were in all: a hostile
// stream cannot make the list grow.
inline constexpr std::size_t kUnmodelledKept = 16;

struct Module {
    const Geometry* geometry;
    Profile profile;
    Controller controller;
    bool backlight_on;
    std::uint64_t bells;
    std::uint64_t offset;         // bytes fed so far
    unsigned char pending;        // 0, or the command byte still waiting for its next byte
    std::uint64_t pending_offset; // where that byte was
    UnmodelledBytes
        unmodelled[kUnmodelledKept]; // a ring: the newest at (unmodelled_total - 1) % kept
    std::uint64_t unmodelled_total;

    bool operator==(const Module&) const = default;
};

// A module of that size and kind as it is after power-on: the controller
// initialised by its firmware, backlight on, nothing received yet.
Module MakeModule(const Geometry& geometry, Profile profile) noexcept;

// Feeds the next bytes of the line. A command that spans two bytes may be
// split between calls.
void FeedModule(Module& module, std::span<const unsigned char> bytes) noexcept;
void FeedModule(Module& module, std::string_view bytes) noexcept;

// The line has ended: a command still waiting for its next byte is reported
// as unfinished and dropped.
void FinishModule(Module& module) noexcept;

// The reports kept, oldest first.
std::vector<UnmodelledBytes> RecentUnmodelled(const Module& module);

// "offset 12: 1B: ESC sequence not modelled".
std::string DescribeUnmodelled(const UnmodelledBytes& entry);
