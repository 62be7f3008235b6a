// Wendle messages run through the translator and the module model, against
// what the screen shows, the report of what was not modelled, and the dots.
#include "display/module.h"
#include "tests/display/shown_text.h"
#include "tests/support/translate_support.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The module of `size` ("16x2", or "16x2 prefix-only" for that profile)
// after `message`; `timed`, as one read at 9600 baud with the default buffer.
Module RunMessage(std::string_view size, std::string_view message, bool timed = false) {
    const std::size_t space = size.find(' ');
    Module module = MakeModule(*FindGeometry(size.substr(0, space)),
                               space == size.npos ? Profile::kCommand : Profile::kPrefixOnly);
    timed ? FeedModuleAt(module, 0, Translate(message)) : FeedModule(module, Translate(message));
    return module;
}

// ShownText, then what differs from power-on outside the screen:
// "abc|Xefg|2 2 backlight-off bells 3".
std::string Screen(std::string_view size, std::string_view message, bool timed = false) {
    const Module m = RunMessage(size, message, timed);
    const Controller& c = m.controller;
    std::string screen = ShownText(m);
    for (const auto& [differs, name] : {std::pair{!m.backlight_on, " backlight-off"},
                                        {!c.display_on, " display-off"},
                                        {c.cursor_on, " underline"},
                                        {c.blink_on, " blink"},
                                        {c.two_line != m.geometry->two_line, " line-mode"},
                                        {c.font_5x10, " 5x10"}}) {
        screen += differs ? name : "";
    }
    return m.bells == 0 ? screen : screen + " bells " + std::to_string(m.bells);
}

