#include "tests/support/tool_run.h"
#include "tests/translator/test_support.h"
#include "translator/unknown_names.h"

#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct NamedBytes {
    std::string name;
    std::string hex;
};

// Every name with its bytes, written out here from the documented table
// rather than taken from the translator: NAME=HEX, in groups as documented.
constexpr std::string_view kNameTable = R"(
    NUL=00 SOH=01 STX=02 ETX=03 EOT=04 ENQ=05 ACK=06 BEL=07 BS=08 HT=09 LF=0A VT=0B FF=0C CR=0D
    SO=0E SI=0F DLE=10 DC1=11 DC2=12 DC3=13 DC4=14 NAK=15 SYN=16 ETB=17 CAN=18 EM=19 SUB=1A ESC=1B
    FS=1C GS=1D RS=1E US=1F
    NULL=00 HOME=01 BIG_BEGIN=02 BIG_END=03 NO_CURSOR=04 UL_CURSOR=05 BK_CURSOR=06 BELL=07
    BACKSPACE=08 TAB=09 LINEFEED=0A VTAB=0B CLS=0C CLEAR=0C CLEAR_SCREEN=0C RETURN=0D BL_ON=0E
    BL_OFF=0F BACKLIGHT_ON=0E BACKLIGHT_OFF=0F VFD_ON=0E VFD_OFF=0F POSITION=10 CLR_COL=11
    RIGHT_ALIGN=12
    EEPROM_TO_SCREEN=1B45 DEFINE_CHAR=1B44 SET_ADDRESS=1B41 WRITE_BYTE=1B42 CLEAR_TO_BYTE=1B43
    DOWNLOAD_GRAPHIC=1B4447 SET_FONT=1B46 SET_INK=1B49 LINE=1B4C LINE_TO=1B54 MODE_OR=1B4D40
    MODE_XOR=1B4D41 OVERLAY_OR=1B4F40 OVERLAY_XOR=1B4F41 OVERLAY_AND=1B4F42 POINT=1B50
    REVERSE_NONE=1B5240 REVERSE_GRAPHICS=1B5241 REVERSE_TEXT=1B5242 REVERSE_BOTH=1B5243
    LAYERS_BOTH_ON=1B5940 LAYERS_GRAPHICS_OFF=1B5941 LAYERS_TEXT_OFF=1B5942 LAYERS_BOTH_OFF=1B5943
    TRANSFER_TO_EE=1B58 ZAP_GRAPHICS_SETTINGS=1B5941 ZAP_TEXT_SETTINGS=1B5A42
    ZAP_BOTH_SETTINGS=1B5943 REVERSE_LINES=1B52
    KTA_CLS=FE01FE80 KTB_CLS=FE01FE80 KTA_HOME=FE02 KTB_HOME=FE02 KTA_BLANK=FE08 KTB_BLANK=FE08
    KTA_NO_CURSOR=FE0C KTB_NO_CURSOR=FE0C KTA_BLOCK_CURSOR=FE0D KTB_BLOCK_CURSOR=FE0D
    KTA_UL_CURSOR=FE0E KTB_UL_CURSOR=FE0E KTA_MOVE_LEFT=FE10 KTB_MOVE_LEFT=FE10 KTA_MOVE_RIGHT=FE14
    KTB_MOVE_RIGHT=FE14 KTA_SCROLL_LEFT=FE18 KTB_SCROLL_LEFT=FE18 KTA_SCROLL_RIGHT=FE1C
    KTB_SCROLL_RIGHT=FE1C KTA_PREFIX=FE KTB_PREFIX=FE KTA_LINE1=FE80 KTB_LINE1=FE80 KTA_LINE2=FEC0
    KTB_LINE2=FEC0 KTA_LINE3=FE94 KTB_LINE3=FE94 KTA_LINE4=FED4 KTB_LINE4=FED4
)";

