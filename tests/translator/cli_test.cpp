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

TEST(Cli, StandardOutputCarriesEveryByte) {
    using namespace std::literals;
    const std::string_view input = "A\0<66>\xFF<0>\r\n<NUL>"sv;
    const std::string expected = "A\0B\xFF\0\r\n\0"s;
    EXPECT_EQ(RunTranslate({}, input).out, expected);
    EXPECT_EQ(RunTranslate({"--"}, input).out, expected);
    EXPECT_EQ(RunTranslate({"--hex"}, input).out, "41 00 42 FF 00 0D 0A 00\n");
    EXPECT_EQ(RunTranslate({"--hex"}, "").out, "\n");
    EXPECT_EQ(RunTranslate({}, "").out, "");
}

TEST(Cli, TextArgument) {
    EXPECT_EQ(RunTranslate({"<CLS>Hi<13>"}).out, "\x0CHi\x0D");
    EXPECT_EQ(RunTranslate({"--", "-<65>"}).out, "-A");
    EXPECT_EQ(RunTranslate({"--hex", "--", "--hex"}).out, "2D 2D 68 65 78\n");
    EXPECT_EQ(RunTranslate({"--", "--hex"}).out, "--hex");
    // The argument wins over standard input.
    EXPECT_EQ(RunTranslate({"<66>"}, "<65>").out, "B");
}

// What was wrong comes first, then the usage line; status 2, nothing on
// standard output.
TEST(Cli, BadUsageNamesTheProblemThenTheUsage) {
    const struct {
        std::vector<std::string> args;
        std::string_view what;
    } bad[] = {
        {{"-x"}, "unknown option -x"},
        {{"--hexx"}, "unknown option --hexx"},
        {{"-<65>"}, "unknown option -<65>"},
        {{"a", "b"}, "a second TEXT: b"},
        {{"--hex", "a", "b"}, "a second TEXT: b"},
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

TEST(Cli, HelpAndVersion) {
    const ToolRun help = RunTranslate({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    for (const char* part : {"--hex", "--decode", "--names", "--version", "TEXT",
                             "Examples:", "wendle-translate --hex '<CLS>Hi<13>'"}) {
        EXPECT_NE(help.out.find(part), std::string::npos) << part;
    }
    // Not a terminal: wrapped to 80 columns, an option's text under its own.
    std::istringstream lines(help.out);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 80u) << line;
    }
    EXPECT_NE(help.out.find("\n  --decode                Read bytes and write a message that "
                            "translates back to\n                          exactly them"),
              std::string::npos)
        << help.out;
    const ToolRun version = RunTranslate({"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, "wendle-translate (Wendle 1.4)\n");
}

TEST(Cli, DecodeWritesTheMessageAndNothingElse) {
    using namespace std::literals;
    const std::string bytes = "\x0CHi\xFE\xC0<1>\0"s;
    EXPECT_EQ(RunTranslate({"--decode"}, bytes).out, "<12>Hi<254,192><1<62,0>");
    EXPECT_EQ(RunTranslate({"--decode", "--names"}, bytes).out, "<CLS>Hi<KTA_LINE2><1<62,NULL>");
    EXPECT_EQ(RunTranslate({"--decode", "--", "-<1>"}).out, "-<1<62>");
    // Through both directions of the tool, every byte value comes back.
    std::string every_byte;
    for (int i = 0; i < 256; ++i) {
        every_byte += static_cast<char>(i);
    }
    for (const std::vector<std::string>& decode :
         {std::vector<std::string>{"--decode"}, {"--decode", "--names"}}) {
        EXPECT_EQ(RunTranslate({}, RunTranslate(decode, every_byte + every_byte).out).out,
                  every_byte + every_byte);
    }
}

} // namespace
