// The module's state drawn: the frame as a pure function of it, fitted to
// the terminal, live with its losses and in a real terminal; --png, decoded
// back with libpng, dot by dot: a dot map origin at 26,26; dot x of cell
// column c at 26 + (6c + x) * 5, dot row y of cell row r at 26 + (9r + y) * 5;
// dots 4 by 4.
#include "tests/support/pty_port.h"
#include "tests/support/translate_support.h"
#include "tools/display/display_frame.h"

#include <png.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <thread>

namespace {

struct Frame {
    std::string_view size, message, line = {};
    bool dots = false;
    unsigned columns = 0, rows = 0;
    bool colour = true;
    std::string_view source = "capture.bin";
};

// The message fed to the module in one arrival, read from `source`.
std::vector<std::string> Draw(const Frame& f) {
    Module module = MakeModule(*FindGeometry(f.size), Profile::kCommand);
    FeedModule(module, Translate(f.message));
    Arrivals arrivals;
    NoteArrival(arrivals, Translate(f.message));
    return FrameLines({module, arrivals, f.source, f.line, f.dots, f.columns, f.rows, f.colour});
}

// The colour codes, written out: background 149 lit and 59 dark, text 16;
// dots lit 234, unlit 107.
const std::string kLit = "\x1b[0;38;5;16;48;5;149m", kDark = "\x1b[0;38;5;16;48;5;59m";
const std::string kReset = "\x1b[0m";
constexpr char kStatus[] = "9600 8N1, no flow control, raw";

// Dark background, the underline on the cursor's cell alone, a bell, the
// writer's line and the report of the ESC.
TEST(Frame, AllItsLines) {
    EXPECT_EQ(
        Draw({"16x2", "<BL_OFF>ab<UL_CURSOR><BELL><27>", kStatus}),
        (std::vector<std::string>{
            "wendle-display 16x2 command · q or Ctrl+C ends · capture.bin", "╔════════════════╗",
            "║" + kDark + "ab\x1b[0;38;5;16;48;5;59;4m " + kDark + "             " + kReset + "║",
            "║" + kDark + "                " + kReset + "║", "╚════════════════╝",
            "6 bytes: 0F 61 62 05 07 1B", "decoded: <BL_OFF>ab<UL_CURSOR,BELL,27>",
            "9600 8N1, no flow control, raw · backlight off · cursor 1 3 underline · bell 1",
            "not modelled: 1, the last: offset 5: 1B: ESC sequence not modelled"}));
}

// One line of a frame (counted from the end when negative), for the states
// and terminal sizes that change it.
TEST(Frame, OneLine) {
    // 'A' in dots: .###. over #...#, each half block's upper dot its
    // foreground; then seven cells of unlit dots, each after a column of
    // background.
    std::string a_top = "║\x1b[0;38;5;107;48;5;234m▀\x1b[0;38;5;234;48;5;107m▀▀▀"
                        "\x1b[0;38;5;107;48;5;234m▀";
    for (int cell = 1; cell < 8; ++cell) {
        a_top += "\x1b[0;38;5;149;48;5;149m▀\x1b[0;38;5;107;48;5;107m▀▀▀▀▀";
    }
    const std::string needs = "--dots needs 97x16: text until the terminal is that big";
    // clang-format off
    const struct {
        Frame frame;
        int index;
        std::string expected;
    } cases[] = {
        // Blinking block: reverse video that blinks.
        {{"8x1", "x<BK_CURSOR>"}, 2, "║" + kLit + "x\x1b[0;38;5;16;48;5;149;5;7m " + kLit + "      " + kReset + "║"},
        {{"8x1", "x<BK_CURSOR>"}, -2, "backlight on · cursor 1 2 blinking"},
        // Display off: blank screen and no cursor drawn, though it is set.
        {{"8x1", "x<UL_CURSOR><254,10>"}, 2, "║" + kLit + "        " + kReset + "║"},
        {{"8x1", "x<UL_CURSOR><254,10>"}, -2, "backlight on · display off · cursor 1 2 underline"},
        // The cursor where no cell shows it.
        {{"16x2", "<254,64>"}, -2, "backlight on · cursor -"},
        // Fitted: cut lines end with "…", the title keeps the way out and the
        // source first; rows beyond the terminal's are left out.
        {{"16x2", "<CLS>Hello<27>", kStatus, false, 30}, 0, "q quits · capture.bin · 16x2 …"},
        {{"16x2", "<CLS>Hello<27>", kStatus, false, 30}, -2, "9600 8N1, no flow control, ra…"},
        {{"40x2", "<CLS>Hello<27>", kStatus, false, 20, 3}, -1, "║" + kLit + "Hello             " + kReset + "…"},
        // 16x2 in dots needs 97 columns and 16 rows; text until then.
        {{"16x2", "A", "", true, 96}, 1, needs},
        {{"16x2", "A", "", true, 97, 15}, 1, needs},
        {{"16x2", "A", "", true, 97, 16}, 1, "╔═══════════════════════════════════════════════════════"
         "════════════════════════════════════════╗"},
        {{"8x1", "A", "", true}, 2, a_top + kReset + "║"},
        // NO_COLOR: the cursor's attributes stay, the colours go; dots are ink.
        {{"8x1", "ab<UL_CURSOR>", "", false, 0, 0, false}, 2, "║\x1b[0mab\x1b[0;4m \x1b[0m     " + kReset + "║"},
        {{"8x1", "A", "", true, 0, 0, false}, 2, "║▄▀▀▀▄" + std::string(42, ' ') + kReset + "║"},
        // A path cannot steer the terminal; a title as wide as it stays whole.
        {{"16x2", "", "", false, 0, 0, true, "a\x1b[2J\nb"}, 0, "wendle-display 16x2 command · q or Ctrl+C ends · a?[2J?b"},
        {{"16x2", "", "", false, 50, 0, true, "a"}, 0, "wendle-display 16x2 command · q or Ctrl+C ends · a"},
    };
    // clang-format on
    for (const auto& c : cases) {
        const std::vector<std::string> lines = Draw(c.frame);
        const int at = c.index < 0 ? static_cast<int>(lines.size()) + c.index : c.index;
        EXPECT_EQ(lines.at(at), c.expected) << c.frame.message << " at " << c.frame.columns;
    }
}

// A port shown live: the frame's status counts what was lost, a line says
// the last, and the last line what a module without a buffer would lose;
// keys come from the terminal: q ends it.
TEST(Frame, ThePortShownLive) {
    PtyPort device, terminal(true);
    RunningTool display(WENDLE_DISPLAY_TOOL, {"--buffer", "0", device.path()}, "", {},
                        terminal.path());
    ASSERT_TRUE(terminal.ReadUntil(
        [&] { return terminal.arrived.find("nothing received yet") != std::string::npos; }));
    ASSERT_EQ(write(device.pty.master.get(), "\x0cHello", 6), 6);
    EXPECT_TRUE(terminal.ReadUntil([&] {
        return Count(terminal.arrived, " · lost 1") != 0 &&
               Count(terminal.arrived, "lost: 1, the last: offset 1 'H' at 2.083 ms") != 0 &&
               Count(terminal.arrived, "at 9600 baud a module without a buffer loses 1 byte") != 0;
    })) << terminal.arrived;
    ASSERT_EQ(write(terminal.pty.master.get(), "q", 1), 1);
    EXPECT_TRUE(WaitUntil([&] { return display.Ended(); }));
    EXPECT_EQ(display.Finish().exit_code, 0);
}

// The live frame in a real terminal (tmux), linked where an old link was: at
// 30 columns the title cut to the width keeps the way out, --dots gives way
// to text, typed keys never reach the shell, Ctrl+Z and fg leave and take
// back the screen; widened to 120, the dots in colour (an empty NO_COLOR is
// none); q leaves the last frame and no link.
TEST(DisplayProgram, InATerminal) {
    if (access("/usr/bin/tmux", X_OK) != 0) {
        GTEST_SKIP() << "needs tmux";
    }
    const std::string server = TempFile("tmux"), link = TempFile("tty");
    std::remove(link.c_str());
    ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
    const auto tmux = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"-S", server, "-f", "/dev/null"});
        return RunTool("/usr/bin/tmux", args).out;
    };
    const auto wait_for = [&](const std::string& wanted, const std::string& gone = "\x01") {
        std::string screen;
        const auto shown = [&] {
            screen = tmux({"capture-pane", "-p", "-J"});
            return screen.find(wanted) != std::string::npos &&
                   screen.find(gone) == std::string::npos;
        };
        EXPECT_TRUE(WaitUntil(shown)) << "no " << wanted << " in\n" << screen;
        return screen;
    };
    // The tool's path is in $TOOL: typed out, a path that happened to fill
    // the line would be wrapped, and -J would join the next line on.
    tmux({"new-session", "-d", "-x", "30", "-y", "24", "env", "PS1=$ ",
          std::string("TOOL=") + WENDLE_DISPLAY_TOOL, "bash", "--norc", "--noprofile"});
    tmux({"send-keys", "NO_COLOR= \"$TOOL\" --dots --pty --link " + link, "Enter"});
    wait_for("nothing received yet"); // no ASSERT: the server must be ended below
    EXPECT_EQ(RunTool(WENDLE_SEND_TOOL, {"-p", link, "<CLS>Hello <250>wide"}).exit_code, 0);
    wait_for("║Hello □wide     ║");
    tmux({"send-keys", "xyz"});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string narrow = tmux({"capture-pane", "-p", "-J"});
    EXPECT_TRUE(narrow.starts_with("q quits · /dev/pts/")) << narrow;
    EXPECT_NE(narrow.find("--dots needs 97x18"), std::string::npos) << narrow;
    tmux({"send-keys", "C-z"});
    wait_for("Stopped", "║");
    tmux({"send-keys", "fg", "Enter"});
    wait_for("║Hello □wide     ║");
    tmux({"resize-window", "-x", "120"});
    const std::string title = "wendle-display 16x2 command · q or Ctrl+C ends · /dev/pts/";
    EXPECT_TRUE(wait_for("║▀▀").starts_with(title));
    EXPECT_NE(tmux({"capture-pane", "-p", "-e"}).find("38;5;"), std::string::npos);
    tmux({"send-keys", "q"});
    EXPECT_NE(wait_for("\n$ \n", "xyz").find(title), std::string::npos);
    EXPECT_FALSE(std::filesystem::is_symlink(link)) << "the link is left behind";
    tmux({"kill-server"});
}

