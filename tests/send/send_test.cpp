// wendle-send as a user runs it, on pseudo-terminals.
#include "tests/support/pty_port.h"
#include "tests/translator/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <random>

namespace {

using namespace std::string_literals;

struct Delivery {
    ToolRun run;
    std::string arrived;
};

// Runs wendle-send with -p set to the port, reading the master while it runs
// (a large message fills the pseudo-terminal's buffer otherwise).
Delivery SendThrough(PtyPort& port, const std::vector<std::string>& args,
                     std::string_view input = {}) {
    std::vector<std::string> all{"-p", port.path()};
    all.insert(all.end(), args.begin(), args.end());
    const std::size_t from = port.arrived.size();
    RunningTool tool(WENDLE_SEND_TOOL, all, input);
    port.ReadUntil([&] { return tool.Ended(); }, std::chrono::minutes(10));
    port.Drain();
    return {tool.Finish(), port.arrived.substr(from)};
}

TEST(Send, TheBytesThatArrive) {
    const std::string unknown = " sends nothing; wendle-translate --list-names shows every name\n";
    const struct {
        std::vector<std::string> args;
        std::string input;
        std::string hex;
        std::string err = "";
        int status = 0;
    } cases[] = {
        {{"<CLS>Hello"}, "", "0C 48 65 6C 6C 6F"},
        {{"-b", "19200", "<KTA_LINE2>world<13>"}, "", "FE C0 77 6F 72 6C 64 0D"},
        // Raw output: a line feed stays one byte.
        {{"--raw", "<CLS>a\nb"}, "", "3C 43 4C 53 3E 61 0A 62"},
        {{}, "<1>\n<255>", "01 0A FF"},
        {{"--raw"}, "a\0\xFF\n"s, "61 00 FF 0A"},
        {{"--", "-<65>"}, "", "2D 41"},
        // An empty MESSAGE is a message: standard input is not read.
        {{""}, "<65>", ""},
        {{}, "", ""},
        // An unknown name sends nothing, as ever, and is told.
        {{"<KTA_LIN2>x"}, "", "78", "wendle-send: unknown name KTA_LIN2 at offset 1" + unknown},
        // Lines without their ends (LF or CR LF), the last one without any.
        {{"--lines"},
         "<CLS>one\r\ntwo<KTA_LINE2>\n\nlast",
         "0C 6F 6E 65 74 77 6F FE C0 6C 61 73 74"},
        {{"--lines", "--char-delay", "1", "--line-delay", "1"},
         "a<xx>\n<yy>b\n",
         "61 62",
         "wendle-send: line 1: unknown name xx at offset 2" + unknown +
             "wendle-send: line 2: unknown name yy at offset 1" + unknown},
        // --strict stops at the first line with an unknown name.
        {{"--lines", "--strict"},
         "a\n<LIN2>b\nc\n",
         "61",
         "wendle-send: line 2: unknown name LIN2 at offset 1 (--strict): nothing sent\n",
         9},
        // A line too long for memory is cut; the next one comes whole.
        {{"--lines", "--raw"},
         std::string(5000, 'x') + "\r\n<end>",
         Hex(std::string(4096, 'x') + "<end>"),
         "wendle-send: line 1: longer than 4096 bytes: the rest of it is dropped\n"},
    };
    for (const auto& c : cases) {
        PtyPort port;
        const Delivery delivery = SendThrough(port, c.args, c.input);
        EXPECT_EQ(delivery.run.exit_code, c.status) << delivery.run.err;
        EXPECT_EQ(delivery.run.err, c.err);
        EXPECT_EQ(Hex(delivery.arrived), c.hex) << Hex(c.input);
    }
}

// --lines from a stream that stays open: each line goes out as it comes,
// on a port held open between lines.
TEST(Send, LinesAsTheyCome) {
    PtyPort port;
    const std::string fifo = TempFile("lines.fifo");
    std::remove(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    RunningTool tool("/bin/sh", {"-c", "exec \"$0\" --lines -p \"$1\" < \"$2\"", WENDLE_SEND_TOOL,
                                 port.path(), fifo});
    UniqueFd writer(open(fifo.c_str(), O_WRONLY));
    for (const std::string line : {"<CLS>one", "two"}) {
        const std::size_t from = port.arrived.size();
        ASSERT_EQ(write(writer.get(), (line + "\n").data(), line.size() + 1),
                  static_cast<ssize_t>(line.size() + 1));
        EXPECT_TRUE(port.ReadUntil([&] { return port.arrived.size() >= from + 3; }));
        EXPECT_FALSE(tool.Ended());
        // Held open and locked between lines.
        UniqueFd other(open(port.path().c_str(), O_RDWR | O_NOCTTY));
        EXPECT_NE(flock(other.get(), LOCK_EX | LOCK_NB), 0);
    }
    writer = UniqueFd();
    const ToolRun run = tool.Finish();
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(port.arrived + port.Drain(), "\x0conetwo");
    std::remove(fifo.c_str());
}

// Someone typing a message: a hint that the end is Ctrl+D, then it is sent.
TEST(Send, ATerminalAsStandardInput) {
    PtyPort port;
    PtyPort keyboard;
    RunningTool tool("/bin/sh", {"-c", "exec \"$0\" -p \"$1\" < \"$2\"", WENDLE_SEND_TOOL,
                                 port.path(), keyboard.path()});
    ASSERT_EQ(write(keyboard.pty.master.get(), "hi\n\x04", 4), 4);
    const ToolRun run = tool.Finish();
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.err, "wendle-send: reading the message from the terminal until Ctrl+D (give "
                       "MESSAGE, or --lines to send each line as it is typed)\n");
    EXPECT_EQ(port.Drain(), "hi\n");
}

TEST(Send, OneMebibyteFromStandardInputArrivesWhole) {
    std::mt19937 random(7);
    std::string message(1 << 20, '\0');
    for (char& byte : message) {
        byte = static_cast<char>(random());
    }
    PtyPort port;
    const Delivery delivery = SendThrough(port, {"--raw"}, message);
    EXPECT_EQ(delivery.run.exit_code, 0) << delivery.run.err;
    EXPECT_EQ(delivery.arrived.size(), message.size());
    EXPECT_TRUE(delivery.arrived == message);
}

std::string Settings(const PtyPort& port) {
    termios line{};
    EXPECT_EQ(tcgetattr(port.pty.slave.get(), &line), 0);
    return std::to_string(cfgetospeed(&line)) + " " + std::to_string(line.c_iflag) + " " +
           std::to_string(line.c_oflag) + " " + std::to_string(line.c_cflag) + " " +
           std::to_string(line.c_lflag);
}

// A port is left with the settings it had, whether the send ends well, times
// out or is ended by a signal while it waits; --keep-settings leaves
// Wendle's line. The pseudo-terminal starts cooked, as a user's terminal is.
TEST(Send, ThePortIsLeftAsFound) {
    const struct {
        std::vector<std::string> args;
        int signal; // sent once bytes arrive and nothing reads them; 0: none
        int status;
        bool as_found;
        std::string err; // its start
    } cases[] = {
        {{"x"}, 0, 0, true, ""},
        {{"--keep-settings", "x"}, 0, 0, false, ""},
        // Nothing reads: it gives up, says how far it got, and lets go.
        {{"--timeout", "1", "--raw"}, 0, 8, true, ": write timed out after 1 s: "},
        {{"--raw"}, SIGINT, -1, true, ""},
        {{"--raw"}, SIGTERM, -1, true, ""},
    };
    for (const auto& c : cases) {
        PtyPort port;
        const std::string found = Settings(port);
        std::vector<std::string> args{"-p", port.path()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        RunningTool tool(WENDLE_SEND_TOOL, args, std::string(1 << 20, 'x'));
        pollfd arrival{port.pty.master.get(), POLLIN, 0};
        ASSERT_EQ(poll(&arrival, 1, 30000), 1);
        if (c.signal != 0) {
            tool.Signal(c.signal);
        }
        const ToolRun run = tool.Finish();
        EXPECT_EQ(run.exit_code, c.status) << run.err;
        EXPECT_EQ(Settings(port) == found, c.as_found) << c.args[0] << " " << c.signal;
        if (!c.err.empty()) {
            EXPECT_TRUE(run.err.starts_with("wendle-send: " + port.path() + c.err)) << run.err;
            EXPECT_NE(run.err.find(" of 1048576 bytes written, the rest discarded"),
                      std::string::npos);
        }
    }
}

TEST(Send, EachFailureHasItsStatusAndOneLine) {
    const std::string file = TempFile("not_a_port", "text");
    PtyPort port;
    const std::string& p = port.path();
    // clang-format off
    const struct {
        std::vector<std::string> args;
        int status;
        std::string first_line;
    } cases[] = {
        {{"-p", "/nonexistent/ttyUSB9", "x"}, 3, "wendle-send: /nonexistent/ttyUSB9: no such port (No "
         "such file or directory); wendle-send --list shows the ports of this machine"},
        {{"-p", file, "x"}, 6, "wendle-send: " + file + ": not a serial port (Inappropriate ioctl for "
         "device); give a port such as /dev/ttyUSB0 (wendle-send --list shows them)"},
        {{"-p", "/", "x"}, 6, "wendle-send: /: not a serial port (Is a directory); give a port"},
        {{"-p", p, "-b", "9601", "x"}, 7, "wendle-send: 9601 baud is not supported: use 1200, 2400, "
         "4800, 9600, 19200 or 38400"},
        {{"x"}, 2, "wendle-send: no port given: name one with -p PORT"},
        {{"/dev/ttyS0", "hello"}, 2, "wendle-send: no port given: did you mean -p /dev/ttyS0?"},
        {{"-p", p, "-b", "fast", "x"}, 2, "wendle-send: --baud: give a rate such as 19200, not fast"},
        {{"-p"}, 2, "wendle-send: --port needs a value (see --help)"},
        {{"-p", p, "--strict", "<LINE2>"}, 9, "wendle-send: unknown name LINE2 at offset 1 "
         "(--strict): nothing sent"},
        {{"-p", p, "--line-delay", "5", "x"}, 2, "wendle-send: --line-delay goes with --lines"},
        {{"-p", p, "--char-delay", "0.5", "x"}, 2, "wendle-send: --char-delay: give a number of "
         "milliseconds from 0 to 10000, such as 50, not 0.5"},
        {{"-p", p, "--timeout", "-1", "x"}, 2, "wendle-send: --timeout: give a number of seconds "
         "above 0 and up to 1000000, such as 0.5, not -1"},
        {{"--list", "-p", p}, 2, "wendle-send: --list takes no port and no message"},
        {{"-p", p, "a", "b"}, 2, "wendle-send: a second MESSAGE: b"},
    };
    // clang-format on
    for (const auto& c : cases) {
        const ToolRun run = RunTool(WENDLE_SEND_TOOL, c.args);
        EXPECT_EQ(run.exit_code, c.status) << run.err;
        EXPECT_EQ(run.err.substr(0, c.first_line.size()), c.first_line);
        const std::size_t lines = c.status == 2 ? 2 : 1;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), lines) << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(port.Drain(), "");
    std::remove(file.c_str());
}

// The group that may use a port comes from the system: here dialout, as on a
// USB adapter, with the program run as an ordinary user.
TEST(Send, PermissionDeniedNamesTheGroup) {
    const group* dialout = getgrnam("dialout");
    if (getuid() != 0 || dialout == nullptr || access("/usr/bin/setpriv", X_OK) != 0) {
        GTEST_SKIP() << "needs root, the group dialout and setpriv";
    }
    PtyPort port;
    ASSERT_EQ(chown(port.path().c_str(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(chmod(port.path().c_str(), 0660), 0);
    const ToolRun run =
        RunTool("/usr/bin/setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                     WENDLE_SEND_TOOL, "-p", port.path(), "x"});
    EXPECT_EQ(run.exit_code, 4);
    EXPECT_EQ(run.err, "wendle-send: " + port.path() +
                           ": permission denied (Permission denied); members of the group "
                           "dialout may use it: add yourself with `sudo usermod -aG dialout "
                           "$USER` and log in again\n");
}

} // namespace
