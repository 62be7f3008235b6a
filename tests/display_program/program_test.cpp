// wendle-display as scripts and users run it: the dump of captured bytes and
// of standard input, usage and I/O errors, --pty with writers that come and
// go on real pseudo-terminals, and the live frame in a real terminal.
#include "tests/support/pty_port.h"
#include "tests/translator/test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <memory>
#include <thread>

namespace {

using std::chrono::milliseconds;

TEST(DisplayProgram, DumpOfCapturedBytesAndStandardInput) {
    std::string escapes; // the first 32 listed, then how many more
    for (int offset = 0; offset < 32; ++offset) {
        escapes +=
            "not modelled: offset " + std::to_string(offset) + ": 1B: ESC sequence not modelled\n";
    }
    // clang-format off
    const struct {
        std::vector<std::string> args;
        std::string bytes, dump;
    } cases[] = {
        {{"--profile", "prefix-only"}, Translate("<254,64><31,17,17,17,17,17,31,0><254,128>a<0>b"),
         "a①b             \n                \ncursor 1 4\n"},
        // Ending inside a command is reported too.
        {{"--size", "8x1"}, std::string(40, '\x1b') + "<16,99>\xfe",
         "<16,99> \ncursor 1 8\n" + escapes + "not modelled: 9 more, 41 in all\n"},
        // A position command split between two reads of 64 KiB, after a page
        // of text that wraps.
        {{}, std::string(65535, 'x') + "\x10\x55" + "end", "xxxxxxxxxxxxxxxx\nxxxxxendxxxxxxxx\ncursor 2 9\n"},
    };
    // clang-format on
    const std::string capture = TempFile("capture.bin");
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--dump", TempFile("capture.bin", c.bytes)});
        ToolRun run = RunTool(WENDLE_DISPLAY_TOOL, args);
        EXPECT_EQ(run.exit_code, 0) << run.err;
        EXPECT_EQ(run.out, c.dump);
        args.back() = "-";
        EXPECT_EQ(RunTool(WENDLE_DISPLAY_TOOL, args, c.bytes).out, c.dump) << "standard input";
    }
}

