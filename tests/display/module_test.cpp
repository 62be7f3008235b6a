// Wendle messages run through the translator and the module model, against
// what the glass must show: the module's commands, the controller's
// instructions, the address counter's path through memory on every glass,
// dot patterns, text mode and the dump.
#include "display/module.h"
#include "display/screen.h"
#include "tests/translator/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The module of `glass` ("16x2", or "16x2 prefix-only" for that profile)
// after `message`.
Module RunMessage(std::string_view glass, std::string_view message) {
    const std::size_t space = glass.find(' ');
    const Geometry* geometry = FindGeometry(glass.substr(0, space));
    const std::optional<Profile> profile =
        space == glass.npos ? Profile::kCommand : FindProfile(glass.substr(space + 1));
    EXPECT_TRUE(geometry && profile) << glass;
    Module module =
        MakeModule(geometry ? *geometry : DefaultGeometry(), profile.value_or(Profile::kCommand));
    FeedModule(module, Translate(message));
    return module;
}

// The rows of the dump without their trailing spaces, then the cursor, each
// but the last ended by "|": "abc|Xefg|2 2".
std::string Screen(std::string_view glass, std::string_view message) {
    std::istringstream lines(DumpText(RunMessage(glass, message)));
    std::string screen;
    for (std::string line; std::getline(lines, line);) {
        line.erase(line.find_last_not_of(' ') + 1);
        screen += line.starts_with("cursor ") ? line.substr(7) : line + "|";
    }
    return screen;
}

