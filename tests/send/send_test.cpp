// wendle-send as a user runs it, on pseudo-terminals, and each cause of
// failure through each tool that meets it: the same exit status and the same
// words in every tool.
#include "tests/support/pty_port.h"
#include "tests/support/translate_support.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace {

// The status, all of standard error (`err` its start; a usage error adds the
// usage line) and nothing on standard output.
void ExpectSaid(const ToolRun& run, int status, const std::string& err) {
    EXPECT_EQ(run.exit_code, status) << run.err;
    EXPECT_TRUE(run.err.starts_with(err)) << run.err;
    EXPECT_EQ(Count(run.err, "\n"), Count(err, "\n") + (status == 2 ? 2 : 0));
    EXPECT_EQ(run.out, "");
}

// What arrives on the port, what is said, the exit status and, for the
// pauses asked for, the least time it takes.
TEST(Send, WhatArrivesAndWhatIsSaid) {
    PtyPort port;
    const std::string& p = port.path();
    const std::string file = TempFile("not_a_port", "text");
    const std::string rec = "wendle-recording 1\n0 line 19200 8N1\n0 0C 48\n";
    const std::string good = TempFile("good.rec", rec + "3000 49\n");
    const std::string bad = TempFile("bad.rec", rec + "zz 49\n");
    const std::string stops = TempFile("stops.rec", rec + "10 line 19200 8N2\n");
    const std::string fast = TempFile("fast.rec", rec + "10 line 57600 8N1\n");
    const std::string clears(2, '\x0c'); // --osc 1: 410.4 ms each, far above a start's time
    std::string mebibyte(1 << 20, '\0'); // arrives whole, however often the queue fills
    for (std::size_t i = 0; i < mebibyte.size(); ++i) {
        mebibyte[i] = static_cast<char>(i % 251);
    }
    const std::string unknown = " sends nothing; wendle-translate --list-names shows every name\n";
    const auto told = [&](const char* name, int offset) {
        return "wendle-send: unknown name " + std::string(name) + " at offset " +
               std::to_string(offset) + unknown;
    };
    // clang-format off
    const struct {
        std::vector<std::string> args;
        std::string input, hex, err = "";
        int status = 0;
        int least_ms = 0;
    } cases[] = {
        {{"-p", p, "-b", "19200", "--", "-<CLS>Hi<KTA_LINE2><13>"}, "", "2D 0C 48 69 FE C0 0D"},
        {{"-p", p, "--raw"}, mebibyte, Hex(mebibyte)},
        // An empty MESSAGE is a message: standard input is not read.
        {{"-p", p, ""}, "<65>", ""},
        // Unknown names send nothing and are told, more than five counted.
        {{"-p", p, "<a1><b2><c3><d4><e5><f6><g7>x"}, "", "78", told("a1", 1) + told("b2", 5) + told("c3", 9) +
         told("d4", 13) + told("e5", 17) + "wendle-send: 2 more unknown names\n"},
        {{"-p", p, "--strict", "<LINE2>"}, "", "", "wendle-send: unknown name LINE2 at offset 1 (--strict): nothing sent\n", 9},
        // Lines without their ends (LF or CR LF), the last one without any.
        {{"-p", p, "--lines"}, "<CLS>one\r\ntwo<KTA_LINE2>\n\nlast", "0C 6F 6E 65 74 77 6F FE C0 6C 61 73 74"},
        // Each byte, each line paused after: swapped, they take far less.
        {{"-p", p, "--lines", "--char-delay", "300", "--line-delay", "1"}, "a<xx>bc\n<yy>de\n", "61 62 63 64 65",
         "wendle-send: line 1: unknown name xx at offset 2" + unknown + "wendle-send: line 2: unknown name yy at offset 1" + unknown, 0, 1502},
        {{"-p", p, "--pace", "--osc", "1", clears}, "", "0C 0C", "", 0, 820},
        {{"-p", p, "--replay", good}, "", "0C 48 49", "", 0, 3},
        {{"-p", p, "--replay", bad}, "", "", "wendle-send: " + bad + ": line 4: \"zz\" is not a time: give the microseconds since the first arrival, up to 1000000000000000\n", 1},
        {{"-p", p, "--replay", stops}, "", "", "wendle-send: " + stops + ": the line 19200 8N2 at 0.01 ms: the port is opened 8N1 only; nothing sent\n", 1},
        {{"-p", p, "--replay", fast}, "", "", "wendle-send: " + fast + ": the line 57600 8N1 at 0.01 ms: the port is opened at 1200, 2400, 4800, 9600, 19200 or 38400 baud only; nothing sent\n", 7},
        {{"-p", p, "--replay", good, "x"}, "", "", "wendle-send: --replay sends the recording as it is: give no MESSAGE", 2},
        {{"-p", p, "--osc", "190", "x"}, "", "", "wendle-send: --osc goes with --pace", 2},
        {{"-p", p, "--pace", "--osc", "0", "x"}, "", "", "wendle-send: --osc: give a number of kHz from 1 to 10000, such as 190, not 0", 2},
        // --strict stops at the first line with an unknown name.
        {{"-p", p, "--lines", "--strict"}, "a\n<LIN2>b\nc\n", "61", "wendle-send: line 2: unknown name LIN2 at offset 1 (--strict): nothing sent\n", 9},
        // A line too long for memory is cut, a CR it keeps kept; the next one comes whole.
        {{"-p", p, "--lines", "--raw"}, std::string(4095, 'x') + "\rxx\r\n<end>", Hex(std::string(4095, 'x') + "\r<end>"),
         "wendle-send: line 1: longer than 4096 bytes: the rest of it is dropped\n"},
        {{"-p", file, "x"}, "", "", "wendle-send: " + file + ": not a serial port (Inappropriate ioctl for device); give a "
         "port such as /dev/ttyUSB0 (wendle-send --list shows them)\n", 6},
        {{"x"}, "", "", "wendle-send: no port given: name one with -p PORT", 2},
        {{"/dev/ttyS0", "hello"}, "", "", "wendle-send: no port given: did you mean -p /dev/ttyS0?", 2},
        {{"-p", p, "-b", "0", "x"}, "", "", "wendle-send: 0 baud is not supported: use 1200, 2400, 4800, 9600, 19200 or 38400\n", 7},
        // The largest delay is taken; nothing is sent, so nothing waits.
        {{"-p", p, "--char-delay", "10000", ""}, "", ""},
        {{"-p", p, "-b", "fast", "x"}, "", "", "wendle-send: --baud: give a rate such as 19200, not fast", 2},
        {{"-p"}, "", "", "wendle-send: --port needs a value (see --help)", 2},
        {{"-p", p, "--line-delay", "5", "x"}, "", "", "wendle-send: --line-delay goes with --lines", 2},
        {{"-p", p, "--char-delay", "0.5", "x"}, "", "", "wendle-send: --char-delay: give a number of milliseconds from 0 to 10000, such as 50, not 0.5", 2},
        {{"-p", p, "--timeout", "0", "x"}, "", "", "wendle-send: --timeout: give a number of seconds above 0 and up to 1000000, such as 0.5, not 0", 2},
        {{"--list", "-p", p}, "", "", "wendle-send: --list takes no port and no message", 2},
        {{"-p", p, "a", "b"}, "", "", "wendle-send: a second MESSAGE: b", 2},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        port.arrived.clear();
        const auto start = std::chrono::steady_clock::now();
        RunningTool tool(WENDLE_SEND_TOOL, c.args, c.input);
        // Read meanwhile: a large message fills the pseudo-terminal's buffer.
        port.ReadUntil([&] { return tool.Ended(); }, std::chrono::minutes(10));
        port.Drain();
        const ToolRun run = tool.Finish();
        // A lower bound only: a loaded machine takes longer, never less.
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(c.least_ms));
        ExpectSaid(run, c.status, c.err);
        EXPECT_TRUE(Hex(port.arrived) == c.hex) << port.arrived.size() << " bytes";
    }
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