TEST(DisplayProgram, UsageAndInputErrors) {
    const std::string file = TempFile("plain.txt", "keep");
    // clang-format off
    const struct {
        std::vector<std::string> args;
        int status;
        std::string message; // after "wendle-display: ", to the end of the line
    } cases[] = {
        {{"--size", "17x3", "-"}, 2, "no glass of size 17x3: use 8x1, 16x1, 16x2, 16x4, 20x2, 20x4, 24x2, 40x2"},
        {{}, 2, "nothing to read: give a SOURCE (a port, a file, - for standard input) or --pty"},
        {{"--link", "x", "-"}, 2, "--link goes with --pty"},
        {{"--png", "/no/a.png", "-"}, 1, "/no/a.png: cannot write the picture (No such file or directory)"},
        // Nothing is put in the place of a file.
        {{"--pty", "--link", file}, 1, file + ": is there and is no symbolic link: name a new path for --link"},
    };
    // clang-format on
    for (const auto& c : cases) {
        RunningTool tool(WENDLE_DISPLAY_TOOL, c.args);
        for (int i = 0; i < 3000 && !tool.Ended(); ++i) {
            std::this_thread::sleep_for(milliseconds(10));
        }
        tool.Signal(SIGKILL); // one that did not stop, such as a live --pty
        const ToolRun run = tool.Finish();
        EXPECT_EQ(run.exit_code, c.status) << run.err;
        EXPECT_EQ(run.err.substr(0, run.err.find('\n')), "wendle-display: " + c.message);
    }
    std::ifstream kept(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep");
}

// `wendle-display --pty` and `args` drawing live on a terminal of the test's
// own (a pseudo-terminal, its keyboard the test), the test being the writer
// too.
struct LiveDisplay {
    PtyPort terminal{true}; // all it has written there in `terminal.arrived`
    std::unique_ptr<RunningTool> tool;
    std::string path; // the end to write to, its first line

    explicit LiveDisplay(std::vector<std::string> args = {"--dump"},
                         std::vector<std::string> environment = {}) {
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
        return terminal.ReadUntil([&] { return terminal.arrived.find(wanted, from) != npos; });
    }
    // What it wrote after it last left the live screen: the last frame, the
    // dump.
    std::string AfterLeaving() {
        EXPECT_TRUE(WaitFor(kLeave));
        EXPECT_TRUE(WaitFor("\ncursor ", terminal.arrived.rfind(kLeave)));
        WaitFor("\n", terminal.arrived.rfind("\ncursor ") + 1);
        return terminal.arrived.substr(terminal.arrived.rfind(kLeave) + kLeave.size());
    }
    static constexpr std::size_t npos = std::string::npos;
    inline static const std::string kLeave = "\x1b[?7h\x1b[0m\x1b[?25h\x1b[?1049l";
};

// A writer that opens the port for one message and closes it again, as
// Wendle does on every Send: raw, `speed`, and `control` flags.
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

// One writer sending a byte a millisecond gets no frame per byte: at most
// about 30 frames a second (a loaded machine draws fewer, never more, so the
// bound holds there). Then Wendle's pattern: open, write, close, for every
// message; the program lives on, loses nothing, sleeps while nothing comes,
// and shows the line as the last writer set it. Ctrl+C leaves the last
// frame, then the dump.
TEST(DisplayProgram, WritersThatComeAndGo) {
    LiveDisplay display;
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
    std::size_t frames = 0;
    for (std::size_t at = 0;
         (at = display.terminal.arrived.find("wendle-display 16x2", at)) != LiveDisplay::npos;
         ++at) {
        ++frames;
    }
    EXPECT_LE(frames, static_cast<std::size_t>(took.count() / 33 + 3)) << took.count() << " ms";

    const std::string message = Translate("<CLS>Hello<KTA_LINE2>world<BL_OFF>");
    for (std::size_t i = 0; i < message.size(); i += 3) {
        WriteOnce(display.path, message.substr(i, 3), B19200, CSTOPB | CRTSCTS);
        EXPECT_FALSE(display.tool->Ended());
    }
    ASSERT_TRUE(display.WaitFor("314 bytes, the last 16: 38 39 0C 48 65 6C 6C 6F FE C0 77 6F 72 "
                                "6C 64 0F"));
    EXPECT_TRUE(display.WaitFor("19200 8N2, RTS/CTS, raw · backlight off"));
    const double before = display.tool->ProcessorSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_LT(display.tool->ProcessorSeconds() - before, 0.6); // a spinning loop takes 2
    WriteOnce(display.path, "!", B2400);
    EXPECT_TRUE(display.WaitFor("2400 8N1, no flow control, raw · backlight off"));
    display.tool->Signal(SIGINT);
    EXPECT_EQ(display.tool->Finish().exit_code, 0);
    termios line{};
    ASSERT_EQ(tcgetattr(display.terminal.pty.slave.get(), &line), 0);
    EXPECT_EQ(line.c_lflag & (ECHO | ICANON), tcflag_t{ECHO | ICANON})
        << "the terminal not put back";
    const std::string after = display.AfterLeaving();
    EXPECT_NE(after.find("backlight off · cursor 2 7 hidden\n"), std::string::npos) << after;
    EXPECT_TRUE(after.ends_with("\nHello           \nworld!          \ncursor 2 7\n")) << after;
}

// A terminal that cannot draw a frame gets plain lines; --idle-exit ends.
TEST(DisplayProgram, ADumbTerminal) {
    LiveDisplay display({"--idle-exit", "0.3"}, {"TERM=dumb"});
    WriteOnce(display.path, "\x0cHi", B9600);
    EXPECT_EQ(display.tool->Finish().exit_code, 0);
    display.terminal.Drain();
    EXPECT_EQ(display.terminal.arrived, display.path + "\n0C 48 69  <CLS>Hi\n");
}

// A port as SOURCE, read to a file: a line per arrival, then what was not
// modelled; a device that goes away is an error, not the end of a file.
TEST(DisplayProgram, APortThatHangsUp) {
    PseudoTerminal device;
    ASSERT_TRUE(OpenPseudoTerminal(device).ok());
    RunningTool display(WENDLE_DISPLAY_TOOL, {"-b", "38400", device.slave_path});
    ASSERT_EQ(write(device.master.get(), "\n\x0cHi\x1b", 5), 5);
    for (int i = 0; i < 3000 && display.OutputSoFar().empty(); ++i) {
        std::this_thread::sleep_for(milliseconds(10));
    }
    device.master = UniqueFd();
    const ToolRun run = display.Finish();
    EXPECT_EQ(run.out, "0A 0C 48 69 1B  <LINEFEED,CLS>Hi<27>\n"
                       "not modelled: offset 4: 1B: ESC sequence not modelled\n");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.err, "wendle-display: " + device.slave_path +
                           ": the line was hung up: was the device unplugged?\n");
}

