// Each cause of failure through each tool that meets it, on real paths and
// pseudo-terminals: the same exit status and the same words in every tool.
#include "tests/support/pty_port.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

namespace {

const std::map<std::string, std::string> kTools = {{"wendle-send", WENDLE_SEND_TOOL},
                                                   {"wendle-display", WENDLE_DISPLAY_TOOL},
                                                   {"wendle-translate", WENDLE_TRANSLATE_TOOL}};

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
            command.push_back(kTools.at(run_args[0]));
            command.insert(command.end(), run_args.begin() + 1, run_args.end());
            const ToolRun run = RunTool(command[0], {command.begin() + 1, command.end()});
            EXPECT_EQ(run.exit_code, c.status) << run.err;
            EXPECT_TRUE(run.err.starts_with(run_args[0] + ": " + c.message)) << run.err;
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), c.status == 2 ? 2 : 1);
            EXPECT_EQ(run.out, "");
        }
    }
}

} // namespace
