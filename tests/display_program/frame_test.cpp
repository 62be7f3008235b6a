// The terminal frame as a pure function of the module's state: the glass in
// its bezel with the backlight's colours and the cursor, the bytes, the
// status and what was not modelled; the plain line per arrival.
#include "tests/translator/test_support.h"
#include "tools/display_frame.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> Draw(std::string_view size, std::string_view message,
                              std::string_view line = {}, bool dots = false, unsigned columns = 0,
                              unsigned rows = 0, bool colour = true) {
    Module module = MakeModule(*FindGeometry(size), Profile::kCommand);
    FeedModule(module, Translate(message));
    Arrivals arrivals;
    NoteArrival(arrivals, Translate(message));
    return FrameLines({module, arrivals, "capture.bin", line, dots, columns, rows, colour});
}

// The colour codes, written out: glass 149 lit and 59 dark, text 16.
constexpr char kLit[] = "\x1b[0;38;5;16;48;5;149m";
constexpr char kDark[] = "\x1b[0;38;5;16;48;5;59m";
constexpr char kReset[] = "\x1b[0m";

TEST(Frame, TextModeLines) {
    const struct {
        std::string_view size, message, line;
        std::vector<std::string> expected;
    } cases[] = {
        {"16x2",
         "<CLS>Hello<KTA_LINE2>world",
         "",
         {"wendle-display 16x2 command · q or Ctrl+C ends · capture.bin", "╔════════════════╗",
          "║" + std::string(kLit) + "Hello           " + kReset + "║",
          "║" + std::string(kLit) + "world           " + kReset + "║", "╚════════════════╝",
          "13 bytes: 0C 48 65 6C 6C 6F FE C0 77 6F 72 6C 64", "decoded: <CLS>Hello<KTA_LINE2>world",
          "backlight on · cursor 2 6 hidden", "not modelled: none"}},
        // Dark glass, the underline on the cursor's cell alone, a bell, the
        // writer's line and the report of the ESC.
        {"16x2",
         "<BL_OFF>ab<UL_CURSOR><BELL><27>",
         "9600 8N1, no flow control, raw",
         {"wendle-display 16x2 command · q or Ctrl+C ends · capture.bin", "╔════════════════╗",
          "║" + std::string(kDark) + "ab\x1b[0;38;5;16;48;5;59;4m " + kDark + "             " +
              kReset + "║",
          "║" + std::string(kDark) + "                " + kReset + "║", "╚════════════════╝",
          "6 bytes: 0F 61 62 05 07 1B", "decoded: <BL_OFF>ab<UL_CURSOR,BELL,27>",
          "9600 8N1, no flow control, raw · backlight off · cursor 1 3 underline · bell 1",
          "not modelled: 1, the last: offset 5: 1B: ESC sequence not modelled"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Draw(c.size, c.message, c.line), c.expected) << c.message;
    }
}

// One line of the glass, and the status line, for states that change them.
TEST(Frame, GlassRowAndStatus) {
    const struct {
        std::string_view size, message;
        std::size_t row_line;
        std::string row, status;
    } cases[] = {
        // Blinking block: reverse video that blinks.
        {"8x1", "x<BK_CURSOR>", 2,
         "║" + std::string(kLit) + "x\x1b[0;38;5;16;48;5;149;5;7m " + kLit + "      " + kReset +
             "║",
         "backlight on · cursor 1 2 blinking"},
        // Display off: blank glass and no cursor drawn, though it is set.
        {"8x1", "x<UL_CURSOR><254,10>", 2, "║" + std::string(kLit) + "        " + kReset + "║",
         "backlight on · display off · cursor 1 2 underline"},
        // Every cell one column: the double-width ones have a stand-in.
        {"16x2", "<250>a<251,252,233>", 2,
         "║" + std::string(kLit) + "□a□□□" + std::string(11, ' ') + kReset + "║",
         "backlight on · cursor 1 6 hidden"},
        {"16x2", "<250>", 1, "╔════════════════╗", "backlight on · cursor 1 2 hidden"},
        // The cursor where no cell shows it.
        {"16x2", "<254,64>", 2, "║" + std::string(kLit) + std::string(16, ' ') + kReset + "║",
         "backlight on · cursor -"},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> lines = Draw(c.size, c.message);
        EXPECT_EQ(lines[c.row_line], c.row) << c.message;
        EXPECT_EQ(lines[lines.size() - 2], c.status) << c.message;
    }
}

// The window of the last 16 bytes runs across arrivals.
TEST(Frame, TheLastSixteenBytes) {
    const Module module = MakeModule(*FindGeometry("20x2"), Profile::kPrefixOnly);
    Arrivals arrivals;
    for (std::string_view chunk : {"0123456789ABCDEFGHIJ", "\x0c", "\xfe\xc0", "xyz"}) {
        NoteArrival(arrivals, chunk);
    }
    const std::vector<std::string> lines = FrameLines({module, arrivals, "-", "", false});
    EXPECT_EQ(lines[5], "26 bytes, the last 16: 41 42 43 44 45 46 47 48 49 4A 0C FE C0 78 79 7A");
    EXPECT_EQ(lines[6], "decoded: ABCDEFGHIJ<CLS,KTA_LINE2>xyz");
}

// Dots mode: two rows of dots a line, the upper as the half block's
// foreground; dots lit 234, unlit 107, glass 149.
TEST(Frame, DotsModeLines) {
    const auto dots = [](std::string_view colours, int count) {
        std::string text(colours);
        for (int i = 0; i < count; ++i) {
            text += "▀";
        }
        return text;
    };
    const std::string blank_cell = dots("\x1b[0;38;5;107;48;5;107m", 5);
    const std::string gap = dots("\x1b[0;38;5;149;48;5;149m", 1);
    std::string blank_cells;
    for (int i = 0; i < 7; ++i) {
        blank_cells += gap + blank_cell;
    }
    // 'A': .###. over #...#, then #...# over the blank cursor row.
    const std::string top = dots("\x1b[0;38;5;107;48;5;234m", 1) +
                            dots("\x1b[0;38;5;234;48;5;107m", 3) +
                            dots("\x1b[0;38;5;107;48;5;234m", 1);
    const std::string bottom = dots("\x1b[0;38;5;234;48;5;107m", 1) +
                               dots("\x1b[0;38;5;107;48;5;107m", 3) +
                               dots("\x1b[0;38;5;234;48;5;107m", 1);
    const std::vector<std::string> lines = Draw("8x1", "A", "", true);
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[1], "╔═══════════════════════════════════════════════╗"); // 47
    EXPECT_EQ(lines[2], "║" + top + blank_cells + kReset + "║");
    EXPECT_EQ(lines[5], "║" + bottom + blank_cells + kReset + "║");
}

