// wendle-display with time on the line: what a module loses of a file (one
// burst at -b) and of a recording (its own times) in every output, and the
// recording it writes of a pseudo-terminal whose writer puts its settings
// back, each arrival with its own settings.
#include "tests/support/pty_port.h"
#include "tests/support/translate_support.h"

namespace {

// At 9600 8N1 a frame is 10 / 9600 s = 1.042 ms: the clear ends at
// 1.042 ms and keeps the controller 1.52 ms, to 2.562 ms; 'H' ends at
// 2.083 ms, 1.042 ms into the clear, which a 0.5 ms pause after it (0.478
// rounded up to 0.1 ms) avoids.
const std::string kHoldsAll = "at 9600 baud a module without a buffer loses 1 byte: offset 1 'H' "
                              "arrives 1.042 ms into a 1.52 ms clear; pause 0.5 ms after each "
                              "clear, or send with wendle-send --pace\n";

// Captured bytes, one burst at -b, and a recording, with its own times and
// line: at 2400 a frame (4.167 ms) outlasts the clear.
TEST(DisplayTime, WhatAModuleLoses) {
    const std::string blank(16, ' '), ends = "\n" + blank + "\ncursor 1 ";
    const std::string hello = "Hello" + std::string(11, ' ') + ends + "6\ntiming: ";
    const std::string nothing = " baud a module without a buffer loses nothing\n";
    // clang-format off
    const struct {
        std::vector<std::string> args;
        std::string out, source = Translate("<CLS>Hello");
    } cases[] = {
        {{"--dump"}, hello + kHoldsAll},
        {{"--buffer", "0", "--dump", "-b", "2400"}, hello + "at 2400" + nothing},
        {{"--buffer", "0", "--plain"}, "0C 48 65 6C 6C 6F  <CLS>Hello\n"
             "lost: offset 1 'H' at 2.083 ms: controller busy with clear display until 2.562 ms\n"
             "timing: " + kHoldsAll},
        // A slow part: the clear takes 1.52 ms x 270 / 135 = 3.04 ms, to 4.082 ms.
        {{"--buffer", "0", "--osc", "135", "--dump"}, "llo" + std::string(13, ' ') + ends + "4\n"
             "lost: offset 1 'H' at 2.083 ms: controller busy with clear display until 4.082 ms\n"
             "lost: offset 2 'e' at 3.125 ms: controller busy with clear display until 4.082 ms\n"
             "timing: at 9600 baud a module without a buffer loses 2 bytes: offset 1 'H' "
             "arrives 1.042 ms into a 3.04 ms clear; pause 2 ms after each clear, or send with "
             "wendle-send --pace\n"},
        {{"--buffer", "0", "--dump"}, "Hi" + std::string(14, ' ') + ends + "3\ntiming: at 2400" +
             nothing, "wendle-recording 1\r\n0 line 2400 8N1\n0 0C 48 69\n"},
    };
    // clang-format on
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back(TempFile("source", c.source));
        EXPECT_EQ(RunTool(WENDLE_DISPLAY_TOOL, args).out, c.out) << args[2] << c.source;
    }
}

// The live frame's status counts what was lost, a line says the last, and
// the last line what a module without a buffer would lose.
TEST(DisplayTime, TheLiveStatus) {
    PtyPort terminal(true);
    RunningTool display(WENDLE_DISPLAY_TOOL,
                        {"--buffer", "0", TempFile("live.bin", Translate("<CLS>Hello"))}, "", {},
                        terminal.path());
    EXPECT_TRUE(terminal.ReadUntil([&] {
        return Count(terminal.arrived, " · lost 1") != 0 &&
               Count(terminal.arrived, "lost: 1, the last: offset 1 'H' at 2.083 ms") != 0 &&
               Count(terminal.arrived, kHoldsAll.substr(0, kHoldsAll.size() - 1)) != 0;
    })) << terminal.arrived;
    EXPECT_EQ(display.Finish().exit_code, 0);
}

// Whatever the writer's settings before and after, every arrival is timed
// with those it wrote at: wendle-send waits the bytes' wire time before it
// puts the pseudo-terminal's settings back. At 1200 baud eleven bytes take
// 92 ms, time enough for a display on a loaded machine to wake (with three,
// 25 ms, a busy machine's display sometimes read the settings put back).
TEST(DisplayTime, ThePseudoTerminalsSettingsOfEachArrival) {
    const std::string made = TempFile("sends.rec");
    RunningTool display(WENDLE_DISPLAY_TOOL, {"--pty", "--dump", "--record", made});
    ASSERT_TRUE(WaitUntil([&] { return display.OutputSoFar().find('\n') != std::string::npos; }));
    const std::string path = display.OutputSoFar().substr(0, display.OutputSoFar().find('\n'));
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(
            RunTool(WENDLE_SEND_TOOL, {"-p", path, "-b", "1200", "<CLS>nnnnnnnnnN"}).exit_code, 0);
    }
    std::string recorded;
    // A late reader takes several sends in one read.
    ASSERT_TRUE(WaitUntil([&] { return Count(recorded = ReadFile(made), " 4E") == 20; }))
        << recorded;
    display.Signal(SIGTERM);
    EXPECT_EQ(display.Finish().exit_code, 0);
    EXPECT_EQ(Count(recorded, " line "), Count(recorded, " line 1200 8N1")) << recorded;
}

} // namespace