// clang-format off
constexpr std::string_view kScreens[][3] = {
    // The module's own commands.
    {"16x2", "abc<12>d", "d||1 2"},
    {"16x2", "abc<KTA_SCROLL_LEFT><1>X", "Xbc||1 2"},
    {"16x2", "<KTA_LINE2>ab<10>c", "  c|ab|1 4"},
    {"20x4", "ab<11>c", "ab|||  c|4 4"},
    {"16x2", "<254,140>x<9>y", "            x|y|2 2"},
    // Backspace at a row's start goes to the end of the row above it.
    {"16x2", "<KTA_LINE2>               Z<KTA_LINE1><8>", "||2 16"},
    {"20x4", "<KTA_LINE3><8>X", "|                   X|||4 1"},
    // Position: 64 + the cell along the rows; one off the screen is ignored.
    {"16x2", "<16,64>A<16,81>X<POSITION,95>Y", "A| X             Y|-"},
    {"20x4", "<16,104>X", "||X||3 2"},
    {"16x2", "ab<16,96>X", "abX||1 4"},
    // A 254 waited for as an argument is no prefix: 254 254 sets 0x7E, line one's start.
    {"16x2", "ab<254,254>X<16,254>Y", "XY||1 3"},
    {"20x4", "<KTA_LINE3>ab<13>X", "||Xb||3 2"},
    // Cursor looks, the backlight, the bell and the function set.
    {"16x2", "<BL_OFF><KTA_UL_CURSOR>", "||1 1 backlight-off underline"},
    {"16x2", "<BL_OFF><BL_ON><KTA_BLOCK_CURSOR>", "||1 1 blink"},
    {"16x2", "<7><BELL>x<7>", "x||1 2 bells 3"},
    {"16x2", "<254,52>", "||1 1 line-mode 5x10"},
    // The module's own cursor commands keep the display as it is.
    {"16x2", "<KTA_BLANK><5>", "||1 1 display-off underline"},
    {"16x2", "<KTA_UL_CURSOR><6>", "||1 1 blink"},
    {"16x2", "<254,15><4>", "||1 1"},
    // The controller's instructions behind the prefix.
    {"16x2", "AB<KTA_MOVE_LEFT>C<KTA_MOVE_RIGHT>D", "AC D||1 5"},
    // Moving left from 0x00 reaches 0x67, the end of line two.
    {"16x2", "<KTA_MOVE_LEFT>X<KTA_SCROLL_RIGHT>", "|X|1 2"},
    // Each line shifts within its own 40 cells; rows 3 and 4 continue 1 and 2.
    {"20x4", "X<KTA_LINE2>Y<KTA_SCROLL_LEFT>", "||                   X|                   Y|2 1"},
    {"16x2", "Hi<KTA_BLANK>!<KTA_NO_CURSOR>", "Hi!||1 4"},
    // Addresses on no memory: 0x28 goes to line two, 0x68 to line one.
    {"16x2", "<254,168>X<254,232>Y", "Y|X|1 2"},
    // One-line mode: line two's rows go dark.
    {"16x2", "one<KTA_LINE2>two<254,48>", "one||- line-mode"},
    {"20x4", "<254,48>ABCDEFGHIJKLMNOPQRSTUVWXY", "ABCDEFGHIJKLMNOPQRST||UVWXY||3 6 line-mode"},
    // Entry modes: decrement, increment with shift, decrement with shift.
    {"16x2", "<254,135><254,4>ABC", "     CBA||1 5"},
    {"16x2", "<KTA_LINE2>xy<KTA_LINE1>ABCDEFGHIJKLMNOP<254,7>QR", "CDEFGHIJKLMNOPQR||-"},
    {"16x2", "<254,5>AB", "  A| B|2 1"},
    {"16x2", "<KTA_LINE2><254,4>AB<KTA_SCROLL_RIGHT>", "B| A|-"},
    // Clear sets increment and undoes the shift but keeps shift-on-write.
    {"16x2", "<254,5><254,1>AB", "||1 1"},
    {"16x2", "ABC<KTA_SCROLL_LEFT><KTA_SCROLL_LEFT><254,1>XY", "XY||1 3"},
    {"16x2", "ABC<KTA_SCROLL_LEFT><KTA_HOME>J", "JBC||1 2"},
    // Past a row's end the text follows the counter; 16x4 rows 3 and 4 start
    // at 0x10 and 0x50; one-line screens have an 80-cell line.
    {"20x4", "<254,147>xy<254,167>ab<254,231>z!", "!                  x|b|y                  a|                   z|1 2"},
    {"16x4", "<KTA_LINE3>x<254,208>y<254,160>z", "||    x|y|-"},
    {"8x1", "ABCDEFGHI<254,207>x!", "!BCDEFGH|1 2"},
    // Prefix-only: bytes below 32 are characters, codes 8-15 show CGRAM 0-7.
    {"16x2 prefix-only", "<12>A<13>B<KTA_LINE2>C<7><BL_OFF>", "⑤A⑥B|C⑧⑧|2 4"},
    {"16x2 prefix-only", "<254,64><14,17,17,17,31,17,17,0><KTA_LINE1><0,8,1>", "①①②||1 4"},
    // Data goes to CGRAM, never shifting, until a DDRAM address is set.
    {"16x2 prefix-only", "<254,64>AB<KTA_LINE1>CD<254,72>AB<KTA_HOME>E", "ED||1 2"},
    {"16x2 prefix-only", "<254,7><254,64>AB<KTA_LINE1><254,6>XY", "XY||1 3"},
    // Text mode: the ROM's blocks, and blanks where it has no character.
    {"20x4 prefix-only", "<KTA_LINE4><125,16,92,126,127,128,161,223,160,224,233,248,250,253,255>",
     "|||} ¥→← ｡ﾟ α⁻¹x̄千÷█|4 16"},
};
// clang-format on

TEST(Module, WhatTheScreenShows) {
    for (const auto& [size, message, screen] : kScreens) {
        EXPECT_EQ(Screen(size, message), screen) << size << ": " << message;
        EXPECT_EQ(Screen(size, message, true), screen) << "timed: " << size << ": " << message;
    }
}