// clang-format off
constexpr std::string_view kScreens[][3] = {
    // The module's own commands.
    {"16x2", "abc<12>d", "d||1 2"},
    {"16x2", "abc<KTA_SCROLL_LEFT><1>X", "Xbc||1 2"},
    {"16x2", "<KTA_LINE2>ab<10>c", "  c|ab|1 4"},
    {"20x4", "ab<11>c", "ab|||  c|4 4"},
    {"16x2", "a<9>b<9>c", "a   b   c||1 10"},
    {"16x2", "<254,140>x<9>y", "            x|y|2 2"},
    {"16x2", "abc<8>", "ab||1 3"},
    // Backspace at a row's start goes to the end of the row above it.
    {"16x2", "0123456789ABCDEF<KTA_LINE2><8>", "0123456789ABCDE||1 16"},
    {"16x2", "<KTA_LINE2>               Z<KTA_LINE1><8>", "||2 16"},
    {"20x4", "<KTA_LINE3><8>X", "|                   X|||4 1"},
    // Position: 64 + the cell, counted along the rows; one off the glass is
    // reported and its argument used up.
    {"16x2", "<16,64>A<16,81>X<POSITION,95>Y", "A| X             Y|-"},
    {"20x4", "<16,104>X", "||X||3 2"},
    {"16x2", "ab<16,96>X", "abX||1 4"},
    // A 254 is the argument of a 254 or a 16 waiting for one, no prefix:
    // 254 254 sets address 0x7E (no memory: line one's start).
    {"16x2", "ab<254,254>X", "Xb||1 2"},
    {"16x2", "ab<16,254>X", "abX||1 4"},
    {"20x4", "<KTA_LINE3>ab<13>X", "||Xb||3 2"},
    // The controller's instructions behind the prefix.
    {"16x2", "Hello<254,1>X", "X||1 2"},
    {"16x2", "Hello<KTA_HOME>J", "Jello||1 2"},
    {"16x2", "AB<KTA_MOVE_LEFT>C<KTA_MOVE_RIGHT>D", "AC D||1 5"},
    // Moving left from 0x00 reaches 0x67, the end of line two.
    {"16x2", "<KTA_MOVE_LEFT>X<KTA_SCROLL_RIGHT>", "|X|1 2"},
    {"16x2", "ABC<KTA_SCROLL_LEFT>", "BC||1 3"},
    // Each line turns within its own 40 cells: 0x27 comes round to the left
    // of line one, 0x67 (not 0x27) to the left of line two.
    {"16x2", "<254,167>Z<KTA_LINE2>w<KTA_SCROLL_RIGHT>", "Z| w|2 3"},
    // Rows 3 and 4 continue rows 1 and 2: a shift carries text between them.
    {"20x4", "X<KTA_LINE2>Y<KTA_SCROLL_LEFT>", "||                   X|                   Y|2 1"},
    {"16x2", "Hi<KTA_BLANK>", "||1 3"},
    {"16x2", "Hi<KTA_BLANK>!<KTA_NO_CURSOR>", "Hi!||1 4"},
    // 0x28 is no memory in two-line mode: the next line's start; 0x68 is
    // past line two: line one.
    {"16x2", "<254,168>X", "|X|2 2"},
    {"16x2", "<254,232>X", "X||1 2"},
    // One-line mode: line two's rows go dark and come back in two-line mode.
    {"16x2", "one<KTA_LINE2>two<254,48>", "one||-"},
    {"16x2", "one<KTA_LINE2>two<254,48><254,56>", "one|two|2 4"},
    {"20x4", "<254,48>ABCDEFGHIJKLMNOPQRSTUVWXY", "ABCDEFGHIJKLMNOPQRST||UVWXY||3 6"},
    // Entry modes: decrement; increment with shift, the text moving left
    // under a still cursor on both lines; decrement with shift; decrementing
    // from line two's start to line one's end.
    {"16x2", "<254,135><254,4>ABC", "     CBA||1 5"},
    {"16x2", "<KTA_LINE2>xy<KTA_LINE1>ABCDEFGHIJKLMNOP<254,7>QR", "CDEFGHIJKLMNOPQR||-"},
    {"16x2", "<254,5>AB", "  A| B|2 1"},
    {"16x2", "<KTA_LINE2><254,4>AB<KTA_SCROLL_RIGHT>", "B| A|-"},
    // Clear sets increment and undoes the shift but keeps shift-on-write;
    // home undoes the shift and keeps the text; moving the cursor never
    // shifts the display.
    {"16x2", "<254,5><254,1>AB", "||1 1"},
    {"16x2", "ABC<KTA_SCROLL_LEFT><KTA_SCROLL_LEFT><254,1>XY", "XY||1 3"},
    {"16x2", "ABC<KTA_SCROLL_LEFT><KTA_HOME>", "ABC||1 1"},
    {"16x2", "<254,7><KTA_MOVE_RIGHT>A", "A||1 2"},
    // Past a row's end the text goes where the counter goes. Four rows:
    // line one is rows 1 and 3, line two rows 2 and 4; on 16x4 rows 3 and 4
    // start at 0x10 and 0x50, so Wendle's line 3 name is column 5.
    {"16x2", "0123456789abcdefghijABCDEFGHIJklmnopqrstY", "0123456789abcdef|Y|2 2"},
    {"20x4", "<254,147>xy<254,167>ab<254,231>z!", "!                  x|b|y                  a|                   z|1 2"},
    {"16x4", "<KTA_LINE3>x<254,208>y<254,160>z", "||    x|y|-"},
    // One-line glasses: an 80-cell line.
    {"8x1", "ABCDEFGHI<254,207>x!", "!BCDEFGH|1 2"},
    {"16x1", "<KTA_LINE2>x", "|-"},
    // Prefix-only modules: bytes below 32 are characters, codes 8-15 show
    // CGRAM 0-7.
    {"16x2 prefix-only", "<12>A<13>B<KTA_LINE2>C<7>", "⑤A⑥B|C⑧|2 3"},
    {"16x2 prefix-only", "<254,64><14,17,17,17,31,17,17,0><KTA_LINE1><0,8,1>", "①①②||1 4"},
    // Data goes to CGRAM until a DDRAM address is set (home and clear set
    // one too); the cursor is nowhere meanwhile.
    {"16x2 prefix-only", "<254,64>AB<KTA_LINE1>CD", "CD||1 3"},
    {"16x2 prefix-only", "<254,72>AB<KTA_HOME>CD", "CD||1 3"},
    {"16x2 prefix-only", "Hi<254,64>AB<254,1>CD", "CD||1 3"},
    // Writes to CGRAM never shift the display; moving the cursor while CGRAM
    // is selected stays in CGRAM.
    {"16x2 prefix-only", "<254,7><254,64>AB<KTA_LINE1><254,6>XY", "XY||1 3"},
    {"16x2 prefix-only", "<254,64><KTA_MOVE_RIGHT>A<KTA_LINE1>B", "B||1 2"},
};
// clang-format on

