// wendle-send as a user runs it, on pseudo-terminals.
#include "tests/support/pty_port.h"
#include "tests/translator/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>

namespace {

using namespace std::string_literals;

// Runs wendle-send, reading the port's master meanwhile (a large message fills
// the pseudo-terminal's buffer otherwise); what arrived is in `port.arrived`.
ToolRun SendThrough(PtyPort& port, const std::vector<std::string>& args,
                    std::string_view input = {}) {
    RunningTool tool(WENDLE_SEND_TOOL, args, input);
    port.ReadUntil([&] { return tool.Ended(); }, std::chrono::minutes(10));
    port.Drain();
    return tool.Finish();
}

// What arrives on the port, what is said on standard error (its start) and
// the exit status; a usage error adds the usage line.
TEST(Send, WhatArrivesAndWhatIsSaid) {
    PtyPort port;
    const std::string& p = port.path();
    const std::string file = TempFile("not_a_port", "text");
    const std::string unknown = " sends nothing; wendle-translate --list-names shows every name\n";
    // clang-format off
    const struct {
        std::vector<std::string> args;
        std::string input, hex, err = "";
        int status = 0;
    } cases[] = {
        {{"-p", p, "-b", "19200", "--", "-<CLS>Hi<KTA_LINE2><13>"}, "", "2D 0C 48 69 FE C0 0D"},
        // Raw output: a line feed stays one byte.
        {{"-p", p, "--raw", "<CLS>a\nb"}, "", "3C 43 4C 53 3E 61 0A 62"},
        {{"-p", p}, "<1>\n<255>", "01 0A FF"},
        {{"-p", p, "--raw"}, "a\0\xFF\n"s, "61 00 FF 0A"},
        // An empty MESSAGE is a message: standard input is not read.
        {{"-p", p, ""}, "<65>", ""},
        // An unknown name sends nothing, as ever, and is told.
        {{"-p", p, "<KTA_LIN2>x"}, "", "78", "wendle-send: unknown name KTA_LIN2 at offset 1" + unknown},
        {{"-p", p, "--strict", "<LINE2>"}, "", "", "wendle-send: unknown name LINE2 at offset 1 (--strict): nothing sent\n", 9},
        // Lines without their ends (LF or CR LF), the last one without any.
        {{"-p", p, "--lines"}, "<CLS>one\r\ntwo<KTA_LINE2>\n\nlast", "0C 6F 6E 65 74 77 6F FE C0 6C 61 73 74"},
        {{"-p", p, "--lines", "--char-delay", "1", "--line-delay", "1"}, "a<xx>\n<yy>bc\n", "61 62 63",
         "wendle-send: line 1: unknown name xx at offset 2" + unknown + "wendle-send: line 2: unknown name yy at offset 1" + unknown},
        // --strict stops at the first line with an unknown name.
        {{"-p", p, "--lines", "--strict"}, "a\n<LIN2>b\nc\n", "61", "wendle-send: line 2: unknown name LIN2 at offset 1 (--strict): nothing sent\n", 9},
        // A line too long for memory is cut; the next one comes whole.
        {{"-p", p, "--lines", "--raw"}, std::string(5000, 'x') + "\r\n<end>", Hex(std::string(4096, 'x') + "<end>"),
         "wendle-send: line 1: longer than 4096 bytes: the rest of it is dropped\n"},
        {{"-p", "/nonexistent/ttyUSB9", "x"}, "", "", "wendle-send: /nonexistent/ttyUSB9: no such port (No such file or "
         "directory); wendle-send --list shows the ports of this machine\n", 3},
        {{"-p", file, "x"}, "", "", "wendle-send: " + file + ": not a serial port (Inappropriate ioctl for device); give a "
         "port such as /dev/ttyUSB0 (wendle-send --list shows them)\n", 6},
        {{"-p", p, "-b", "9601", "x"}, "", "", "wendle-send: 9601 baud is not supported: use 1200, 2400, 4800, 9600, 19200 or 38400\n", 7},
        {{"x"}, "", "", "wendle-send: no port given: name one with -p PORT", 2},
        {{"/dev/ttyS0", "hello"}, "", "", "wendle-send: no port given: did you mean -p /dev/ttyS0?", 2},
        {{"-p", p, "-b", "fast", "x"}, "", "", "wendle-send: --baud: give a rate such as 19200, not fast", 2},
        {{"-p"}, "", "", "wendle-send: --port needs a value (see --help)", 2},
        {{"-p", p, "--line-delay", "5", "x"}, "", "", "wendle-send: --line-delay goes with --lines", 2},
        {{"-p", p, "--char-delay", "0.5", "x"}, "", "", "wendle-send: --char-delay: give a number of milliseconds from 0 to 10000, such as 50, not 0.5", 2},
        {{"-p", p, "--timeout", "-1", "x"}, "", "", "wendle-send: --timeout: give a number of seconds above 0 and up to 1000000, such as 0.5, not -1", 2},
        {{"--list", "-p", p}, "", "", "wendle-send: --list takes no port and no message", 2},
        {{"-p", p, "a", "b"}, "", "", "wendle-send: a second MESSAGE: b", 2},
    };
    // clang-format on
    for (const auto& c : cases) {
        port.arrived.clear();
        const ToolRun run = SendThrough(port, c.args, c.input);
        EXPECT_EQ(run.exit_code, c.status) << run.err;
        EXPECT_TRUE(run.err.starts_with(c.err)) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'),
                  std::count(c.err.begin(), c.err.end(), '\n') + (c.status == 2 ? 2 : 0));
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(Hex(port.arrived), c.hex) << Hex(c.input);
    }
}

