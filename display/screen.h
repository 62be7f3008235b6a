// What the screen of a module shows: per cell the character code after the
// display shift and the line mode, its dots, the cursor's cell, the rows as
// text, and the dump that scripts compare.
#pragma once

#include "display/character_rom.h"
#include "display/module.h"

#include <optional>
#include <string>

struct CellPosition {
    unsigned row;    // from 0, top row first
    unsigned column; // from 0

    bool operator==(const CellPosition&) const = default;
};

// The code shown at a cell, or nothing when the cell is dark: the display is
// off, or the row is not driven (the second line's rows in one-line mode).
std::optional<unsigned char> CellCode(const Module& module, unsigned row, unsigned column) noexcept;

// The dots the module draws for a code: its CGRAM character for 0x00-0x0F
// (0x08-0x0F show 0x00-0x07 again, as the chip does), the ROM's otherwise.
Glyph CodeGlyph(const Module& module, unsigned char code) noexcept;

// The dots of a cell without the cursor; blank for a dark cell.
Glyph CellGlyph(const Module& module, unsigned row, unsigned column) noexcept;

// The cell the address counter points at, whether or not the cursor is
// shown (that is controller.cursor_on and blink_on); nothing when the counter
// is in CGRAM, on memory no cell shows, or on a row that is not driven.
std::optional<CellPosition> CursorCell(const Module& module) noexcept;

// A row's full width as UTF-8, each cell as CharacterText of its code; a dark
// cell is a space.
std::string RowText(const Module& module, unsigned row);

// The screen for scripts: each row's RowText on a line of its own, then the
// cursor's cell as "cursor ROW COLUMN" counted from 1 ("cursor 2 6"), or
// "cursor -" when CursorCell gives nothing. Every line ends with "\n".
std::string DumpText(const Module& module);
