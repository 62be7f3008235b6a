// wendle-display as scripts and users run it, on files, standard input, real
// pseudo-terminals and a real terminal; how it ends is in ending_test.cpp.
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
    termios line{};
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

// The live frame in a real terminal (tmux), linked where an old link was: at
// 30 columns the title cut to the width keeps the way out, --dots gives way
// to text, typed keys do not echo, Ctrl+Z and fg leave and take back the
// screen; widened to 120, the dots in colour (an empty NO_COLOR is none); q
// leaves the last frame and no link.
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
    std::this_thread::sleep_for(milliseconds(300));
    const std::string narrow = tmux({"capture-pane", "-p", "-J"});
    EXPECT_TRUE(narrow.starts_with("q quits · /dev/pts/")) << narrow;
    EXPECT_NE(narrow.find("--dots needs 97x18"), std::string::npos) << narrow;
    EXPECT_EQ(narrow.find("xyz"), std::string::npos) << narrow;
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

} // namespace
