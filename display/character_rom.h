// The controller's character ROM (the common A00 table) as 5x8 dot patterns,
// and the Unicode text each character code is shown as in text mode.
#pragma once

#include <array>
#include <string_view>

inline constexpr unsigned kGlyphRows = 8;    // row 8 is the cursor row
inline constexpr unsigned kGlyphColumns = 5; // bit 4 is the leftmost dot

// A character's dots, top row first, the low 5 bits of each row.
using Glyph = std::array<unsigned char, kGlyphRows>;

// The ROM's pattern for `code`. Codes 0x00-0x0F are the CGRAM characters,
// which are not in the ROM: their pattern here is blank (see CellGlyph in
// display/screen.h for what the screen shows).
const Glyph& RomGlyph(unsigned char code) noexcept;

// How a character code is written in text mode, as UTF-8: the ROM's
// characters as the Unicode characters they are (0x5C is the yen sign,
// 0xA1-0xDF half-width katakana, ...), codes with blank patterns as a space,
// and the eight CGRAM characters (0-7, and 8-15, which show the same) as the
// circled digits 1 to 8.
std::string_view CharacterText(unsigned char code) noexcept;

// The terminal columns CharacterText(code) takes: 2 for the kanji and for the
// superscript minus one, which has no single-character form; 1 otherwise.
unsigned CharacterColumns(unsigned char code) noexcept;