// A port is left with the settings it had also when the send times out or a
// signal ends it while it waits; --keep-settings leaves Wendle's line. The
// pseudo-terminal starts cooked, as a user's terminal is.
TEST(Send, ThePortIsLeftAsFound) {
    // clang-format off
    const struct {
        std::vector<std::string> args;
        int signal; // sent once bytes arrive and nothing reads them; 0: none
        int status;
        std::string left; // the line as left; "": as found
        std::string err = "", err_end = ""; // after the port's path, and its end
    } cases[] = {
        {{"--keep-settings", "-b", "19200", "x"}, 0, 0, "19200 8N1, no flow control, raw"},
        // Nothing reads: it gives up, says how far it got, and releases the port.
        {{"--timeout", "1.25", "--raw"}, 0, 8, "", ": write timed out after 1.25 s: ",
         " of 1048576 bytes written, the rest discarded; is the device taking data (cable, power, its own flow control)?\n"},
        {{"--raw"}, SIGTERM, -1, ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args) + " " + std::to_string(c.signal));
        PtyPort port;
        const std::string found = port.Settings();
        std::vector<std::string> args{"-p", port.path()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        RunningTool tool(WENDLE_SEND_TOOL, args, std::string(1 << 20, 'x'));
        ASSERT_TRUE(port.ReadUntil([&] { return !port.arrived.empty(); }));
        tool.Signal(c.signal); // 0 sends none
        const ToolRun run = tool.Finish();
        EXPECT_EQ(run.exit_code, c.status) << run.err;
        EXPECT_TRUE(run.err.starts_with(c.err.empty() ? "" : "wendle-send: " + port.path() + c.err))
            << run.err;
        EXPECT_TRUE(run.err.ends_with(c.err_end)) << run.err;
        LineSettings left;
        ASSERT_TRUE(ReadLineSettings(port.pty.slave.get(), left).ok());
        EXPECT_EQ(c.left.empty() ? port.Settings() : DescribeLineSettings(left),
                  c.left.empty() ? found : c.left);
    }
}