using Colour = std::array<unsigned char, 3>;
constexpr Colour kBezel{0x20, 0x20, 0x20};
constexpr Colour kBackground{0xA8, 0xC8, 0x3C}, kOff{0x9A, 0xB8, 0x36}, kOn{0x1E, 0x28, 0x14};

TEST(Picture, GlyphsDotByDot) {
    const struct {
        std::string message;
        unsigned row, column;
        std::array<unsigned char, 8> dots;
        std::string buffer = "80";
    } cases[] = {
        {"<KTA_LINE2>ab<UL_CURSOR>", 1, 2, {0, 0, 0, 0, 0, 0, 0, 0x1F}},
        // Display off: no cursor either, though it is on.
        {"x<UL_CURSOR><254,10>", 0, 1, {0, 0, 0, 0, 0, 0, 0, 0}},
        // The screen of a module that lost 'H' to the clear: the 'e' in its place.
        {"<CLS>He<254,12>", 0, 0, {0, 0, 0x0E, 0x11, 0x1F, 0x10, 0x0E, 0}, "0"},
    };
    const std::string png = TempFile("glyph.png");
    for (const auto& c : cases) {
        const ToolRun run = RunTool(WENDLE_DISPLAY_TOOL, {"--buffer", c.buffer, "--png", png, "-"},
                                    Translate(c.message));
        ASSERT_EQ(run.exit_code, 0) << run.err;
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_NE(png_image_begin_read_from_file(&image, png.c_str()), 0);
        image.format = PNG_FORMAT_RGB;
        std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
        ASSERT_NE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr), 0);
        ASSERT_EQ(std::pair(image.width, image.height), std::pair(526u, 136u));
        const auto at = [&](unsigned x, unsigned y) {
            const unsigned char* p = &rgb[(y * image.width + x) * 3];
            return Colour{p[0], p[1], p[2]};
        };
        EXPECT_EQ(at(0, 0), kBezel);
        EXPECT_EQ(at(image.width - 5, image.height / 2), kBezel);
        EXPECT_EQ(at(12, 12), kBackground);
        for (unsigned y = 0; y < 8; ++y) {
            for (unsigned x = 0; x < 5; ++x) {
                const unsigned left = 26 + (6 * c.column + x) * 5;
                const unsigned top = 26 + (9 * c.row + y) * 5;
                const Colour dot = (c.dots[y] >> (4 - x) & 1) != 0 ? kOn : kOff;
                EXPECT_EQ(at(left, top), dot) << c.message << " dot " << x << "," << y;
                EXPECT_EQ(at(left + 3, top + 3), dot) << c.message;
                EXPECT_EQ(at(left + 4, top + 4), kBackground) << c.message;
            }
        }
    }
}

} // namespace