std::vector<NamedBytes> Names() {
    std::vector<NamedBytes> names;
    std::istringstream table{std::string(kNameTable)};
    for (std::string entry; table >> entry;) {
        const std::size_t equals = entry.find('=');
        NamedBytes named{entry.substr(0, equals), ""};
        for (std::size_t i = equals + 1; i < entry.size(); i += 2) {
            named.hex += (named.hex.empty() ? "" : " ") + entry.substr(i, 2);
        }
        names.push_back(named);
    }
    return names;
}

// The name with every `step`-th letter lowered, from the `first`.
std::string Lowered(std::string name, std::size_t first, std::size_t step) {
    for (std::size_t i = first; i < name.size(); i += step) {
        name[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
    }
    return name;
}

TEST(Names, EveryNameGivesItsBytesInAnyCase) {
    ASSERT_EQ(Names().size(), 116u);
    for (const NamedBytes& n : Names()) {
        // As written, all lower case, and every other letter lowered.
        for (const std::string& name : {n.name, Lowered(n.name, 0, 1), Lowered(n.name, 1, 2)}) {
            EXPECT_EQ(TranslateHex("<" + name + ">"), n.hex) << name;
        }
        EXPECT_EQ(TranslateHex("<1," + n.name + ",2>"), "01 " + n.hex + " 02") << n.name;
    }
}

// The names FindUnknownNames reports in `text`, as "offset:name".
std::vector<std::string> Unknown(std::string_view text) {
    UnknownName found[4];
    const std::size_t count = FindUnknownNames(text.data(), text.size(), found, 4);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < count && i < 4; ++i) {
        names.push_back(std::to_string(found[i].offset) + ":" +
                        std::string(text.substr(found[i].offset, found[i].length)));
    }
    if (count > 4) {
        names.push_back("+" + std::to_string(count - 4));
    }
    return names;
}

// No prefix, abbreviation or extension of a name matches, and each is
// reported as unknown.
TEST(Names, OnlyExactNamesMatch) {
    for (std::string_view other : {"CL", "CLSX", "CLS_", "XCLS", "KTA_LINE", "KTA_LINE21", "SP",
                                   "DEL", "KTC_CLS", "KT_CLS", "CLEARSCREEN"}) {
        EXPECT_EQ(Unknown("<" + std::string(other) + ">"),
                  std::vector<std::string>{"1:" + std::string(other)});
        EXPECT_EQ(TranslateHex("<" + std::string(other) + ">"), "") << other;
    }
}

TEST(Names, UnknownNamesAndWhereTheyStand) {
    const struct {
        std::string_view text;
        std::vector<std::string> unknown;
    } cases[] = {
        {"<CLS>Hi<kta_line2><KTA_LIN2>", {"19:KTA_LIN2"}},
        // Items of a token one by one; every other form is known.
        {"<254,LINE2,_x,_12,0x41,\\a\\,Q,12,,cls>", {"5:LINE2", "11:_x"}},
        // Text that holds no token, and a token cut off by the end.
        {"<<CLS> a<b c> <NOPE", {}},
        {"<A1><B2><C3><D4><E5><F6>", {"1:A1", "5:B2", "9:C3", "13:D4", "+2"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Unknown(c.text), c.unknown) << c.text;
    }
    for (const NamedBytes& n : Names()) {
        EXPECT_EQ(Unknown("<1," + Lowered(n.name, 0, 1) + ">"), std::vector<std::string>{});
    }
}

// The list a user greps is the table as documented, in its order.
TEST(Names, ListNames) {
    const ToolRun run = RunTool(WENDLE_TRANSLATE_TOOL, {"--list-names"});
    EXPECT_EQ(run.exit_code, 0);
    std::istringstream lines(run.out);
    std::string line;
    for (const NamedBytes& n : Names()) {
        ASSERT_TRUE(std::getline(lines, line));
        const std::size_t gap = line.find(' ');
        EXPECT_EQ(line.substr(0, gap), n.name);
        EXPECT_EQ(line.substr(line.find_first_not_of(' ', gap)), n.hex) << line;
    }
    EXPECT_FALSE(std::getline(lines, line)) << line;
}

TEST(Names, ZeroBytesStayInTheOutput) {
    EXPECT_EQ(TranslateHex("a<NUL>b<null>c"), "61 00 62 00 63");
}

} // namespace