// --pty ends the orderly way on every ending signal, its link removed; a
// second display given the same --link takes it over, and the first leaves
// it be. A signal that comes while it starts is held back until it can end
// it so: here the terminal is full, the path waits to be written.
TEST(DisplayProgram, EndingsAndASharedLink) {
    const std::string link = TempFile("shared_link");
    std::remove(link.c_str());
    const auto start = [&](RunningTool& tool) {
        for (int i = 0; i < 3000 && tool.OutputSoFar().find('\n') == std::string::npos; ++i) {
            std::this_thread::sleep_for(milliseconds(10));
        }
        return tool.OutputSoFar().substr(0, tool.OutputSoFar().find('\n'));
    };
    const auto leads_to = [&] {
        char target[256] = {};
        return std::string(target, std::max<ssize_t>(0, readlink(link.c_str(), target, 255)));
    };
    RunningTool first(WENDLE_DISPLAY_TOOL, {"--pty", "--link", link});
    const std::string first_path = start(first);
    RunningTool second(WENDLE_DISPLAY_TOOL, {"--pty", "--link", link});
    EXPECT_EQ(leads_to(), start(second));
    EXPECT_NE(leads_to(), first_path);
    first.Signal(SIGHUP);
    EXPECT_EQ(first.Finish().exit_code, 0);
    EXPECT_NE(leads_to(), "");
    second.Signal(SIGTERM);
    EXPECT_EQ(second.Finish().exit_code, 0);
    EXPECT_EQ(leads_to(), "");

    PtyPort terminal(true);
    ASSERT_EQ(fcntl(terminal.pty.slave.get(), F_SETFL, O_NONBLOCK), 0);
    while (write(terminal.pty.slave.get(), std::string(4096, 'x').data(), 4096) > 0) {
    }
    RunningTool third(WENDLE_DISPLAY_TOOL, {"--pty", "--plain", "--link", link}, "", {},
                      terminal.path());
    for (int i = 0; i < 3000 && !third.Blocks(SIGINT); ++i) {
        std::this_thread::sleep_for(milliseconds(10));
    }
    third.Signal(SIGINT);
    terminal.ReadUntil([&] { return third.Ended(); });
    EXPECT_EQ(third.Finish().exit_code, 0);
    EXPECT_NE(terminal.arrived.find("x/dev/pts/"), std::string::npos);
    EXPECT_EQ(leads_to(), "");
}

// --idle-exit waits for the first byte however long it takes, then counts
// from the last one: a writer that trickles keeps it. With --png and a pipe
// on standard output, the path is all that goes there.
TEST(DisplayProgram, IdleExitAndAPictureThroughAPipe) {
    const std::string link = TempFile("idle_link"), png = TempFile("idle.png");
    std::remove(link.c_str());
    RunningTool tool("/bin/bash", {"-c",
                                   "set -o pipefail; \"$0\" --pty --link \"$1\" --png "
                                   "\"$2\" --idle-exit 1.5 | wc -c",
                                   WENDLE_DISPLAY_TOOL, link, png});
    char path[256] = {};
    for (int i = 0; i < 3000 && readlink(link.c_str(), path, sizeof path - 1) <= 0; ++i) {
        std::this_thread::sleep_for(milliseconds(10));
    }
    std::this_thread::sleep_for(milliseconds(2000));
    EXPECT_FALSE(tool.Ended()) << "ended before the first byte";
    {
        const UniqueFd writer(open(path, O_WRONLY | O_NOCTTY));
        for (int i = 0; i < 20; ++i) {
            EXPECT_EQ(write(writer.get(), "x", 1), 1);
            std::this_thread::sleep_for(milliseconds(100));
        }
    }
    EXPECT_FALSE(tool.Ended()) << "ended while bytes came";
    const ToolRun run = tool.Finish();
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, std::to_string(std::string(path).size() + 1) + "\n");
    std::ifstream picture(png, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(picture), {}).substr(0, 4), "\x89PNG");
}

