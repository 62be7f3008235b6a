// Runs the built wendle-translate the way scripts do.
#include "tests/translator/test_support.h"

#include "tests/support/tool_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

ToolRun RunTranslate(const std::vector<std::string>& args, std::string_view input = {}) {
    return RunTool(WENDLE_TRANSLATE_TOOL, args, input);
}

TEST(Cli, EveryByteComesOut) {
    using namespace std::literals;
    const struct {
        std::vector<std::string> args;
        std::string_view input;
        std::string out;
    } cases[] = {
        {{}, "A\0<66>\xFF<0>\r\n<NUL>"sv, "A\0B\xFF\0\r\n\0"s},
        {{"--hex"}, "A\0<66>\r\n"sv, "41 00 42 0D 0A\n"},
        {{"--hex"}, "", "\n"},
        // The argument wins over standard input; -- ends the options.
        {{"<66>"}, "<65>", "B"},
        {{"--hex", "--", "--hex"}, "", "2D 2D 68 65 78\n"},
        {{"--decode"}, "\x0CHi\xFE\xC0<1>\0"sv, "<12>Hi<254,192><1<62,0>"},
        {{"--decode", "--names"}, "\x0CHi\xFE\xC0<1>\0"sv, "<CLS>Hi<KTA_LINE2><1<62,NULL>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RunTranslate(c.args, c.input).out, c.out) << c.input;
    }
}

// What was wrong comes first, then the usage line; status 2, nothing on
// standard output.
TEST(Cli, BadUsageNamesTheProblemThenTheUsage) {
    const struct {
        std::vector<std::string> args;
        std::string_view what;
    } bad[] = {
        {{"--hexx"}, "unknown option --hexx"},
        {{"--", "a", "-b"}, "a second TEXT: -b"},
        {{"--names"}, "--names requires --decode"},
        {{"--hex", "--decode"}, "--hex and --decode exclude each other"},
    };
    for (const auto& c : bad) {
        const ToolRun run = RunTranslate(c.args, "<65>");
        EXPECT_EQ(run.exit_code, 2) << c.args[0];
        EXPECT_EQ(run.out, "") << c.args[0];
        const std::string first_line = "wendle-translate: " + std::string(c.what);
        EXPECT_EQ(run.err.substr(0, first_line.size()), first_line) << run.err;
        const std::size_t usage = run.err.find("\nusage: wendle-translate [--hex] [--decode");
        EXPECT_NE(usage, std::string::npos) << run.err;
        EXPECT_EQ(run.err.find('\n', usage + 1), run.err.size() - 1) << run.err;
    }
    EXPECT_EQ(RunTranslate({"--version"}).out, "wendle-translate (Wendle 1.4)\n");
}

} // namespace
