// The text-mode half of the character ROM: the Unicode each code is shown as.
#include "display/character_rom.h"

#include <array>

namespace {

struct TextCell {
    char utf8[7];
    unsigned char size;
    unsigned char columns;
};

constexpr TextCell Literal(std::string_view text, unsigned columns = 1) {
    TextCell cell{};
    for (std::size_t i = 0; i < text.size(); ++i) {
        cell.utf8[i] = text[i];
    }
    cell.size = static_cast<unsigned char>(text.size());
    cell.columns = static_cast<unsigned char>(columns);
    return cell;
}

// Code points below 0x10000, which is all the table needs.
constexpr TextCell Encode(char32_t code_point) {
    TextCell cell{};
    cell.columns = 1;
    if (code_point < 0x80) {
        cell.utf8[0] = static_cast<char>(code_point);
        cell.size = 1;
    } else if (code_point < 0x800) {
        cell.utf8[0] = static_cast<char>(0xC0 | (code_point >> 6));
        cell.utf8[1] = static_cast<char>(0x80 | (code_point & 0x3F));
        cell.size = 2;
    } else {
        cell.utf8[0] = static_cast<char>(0xE0 | (code_point >> 12));
        cell.utf8[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        cell.utf8[2] = static_cast<char>(0x80 | (code_point & 0x3F));
        cell.size = 3;
    }
    return cell;
}

// 0xE0-0xFF: Greek and Latin letters, the 5x10 forms of g j p q y (shown as
// the plain letters), mathematical signs, three kanji (thousand, ten
// thousand, yen) and the full block; 0xFE is blank.
constexpr TextCell kSymbolBlock[32] = {
    Literal("α"), Literal("ä"), Literal("β"),     Literal("ε"),     Literal("μ"),     Literal("σ"),
    Literal("ρ"), Literal("g"), Literal("√"),     Literal("⁻¹", 2), Literal("j"),     Literal("ˣ"),
    Literal("¢"), Literal("£"), Literal("ñ"),     Literal("ö"),     Literal("p"),     Literal("q"),
    Literal("θ"), Literal("∞"), Literal("Ω"),     Literal("ü"),     Literal("Σ"),     Literal("π"),
    Literal("x̄"), Literal("y"), Literal("千", 2), Literal("万", 2), Literal("円", 2), Literal("÷"),
    Literal(" "), Literal("█"),
};

constexpr char32_t kCircledOne = 0x2460;
constexpr char32_t kHalfwidthIdeographicFullStop = 0xFF61; // the first katakana code, 0xA1

constexpr std::array<TextCell, 256> BuildTextTable() {
    std::array<TextCell, 256> table{};
    for (unsigned code = 0; code < 256; ++code) {
        TextCell& cell = table[code];
        if (code < 0x10) {
            cell = Encode(kCircledOne + (code & 7)); // 8-15 show CGRAM 0-7 again
        } else if (code == 0x5C) {
            cell = Literal("¥");
        } else if (code == 0x7E) {
            cell = Literal("→");
        } else if (code == 0x7F) {
            cell = Literal("←");
        } else if (code >= 0x20 && code < 0x7E) {
            cell = Encode(code);
        } else if (code >= 0xA1 && code < 0xE0) {
            cell = Encode(kHalfwidthIdeographicFullStop + (code - 0xA1));
        } else if (code >= 0xE0) {
            cell = kSymbolBlock[code - 0xE0];
        } else {
            cell = Literal(" "); // blank patterns: 0x10-0x1F, 0x80-0xA0
        }
    }
    return table;
}

constexpr std::array<TextCell, 256> kText = BuildTextTable();

constexpr std::string_view View(const TextCell& cell) {
    return std::string_view(cell.utf8, cell.size);
}

static_assert(View(kText['A']) == "A" && View(kText[0x5C]) == "¥" && View(kText[0xB1]) == "ｱ");
static_assert(View(kText[0xDF]) == "ﾟ" && View(kText[0x08]) == "①" && View(kText[0x07]) == "⑧");
static_assert(View(kText[0xFA]) == "千" && View(kText[0xFE]) == " " && View(kText[0x90]) == " ");

} // namespace

std::string_view CharacterText(unsigned char code) noexcept {
    return View(kText[code]);
}

unsigned CharacterColumns(unsigned char code) noexcept {
    return kText[code].columns;
}
