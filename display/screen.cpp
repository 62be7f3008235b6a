#include "display/screen.h"

namespace {

constexpr unsigned char kCgramCodes = 0x10;
constexpr unsigned kCgramCharacters = 8;

bool OnScreen(const Module& m, unsigned row, unsigned column) {
    return row < m.geometry->rows && column < m.geometry->columns;
}

int AddressAt(const Module& m, unsigned row, unsigned column) {
    return ShownAddress(m.controller, m.geometry->row_start[row], column);
}

} // namespace

std::optional<unsigned char> CellCode(const Module& m, unsigned row, unsigned column) noexcept {
    if (!m.controller.display_on || !OnScreen(m, row, column)) {
        return std::nullopt;
    }
    const int address = AddressAt(m, row, column);
    if (address < 0) {
        return std::nullopt;
    }
    return DdramAt(m.controller, static_cast<unsigned>(address));
}

Glyph CodeGlyph(const Module& m, unsigned char code) noexcept {
    if (code >= kCgramCodes) {
        return RomGlyph(code);
    }
    // Bit 3 of the code is not decoded: 8-15 are 0-7 again.
    const unsigned first = (code % kCgramCharacters) * kGlyphRows;
    Glyph glyph{};
    for (unsigned r = 0; r < kGlyphRows; ++r) {
        glyph[r] = m.controller.cgram[first + r] & 0x1F; // the upper three bits are not drawn
    }
    return glyph;
}

Glyph CellGlyph(const Module& m, unsigned row, unsigned column) noexcept {
    const std::optional<unsigned char> code = CellCode(m, row, column);
    return code ? CodeGlyph(m, *code) : Glyph{};
}

std::optional<CellPosition> CursorCell(const Module& m) noexcept {
    if (m.controller.cgram_selected) {
        return std::nullopt;
    }
    for (unsigned row = 0; row < m.geometry->rows; ++row) {
        for (unsigned column = 0; column < m.geometry->columns; ++column) {
            if (AddressAt(m, row, column) == m.controller.address) {
                return CellPosition{row, column};
            }
        }
    }
    return std::nullopt;
}

std::string RowText(const Module& m, unsigned row) {
    std::string text;
    for (unsigned column = 0; column < m.geometry->columns; ++column) {
        const std::optional<unsigned char> code = CellCode(m, row, column);
        text += code ? CharacterText(*code) : " ";
    }
    return text;
}

std::string DumpText(const Module& m) {
    std::string text;
    for (unsigned row = 0; row < m.geometry->rows; ++row) {
        text += RowText(m, row);
        text += '\n';
    }
    const std::optional<CellPosition> cursor = CursorCell(m);
    if (cursor) {
        text += "cursor " + std::to_string(cursor->row + 1) + ' ' +
                std::to_string(cursor->column + 1) + '\n';
    } else {
        text += "cursor -\n";
    }
    return text;
}
