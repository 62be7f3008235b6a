// The module's serial command layer as data: what each byte below 32 does on
// a module that reads them as commands, and why a byte can go unmodelled.
#pragma once

#include <string_view>

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
    std::string_view what;
};

// Row b says what byte b does on a command module (b below 32).
extern const CommandRow CommandTable[kFirstCharacter];

// A short sentence for a reason ("ESC sequence not modelled").
std::string_view ReasonText(Reason reason) noexcept;