TEST(Module, WhatTheGlassShows) {
    for (const auto& [glass, message, screen] : kScreens) {
        EXPECT_EQ(Screen(glass, message), screen) << glass << ": " << message;
    }
}

// The bells rung, then 1 or 0 for the backlight, the display, the cursor,
// blinking, two-line mode and the 5x10 font.
TEST(Module, StateOutsideTheGlass) {
    constexpr std::string_view kCases[][2] = {
        {"", "0 110010"},
        {"<BL_OFF><KTA_UL_CURSOR>", "0 011010"},
        {"<BL_OFF><BL_ON><KTA_BLOCK_CURSOR>", "0 110110"},
        {"<7><BELL>x<7><KTA_BLANK>", "3 100010"},
        {"<254,52>", "0 110001"},
        // The module's own cursor commands keep the display as it is.
        {"<KTA_BLANK><5>", "0 101010"},
        {"<KTA_UL_CURSOR><6>", "0 110110"},
        {"<254,15><4>", "0 110010"},
    };
    for (const auto& [message, state] : kCases) {
        const Module m = RunMessage("16x2", message);
        const Controller& c = m.controller;
        std::string flags = std::to_string(m.bells) + " ";
        for (const bool flag :
             {m.backlight_on, c.display_on, c.cursor_on, c.blink_on, c.two_line, c.font_5x10}) {
            flags += flag ? '1' : '0';
        }
        EXPECT_EQ(flags, state) << message;
    }
}

// Every byte not acted on is reported at its offset, and the bytes after it
// still land where they belong; the report keeps the last 16 and counts all.
TEST(Module, UnmodelledBytesAreReportedWithTheirOffsets) {
    Module module = RunMessage("16x2", "ab<2>c<17>d<27>Me<18>f<0>g<16,200>h<254,168>i");
    EXPECT_EQ(DumpText(module), "abcdMefgh       \ni               \ncursor 2 2\n");
    // Offsets go on counting in the next call.
    FeedModule(module, Translate("<254,32><254,52><254>"));
    FinishModule(module);
    std::vector<std::string> reports;
    for (const UnmodelledBytes& entry : RecentUnmodelled(module)) {
        reports.push_back(DescribeUnmodelled(entry));
    }
    EXPECT_EQ(reports, (std::vector<std::string>{
                           "offset 2: 02: big characters not modelled",
                           "offset 4: 11: clear column not modelled",
                           "offset 6: 1B: ESC sequence not modelled",
                           "offset 9: 12: right align not modelled",
                           "offset 11: 00: not a command of this module",
                           "offset 13: 10 C8: position outside the display",
                           "offset 16: FE A8: address outside display memory, "
                           "taken as the next line's start",
                           "offset 19: FE 20: 4-bit interface not modelled, 8-bit bus kept",
                           "offset 21: FE 34: 5x10 font not modelled, drawn as 5x8",
                           "offset 23: FE: stream ended inside a command",
                       }));
    FeedModule(module, std::string(1000, '\x1B'));
    const std::vector<UnmodelledBytes> kept = RecentUnmodelled(module);
    EXPECT_EQ(module.unmodelled_total, 1010u);
    ASSERT_EQ(kept.size(), 16u);
    EXPECT_EQ(kept.front().offset, 24u + 984);
    EXPECT_EQ(kept.back().offset, 24u + 999);
}

