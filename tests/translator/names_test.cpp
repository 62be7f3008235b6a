#include "tests/translator/test_support.h"
#include "translator/mnemonic_table.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

namespace {

struct NamedBytes {
    std::string_view name;
    std::string_view hex;
};

// Every name in search order with its bytes, written out here from the
// documented table rather than taken from the translator.
constexpr NamedBytes kNames[] = {
    {"NUL", "00"},
    {"SOH", "01"},
    {"STX", "02"},
    {"ETX", "03"},
    {"EOT", "04"},
    {"ENQ", "05"},
    {"ACK", "06"},
    {"BEL", "07"},
    {"BS", "08"},
    {"HT", "09"},
    {"LF", "0A"},
    {"VT", "0B"},
    {"FF", "0C"},
    {"CR", "0D"},
    {"SO", "0E"},
    {"SI", "0F"},
    {"DLE", "10"},
    {"DC1", "11"},
    {"DC2", "12"},
    {"DC3", "13"},
    {"DC4", "14"},
    {"NAK", "15"},
    {"SYN", "16"},
    {"ETB", "17"},
    {"CAN", "18"},
    {"EM", "19"},
    {"SUB", "1A"},
    {"ESC", "1B"},
    {"FS", "1C"},
    {"GS", "1D"},
    {"RS", "1E"},
    {"US", "1F"},

    {"NULL", "00"},
    {"HOME", "01"},
    {"BIG_BEGIN", "02"},
    {"BIG_END", "03"},
    {"NO_CURSOR", "04"},
    {"UL_CURSOR", "05"},
    {"BK_CURSOR", "06"},
    {"BELL", "07"},
    {"BACKSPACE", "08"},
    {"TAB", "09"},
    {"LINEFEED", "0A"},
    {"VTAB", "0B"},
    {"CLS", "0C"},
    {"CLEAR", "0C"},
    {"CLEAR_SCREEN", "0C"},
    {"RETURN", "0D"},
    {"BL_ON", "0E"},
    {"BL_OFF", "0F"},
    {"BACKLIGHT_ON", "0E"},
    {"BACKLIGHT_OFF", "0F"},
    {"VFD_ON", "0E"},
    {"VFD_OFF", "0F"},
    {"POSITION", "10"},
    {"CLR_COL", "11"},
    {"RIGHT_ALIGN", "12"},

    {"EEPROM_TO_SCREEN", "1B 45"},
    {"DEFINE_CHAR", "1B 44"},
    {"SET_ADDRESS", "1B 41"},
    {"WRITE_BYTE", "1B 42"},
    {"CLEAR_TO_BYTE", "1B 43"},
    {"DOWNLOAD_GRAPHIC", "1B 44 47"},
    {"SET_FONT", "1B 46"},
    {"SET_INK", "1B 49"},
    {"LINE", "1B 4C"},
    {"LINE_TO", "1B 54"},
    {"MODE_OR", "1B 4D 40"},
    {"MODE_XOR", "1B 4D 41"},
    {"OVERLAY_OR", "1B 4F 40"},
    {"OVERLAY_XOR", "1B 4F 41"},
    {"OVERLAY_AND", "1B 4F 42"},
    {"POINT", "1B 50"},
    {"REVERSE_NONE", "1B 52 40"},
    {"REVERSE_GRAPHICS", "1B 52 41"},
    {"REVERSE_TEXT", "1B 52 42"},
    {"REVERSE_BOTH", "1B 52 43"},
    {"LAYERS_BOTH_ON", "1B 59 40"},
    {"LAYERS_GRAPHICS_OFF", "1B 59 41"},
    {"LAYERS_TEXT_OFF", "1B 59 42"},
    {"LAYERS_BOTH_OFF", "1B 59 43"},
    {"TRANSFER_TO_EE", "1B 58"},
    {"ZAP_GRAPHICS_SETTINGS", "1B 59 41"},
    {"ZAP_TEXT_SETTINGS", "1B 5A 42"},
    {"ZAP_BOTH_SETTINGS", "1B 59 43"},
    {"REVERSE_LINES", "1B 52"},

    {"KTA_CLS", "FE 01 FE 80"},
    {"KTB_CLS", "FE 01 FE 80"},
    {"KTA_HOME", "FE 02"},
    {"KTB_HOME", "FE 02"},
    {"KTA_BLANK", "FE 08"},
    {"KTB_BLANK", "FE 08"},
    {"KTA_NO_CURSOR", "FE 0C"},
    {"KTB_NO_CURSOR", "FE 0C"},
    {"KTA_BLOCK_CURSOR", "FE 0D"},
    {"KTB_BLOCK_CURSOR", "FE 0D"},
    {"KTA_UL_CURSOR", "FE 0E"},
    {"KTB_UL_CURSOR", "FE 0E"},
    {"KTA_MOVE_LEFT", "FE 10"},
    {"KTB_MOVE_LEFT", "FE 10"},
    {"KTA_MOVE_RIGHT", "FE 14"},
    {"KTB_MOVE_RIGHT", "FE 14"},
    {"KTA_SCROLL_LEFT", "FE 18"},
    {"KTB_SCROLL_LEFT", "FE 18"},
    {"KTA_SCROLL_RIGHT", "FE 1C"},
    {"KTB_SCROLL_RIGHT", "FE 1C"},
    {"KTA_PREFIX", "FE"},
    {"KTB_PREFIX", "FE"},
    {"KTA_LINE1", "FE 80"},
    {"KTB_LINE1", "FE 80"},
    {"KTA_LINE2", "FE C0"},
    {"KTB_LINE2", "FE C0"},
    {"KTA_LINE3", "FE 94"},
    {"KTB_LINE3", "FE 94"},
    {"KTA_LINE4", "FE D4"},
    {"KTB_LINE4", "FE D4"},
};

bool IsName(std::string_view candidate) {
    for (const NamedBytes& n : kNames) {
        if (n.name == candidate) {
            return true;
        }
    }
    return false;
}

std::string Lower(std::string_view name) {
    std::string lower(name);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

// Every other letter lowered, starting with the second.
std::string Mixed(std::string_view name) {
    std::string mixed(name);
    for (std::size_t i = 1; i < mixed.size(); i += 2) {
        mixed[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(mixed[i])));
    }
    return mixed;
}

TEST(Names, EveryNameGivesItsBytesInAnyCase) {
    ASSERT_EQ(std::size(kNames), 116u);
    for (const NamedBytes& n : kNames) {
        const std::string name(n.name);
        EXPECT_EQ(TranslateHex("<" + name + ">"), n.hex) << name;
        EXPECT_EQ(TranslateHex("<" + Lower(name) + ">"), n.hex) << Lower(name);
        EXPECT_EQ(TranslateHex("<" + Mixed(name) + ">"), n.hex) << Mixed(name);
        EXPECT_EQ(TranslateHex("<1," + name + ",2>"), "01 " + std::string(n.hex) + " 02") << name;
    }
}

TEST(Names, TableHoldsTheNamesInSearchOrder) {
    std::vector<std::string_view> in_order;
    for (const MnemonicRow& row : MnemonicTable) {
        in_order.push_back(row.names[0]);
        if (!row.names[1].empty()) {
            // Only KTA_ and KTB_ names share a row.
            EXPECT_EQ(row.names[0].substr(0, 4), "KTA_");
            EXPECT_EQ(row.names[1], "KTB_" + std::string(row.names[0].substr(4)));
            in_order.push_back(row.names[1]);
        }
    }
    ASSERT_EQ(std::size(MnemonicTable), 101u);
    ASSERT_EQ(in_order.size(), std::size(kNames));
    for (std::size_t i = 0; i < in_order.size(); ++i) {
        EXPECT_EQ(in_order[i], kNames[i].name) << "position " << i;
    }
}

// No prefix, abbreviation or extension of a name matches.
TEST(Names, OnlyExactNamesMatch) {
    for (const NamedBytes& n : kNames) {
        const std::string name(n.name);
        const std::string near_misses[] = {
            name.substr(0, name.size() - 1), name + "X", name + "_", "X" + name, name + "1",
        };
        for (const std::string& miss : near_misses) {
            if (!IsName(miss) && miss.size() > 1) {
                EXPECT_EQ(TranslateHex("<" + miss + ">"), "") << miss;
            }
        }
    }
    for (std::string_view other :
         {"SP", "DEL", "NULLL", "KTC_CLS", "KTA", "KT_CLS", "CLEARSCREEN"}) {
        EXPECT_EQ(TranslateHex("<" + std::string(other) + ">"), "") << other;
    }
}

TEST(Names, ZeroBytesStayInTheOutput) {
    EXPECT_EQ(TranslateHex("a<NUL>b<null>c"), "61 00 62 00 63");
}

} // namespace