// Every byte not acted on is reported at its offset, counted on across
// calls, and the bytes after it still land where they belong; the report
// keeps the last 16 and counts all.
TEST(Module, UnmodelledBytesAreReportedWithTheirOffsets) {
    Module module = RunMessage("16x2", "ab<2>c<17>d<27>Me<18>f<0>g<16,200>h<254,168>i");
    EXPECT_EQ(DumpText(module), "abcdMefgh       \ni               \ncursor 2 2\n");
    FeedModule(module, Translate("<254,32><254,52><254>"));
    FinishModule(module);
    std::string reports;
    for (const UnmodelledBytes& entry : RecentUnmodelled(module)) {
        reports += DescribeUnmodelled(entry) + "\n";
    }
    EXPECT_EQ(reports,
              "offset 2: 02: big characters not modelled\n"
              "offset 4: 11: clear column not modelled\n"
              "offset 6: 1B: ESC sequence not modelled\n"
              "offset 9: 12: right align not modelled\n"
              "offset 11: 00: not a command of this module\n"
              "offset 13: 10 C8: position outside the display\n"
              "offset 16: FE A8: address outside display memory, taken as the next line's start\n"
              "offset 19: FE 20: 4-bit interface not modelled, 8-bit bus kept\n"
              "offset 21: FE 34: 5x10 font not modelled, drawn as 5x8\n"
              "offset 23: FE: stream ended inside a command\n");
    FeedModule(module, std::string(1000, '\x1B'));
    const std::vector<UnmodelledBytes> kept = RecentUnmodelled(module);
    ASSERT_EQ(kept.size(), 16u);
    EXPECT_EQ((std::array{module.unmodelled.total, kept.front().offset, kept.back().offset}),
              (std::array<std::uint64_t, 3>{1010, 24 + 984, 24 + 999}));
}

// ROM glyphs: the right arrow, katakana full stop, semi-voiced mark, alpha,
// and a tall g cut at row 8; no dots where the ROM has no character. Custom
// characters defined behind the prefix, codes 8-15 showing 0-7, without the
// upper three bits of a row. Character 5 lies past the first 32 bytes;
// written downwards from 0x0F, character 1 fills from its last row. In text
// mode "⁻¹" and "千" take two terminal columns.
TEST(Screen, GlyphsAndTheirColumns) {
    const auto dots = [](const Glyph& g) { return Hex(std::string(g.begin(), g.end())); };
    // clang-format off
    constexpr std::pair<unsigned char, std::string_view> kRom[] = {
        {'A', "0E 11 11 11 1F 11 11 00"}, {0x7E, "00 04 02 1F 02 04 00 00"},
        {0xA1, "00 00 00 00 1C 14 1C 00"}, {0xDF, "1C 14 1C 00 00 00 00 00"},
        {0xE0, "00 00 09 15 12 12 0D 00"}, {0xE7, "00 00 0F 11 11 11 0F 01"},
        {0xFF, "1F 1F 1F 1F 1F 1F 1F 1F"}, {0x10, "00 00 00 00 00 00 00 00"},
        {0x80, "00 00 00 00 00 00 00 00"},
    };
    // clang-format on
    for (const auto& [code, expected] : kRom) {
        EXPECT_EQ(dots(RomGlyph(code)), expected) << "code " << int(code);
    }
    const std::string box = "1F 11 11 11 11 11 1F 00", bar = "1F 00 00 00 00 00 00 1F";
    const std::string blank = "00 00 00 00 00 00 00 00";
    const Module m =
        RunMessage("16x2 prefix-only",
                   "<254,64><31,17,17,17,17,17,31,0><255,0,0,0,0,0,0,159><KTA_LINE1><9,0>");
    EXPECT_EQ((std::array{dots(CodeGlyph(m, 0)), dots(CodeGlyph(m, 8)), dots(CodeGlyph(m, 1)),
                          dots(CodeGlyph(m, 9)), dots(CodeGlyph(m, 2)), dots(CellGlyph(m, 0, 0)),
                          dots(CellGlyph(m, 0, 1)), dots(CellGlyph(m, 0, 2))}),
              (std::array{box, box, bar, bar, blank, bar, box, blank}));
    const Module high = RunMessage("16x2 prefix-only",
                                   "<254,104><1,2,3,4,5,6,7,8><254,4><254,79><1,2,3,4,5,6,7,8>");
    EXPECT_EQ(dots(CodeGlyph(high, 5)) + " / " + dots(CodeGlyph(high, 1)),
              "01 02 03 04 05 06 07 08 / 08 07 06 05 04 03 02 01");
    EXPECT_EQ((std::array{CharacterColumns('A'), CharacterColumns(0xE9), CharacterColumns(0xFA)}),
              (std::array{1u, 2u, 2u}));
}

} // namespace
