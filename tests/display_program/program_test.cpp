// wendle-display as scripts and users run it: the dump of captured bytes and
// of standard input, usage and I/O errors, and --pty with writers that come
// and go, on real pseudo-terminals.
#include "tests/display_program/display_run.h"
#include "tests/translator/test_support.h"

#include <fstream>

namespace {

ToolRun Display(std::vector<std::string> args, std::string_view input = {}) {
    return RunTool(WENDLE_DISPLAY_TOOL, args, input);
}

TEST(DisplayProgram, DumpOfCapturedBytesAndStandardInput) {
    // A position command split between two reads of 64 KiB, after a page
    // of text that wraps.
    const std::string long_stream = std::string(65535, 'x') + "\x10" + "\x55" + "end";
    const struct {
        std::vector<std::string> args;
        std::string bytes;
        std::string dump;
    } cases[] = {
        {{},
         Translate("<CLS>Hello<KTA_LINE2>world"),
         "Hello           \nworld           \ncursor 2 6\n"},
        {{"--size", "20x4"},
         Translate("<CLS>1<KTA_LINE2>2<KTA_LINE3>3<KTA_LINE4>4<177,250>"),
         "1                   \n2                   \n3                   \n4ｱ千                 \n"
         "cursor 4 4\n"},
        {{"--profile", "prefix-only"},
         Translate("<254,64><31,17,17,17,17,17,31,0><254,128>a<0>b"),
         "a①b             \n                \ncursor 1 4\n"},
        {{"--size", "8x1"}, Translate("ab<254>"), "ab      \ncursor 1 3\n"},
        {{}, long_stream, "xxxxxxxxxxxxxxxx\nxxxxxendxxxxxxxx\ncursor 2 9\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--dump", TempFile("capture.bin", c.bytes)});
        ToolRun run = Display(args);
        EXPECT_EQ(run.exit_code, 0) << run.err;
        EXPECT_EQ(run.out, c.dump);
        args.back() = "-";
        run = Display(args, c.bytes);
        EXPECT_EQ(run.out, c.dump) << "standard input";
    }
    std::remove(TempFile("capture.bin", "").c_str());
}

TEST(DisplayProgram, OneLinePerArrivalWhenNoTerminal) {
    const ToolRun run = Display({"-"}, Translate("<CLS>Hi<KTA_LINE2><13>"));
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, "0C 48 69 FE C0 0D  <CLS>Hi<KTA_LINE2,RETURN>\n");
}

TEST(DisplayProgram, UsageAndInputErrors) {
    const std::string file = TempFile("plain.txt", "keep");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string message; // after "wendle-display: ", to the end of the line
    } cases[] = {
        {{"--size", "17x3", "-"},
         2,
         "no glass of size 17x3: use 8x1, 16x1, 16x2, 16x4, 20x2, 20x4, 24x2, 40x2"},
        {{"--profile", "vfd", "-"}, 2, "no profile vfd: use command or prefix-only"},
        {{"a", "b"}, 2, "a second SOURCE: b (quote a SOURCE that holds spaces)"},
        {{}, 2, "nothing to read: give a SOURCE (a port, a file, - for standard input) or --pty"},
        {{"--link", "x", "-"}, 2, "--link goes with --pty"},
        {{"/no/such/file"}, 1, "/no/such/file: cannot open (No such file or directory)"},
        {{"--png", "/no/a.png", "-"},
         1,
         "/no/a.png: cannot write the picture (No such file or directory)"},
        // Nothing is put in the place of a file.
        {{"--pty", "--link", file},
         1,
         file + ": is there and is no symbolic link: name a new path for --link"},
    };
    for (const auto& c : cases) {
        const ToolRun run = Display(c.args);
        EXPECT_EQ(run.exit_code, c.status) << run.err;
        EXPECT_EQ(run.err.substr(0, run.err.find('\n')), "wendle-display: " + c.message);
    }
    std::ifstream kept(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep");
    std::remove(file.c_str());
}