TEST(Failures, TheSameCauseTheSameStatusInEveryTool) {
    const group* dialout = getgrnam("dialout");
    const bool can_be_nobody =
        getuid() == 0 && dialout != nullptr && access("/usr/bin/setpriv", X_OK) == 0;
    PtyPort locked, group_port, free_port;
    const std::string owners = TempFile("owners_only", "x");
    const UniqueFd holder(open(locked.path().c_str(), O_RDWR | O_NOCTTY));
    ASSERT_EQ(flock(holder.get(), LOCK_EX | LOCK_NB), 0);
    if (can_be_nobody) {
        ASSERT_EQ(chown(group_port.path().c_str(), 0, dialout->gr_gid), 0);
        ASSERT_EQ(chmod(group_port.path().c_str(), 0660), 0);
        ASSERT_EQ(chmod(owners.c_str(), 0600), 0);
    }
    const std::vector<std::string> nobody{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                          "--clear-groups"};
    const std::vector<std::string> directory_input{"/bin/sh", "-c", "exec \"$0\" \"$@\" < /"};
    const std::string missing = "/nonexistent/ttyUSB9";
    const std::string list = "; wendle-send --list shows the ports of this machine\n";
    const std::string denied = ": permission denied (Permission denied); ";
    // clang-format off
    const struct {
        std::vector<std::vector<std::string>> runs; // a tool's name and its arguments
        int status;
        std::string message; // after "TOOL: ", its start
        std::vector<std::string> prefix = {};
    } cases[] = {
        {{{"wendle-send", "-p", missing, "x"}, {"wendle-display", missing}}, 3, missing + ": no such port (No such file or directory)" + list},
        {{{"wendle-send", "-p", "/", "x"}, {"wendle-display", "/"}}, 6, "/: not a serial port (Is a directory); give a port such as /dev/ttyUSB0 (wendle-send --list shows them)\n"},
        {{{"wendle-send", "-p", locked.path(), "x"}, {"wendle-display", locked.path()}}, 5, locked.path() + ": port busy: another process has locked it; close the program that uses it and try again\n"},
        {{{"wendle-send", "-p", group_port.path(), "x"}, {"wendle-display", group_port.path()}}, 4, group_port.path() + denied +
         "members of the group dialout may use it: add yourself with `sudo usermod -aG dialout $USER` and log in again\n", nobody},
        {{{"wendle-send", "-p", owners, "x"}, {"wendle-display", owners}}, 4, owners + denied + "only its owner root may use it\n", nobody},
        {{{"wendle-send", "-p", free_port.path()}, {"wendle-display", "-"}, {"wendle-translate"}}, 1, "cannot read standard input (Is a directory)\n", directory_input},
        {{{"wendle-send", "--bogus"}, {"wendle-display", "--bogus"}, {"wendle-translate", "--bogus"}}, 2, "unknown option --bogus (put -- before a "},
    };
    // clang-format on
    for (const auto& c : cases) {
        if (c.prefix == nobody && !can_be_nobody) {
            continue; // needs root, the group dialout and setpriv
        }
        for (const std::vector<std::string>& run_args : c.runs) {
            SCOPED_TRACE(testing::PrintToString(run_args));
            std::vector<std::string> command = c.prefix;
            command.push_back(WENDLE_TOOL_DIR "/" + run_args[0]);
            command.insert(command.end(), run_args.begin() + 1, run_args.end());
            ExpectSaid(RunTool(command[0], {command.begin() + 1, command.end()}), c.status,
                       run_args[0] + ": " + c.message);
        }
    }
}

} // namespace