// The live frame in a real terminal (tmux) at three widths, linked where an
// old link was: every line fits, --dots gives way to text where it would
// not, the title keeps the way out, NO_COLOR is honoured (not when empty), typed keys do not
// echo, Ctrl+Z and fg leave and take back the screen; q leaves the last
// frame, which fits too, and no link.
TEST(DisplayProgram, InATerminal) {
    if (access("/usr/bin/tmux", X_OK) != 0) {
        GTEST_SKIP() << "needs tmux";
    }
    std::string server; // a server of its own for each terminal
    const std::string link = TempFile("tty");
    const auto tmux = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"-S", server, "-f", "/dev/null"});
        return RunTool("/usr/bin/tmux", args).out;
    };
    const auto wait_for = [&](const std::string& wanted, const std::string& gone = "\x01") {
        for (int i = 0; i < 300; ++i) {
            const std::string screen = tmux({"capture-pane", "-p", "-J"});
            if (screen.find(wanted) != std::string::npos &&
                screen.find(gone) == std::string::npos) {
                return screen;
            }
            std::this_thread::sleep_for(milliseconds(50));
        }
        ADD_FAILURE() << "no " << wanted << " in\n" << tmux({"capture-pane", "-p", "-J"});
        return std::string();
    };
    const auto widest = [](const std::string& screen) {
        std::size_t width = 0, widest = 0;
        for (char c : screen) {
            width = c == '\n' ? 0 : width + ((c & 0xC0) != 0x80 ? 1 : 0);
            widest = std::max(width, widest);
        }
        return widest;
    };
    const struct {
        std::size_t columns;
        std::string title, glass_row, environment;
    } cases[] = {
        {30, "q quits · /dev/pts/", "║Hello □wide     ║", "NO_COLOR= "},
        {80, "q quits · /dev/pts/", "║Hello □wide     ║", "NO_COLOR=1 "},
        {120, "wendle-display 16x2 command · q or Ctrl+C ends · /dev/pts/", "║▀▀", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.columns);
        std::remove(link.c_str());
        ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
        server = TempFile("tmux" + std::to_string(c.columns));
        // However the case ends (a failed assertion returns at once), its
        // terminal goes, and the tool in it with it.
        const struct EndServer {
            std::function<void()> end;
            ~EndServer() { end(); }
        } end_server{[&] { tmux({"kill-server"}); }};
        // The tool's path is in $TOOL: typed out, a path that happened to
        // fill the line would be wrapped, and -J would join the next line on.
        tmux({"new-session", "-d", "-x", std::to_string(c.columns), "-y", "24", "env", "PS1=$ ",
              std::string("TOOL=") + WENDLE_DISPLAY_TOOL, "bash", "--norc", "--noprofile"});
        tmux({"send-keys", c.environment + "\"$TOOL\" --dots --pty --link " + link, "Enter"});
        ASSERT_FALSE(wait_for("nothing received yet").empty());
        EXPECT_EQ(RunTool(WENDLE_SEND_TOOL, {"-p", link, "<CLS>Hello <250>wide"}).exit_code, 0);
        wait_for(c.glass_row);
        tmux({"send-keys", "xyz"});
        std::this_thread::sleep_for(milliseconds(300));
        const std::string screen = tmux({"capture-pane", "-p", "-J"});
        EXPECT_TRUE(screen.starts_with(c.title)) << screen;
        EXPECT_EQ(screen.find("--dots needs 97x16") == std::string::npos, c.columns >= 97);
        EXPECT_EQ(screen.find("xyz"), std::string::npos) << screen;
        EXPECT_LE(widest(screen), c.columns) << screen;
        EXPECT_EQ(tmux({"capture-pane", "-p", "-e"}).find("38;5;") == std::string::npos,
                  c.environment == "NO_COLOR=1 ");
        tmux({"send-keys", "C-z"});
        wait_for("Stopped", "║");
        tmux({"send-keys", "fg", "Enter"});
        wait_for(c.glass_row);
        tmux({"send-keys", "q"});
        const std::string left = wait_for("\n$ \n", "xyz");
        EXPECT_LE(widest(left.substr(left.rfind(c.title))), c.columns) << left;
        struct stat left_behind {};
        EXPECT_EQ(lstat(link.c_str(), &left_behind), -1) << "the link is left behind";
    }
}

} // namespace
