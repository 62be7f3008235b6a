#include "display/commands.h"

#include <cstddef>
#include <initializer_list>

namespace {

constexpr CommandRow Does(Action action, Work work, std::string_view what) {
    return {action, Reason::kNone, work, what};
}

// A reported byte gives the controller nothing.
constexpr CommandRow Reports(Action action, Reason reason, std::string_view what) {
    return {action, reason, Work::kNothing, what};
}

constexpr CommandRow kNoCommand =
    Reports(Action::kNotACommand, Reason::kNotACommand, "no command: reported and ignored");

} // namespace

constexpr CommandRow CommandTable[kFirstCharacter] = {
    kNoCommand, // 0
    Does(Action::kHome, Work::kReturnHome, "cursor home: address 0, display shift undone"),
    Reports(Action::kNotModelled, Reason::kBigCharacters, "begin big characters: not modelled"),
    Reports(Action::kNotModelled, Reason::kBigCharacters, "end big characters: not modelled"),
    Does(Action::kCursorOff, Work::kDisplayControl, "cursor off (no underline, no blink)"),
    Does(Action::kUnderlineCursor, Work::kDisplayControl, "underline cursor (no blink)"),
    Does(Action::kBlockCursor, Work::kDisplayControl, "blinking block cursor (no underline)"),
    Does(Action::kBell, Work::kNothing, "bell: counted"),
    Does(Action::kBackspace, Work::kBackspace,
         "backspace: one cell back, blanked; from column 1 to the end of the "
         "row above"),
    Does(Action::kTab, Work::kSetDdramAddress,
         "tab: to the next column that is a multiple of 4, or the start of the next "
         "row"),
    Does(Action::kLineFeed, Work::kSetDdramAddress,
         "line feed: same column, next row (the last row wraps to the first)"),
    Does(Action::kVerticalTab, Work::kSetDdramAddress,
         "vertical tab: same column, row above (the first wraps to the last)"),
    Does(Action::kClearScreen, Work::kClearDisplay, "clear screen: the controller's clear display"),
    Does(Action::kCarriageReturn, Work::kSetDdramAddress,
         "carriage return: column 1 of the current row"),
    Does(Action::kBacklightOn, Work::kNothing, "backlight on"),
    Does(Action::kBacklightOff, Work::kNothing, "backlight off"),
    Does(Action::kPosition, Work::kNothing,
         "position: the next byte is 64 + the cell, counted along the rows"),
    Reports(Action::kNotModelled, Reason::kClearColumn, "clear column: not modelled"),
    Reports(Action::kNotModelled, Reason::kRightAlign, "right align: not modelled"),
    kNoCommand, // 19
    kNoCommand,
    kNoCommand,
    kNoCommand,
    kNoCommand,
    kNoCommand,
    kNoCommand,
    kNoCommand, // 26
    Reports(Action::kNotModelled, Reason::kEscape,
            "ESC, graphic modules' sequences: not modelled; the bytes after it are read as usual"),
    kNoCommand, // 28
    kNoCommand,
    kNoCommand,
    kNoCommand,
};

namespace {

// A command is either carried out or reported with its reason, never both.
constexpr bool RowsAreSound() {
    for (const CommandRow& row : CommandTable) {
        const bool acts = row.action != Action::kNotACommand && row.action != Action::kNotModelled;
        if (acts != (row.reason == Reason::kNone) || row.what.empty()) {
            return false;
        }
    }
    return true;
}
static_assert(RowsAreSound());
static_assert(CommandTable[12].action == Action::kClearScreen &&
              CommandTable[27].reason == Reason::kEscape);

constexpr std::string_view kReasonTexts[] = {
    "",
    "not a command of this module",
    "big characters not modelled",
    "clear column not modelled",
    "right align not modelled",
    "ESC sequence not modelled",
    "position outside the display",
    "address outside display memory, taken as the next line's start",
    "4-bit interface not modelled, 8-bit bus kept",
    "5x10 font not modelled, drawn as 5x8",
    "stream ended inside a command",
};
static_assert(std::size(kReasonTexts) == static_cast<std::size_t>(Reason::kUnfinished) + 1);

} // namespace

constexpr ByteWorks ByteWorkTable = [] {
    ByteWorks table{};
    for (const Profile profile : {Profile::kCommand, Profile::kPrefixOnly}) {
        auto& rows = table.work[static_cast<std::size_t>(profile)];
        for (unsigned byte = 0; byte < 256; ++byte) {
            const bool command = profile == Profile::kCommand && byte < kFirstCharacter;
            rows[PendingRow(0)][byte] = command               ? CommandTable[byte].work
                                        : byte == kPrefixByte ? Work::kNothing
                                                              : Work::kDataWrite;
            rows[PendingRow(kPrefixByte)][byte] = InstructionWork(static_cast<unsigned char>(byte));
            rows[PendingRow(kPositionCommand)][byte] = Work::kSetDdramAddress;
        }
    }
    return table;
}();

namespace {

static_assert(PendingRow(0) != PendingRow(kPrefixByte) &&
              PendingRow(0) != PendingRow(kPositionCommand) &&
              PendingRow(kPrefixByte) != PendingRow(kPositionCommand));
constexpr const auto& kCommandWork = ByteWorkTable.work[0];
static_assert(kCommandWork[0][12] == Work::kClearDisplay &&
              kCommandWork[0][kPrefixByte] == Work::kNothing &&
              kCommandWork[PendingRow(kPrefixByte)][2] == Work::kReturnHome &&
              ByteWorkTable.work[1][0][12] == Work::kDataWrite);

} // namespace

std::string_view ReasonText(Reason reason) noexcept {
    return kReasonTexts[static_cast<std::size_t>(reason)];
}
