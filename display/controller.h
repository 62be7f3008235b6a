// The HD44780-type controller behind the module's serial interface: display
// memory, character-generator memory, the address counter and the modes the
// instructions set. Plain data and functions; no I/O.
#pragma once

#include <cstddef>

inline constexpr std::size_t kDdramSize = 80;
inline constexpr std::size_t kCgramSize = 64; // 8 characters of 8 rows

// How display memory is laid out: one line of 80 cells, or two of 40 with
// the second at address 0x40.
inline constexpr unsigned kLineTwo = 0x40;
inline constexpr unsigned kTwoLineLength = 40;
inline constexpr unsigned kOneLineLength = 80;

// Instruction kinds: the highest set bit of an instruction byte selects one.
inline constexpr unsigned char kClearDisplay = 0x01;
inline constexpr unsigned char kReturnHome = 0x02;
inline constexpr unsigned char kEntryModeSet = 0x04;   // | I/D 0x02 | S 0x01
inline constexpr unsigned char kDisplayControl = 0x08; // | the three bits below
inline constexpr unsigned char kCursorShift = 0x10;    // | S/C 0x08 | R/L 0x04
inline constexpr unsigned char kFunctionSet = 0x20;    // | DL 0x10 | N 0x08 | F 0x04
inline constexpr unsigned char kSetCgramAddress = 0x40;
inline constexpr unsigned char kSetDdramAddress = 0x80;
inline constexpr unsigned char kDisplayOnBit = 0x04;
inline constexpr unsigned char kCursorOnBit = 0x02;
inline constexpr unsigned char kBlinkOnBit = 0x01;

// The code a cleared cell holds.
inline constexpr unsigned char kBlankCode = 0x20;

struct Controller {
    // Display memory in the order of the two-line addresses 0x00-0x27 then
    // 0x40-0x67; in one-line mode address a is cell a.
    unsigned char ddram[kDdramSize];
    unsigned char cgram[kCgramSize];
    unsigned char address; // the address counter, into the memory selected
    bool cgram_selected;   // set CGRAM address came after the last set DDRAM address
    bool increment;        // I/D
    bool shift_on_write;   // S
    bool display_on;       // D
    bool cursor_on;        // C, the underline
    bool blink_on;         // B, the whole cell flashing
    bool two_line;         // N
    bool font_5x10;        // F, as last set (the screen still draws 5x8 cells)
    unsigned char shift;   // cells the display is shifted left, below LineLength

    bool operator==(const Controller&) const = default;
};

// What an instruction did beyond the datasheet's description, as flags, so
// that the module can tell the user.
enum InstructionNote : unsigned {
    kNoteNone = 0,
    kNoteAddressFolded = 1, // set DDRAM address named memory that is not there
    kNoteFourBitBus = 2,    // function set asked for a 4-bit bus: ignored
    kNoteFiveByTenFont = 4, // 5x10 font in one-line mode: drawn as 5x8
};

// The controller as a module's firmware leaves it after power-on: cleared,
// display on, cursor and blink off, incrementing without display shift, 5x8
// font, one or two lines; CGRAM all zero.
Controller PowerOnController(bool two_line) noexcept;

// Executes one instruction byte (what follows the module's prefix byte).
// Returns a combination of InstructionNote flags.
unsigned ControllerInstruction(Controller& controller, unsigned char instruction) noexcept;

// Writes one data byte to the memory selected and moves the counter.
void ControllerWrite(Controller& controller, unsigned char data) noexcept;

// Cells in one controller line: 40 in two-line mode, 80 in one-line mode.
unsigned LineLength(const Controller& controller) noexcept;

// `address` brought into display memory as the counter does when it runs off
// the end of a line: a gap address goes to the start of the next line.
unsigned char FoldDdramAddress(const Controller& controller, unsigned address) noexcept;

// The code stored at a display-memory address; the address is folded first.
unsigned char DdramAt(const Controller& controller, unsigned address) noexcept;

// Stores a code at a display-memory address without touching the counter or
// the display shift (the module's own editing commands use it).
void PutDdram(Controller& controller, unsigned address, unsigned char code) noexcept;

// The address shown at `column` of the row whose first cell, unshifted, is
// `row_start`, after the display shift; or -1 when that row is not driven
// (one-line mode drives only the rows of the first line).
int ShownAddress(const Controller& controller, unsigned row_start, unsigned column) noexcept;
