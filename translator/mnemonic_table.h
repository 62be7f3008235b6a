// The table of names a token may hold in place of byte codes.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string_view>

// One row: a name, or a KTA_/KTB_ pair of names, and the bytes they give.
// A row with one name leaves the second empty.
struct MnemonicRow {
    std::string_view names[2];
    unsigned char size;
    unsigned char bytes[4];
};

inline constexpr std::size_t kMnemonicRowCount = 101;
inline constexpr std::size_t kLongestMnemonic = 21;

// The ASCII control-character names come first, one row for each code from
// 00 to 1F; the display commands follow them.
inline constexpr std::size_t kControlNameRows = 32;

namespace mnemonic_rows {

constexpr unsigned char kEsc = 27;
constexpr unsigned char kPrefix = 254;

constexpr MnemonicRow Pair(std::string_view name, std::string_view pair_name,
                           std::initializer_list<unsigned char> bytes) {
    MnemonicRow row{{name, pair_name}, static_cast<unsigned char>(bytes.size()), {}};
    std::size_t i = 0;
    for (unsigned char byte : bytes) {
        row.bytes[i++] = byte;
    }
    return row;
}

constexpr MnemonicRow Row(std::string_view name, std::initializer_list<unsigned char> bytes) {
    return Pair(name, {}, bytes);
}

inline constexpr MnemonicRow kRows[kMnemonicRowCount] = {
    // ASCII control-character names, in code order.
    Row("NUL", {0}),
    Row("SOH", {1}),
    Row("STX", {2}),
    Row("ETX", {3}),
    Row("EOT", {4}),
    Row("ENQ", {5}),
    Row("ACK", {6}),
    Row("BEL", {7}),
    Row("BS", {8}),
    Row("HT", {9}),
    Row("LF", {10}),
    Row("VT", {11}),
    Row("FF", {12}),
    Row("CR", {13}),
    Row("SO", {14}),
    Row("SI", {15}),
    Row("DLE", {16}),
    Row("DC1", {17}),
    Row("DC2", {18}),
    Row("DC3", {19}),
    Row("DC4", {20}),
    Row("NAK", {21}),
    Row("SYN", {22}),
    Row("ETB", {23}),
    Row("CAN", {24}),
    Row("EM", {25}),
    Row("SUB", {26}),
    Row("ESC", {27}),
    Row("FS", {28}),
    Row("GS", {29}),
    Row("RS", {30}),
    Row("US", {31}),

    // Display commands of one byte.
    Row("NULL", {0}),
    Row("HOME", {1}),
    Row("BIG_BEGIN", {2}),
    Row("BIG_END", {3}),
    Row("NO_CURSOR", {4}),
    Row("UL_CURSOR", {5}),
    Row("BK_CURSOR", {6}),
    Row("BELL", {7}),
    Row("BACKSPACE", {8}),
    Row("TAB", {9}),
    Row("LINEFEED", {10}),
    Row("VTAB", {11}),
    Row("CLS", {12}),
    Row("CLEAR", {12}),
    Row("CLEAR_SCREEN", {12}),
    Row("RETURN", {13}),
    Row("BL_ON", {14}),
    Row("BL_OFF", {15}),
    Row("BACKLIGHT_ON", {14}),
    Row("BACKLIGHT_OFF", {15}),
    Row("VFD_ON", {14}),
    Row("VFD_OFF", {15}),
    Row("POSITION", {16}),
    Row("CLR_COL", {17}),
    Row("RIGHT_ALIGN", {18}),

    // Escape sequences for graphic displays; a selector byte is 64 to 67.
    Row("EEPROM_TO_SCREEN", {kEsc, 69}),
    Row("DEFINE_CHAR", {kEsc, 68}),
    Row("SET_ADDRESS", {kEsc, 65}),
    Row("WRITE_BYTE", {kEsc, 66}),
    Row("CLEAR_TO_BYTE", {kEsc, 67}),
    Row("DOWNLOAD_GRAPHIC", {kEsc, 68, 71}),
    Row("SET_FONT", {kEsc, 70}),
    Row("SET_INK", {kEsc, 73}),
    Row("LINE", {kEsc, 76}),
    Row("LINE_TO", {kEsc, 84}),
    Row("MODE_OR", {kEsc, 77, 64}),
    Row("MODE_XOR", {kEsc, 77, 65}),
    Row("OVERLAY_OR", {kEsc, 79, 64}),
    Row("OVERLAY_XOR", {kEsc, 79, 65}),
    Row("OVERLAY_AND", {kEsc, 79, 66}),
    Row("POINT", {kEsc, 80}),
    Row("REVERSE_NONE", {kEsc, 82, 64}),
    Row("REVERSE_GRAPHICS", {kEsc, 82, 65}),
    Row("REVERSE_TEXT", {kEsc, 82, 66}),
    Row("REVERSE_BOTH", {kEsc, 82, 67}),
    Row("LAYERS_BOTH_ON", {kEsc, 89, 64}),
    Row("LAYERS_GRAPHICS_OFF", {kEsc, 89, 65}),
    Row("LAYERS_TEXT_OFF", {kEsc, 89, 66}),
    Row("LAYERS_BOTH_OFF", {kEsc, 89, 67}),
    Row("TRANSFER_TO_EE", {kEsc, 88}),
    // Two of the three ZAP_ names use "Y", not "Z": they are the same commands
    // as LAYERS_GRAPHICS_OFF and LAYERS_BOTH_OFF.
    Row("ZAP_GRAPHICS_SETTINGS", {kEsc, 89, 65}),
    Row("ZAP_TEXT_SETTINGS", {kEsc, 90, 66}),
    Row("ZAP_BOTH_SETTINGS", {kEsc, 89, 67}),
    Row("REVERSE_LINES", {kEsc, 82}),

    // HD44780 instructions behind the prefix byte, for character displays.
    Pair("KTA_CLS", "KTB_CLS", {kPrefix, 1, kPrefix, 128}),
    Pair("KTA_HOME", "KTB_HOME", {kPrefix, 2}),
    Pair("KTA_BLANK", "KTB_BLANK", {kPrefix, 8}),
    Pair("KTA_NO_CURSOR", "KTB_NO_CURSOR", {kPrefix, 12}),
    Pair("KTA_BLOCK_CURSOR", "KTB_BLOCK_CURSOR", {kPrefix, 13}),
    Pair("KTA_UL_CURSOR", "KTB_UL_CURSOR", {kPrefix, 14}),
    Pair("KTA_MOVE_LEFT", "KTB_MOVE_LEFT", {kPrefix, 16}),
    Pair("KTA_MOVE_RIGHT", "KTB_MOVE_RIGHT", {kPrefix, 20}),
    Pair("KTA_SCROLL_LEFT", "KTB_SCROLL_LEFT", {kPrefix, 24}),
    Pair("KTA_SCROLL_RIGHT", "KTB_SCROLL_RIGHT", {kPrefix, 28}),
    Pair("KTA_PREFIX", "KTB_PREFIX", {kPrefix}),
    Pair("KTA_LINE1", "KTB_LINE1", {kPrefix, 128}),
    Pair("KTA_LINE2", "KTB_LINE2", {kPrefix, 192}),
    Pair("KTA_LINE3", "KTB_LINE3", {kPrefix, 148}),
    Pair("KTA_LINE4", "KTB_LINE4", {kPrefix, 212}),
};

} // namespace mnemonic_rows

// The rows in search order. Constant data, built by the compiler and visible
// to it, so that other tables (the decoder's names) are built from it too.
inline constexpr const MnemonicRow (&MnemonicTable)[kMnemonicRowCount] = mnemonic_rows::kRows;

// The row one of whose names equals `name` exactly (same length, same
// characters, case-sensitive), or nullptr.
const MnemonicRow* FindMnemonic(std::string_view name) noexcept;
