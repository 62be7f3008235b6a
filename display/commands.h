// The module's serial command layer as data: what each byte below 32 does on
// a module that reads them as commands, and why a byte can go unmodelled.
#pragma once

#include "display/busy.h"

#include <cstddef>
#include <string_view>

// Which layer wins for bytes below 32.
enum class Profile : unsigned char {
    kCommand,    // "command": bytes below 32 are the module's own commands
    kPrefixOnly, // "prefix-only": every byte but the prefix goes to the controller as data
};

// The byte that makes the next byte an instruction for the controller.
inline constexpr unsigned char kPrefixByte = 254;
// The command whose next byte is a position (64 + the cell).
inline constexpr unsigned char kPositionCommand = 16;
// On a command module, bytes below this are commands, never characters.
inline constexpr unsigned char kFirstCharacter = 32;

enum class Action : unsigned char {
    kNotACommand, // reported, then ignored
    kNotModelled, // a command the model does not carry out: reported, then ignored
    kHome,
    kCursorOff,
    kUnderlineCursor,
    kBlockCursor,
    kBell,
    kBackspace,
    kTab,
    kLineFeed,
    kVerticalTab,
    kClearScreen,
    kCarriageReturn,
    kBacklightOn,
    kBacklightOff,
    kPosition, // takes the next byte
};

// Why bytes were reported rather than (fully) acted on.
enum class Reason : unsigned char {
    kNone,
    kNotACommand,
    kBigCharacters,
    kClearColumn,
    kRightAlign,
    kEscape,
    kPositionOutside,
    kAddressFolded,
    kFourBitBus,
    kFiveByTenFont,
    kUnfinished,
};

struct CommandRow {
    Action action;
    Reason reason; // kNone for the commands that are carried out
    Work work;     // what the module gives the controller for it
    std::string_view what;
};

// Row b says what byte b does on a command module (b below 32).
extern const CommandRow CommandTable[kFirstCharacter];

// A short sentence for a reason ("ESC sequence not modelled").
std::string_view ReasonText(Reason reason) noexcept;

// What a byte gives the controller, by the command it completes: row
// PendingRow(pending) of a profile's table is for a byte that follows
// `pending` (0, kPrefixByte or kPositionCommand). A position's argument is a
// set DDRAM address here; one off the screen gives nothing, which only the
// module, knowing its screen, can tell.
inline constexpr std::size_t kPendingRows = 4;
constexpr std::size_t PendingRow(unsigned char pending) noexcept {
    return (pending >> 4) & 3u;
}
struct ByteWorks {
    Work work[2][kPendingRows][256]; // by profile, PendingRow and byte
};
extern const ByteWorks ByteWorkTable;

inline Work ByteWork(Profile profile, unsigned char pending, unsigned char byte) noexcept {
    return ByteWorkTable.work[static_cast<std::size_t>(profile)][PendingRow(pending)][byte];
}

// The command a byte leaves waiting for the next byte: the prefix and the
// position command wait; their next byte completes them.
constexpr unsigned char PendingAfter(Profile profile, unsigned char pending,
                                     unsigned char byte) noexcept {
    if (pending != 0) {
        return 0;
    }
    if (byte == kPrefixByte || (profile == Profile::kCommand && byte == kPositionCommand)) {
        return byte;
    }
    return 0;
}