// Wendle's pattern: open, write, close, for every message; the program
// lives on, loses nothing, sleeps while nothing comes, and shows the line
// as the last writer set it.
TEST(DisplayProgram, WritersThatComeAndGo) {
    LiveDisplay display;
    const std::string message = Translate("<CLS>Hello<KTA_LINE2>world<BL_OFF>");
    for (std::size_t i = 0; i < message.size(); i += 3) {
        WriteOnce(display.path, message.substr(i, 3), B19200, CSTOPB | CRTSCTS);
        EXPECT_FALSE(display.tool->Ended());
    }
    ASSERT_TRUE(display.WaitFor("14 bytes: 0C 48 65 6C 6C 6F FE C0 77 6F 72 6C 64 0F"));
    EXPECT_TRUE(display.WaitFor("19200 8N2, RTS/CTS, raw · backlight off"));
    const double before = display.tool->ProcessorSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    // Far below a spinning loop's two seconds.
    EXPECT_LT(display.tool->ProcessorSeconds() - before, 0.6);
    WriteOnce(display.path, "!", B2400);
    EXPECT_TRUE(display.WaitFor("2400 8N1, no flow control, raw · backlight off"));
    const auto [status, after] = display.End(SIGINT);
    EXPECT_EQ(status, 0);
    // The last frame left on the terminal, then the dump.
    EXPECT_NE(after.find("backlight off · cursor 2 7 hidden\n"), std::string::npos) << after;
    EXPECT_TRUE(after.ends_with("\nHello           \nworld!          \ncursor 2 7\n")) << after;
}

// A live display draws at most about 30 frames a second however the bytes
// come: a writer sending one byte a millisecond gets no frame per byte. A
// loaded machine draws fewer frames, never more, so the bound holds there.
TEST(DisplayProgram, FramesArePaced) {
    LiveDisplay display;
    const auto start = std::chrono::steady_clock::now();
    const int fd = open(display.path.c_str(), O_WRONLY | O_NOCTTY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(write(fd, "x", 1), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    close(fd);
    ASSERT_TRUE(display.WaitFor("300 bytes, the last 16"));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    std::size_t frames = 0;
    for (std::size_t at = 0;
         (at = display.terminal.arrived.find("wendle-display 16x2", at)) != std::string::npos;
         ++at) {
        ++frames;
    }
    EXPECT_LE(frames, static_cast<std::size_t>(took.count() / 33 + 3)) << took.count() << " ms";
    display.End(SIGTERM);
}

// A port as SOURCE: raw at the rate given; a device that goes away is an
// error, not the end of a file.
TEST(DisplayProgram, APortThatHangsUp) {
    PseudoTerminal device;
    ASSERT_TRUE(OpenPseudoTerminal(device).ok());
    RunningTool display(WENDLE_DISPLAY_TOOL, {"-b", "38400", device.slave_path});
    ASSERT_EQ(write(device.master.get(), "\n\x0cHi", 4), 4);
    for (int i = 0; i < 3000 && display.OutputSoFar().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    device.master = UniqueFd();
    const ToolRun run = display.Finish();
    EXPECT_EQ(run.out, "0A 0C 48 69  <LINEFEED,CLS>Hi\n");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.err, "wendle-display: " + device.slave_path +
                           ": the line was hung up (was the device unplugged?)\n");
}

// wendle-send into the display's port; --idle-exit ends it, the link goes.
TEST(DisplayProgram, FromWendleSendThroughALink) {
    const std::string link = TempFile("com1", "");
    std::remove(link.c_str());
    ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
    RunningTool display(WENDLE_DISPLAY_TOOL,
                        {"--pty", "--link", link, "--dump", "--idle-exit", "0.5"});
    for (int i = 0; i < 3000 && !display.OutputSoFar().ends_with('\n'); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const std::string path = display.OutputSoFar().substr(0, display.OutputSoFar().size() - 1);
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(target, path);
    const ToolRun sent = RunTool(WENDLE_SEND_TOOL, {"-p", link, "<CLS>Hello<KTA_LINE2>world"});
    EXPECT_EQ(sent.exit_code, 0) << sent.err;
    if (sent.exit_code != 0) {
        display.Signal(SIGTERM);
    }
    const ToolRun run = display.Finish();
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, path + "\nHello           \nworld           \ncursor 2 6\n");
    struct stat left {};
    EXPECT_EQ(lstat(link.c_str(), &left), -1) << "the link is left behind";
}

} // namespace