// A large message arrives whole, however often the port's queue fills.
TEST(Send, OneMebibyteFromStandardInputArrivesWhole) {
    std::string message(1 << 20, '\0');
    for (std::size_t i = 0; i < message.size(); ++i) {
        message[i] = static_cast<char>(i % 251);
    }
    PtyPort port;
    EXPECT_EQ(SendThrough(port, {"-p", port.path(), "--raw"}, message).exit_code, 0);
    EXPECT_TRUE(port.arrived == message) << port.arrived.size() << " bytes";
}

// Someone typing: with --lines each line goes out as it is typed; without,
// a hint that the end is Ctrl+D, and the message goes out then.
TEST(Send, TypedAtATerminal) {
    for (const bool lines : {true, false}) {
        PtyPort port, keyboard;
        // Standard input alone is the terminal.
        std::vector<std::string> args{
            "-c", "exec \"$@\" < \"$0\"", keyboard.path(), WENDLE_SEND_TOOL, "-p", port.path()};
        args.insert(args.end(), lines ? 1 : 0, "--lines");
        RunningTool tool("/bin/sh", args);
        for (const std::string line : {"<CLS>one\n", "two\n"}) {
            const std::size_t from = port.arrived.size();
            ASSERT_EQ(write(keyboard.pty.master.get(), line.data(), line.size()),
                      ssize_t(line.size()));
            EXPECT_TRUE(!lines || port.ReadUntil([&] { return port.arrived.size() >= from + 3; }));
        }
        ASSERT_EQ(write(keyboard.pty.master.get(), "\x04", 1), 1);
        const ToolRun run = tool.Finish();
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(run.err, lines ? ""
                                 : "wendle-send: reading the message from the terminal until "
                                   "Ctrl+D (give MESSAGE, or --lines to send each line as it "
                                   "is typed)\n");
        port.Drain();
        EXPECT_EQ(port.arrived, lines ? "\x0conetwo" : "\x0cone\ntwo\n");
    }
}

// A port is left with the settings it had, whether the send ends well, times
// out or is ended by a signal while it waits; --keep-settings leaves
// Wendle's line. The pseudo-terminal starts cooked, as a user's terminal is.
TEST(Send, ThePortIsLeftAsFound) {
    // clang-format off
    const struct {
        std::vector<std::string> args;
        int signal; // sent once bytes arrive and nothing reads them; 0: none
        int status;
        std::string left; // the line as left; "": as found
        std::string err = "";
    } cases[] = {
        {{"x"}, 0, 0, ""},
        {{"--keep-settings", "-b", "19200", "x"}, 0, 0, "19200 8N1, no flow control, raw"},
        // Nothing reads: it gives up, says how far it got, and lets go.
        {{"--timeout", "1", "--raw"}, 0, 8, "", ": write timed out after 1 s: "},
        {{"--raw"}, SIGINT, -1, ""},
        {{"--raw"}, SIGTERM, -1, ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        PtyPort port;
        const std::string found = port.Settings();
        std::vector<std::string> args{"-p", port.path()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        RunningTool tool(WENDLE_SEND_TOOL, args, std::string(1 << 20, 'x'));
        pollfd arrival{port.pty.master.get(), POLLIN, 0};
        ASSERT_EQ(poll(&arrival, 1, 30000), 1);
        tool.Signal(c.signal); // 0 sends none
        const ToolRun run = tool.Finish();
        EXPECT_EQ(run.exit_code, c.status) << run.err;
        LineSettings left;
        ASSERT_TRUE(ReadLineSettings(port.pty.master, left).ok());
        if (c.left.empty()) {
            EXPECT_EQ(port.Settings(), found) << c.args[0] << " " << c.signal;
        } else {
            EXPECT_EQ(DescribeLineSettings(left), c.left);
        }
        if (!c.err.empty()) {
            EXPECT_TRUE(run.err.starts_with("wendle-send: " + port.path() + c.err)) << run.err;
            EXPECT_NE(run.err.find(" of 1048576 bytes written, the rest discarded"),
                      std::string::npos);
        }
    }
}

// The group that may use a port comes from the system (dialout here).
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
