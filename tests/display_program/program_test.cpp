// wendle-display as scripts and users run it, on files, standard input and
// real pseudo-terminals, and how it ends; in a real terminal, frame_test.cpp.
#include "tests/support/pty_port.h"
#include "tests/support/translate_support.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <thread>
#include <tuple>

namespace {

using std::chrono::milliseconds;

// At 9600 8N1 (1.042 ms a frame) the clear runs from 1.042 to 2.562 ms; 'H'
// ends at 2.083 ms, in it, and a pause of 0.478 ms, rounded up, avoids that.
const std::string kLosesH = "at 9600 baud a module without a buffer loses 1 byte: offset 1 'H' "
                            "arrives 1.042 ms into a 1.52 ms clear; pause 0.5 ms after each "
                            "clear, or send with wendle-send --pace\n";

// Each run's status, output and first line of errors together. No bad input
// makes a recording or replaces a file.
TEST(DisplayProgram, Runs) {
    const std::string file = TempFile("plain.txt", "keep");
    const std::string rec = TempFile("never.rec");
    std::remove(rec.c_str());
    const std::string bad =
        TempFile("bad.rec", "wendle-recording 1\n0 line 9600 8N1\n12 0C\n5 48\n");
    const std::string hello = TempFile("hello.bin", Translate("<CLS>Hello"));
    std::string escapes; // the first 32 listed, then how many more
    for (int offset = 0; offset < 32; ++offset) {
        escapes +=
            "not modelled: offset " + std::to_string(offset) + ": 1B: ESC sequence not modelled\n";
    }
    const std::string ends = "\n" + std::string(16, ' ') + "\ncursor 1 ";
    const std::string shown_hello = "Hello" + std::string(11, ' ') + ends + "6\ntiming: ";
    const std::string nothing = " baud a module without a buffer loses nothing\n";
    const std::string at_9600 = "timing: at 9600" + nothing;
    // clang-format off
    const struct {
        std::vector<std::string> args;
        int status;
        std::string message, out = {}, input = {}; // message: after "wendle-display: "
    } cases[] = {
        {{"--profile", "prefix-only", "--dump", "-"}, 0, "",
         "a①b             \n                \ncursor 1 4\n" + at_9600,
         Translate("<254,64><31,17,17,17,17,17,31,0><254,128>a<0>b")},
        // Ending inside a command is reported too.
        {{"--size", "8X1", "--dump", TempFile("esc.bin", std::string(40, '\x1b') + "<16,99>\xfe")},
         0, "", "<16,99> \ncursor 1 8\n" + escapes + "not modelled: 9 more, 41 in all\n" + at_9600},
        // A position command split between two reads of 64 KiB, after text that wraps.
        {{"--dump", TempFile("page.bin", std::string(65535, 'x') + "\x10\x55" + "end")}, 0, "",
         "xxxxxxxxxxxxxxxx\nxxxxxendxxxxxxxx\ncursor 2 9\n" + at_9600},
        // Time: one burst at -b; at 2400 a frame (4.167 ms) outlasts the clear.
        {{"--dump", hello}, 0, "", shown_hello + kLosesH},
        {{"--buffer", "0", "--dump", "-b", "2400", hello}, 0, "",
         shown_hello + "at 2400" + nothing},
        {{"--buffer", "0", "--plain", hello}, 0, "", "0C 48 65 6C 6C 6F  <CLS>Hello\n"
             "lost: offset 1 'H' at 2.083 ms: controller busy with clear display until 2.562 ms\n"
             "timing: " + kLosesH},
        // A slow part: the clear takes 1.52 ms x 270 / 135 = 3.04 ms, to 4.082 ms.
        {{"--buffer", "0", "--osc", "135", "--dump", hello}, 0, "",
         "llo" + std::string(13, ' ') + ends + "4\n"
             "lost: offset 1 'H' at 2.083 ms: controller busy with clear display until 4.082 ms\n"
             "lost: offset 2 'e' at 3.125 ms: controller busy with clear display until 4.082 ms\n"
             "timing: at 9600 baud a module without a buffer loses 2 bytes: offset 1 'H' "
             "arrives 1.042 ms into a 3.04 ms clear; pause 2 ms after each clear, or send with "
             "wendle-send --pace\n"},
        // A recording with its own times and line.
        {{"--buffer", "0", "--dump",
          TempFile("hi.rec", "wendle-recording 1\r\n0 line 2400 8N1\n0 0C 48 69\n")},
         0, "", "Hi" + std::string(14, ' ') + ends + "3\ntiming: at 2400" + nothing},
        {{"--size", "17x3", "-"}, 2, "no screen of size 17x3: use 8x1, 16x1, 16x2, 16x4, 20x2, 20x4, 24x2, 40x2"},
        {{}, 2, "nothing to read: give a SOURCE (a port, a file, - for standard input) or --pty"},
        {{"--link", "x", "-"}, 2, "--link goes with --pty"},
        {{"--png", "/no/a.png", "-"}, 1, "/no/a.png: cannot write the picture (No such file or directory)"},
        {{"--pty", "--link", file}, 1, file + ": is there and is no symbolic link: name a new path for --link"},
        {{"--osc", "0", "--record", rec, "-"}, 2, "--osc 0: an oscillator of 0 kHz: give 1 to 10000 (270 is the datasheet's, 190 a slow part)"},
        {{"--buffer", "-1", "--record", rec, "-"}, 2, "--buffer: give a number of bytes such as 80, not -1"},
        {{"--buffer", "65537", "--record", rec, "-"}, 2, "--buffer 65537: a buffer of 65537 bytes: give 0 (none) to 65536"},
        {{"-b", "12345", "--record", rec, "-"}, 7, "12345 baud is not supported: use 1200, 2400, 4800, 9600, 19200 or 38400"},
        {{"--dump", "--record", rec, bad}, 1, bad + ": line 4: time goes backwards: 5 after 12"},
        {{"--real-time", "-"}, 2, "--real-time goes with a recording SOURCE (made with --record)"},
    };
    // clang-format on
    for (const auto& c : cases) {
        RunningTool tool(WENDLE_DISPLAY_TOOL, c.args, c.input);
        WaitUntil([&] { return tool.Ended(); });
        tool.Signal(SIGKILL); // one that did not stop, such as a live --pty
        const ToolRun run = tool.Finish();
        const std::string error = run.err.substr(0, run.err.find('\n'));
        EXPECT_EQ(
            std::tuple(run.exit_code, error, run.out),
            std::tuple(c.status, c.message.empty() ? "" : "wendle-display: " + c.message, c.out))
            << testing::PrintToString(c.args);
    }
    EXPECT_NE(access(rec.c_str(), F_OK), 0) << "a recording made";
    EXPECT_EQ(ReadFile(file), "keep");
}

// `wendle-display --pty` and `args` drawing live on a pseudo-terminal of the
// test's, the test its keyboard and its writer.
struct LiveDisplay {
    PtyPort terminal{true}; // all it has written there in `terminal.arrived`
    std::unique_ptr<RunningTool> tool;
    std::string path; // the end to write to, its first line

