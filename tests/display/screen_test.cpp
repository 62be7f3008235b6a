// What the glass shows: dot patterns, custom characters, text mode, the
// dump, and looking up sizes and profiles by name.
#include "tests/display/screen_cases.h"

namespace {

TEST(Screen, RomGlyphsAreTheControllersPatterns) {
    struct GlyphCase {
        unsigned char code;
        Glyph dots;
    };
    // clang-format off
    constexpr GlyphCase kCases[] = {
        {'A', {0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x00}},
        {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E, 0x00}},
        {'7', {0x1F, 0x11, 0x01, 0x02, 0x04, 0x04, 0x04, 0x00}},
        {'g', {0x00, 0x0F, 0x11, 0x11, 0x0F, 0x01, 0x0E, 0x00}},
        {0x5C, {0x11, 0x0A, 0x1F, 0x04, 0x1F, 0x04, 0x04, 0x00}}, // yen
        {0x7E, {0x00, 0x04, 0x02, 0x1F, 0x02, 0x04, 0x00, 0x00}}, // right arrow
        {0xA1, {0x00, 0x00, 0x00, 0x00, 0x1C, 0x14, 0x1C, 0x00}}, // katakana full stop
        {0xB1, {0x1F, 0x01, 0x05, 0x06, 0x04, 0x04, 0x08, 0x00}}, // katakana a
        {0xDF, {0x1C, 0x14, 0x1C, 0x00, 0x00, 0x00, 0x00, 0x00}}, // semi-voiced mark
        {0xE0, {0x00, 0x00, 0x09, 0x15, 0x12, 0x12, 0x0D, 0x00}}, // alpha
        {0xE7, {0x00, 0x00, 0x0F, 0x11, 0x11, 0x11, 0x0F, 0x01}}, // tall g, cut at row 8
        {0xFF, {0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F}},
        {0x10, {}}, {0x80, {}}, {0xA0, {}}, {0xFE, {}},
    };
    // clang-format on

    for (const GlyphCase& c : kCases) {
        EXPECT_EQ(RomGlyph(c.code), c.dots) << "code " << int(c.code);
    }
}

// Two custom characters defined behind the prefix; codes 8-15 show 0-7.
TEST(Screen, CgramGlyphsAfterDefinition) {
    constexpr Glyph kBox{0x1F, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1F, 0x00};
    constexpr Glyph kBar{0x1F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F};
    const Module module =
        RunMessage("16x2", "<254,64><31,17,17,17,17,17,31,0><255,0,0,0,0,0,0,159><KTA_LINE1><9,0>",
                   Profile::kPrefixOnly);
    EXPECT_EQ(CodeGlyph(module, 0), kBox);
    EXPECT_EQ(CodeGlyph(module, 8), kBox);
    EXPECT_EQ(CodeGlyph(module, 1), kBar); // the upper three bits are not drawn
    EXPECT_EQ(CodeGlyph(module, 9), kBar);
    EXPECT_EQ(CodeGlyph(module, 2), Glyph{});
    EXPECT_EQ(CellGlyph(module, 0, 0), kBar);
    EXPECT_EQ(CellGlyph(module, 0, 1), kBox);
    EXPECT_EQ(CellGlyph(module, 0, 2), RomGlyph(' '));
    EXPECT_EQ(RowText(module, 0).substr(0, 6), "②①");
    // Character 5 at 0x68, past the first 32 bytes; written downwards from
    // 0x0F in decrement mode, character 1 fills from its last row.
    const Module high = RunMessage("16x2", "<254,104><1,2,3,4,5,6,7,8>", Profile::kPrefixOnly);
    EXPECT_EQ(CodeGlyph(high, 5), (Glyph{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(CodeGlyph(high, 1), Glyph{});
    const Module down =
        RunMessage("16x2", "<254,4><254,79><1,2,3,4,5,6,7,8>", Profile::kPrefixOnly);
    EXPECT_EQ(CodeGlyph(down, 1), (Glyph{8, 7, 6, 5, 4, 3, 2, 1}));
}

TEST(Screen, TextModeCharacters) {
    struct TextCase {
        unsigned char code;
        std::string_view text;
        unsigned columns;
    };
    constexpr TextCase kCases[] = {
        {'}', "}", 1},  {0x5C, "¥", 1}, {0x7E, "→", 1},  {0x7F, "←", 1}, {0xA1, "｡", 1},
        {0xDF, "ﾟ", 1}, {0xE0, "α", 1}, {0xE9, "⁻¹", 2}, {0xF8, "x̄", 1}, {0xFA, "千", 2},
        {0xFD, "÷", 1}, {0xFE, " ", 1}, {0xFF, "█", 1},  {0x00, "①", 1}, {0x0F, "⑧", 1},
        {0x10, " ", 1}, {0x80, " ", 1}, {0xA0, " ", 1},
    };
    for (const TextCase& c : kCases) {
        EXPECT_EQ(CharacterText(c.code), c.text) << "code " << int(c.code);
        EXPECT_EQ(CharacterColumns(c.code), c.columns) << "code " << int(c.code);
    }
}

TEST(Screen, DumpFormat) {
    struct DumpCase {
        std::string_view geometry;
        std::string_view message;
        std::string_view dump;
    };
    constexpr DumpCase kCases[] = {
        {"8x1", "Hi<254,220>", "Hi      \ncursor 1 1\n"}, // 0x5C: no memory, taken as 0
        {"20x4", "<KTA_LINE4>\xB1\\<254,64>",
         "                    \n                    \n                    \nｱ¥                  \n"
         "cursor -\n"},
    };
    for (const DumpCase& c : kCases) {
        EXPECT_EQ(DumpText(RunMessage(c.geometry, c.message)), c.dump) << c.message;
    }
}

TEST(Screen, SizesAndProfilesByName) {
    ASSERT_NE(FindGeometry("20X4"), nullptr);
    EXPECT_EQ(FindGeometry("20X4")->name, "20x4");
    EXPECT_EQ(FindGeometry("16x4")->row_start[2], 0x10);
    EXPECT_EQ(FindGeometry("20x5"), nullptr);
    EXPECT_EQ(FindGeometry("40x4"), nullptr);
    EXPECT_EQ(FindGeometry(""), nullptr);
    EXPECT_EQ(DefaultGeometry().name, "16x2");
    EXPECT_EQ(FindProfile("command"), Profile::kCommand);
    EXPECT_EQ(FindProfile("prefix-only"), Profile::kPrefixOnly);
    EXPECT_EQ(FindProfile("Command"), std::nullopt);
    EXPECT_EQ(ProfileName(Profile::kPrefixOnly), "prefix-only");
}

} // namespace
