// The controller's instructions, entry modes, display shift, line modes and
// the address counter's path through display memory on every glass.
#include "tests/display/screen_cases.h"

namespace {

TEST(Controller, Instructions) {
    constexpr ScreenCase kCases[] = {
        {"Hello<254,1>X", {"X"}, "1 2"},
        {"Hello<KTA_CLS>X", {"X"}, "1 2"},
        {"Hello<KTA_HOME>J", {"Jello"}, "1 2"},
        {"AB<254,0>C", {"ABC"}, "1 4"},
        {"AB<KTA_MOVE_LEFT>C", {"AC"}, "1 3"},
        {"A<KTA_MOVE_RIGHT>B", {"A B"}, "1 4"},
        // Moving left from 0x00 reaches 0x67, the end of line two.
        {"<KTA_MOVE_LEFT>X<KTA_SCROLL_RIGHT>", {"", "X"}, "1 2"},
        {"ABC<KTA_SCROLL_LEFT>", {"BC"}, "1 3"},
        {"ABC<KTA_SCROLL_RIGHT>", {" ABC"}, "1 5"},
        // Each line turns within its own 40 cells: 0x27 comes round to the
        // left of line one, 0x67 (not 0x27) to the left of line two.
        {"<254,167>Z<KTA_LINE2>w<KTA_SCROLL_RIGHT>", {"Z", " w"}, "2 3"},
        {"Hi<KTA_BLANK>", {"", ""}, "1 3"},
        {"Hi<KTA_BLANK>!<KTA_NO_CURSOR>", {"Hi!"}, "1 4"},
        {"<KTA_LINE2>two<KTA_LINE1>one", {"one", "two"}, "1 4"},
        // 0x28 is no memory in two-line mode: the next line's start.
        {"<254,168>X", {"", "X"}, "2 2"},
        {"<254,232>X", {"X"}, "1 2"}, // 0x68: past line two, line one
        // One-line mode: line two's row goes dark; back in two-line mode
        // its text shows again.
        {"one<KTA_LINE2>two<254,48>", {"one", ""}, "-"},
        {"one<KTA_LINE2>two<254,48><254,56>", {"one", "two"}, "2 4"},
    };
    ExpectScreens("16x2", kCases);
}

TEST(Controller, EntryModesAndDisplayShift) {
    constexpr ScreenCase kCases[] = {
        // Decrement without shift.
        {"<254,135><254,4>ABC", {"     CBA"}, "1 5"},
        // Increment with shift: the text moves left under a still cursor,
        // both lines at once.
        {"<KTA_LINE2>xy<KTA_LINE1>ABCDEFGHIJKLMNOP<254,7>QR", {"CDEFGHIJKLMNOPQR", ""}, "-"},
        // Decrement with shift: the text moves right.
        {"<254,5>AB", {"  A", " B"}, "2 1"},
        // Decrementing runs from line two's start to line one's end.
        {"<KTA_LINE2><254,4>AB<KTA_SCROLL_RIGHT>", {"B", " A"}, "-"},
        // Clear sets increment and undoes the shift but keeps shift-on-write.
        {"<254,5><254,1>AB", {"", ""}, "1 1"},
        {"ABC<KTA_SCROLL_LEFT><KTA_SCROLL_LEFT><254,1>XY", {"XY"}, "1 3"},
        {"<254,4><254,1>XY", {"XY"}, "1 3"},
        // Home undoes the shift and keeps the text.
        {"ABC<KTA_SCROLL_LEFT><KTA_HOME>", {"ABC"}, "1 1"},
        // Moving the cursor does not shift the display, even with S set.
        {"<254,7><KTA_MOVE_RIGHT>A", {"A"}, "1 2"},
    };
    ExpectScreens("16x2", kCases);
}

// Writing past the end of a row goes where the address counter goes.
TEST(Controller, LineEndContinuesWhereTheCounterGoes) {
    constexpr std::string_view k40 = "0123456789abcdefghijABCDEFGHIJklmnopqrst";
    struct GlassCase {
        std::string_view geometry;
        ScreenCase screen;
    };
    const std::string forty_one = std::string(k40) + "Y";
    const std::string eighty_one = std::string(k40) + std::string(k40) + "!";
    const GlassCase kCases[] = {
        {"16x2", {forty_one, {"0123456789abcdef", "Y"}, "2 2"}},
        {"40x2", {forty_one, {k40, "Y"}, "2 2"}},
        // Four rows: line one is rows 1 and 3, line two rows 2 and 4.
        {"20x4", {forty_one, {"0123456789abcdefghij", "Y", "ABCDEFGHIJklmnopqrst"}, "2 2"}},
        {"20x4",
         {eighty_one,
          {"!123456789abcdefghij", "0123456789abcdefghij", "ABCDEFGHIJklmnopqrst",
           "ABCDEFGHIJklmnopqrst"},
          "1 2"}},
        // 16x4: row 3 starts at 0x10; 0x20-0x27 are on no row.
        {"16x4", {forty_one, {"0123456789abcdef", "Y", "ghijABCDEFGHIJkl"}, "2 2"}},
        // Wendle's line 3 and 4 names are 20x4 addresses: 0x14 is column 5 here.
        {"16x4", {"<KTA_LINE3>x<254,208>y", {"", "", "    x", "y"}, "4 2"}},
        {"20x4", {"<KTA_LINE3>x<KTA_LINE4>y", {"", "", "x", "y"}, "4 2"}},
        // One-line glasses: an 80-cell line.
        {"8x1", {"ABCDEFGHI", {"ABCDEFGH"}, "-"}},
        {"8x1", {eighty_one, {"!1234567"}, "1 2"}},
        {"16x1", {"ABCDEFGHIJKLMNOPQ", {"ABCDEFGHIJKLMNOP"}, "-"}},
        {"16x1", {"<KTA_LINE2>x", {""}, "-"}}, // 0x40 is cell 64 of the line
        // One-line mode on a four-row glass drives rows 1 and 3 only.
        {"20x4",
         {"<254,48>ABCDEFGHIJKLMNOPQRSTUVWXY", {"ABCDEFGHIJKLMNOPQRST", "", "UVWXY"}, "3 6"}},
    };
    for (const GlassCase& c : kCases) {
        ExpectScreens(c.geometry, std::span(&c.screen, 1));
    }
}

TEST(Controller, CgramDefinitionsAndTheirEnd) {
    constexpr ScreenCase kPrefixOnly[] = {
        {"<254,64><14,17,17,17,31,17,17,0><KTA_LINE1><0,8,1>", {"①①②"}, "1 4"},
        // Data goes to CGRAM until a DDRAM address is set (home and clear
        // set one too); the cursor is nowhere meanwhile.
        {"<254,64>AB<KTA_LINE1>CD", {"CD"}, "1 3"},
        {"<254,72>AB<KTA_HOME>CD", {"CD"}, "1 3"},
        {"Hi<254,64>AB<254,1>CD", {"CD"}, "1 3"},
        {"Hi<254,64><12>", {"Hi"}, "-"},
        // Writes to CGRAM never shift the display, even with S set.
        {"<254,7><254,64>AB<KTA_LINE1><254,6>XY", {"XY"}, "1 3"},
        // Moving the cursor while CGRAM is selected stays in CGRAM.
        {"<254,64><KTA_MOVE_RIGHT>A<KTA_LINE1>B", {"B"}, "1 2"},
    };
    ExpectScreens("16x2", kPrefixOnly, Profile::kPrefixOnly);
    // On a command module the same 12 clears the screen instead.
    constexpr ScreenCase kCommand[] = {{"Hi<254,64><12>", {"", ""}, "1 1"}};
    ExpectScreens("16x2", kCommand);
}

TEST(Controller, DisplayControlAndFunctionSetFlags) {
    struct FlagCase {
        std::string_view message;
        bool display, cursor, blink, two_line, font_5x10;
    };
    constexpr FlagCase kCases[] = {
        {"", true, false, false, true, false},
        {"<KTA_UL_CURSOR>", true, true, false, true, false},
        {"<KTA_BLOCK_CURSOR>", true, false, true, true, false},
        {"<254,15>", true, true, true, true, false},
        {"<KTA_BLANK>", false, false, false, true, false},
        {"<254,52>", true, false, false, false, true},
        {"<254,60>", true, false, false, true, true},
        // The module's own cursor commands keep the display as it is.
        {"<KTA_BLANK><5>", false, true, false, true, false},
        {"<KTA_UL_CURSOR><6>", true, false, true, true, false},
        {"<254,15><4>", true, false, false, true, false},
    };
    for (const FlagCase& c : kCases) {
        const Controller& ctl = RunMessage("16x2", c.message).controller;
        EXPECT_EQ(ctl.display_on, c.display) << c.message;
        EXPECT_EQ(ctl.cursor_on, c.cursor) << c.message;
        EXPECT_EQ(ctl.blink_on, c.blink) << c.message;
        EXPECT_EQ(ctl.two_line, c.two_line) << c.message;
        EXPECT_EQ(ctl.font_5x10, c.font_5x10) << c.message;
    }
}

} // namespace
