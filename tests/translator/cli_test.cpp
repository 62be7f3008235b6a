// Runs the built wendle-translate the way scripts do.
#include "tests/translator/test_support.h"

#include "tests/support/tool_run.h"

#include <gtest/gtest.h>

#include <sstream>
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
        {{"--list-names", "--hex"}, "--list-names goes alone"},
    };
    for (const auto& c : bad) {
        const ToolRun run = RunTranslate(c.args, "<65>");
        EXPECT_EQ(run.exit_code, 2) << c.args[0];
        EXPECT_EQ(run.out, "") << c.args[0];
        const std::string first_line = "wendle-translate: " + std::string(c.what);
        EXPECT_EQ(run.err.substr(0, first_line.size()), first_line) << run.err;
        const std::size_t usage =
            run.err.find("\nusage: wendle-translate [--hex] [--strict] [--decode");
        EXPECT_NE(usage, std::string::npos) << run.err;
        EXPECT_EQ(run.err.find('\n', usage + 1), run.err.size() - 1) << run.err;
    }
    EXPECT_EQ(RunTranslate({"--version"}).out, "wendle-translate (Wendle 1.4)\n");
    // Not a terminal: help wrapped to 80 columns, an option's text under its own.
    const std::string help = RunTranslate({"--help"}).out;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 80u) << line;
    }
    EXPECT_NE(help.find("\n  --decode                Read bytes and write a message that "
                        "translates back to\n                          exactly them"),
              std::string::npos)
        << help;
}

// A name that matches nothing gives no bytes, as it always has, and a
// warning; --strict makes it an error before anything is written.
TEST(Cli, UnknownNames) {
    const std::string text = "<CLS>a<KTA_LIN2>b<x1,65>";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out, err;
    } cases[] = {
        {{"--hex", text},
         0,
         "0C 61 62 41\n",
         "wendle-translate: unknown name KTA_LIN2 at offset 7 sends nothing; wendle-translate "
         "--list-names shows every name\nwendle-translate: unknown name x1 at offset 18 sends "
         "nothing; wendle-translate --list-names shows every name\n"},
        {{"--strict", "--hex", text},
         9,
         "",
         "wendle-translate: unknown name KTA_LIN2 at offset 7 (--strict): nothing sent\n"
         "wendle-translate: unknown name x1 at offset 18 (--strict): nothing sent\n"},
        {{"--strict", "--hex", "<CLS,kta_line2>"}, 0, "0C FE C0\n", ""},
    };
    for (const auto& c : cases) {
        const ToolRun run = RunTranslate(c.args);
        EXPECT_EQ(run.exit_code, c.status);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
    }
}

} // namespace