TEST(Screen, RomGlyphsAreTheControllersPatterns) {
    constexpr struct {
        unsigned char code;
        Glyph dots;
    } kCases[] = {
        {'A', {0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x00}},
        {0x7E, {0x00, 0x04, 0x02, 0x1F, 0x02, 0x04, 0x00, 0x00}}, // right arrow
        {0xA1, {0x00, 0x00, 0x00, 0x00, 0x1C, 0x14, 0x1C, 0x00}}, // katakana full stop
        {0xDF, {0x1C, 0x14, 0x1C, 0x00, 0x00, 0x00, 0x00, 0x00}}, // semi-voiced mark
        {0xE0, {0x00, 0x00, 0x09, 0x15, 0x12, 0x12, 0x0D, 0x00}}, // alpha
        {0xE7, {0x00, 0x00, 0x0F, 0x11, 0x11, 0x11, 0x0F, 0x01}}, // tall g, cut at row 8
        {0xFF, {0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F}},
        {0x10, {}},
        {0x80, {}},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(RomGlyph(c.code), c.dots) << "code " << int(c.code);
    }
}

// Custom characters defined behind the prefix, codes 8-15 showing 0-7; the
// upper three bits of a row are not drawn. Character 5 lies past the first
// 32 bytes; written downwards from 0x0F, character 1 fills from its last row.
TEST(Screen, CgramGlyphsAfterDefinition) {
    constexpr Glyph kBox{0x1F, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1F, 0x00};
    constexpr Glyph kBar{0x1F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F};
    const Module m =
        RunMessage("16x2 prefix-only",
                   "<254,64><31,17,17,17,17,17,31,0><255,0,0,0,0,0,0,159><KTA_LINE1><9,0>");
    EXPECT_EQ((std::array{CodeGlyph(m, 0), CodeGlyph(m, 8), CodeGlyph(m, 1), CodeGlyph(m, 9),
                          CodeGlyph(m, 2), CellGlyph(m, 0, 0), CellGlyph(m, 0, 1)}),
              (std::array{kBox, kBox, kBar, kBar, Glyph{}, kBar, kBox}));
    EXPECT_EQ(CellGlyph(m, 0, 2), RomGlyph(' '));
    const Module high = RunMessage("16x2 prefix-only", "<254,104><1,2,3,4,5,6,7,8>");
    EXPECT_EQ(CodeGlyph(high, 5), (Glyph{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(CodeGlyph(high, 1), Glyph{});
    const Module down = RunMessage("16x2 prefix-only", "<254,4><254,79><1,2,3,4,5,6,7,8>");
    EXPECT_EQ(CodeGlyph(down, 1), (Glyph{8, 7, 6, 5, 4, 3, 2, 1}));
}

TEST(Screen, TextModeCharacters) {
    constexpr struct {
        unsigned char code;
        std::string_view text;
        unsigned columns;
    } kCases[] = {
        {'}', "}", 1},  {0x5C, "¥", 1}, {0x7E, "→", 1},  {0x7F, "←", 1}, {0xA1, "｡", 1},
        {0xDF, "ﾟ", 1}, {0xE0, "α", 1}, {0xE9, "⁻¹", 2}, {0xF8, "x̄", 1}, {0xFA, "千", 2},
        {0xFD, "÷", 1}, {0xFE, " ", 1}, {0xFF, "█", 1},  {0x00, "①", 1}, {0x0F, "⑧", 1},
        {0x10, " ", 1}, {0x80, " ", 1}, {0xA0, " ", 1},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(CharacterText(c.code), c.text) << "code " << int(c.code);
        EXPECT_EQ(CharacterColumns(c.code), c.columns) << "code " << int(c.code);
    }
}

TEST(Screen, DumpAndNames) {
    EXPECT_EQ(DumpText(RunMessage("20X4", "<KTA_LINE4>\xB1\\<254,64>")),
              "                    \n                    \n                    \n"
              "ｱ¥                  \ncursor -\n");
    // 0x5C: no memory, taken as 0.
    EXPECT_EQ(DumpText(RunMessage("8x1", "Hi<254,220>")), "Hi      \ncursor 1 1\n");
    EXPECT_EQ(FindGeometry("40x4"), nullptr);
    EXPECT_EQ(DefaultGeometry().name, "16x2");
    EXPECT_EQ(FindProfile("prefix-only"), Profile::kPrefixOnly);
    EXPECT_EQ(FindProfile("Command"), std::nullopt);
    EXPECT_EQ(ProfileName(Profile::kPrefixOnly), "prefix-only");
}

} // namespace
