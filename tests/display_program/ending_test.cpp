// How wendle-display ends, on real pseudo-terminals and pipes.
#include "tests/support/pty_port.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

namespace {

using std::chrono::milliseconds;

// A port as SOURCE, read to a file: a line per arrival, then what was not
// modelled; a device that goes away is an error, not the end of a file.
TEST(DisplayProgram, APortThatHangsUp) {
    PtyPort device;
    RunningTool display(WENDLE_DISPLAY_TOOL, {"-b", "38400", device.path()});
    ASSERT_EQ(write(device.pty.master.get(), "\n\x0cHi\x1b", 5), 5);
    WaitUntil([&] { return !display.OutputSoFar().empty(); });
    device.pty.master = UniqueFd();
    const ToolRun run = display.Finish();
    EXPECT_EQ(run.out,
              "0A 0C 48 69 1B  <LINEFEED,CLS>Hi<27>\n"
              "not modelled: offset 4: 1B: ESC sequence not modelled\n"
              "timing: at 38400 baud a module without a buffer loses 2 bytes: offset 2 'H' "
              "arrives 0.26 ms into a 1.52 ms clear; pause 1.3 ms after each clear, or "
              "send with wendle-send --pace\n");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.err, "wendle-display: " + device.path() +
                           ": the line was hung up: was the device unplugged?\n");
}

// Each arrival is recorded with the settings it was written at: wendle-send
// waits the bytes' wire time before it puts the pseudo-terminal's back (at
// 1200 baud eleven bytes take 92 ms, time enough for a loaded machine's
// display to wake). --pty ends the orderly way on every ending signal and at
// --idle-exit, its link removed, unless a second display took the link over.
// --idle-exit waits for the first byte, then counts from the last; with --png
// and a pipe on standard output, the path is all that goes there. A signal
// that comes while it starts (the terminal full, the path waiting) is held back.
TEST(DisplayProgram, SettingsEndingsAndASharedLink) {
    const std::string link = TempFile("shared_link"), png = TempFile("idle.png");
    const std::string made = TempFile("sends.rec");
    std::remove(link.c_str());
    const auto leads_to = [&] {
        char target[256] = {};
        return std::string(target, std::max<ssize_t>(0, readlink(link.c_str(), target, 255)));
    };
    RunningTool first(WENDLE_DISPLAY_TOOL, {"--pty", "--dump", "--record", made, "--link", link});
    ASSERT_TRUE(WaitUntil([&] { return !leads_to().empty(); }));
    const std::string first_path = leads_to();
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(
            RunTool(WENDLE_SEND_TOOL, {"-p", link, "-b", "1200", "<CLS>nnnnnnnnnN"}).exit_code, 0);
    }
    std::string recorded; // a late reader takes several sends in one read
    ASSERT_TRUE(WaitUntil([&] { return Count(recorded = ReadFile(made), " 4E") == 20; }))
        << recorded;
    EXPECT_EQ(Count(recorded, " line "), Count(recorded, " line 1200 8N1")) << recorded;
    RunningTool second("/bin/bash", {"-c",
                                     "set -o pipefail; \"$0\" --pty --link \"$1\" --png "
                                     "\"$2\" --idle-exit 1.5 | wc -c",
                                     WENDLE_DISPLAY_TOOL, link, png});
    ASSERT_TRUE(WaitUntil([&] { return !leads_to().empty() && leads_to() != first_path; }));
    const std::string path = leads_to();
    first.Signal(SIGHUP);
    EXPECT_EQ(first.Finish().exit_code, 0);
    EXPECT_EQ(leads_to(), path);
    std::this_thread::sleep_for(milliseconds(2000));
    EXPECT_FALSE(second.Ended()) << "ended before the first byte";
    const UniqueFd writer(open(path.c_str(), O_WRONLY | O_NOCTTY));
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(write(writer.get(), "x", 1), 1);
        std::this_thread::sleep_for(milliseconds(100));
    }
    EXPECT_FALSE(second.Ended()) << "ended while bytes came";
    const ToolRun run = second.Finish();
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, std::to_string(path.size() + 1) + "\n");
    EXPECT_EQ(ReadFile(png).substr(0, 4), "\x89PNG");
    EXPECT_EQ(leads_to(), "");

    PtyPort terminal(true);
    ASSERT_EQ(fcntl(terminal.pty.slave.get(), F_SETFL, O_NONBLOCK), 0);
    while (write(terminal.pty.slave.get(), std::string(4096, 'x').data(), 4096) > 0) {
    }
    RunningTool third(WENDLE_DISPLAY_TOOL, {"--pty", "--plain", "--link", link}, "", {},
                      terminal.path());
    WaitUntil([&] { return third.Blocks(SIGTERM); });
    third.Signal(SIGTERM);
    terminal.ReadUntil([&] { return third.Ended(); });
    EXPECT_EQ(third.Finish().exit_code, 0);
    EXPECT_NE(terminal.arrived.find("x/dev/pts/"), std::string::npos);
    EXPECT_EQ(leads_to(), "");
}

} // namespace
