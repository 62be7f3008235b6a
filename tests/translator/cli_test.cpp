// Runs the built wendle-translate the way scripts do.
#include "tests/translator/message_cases.h"
#include "tests/translator/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct ToolRun {
    int exit_code = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// Standard input, output and error go through files, so no pipe can fill up.
ToolRun RunTool(const std::vector<std::string>& args, std::string_view input = {}) {
    // ctest may run several of these tests at once, each in its own process.
    const std::string stem = testing::TempDir() + "wendle_translate_" + std::to_string(getpid());
    const std::string in_path = stem + ".in";
    const std::string out_path = stem + ".out";
    const std::string err_path = stem + ".err";
    std::ofstream(in_path, std::ios::binary)
        .write(input.data(), static_cast<std::streamsize>(input.size()));

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in_path.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<char*> argv{const_cast<char*>(WENDLE_TRANSLATE_TOOL)};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    ToolRun run;
    pid_t pid;
    const int spawned =
        posix_spawn(&pid, WENDLE_TRANSLATE_TOOL, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << WENDLE_TRANSLATE_TOOL;
        return run;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFile(out_path);
    run.err = ReadFile(err_path);
    for (const std::string& path : {in_path, out_path, err_path}) {
        std::remove(path.c_str());
    }
    return run;
}

TEST(Cli, HexOfEveryDocumentedMessage) {
    using Cases = std::span<const MessageCase>;
    for (Cases cases : {Cases(kScannerCases), Cases(kTokenCases)}) {
        for (const MessageCase& c : cases) {
            const std::string text(c.text);
            const bool fits_an_argument = text.find('\0') == std::string::npos;
            const ToolRun run =
                fits_an_argument ? RunTool({"--hex", text}) : RunTool({"--hex"}, text);
            EXPECT_EQ(run.exit_code, 0) << Hex(text);
            EXPECT_EQ(run.out, std::string(c.hex) + "\n") << "message: " << Hex(text);
            EXPECT_EQ(run.err, "");
        }
    }
}

TEST(Cli, StandardOutputCarriesEveryByte) {
    using namespace std::literals;
    const std::string_view input = "A\0<66>\xFF<0>\r\n<NUL>"sv;
    const std::string expected = "A\0B\xFF\0\r\n\0"s;
    EXPECT_EQ(RunTool({}, input).out, expected);
    EXPECT_EQ(RunTool({"--"}, input).out, expected);
    EXPECT_EQ(RunTool({"--hex"}, input).out, "41 00 42 FF 00 0D 0A 00\n");
    EXPECT_EQ(RunTool({"--hex"}, "").out, "\n");
    EXPECT_EQ(RunTool({}, "").out, "");
}

TEST(Cli, TextArgument) {
    EXPECT_EQ(RunTool({"<CLS>Hi<13>"}).out, "\x0CHi\x0D");
    EXPECT_EQ(RunTool({"--", "-<65>"}).out, "-A");
    EXPECT_EQ(RunTool({"--hex", "--", "--hex"}).out, "2D 2D 68 65 78\n");
    EXPECT_EQ(RunTool({"--", "--hex"}).out, "--hex");
    // The argument wins over standard input.
    EXPECT_EQ(RunTool({"<66>"}, "<65>").out, "B");
}

TEST(Cli, BadUsageExitsWithTwoAndOneLine) {
    const std::vector<std::string> bad[] = {
        {"-x"},    {"--help"}, {"--hexx"},          {"-"},
        {"-<65>"}, {"a", "b"}, {"--hex", "a", "b"}, {"--", "a", "b"},
    };
    for (const std::vector<std::string>& args : bad) {
        const ToolRun run = RunTool(args, "<65>");
        EXPECT_EQ(run.exit_code, 2) << args[0];
        EXPECT_EQ(run.out, "") << args[0];
        ASSERT_FALSE(run.err.empty()) << args[0];
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        EXPECT_EQ(run.err.rfind("usage: wendle-translate", 0), 0u) << run.err;
    }
}

} // namespace