// Every line fits the terminal, cut lines end with "…", and the title keeps
// the way out and the source; dots that do not fit fall back to text.
TEST(Frame, FitsTheTerminal) {
    const std::string message = "<CLS>Hello<27>";
    const std::string status = "9600 8N1, no flow control, raw";
    const struct {
        std::string_view size;
        bool dots;
        unsigned columns, rows;
        std::vector<std::string> first; // the first lines
        std::size_t count;
    } cases[] = {
        {"16x2",
         false,
         30,
         0,
         {"q quits · capture.bin · 16x2 …", "╔════════════════╗",
          "║" + std::string(kLit) + "Hello           " + kReset + "║"},
         9},
        {"40x2",
         false,
         20,
         3,
         {"q quits · capture.b…", "╔══════════════════…",
          "║" + std::string(kLit) + "Hello             " + kReset + "…"},
         3},
        // 16x2 in dots: 97 columns and 16 rows.
        {"16x2",
         true,
         96,
         0,
         {"wendle-display 16x2 command · q or Ctrl+C ends · capture.bin",
          "--dots needs 97x16: text until the terminal is that big", "╔════════════════╗"},
         10},
        {"16x2",
         true,
         97,
         15,
         {"wendle-display 16x2 command · q or Ctrl+C ends · capture.bin",
          "--dots needs 97x16: text until the terminal is that big"},
         10},
        {"16x2",
         true,
         97,
         16,
         {"wendle-display 16x2 command · q or Ctrl+C ends · capture.bin",
          "╔═══════════════════════════════════════════════════════════════════════════════════════"
          "════════╗"},
         16},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> lines =
            Draw(c.size, message, status, c.dots, c.columns, c.rows);
        ASSERT_EQ(lines.size(), c.count) << c.columns;
        EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + c.first.size()), c.first);
        if (c.count == 9) {
            EXPECT_EQ(lines[7], "9600 8N1, no flow control, ra…");
            EXPECT_EQ(lines[8], "not modelled: 1, the last: of…");
        }
    }
}

// NO_COLOR: the cursor's attributes stay, the colours go; dots are ink.
TEST(Frame, WithoutColour) {
    const std::vector<std::string> text = Draw("8x1", "ab<UL_CURSOR>", "", false, 0, 0, false);
    EXPECT_EQ(text[2], "║\x1b[0mab\x1b[0;4m \x1b[0m     " + std::string(kReset) + "║");
    const std::vector<std::string> dots = Draw("8x1", "A", "", true, 0, 0, false);
    // 'A': .###. over #...#, then #...# over the blank cursor row.
    EXPECT_TRUE(dots[2].starts_with("║▄▀▀▀▄  ")) << dots[2];
    EXPECT_TRUE(dots[5].starts_with("║▀   ▀  ")) << dots[5];
}

TEST(Frame, PlainLinesAndTitles) {
    EXPECT_EQ(ArrivalLine("\x0cHi\xfe\xc0"), "0C 48 69 FE C0  <CLS>Hi<KTA_LINE2>\n");
    const Module module = MakeModule(DefaultGeometry(), Profile::kPrefixOnly);
    const Arrivals arrivals;
    // A path cannot steer the terminal.
    EXPECT_EQ(FrameLines({module, arrivals, "a\x1b[2J\nb", "", false})[0],
              "wendle-display 16x2 prefix-only · q or Ctrl+C ends · a?[2J?b");
}

} // namespace
