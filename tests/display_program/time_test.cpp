// wendle-display with time on the line: what a module loses of a file (one
// burst at -b) and of a recording (its own times) in every output, the
// recording it writes, and the settings of each arrival on a pseudo-terminal
// whose writer puts its settings back.
#include "tests/support/pty_port.h"
#include "tests/support/translate_support.h"

namespace {

// At 9600 8N1 a frame is 10 / 9600 s = 1.042 ms: the clear ends at
// 1.042 ms and keeps the controller 1.52 ms, to 2.562 ms; 'H' ends at
// 2.083 ms, 1.042 ms into the clear, which a 0.5 ms pause after it (0.478
// rounded up to 0.1 ms) avoids. At 38400 a frame is 0.26 ms: 'H' ends at
// 0.521 ms, and Hello's last 'o' at 6 x 0.26 = 1.563 ms, before 0.26 + 1.52
// = 1.78 ms; 1.52 - 0.26 = 1.26 ms, rounded up to 1.3.
const std::string kHoldsAll = "at 9600 baud a module without a buffer loses 1 byte: offset 1 'H' "
                              "arrives 1.042 ms into a 1.52 ms clear; pause 0.5 ms after each "
                              "clear, or send with wendle-send --pace\n";

// Captured bytes, one burst at -b, and recordings, with their own times.
TEST(DisplayTime, WhatAModuleLoses) {
    const std::string hello = Translate("<CLS>Hello"), blank(16, ' ');
    const std::string hi = "Hi" + std::string(14, ' ') + "\n" + blank + "\ncursor 1 3\ntiming: at ";
    // clang-format off
    const struct {
        std::vector<std::string> args;
        std::string out, source = "";
    } cases[] = {
        {{"--buffer", "0", "--dump"}, "ello" + std::string(12, ' ') + "\n" + blank + "\ncursor 1 5\n"
             "lost: offset 1 'H' at 2.083 ms: controller busy with clear display until 2.562 ms\n"
             "timing: " + kHoldsAll},
        {{"--buffer", "0", "--dump", "-b", "38400"}, blank + "\n" + blank + "\ncursor 1 1\n"
             "lost: offset 1 'H' at 0.521 ms: controller busy with clear display until 1.78 ms\n"
             "lost: offset 2 'e' at 0.781 ms: controller busy with clear display until 1.78 ms\n"
             "lost: offset 3 'l' at 1.042 ms: controller busy with clear display until 1.78 ms\n"
             "lost: offset 4 'l' at 1.302 ms: controller busy with clear display until 1.78 ms\n"
             "lost: offset 5 'o' at 1.563 ms: controller busy with clear display until 1.78 ms\n" +
             "timing: at 38400 baud a module without a buffer loses 5 bytes: offset 1 'H' arrives "
             "0.26 ms into a 1.52 ms clear; pause 1.3 ms after each clear, or send with wendle-send --pace\n"},
        {{"--dump"}, "Hello" + std::string(11, ' ') + "\n" + blank + "\ncursor 1 6\ntiming: " + kHoldsAll},
        {{"--buffer", "0", "--plain"}, "0C 48 65 6C 6C 6F  <CLS>Hello\n"
             "lost: offset 1 'H' at 2.083 ms: controller busy with clear display until 2.562 ms\n"
             "timing: " + kHoldsAll},
        // A slow part: the clear takes 1.52 ms x 270 / 135 = 3.04 ms, to 4.082 ms.
        {{"--buffer", "0", "--osc", "135", "--dump"}, "llo" + std::string(13, ' ') + "\n" + blank +
             "\ncursor 1 4\n"
             "lost: offset 1 'H' at 2.083 ms: controller busy with clear display until 4.082 ms\n"
             "lost: offset 2 'e' at 3.125 ms: controller busy with clear display until 4.082 ms\n"
             "timing: at 9600 baud a module without a buffer loses 2 bytes: offset 1 'H' arrives "
             "1.042 ms into a 3.04 ms clear; pause 2 ms after each clear, or send with wendle-send --pace\n"},
        // 'H' read 2 ms in ends at 3.042 ms, after the clear (2.562 ms).
        {{"--buffer", "0", "--dump"}, hi + "9600 baud a module without a buffer loses nothing\n",
         "wendle-recording 1\r\n# a pause\n0 line 9600 8N1\n0 0C\n2000 48 69\n"},
        // At 2400 a frame (4.167 ms) outlasts the clear.
        {{"--buffer", "0", "--dump"}, hi + "2400 baud a module without a buffer loses nothing\n",
         "wendle-recording 1\n0 line 2400 8N1\n0 0C 48 69\n"},
    };
    // clang-format on
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back(TempFile("source", c.source.empty() ? hello : c.source));
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

// A file is one burst at time 0, recorded with the line it is timed at.
TEST(DisplayTime, ARecordingWritten) {
    const std::string made = TempFile("made.rec");
    RunTool(WENDLE_DISPLAY_TOOL, {"--record", made, "-"}, Translate("<CLS>Hi"));
    EXPECT_EQ(ReadFile(made), "wendle-recording 1\n0 line 9600 8N1\n0 0C 48 69\n");
}

// Whatever the writer's settings before and after, every arrival is timed
// with those it wrote at: wendle-send waits the bytes' wire time before it
// puts the pseudo-terminal's settings back. At 1200 baud that is 25 ms, time
// enough for a display on a loaded machine to wake.
TEST(DisplayTime, ThePseudoTerminalsSettingsOfEachArrival) {
    const std::string made = TempFile("sends.rec");
    RunningTool display(WENDLE_DISPLAY_TOOL, {"--pty", "--dump", "--record", made});
    ASSERT_TRUE(WaitUntil([&] { return display.OutputSoFar().find('\n') != std::string::npos; }));
    const std::string path = display.OutputSoFar().substr(0, display.OutputSoFar().find('\n'));
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(RunTool(WENDLE_SEND_TOOL, {"-p", path, "-b", "1200", "<CLS>nN"}).exit_code, 0);
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