    explicit LiveDisplay(std::vector<std::string> args, std::vector<std::string> environment = {}) {
        termios line{}; // echo and line input on, for the program to take off and put back
        tcgetattr(terminal.pty.slave.get(), &line);
        line.c_lflag |= ECHO | ICANON;
        tcsetattr(terminal.pty.slave.get(), TCSANOW, &line);
        args.insert(args.begin(), "--pty");
        tool = std::make_unique<RunningTool>(WENDLE_DISPLAY_TOOL, args, "", environment,
                                             terminal.path());
        EXPECT_TRUE(WaitFor("\n"));
        path = terminal.arrived.substr(0, terminal.arrived.find('\n'));
    }
    bool WaitFor(const std::string& wanted, std::size_t from = 0) {
        return terminal.ReadUntil(
            [&] { return terminal.arrived.find(wanted, from) != std::string::npos; });
    }
};

// Opens the port for one message, as Wendle does on every Send: raw,
// `speed`, and `control` flags.
void WriteOnce(const std::string& path, std::string_view bytes, speed_t speed,
               tcflag_t control = 0) {
    const UniqueFd fd(open(path.c_str(), O_RDWR | O_NOCTTY));
    termios line{};
    ASSERT_EQ(tcgetattr(fd.get(), &line), 0) << path;
    cfmakeraw(&line);
    cfsetspeed(&line, speed);
    line.c_cflag = (line.c_cflag & ~tcflag_t{CSTOPB | CRTSCTS}) | control;
    tcsetattr(fd.get(), TCSANOW, &line);
    EXPECT_EQ(write(fd.get(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
}

// A byte a millisecond gets at most about 30 frames a second (a loaded
// machine draws fewer, never more). Writers that open, write and close for
// each message: the program lives on, loses nothing, sleeps while nothing
// comes, and shows the line as the last writer set it. NO_COLOR=1 leaves out
// the colours. Ctrl+C leaves the last frame, then the dump.
TEST(DisplayProgram, WritersThatComeAndGo) {
    LiveDisplay display({"--dump"}, {"NO_COLOR=1"});
    const auto start = std::chrono::steady_clock::now();
    {
        const UniqueFd fd(open(display.path.c_str(), O_WRONLY | O_NOCTTY));
        for (int i = 0; i < 300; ++i) {
            ASSERT_EQ(write(fd.get(), std::to_string(i % 10).data(), 1), 1);
            std::this_thread::sleep_for(milliseconds(1));
        }
    }
    ASSERT_TRUE(
        display.WaitFor("300 bytes, the last 16: 34 35 36 37 38 39 30 31 32 33 34 35 36 37 38 39"));
    termios line{}; // while live, keys are read one by one and not echoed
    ASSERT_EQ(tcgetattr(display.terminal.pty.slave.get(), &line), 0);
    EXPECT_EQ(line.c_lflag & (ECHO | ICANON), 0u) << "typed keys land on the frame";
    const auto took =
        std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
    const std::size_t frames = Count(display.terminal.arrived, "wendle-display 16x2");
    EXPECT_LE(frames, static_cast<std::size_t>(took.count() / 33 + 3)) << took.count() << " ms";

    const std::string message = Translate("<CLS>Hello<KTA_LINE2>world<BL_OFF>");
    for (std::size_t i = 0; i < message.size(); i += 3) {
        WriteOnce(display.path, message.substr(i, 3), B19200, CSTOPB | CRTSCTS);
        EXPECT_FALSE(display.tool->Ended());
    }
    ASSERT_TRUE(display.WaitFor("314 bytes, the last 16: 38 39 0C 48 65 6C 6C 6F FE C0 77 6F 72 "
                                "6C 64 0F"));
    EXPECT_TRUE(display.WaitFor("19200 8N2, RTS/CTS, raw · backlight off"));
    const double before = display.tool->RunnableSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_LT(display.tool->RunnableSeconds() - before, 0.6); // a spinning loop takes 2
    WriteOnce(display.path, "!", B2400);
    EXPECT_TRUE(display.WaitFor("2400 8N1, no flow control, raw · backlight off"));
    EXPECT_EQ(display.terminal.arrived.find("38;5;"), std::string::npos) << "NO_COLOR=1 unheeded";
    display.tool->Signal(SIGINT);
    EXPECT_EQ(display.tool->Finish().exit_code, 0);
    ASSERT_EQ(tcgetattr(display.terminal.pty.slave.get(), &line), 0);
    EXPECT_EQ(line.c_lflag & (ECHO | ICANON), tcflag_t{ECHO | ICANON})
        << "the terminal not put back";
    // After it leaves the live screen: the last frame, then the dump.
    const std::string leave = "\x1b[?7h\x1b[0m\x1b[?25h\x1b[?1049l";
    ASSERT_TRUE(display.WaitFor(leave));
    const std::size_t left = display.terminal.arrived.rfind(leave);
    EXPECT_TRUE(display.WaitFor("backlight off · cursor 2 7 hidden\n", left));
    EXPECT_TRUE(display.WaitFor("\nHello           \nworld!          \ncursor 2 7\ntiming: ", left))
        << display.terminal.arrived.substr(left);
}

// A terminal that cannot draw a frame gets plain lines; --idle-exit ends.
TEST(DisplayProgram, ADumbTerminal) {
    LiveDisplay display({"--idle-exit", "0.3"}, {"TERM=dumb"});
    WriteOnce(display.path, "\x0cHi", B9600);
    EXPECT_EQ(display.tool->Finish().exit_code, 0);
    display.terminal.Drain();
    EXPECT_EQ(display.terminal.arrived, display.path + "\n0C 48 69  <CLS>Hi\ntiming: " + kLosesH);
}

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
    std::error_code no_link;
    const auto leads_to = [&] { return std::filesystem::read_symlink(link, no_link).string(); };
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
