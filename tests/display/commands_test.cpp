// The serial command layer: single-byte commands, the two profiles, the
// report of what was not modelled, and bytes arriving in any chunks.
#include "tests/display/screen_cases.h"

namespace {

TEST(Commands, SingleByteCommandsOnTheGlass) {
    constexpr ScreenCase kCases[] = {
        {"abc<12>d", {"d"}, "1 2"},
        {"abc<KTA_SCROLL_LEFT><1>X", {"Xbc"}, "1 2"},
        {"abc<KTA_LINE2>defg<13>X", {"abc", "Xefg"}, "2 2"},
        {"ab<10>c", {"ab", "  c"}, "2 4"},
        {"<KTA_LINE2>ab<10>c", {"  c", "ab"}, "1 4"},
        {"<KTA_LINE2>ab<11>c", {"  c", "ab"}, "1 4"},
        {"ab<11>c", {"ab", "  c"}, "2 4"},
        {"Hi<13><10>there", {"Hi", "there"}, "2 6"},
        {"a<9>b<9>c", {"a   b   c"}, "1 10"},
        {"<254,140>x<9>y", {"            x", "y"}, "2 2"},
        {"abc<8>", {"ab"}, "1 3"},
        {"abc<8>X", {"abX"}, "1 4"},
        {"0123456789ABCDEF<KTA_LINE2><8>", {"0123456789ABCDE"}, "1 16"},
        {"<KTA_LINE2>               Z<KTA_LINE1><8>", {"", ""}, "2 16"},
        {"0123456789ABCDEFG<8>", {"0123456789ABCDEF"}, "-"},
        // Position: 64 + the cell, counted along the rows.
        {"<16,64>A<16,81>X", {"A", " X"}, "2 3"},
        {"<POSITION,95>X", {"", "               X"}, "-"},
        // A position off the glass is reported; its argument is used up.
        {"ab<16,96>X", {"abX"}, "1 4"},
        {"ab<16,63>X", {"abX"}, "1 4"},
        // A 254 is the argument of a 254 or a 16 waiting for one, no prefix:
        // 254 254 sets address 0x7E (no memory: line one's start).
        {"ab<254,254>X", {"Xb"}, "1 2"},
        {"ab<16,254>X", {"abX"}, "1 4"},
    };
    ExpectScreens("16x2", kCases);
    constexpr ScreenCase kFourRows[] = {
        {"<16,104>X", {"", "", "X"}, "3 2"},
        {"<KTA_LINE4>ab<10>c", {"  c", "", "", "ab"}, "1 4"},
        {"ab<11>c", {"ab", "", "", "  c"}, "4 4"},
        {"<KTA_LINE3>ab<13>X", {"", "", "Xb"}, "3 2"},
        // Backspace at a row's start goes to the end of the row above it.
        {"<KTA_LINE3><8>X", {"", "                   X"}, "4 1"},
        // Rows 3 and 4 continue rows 1 and 2: a shift carries text between them.
        {"X<KTA_LINE2>Y<KTA_SCROLL_LEFT>",
         {"", "", "                   X", "                   Y"},
         "2 1"},
    };
    ExpectScreens("20x4", kFourRows);
}

TEST(Commands, ProfilesDecideWhoGetsBytesBelow32) {
    constexpr std::string_view kMessage = "<12>A<13>B<KTA_LINE2>C<7>";
    constexpr ScreenCase kCommand[] = {{kMessage, {"B", "C"}, "2 2"}};
    ExpectScreens("16x2", kCommand, Profile::kCommand);
    constexpr ScreenCase kPrefixOnly[] = {{kMessage, {"⑤A⑥B", "C⑧"}, "2 3"}};
    ExpectScreens("16x2", kPrefixOnly, Profile::kPrefixOnly);
}

TEST(Commands, BellAndBacklightAreState) {
    struct StateCase {
        std::string_view message;
        Profile profile;
        bool backlight_on;
        std::uint64_t bells;
    };
    constexpr StateCase kCases[] = {
        {"", Profile::kCommand, true, 0},
        {"<BL_OFF>", Profile::kCommand, false, 0},
        {"<BL_OFF><BL_ON>", Profile::kCommand, true, 0},
        {"<7><BELL>x<7>", Profile::kCommand, true, 3},
        {"<BL_OFF><7>", Profile::kPrefixOnly, true, 0},
    };
    for (const StateCase& c : kCases) {
        const Module module = RunMessage("16x2", c.message, c.profile);
        EXPECT_EQ(module.backlight_on, c.backlight_on) << c.message;
        EXPECT_EQ(module.bells, c.bells) << c.message;
    }
}

std::vector<std::string> Reports(const Module& module) {
    std::vector<std::string> lines;
    for (const UnmodelledBytes& entry : RecentUnmodelled(module)) {
        lines.push_back(DescribeUnmodelled(entry));
    }
    return lines;
}

// Every byte not acted on is reported at its offset, and the bytes after it
// still land where they belong.
TEST(Commands, UnmodelledBytesAreReportedWithTheirOffsets) {
    Module module = RunMessage("16x2", "ab<2>c<17>d<27>Me<18>f<3>g<0>h<31><16,200>i<254,168>j");
    EXPECT_EQ(TrimRight(RowText(module, 0)), "abcdMefghi");
    EXPECT_EQ(TrimRight(RowText(module, 1)), "j"); // the folded address: line two's start
    // Offsets go on counting in the next call.
    FeedModule(module, Translate("<254,32><254,52><254>"));
    FinishModule(module);
    EXPECT_EQ(Reports(module), (std::vector<std::string>{
                                   "offset 2: 02: big characters not modelled",
                                   "offset 4: 11: clear column not modelled",
                                   "offset 6: 1B: ESC sequence not modelled",
                                   "offset 9: 12: right align not modelled",
                                   "offset 11: 03: big characters not modelled",
                                   "offset 13: 00: not a command of this module",
                                   "offset 15: 1F: not a command of this module",
                                   "offset 16: 10 C8: position outside the display",
                                   "offset 19: FE A8: address outside display memory, "
                                   "taken as the next line's start",
                                   "offset 22: FE 20: 4-bit interface not modelled, 8-bit bus kept",
                                   "offset 24: FE 34: 5x10 font not modelled, drawn as 5x8",
                                   "offset 26: FE: stream ended inside a command",
                               }));
}

TEST(Commands, TheReportKeepsTheLastEntriesAndCountsAll) {
    Module module = MakeModule(DefaultGeometry(), Profile::kCommand);
    FeedModule(module, std::string(1000, '\x1B'));
    EXPECT_EQ(module.unmodelled_total, 1000u);
    const std::vector<UnmodelledBytes> kept = RecentUnmodelled(module);
    ASSERT_EQ(kept.size(), 16u);
    EXPECT_EQ(kept.front().offset, 984u);
    EXPECT_EQ(kept.back().offset, 999u);
}

} // namespace
