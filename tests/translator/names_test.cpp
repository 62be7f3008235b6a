// Names in messages, and the built wendle-translate run the way scripts do.
#include "tests/support/tool_run.h"
#include "tests/support/translate_support.h"
#include "translator/unknown_names.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace std::literals;

// Names of each group, later names of a row among them, with their bytes.
constexpr std::string_view kNames[][2] = {
    {"NUL", "00"},
    {"US", "1F"},
    {"CLEAR_SCREEN", "0C"},
    {"VFD_OFF", "0F"},
    {"RIGHT_ALIGN", "12"},
    {"DOWNLOAD_GRAPHIC", "1B 44 47"},
    {"ZAP_BOTH_SETTINGS", "1B 59 43"},
    {"KTA_CLS", "FE 01 FE 80"},
    {"KTB_LINE4", "FE D4"},
};

// A name, as written and in lower case, gives its bytes alone and among
// other items; the search for unknown names knows it; --list-names lists
// all 116 names of the table, in its order.
TEST(Names, GiveTheirBytesInAnyCase) {
    const std::string listed = RunTool(WENDLE_TRANSLATE_TOOL, {"--list-names"}).out;
    for (const auto& [name, hex] : kNames) {
        const std::string upper(name), bytes(hex);
        std::string lower;
        for (const char c : upper) {
            lower += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        }
        EXPECT_EQ(TranslateHex("<" + upper + ">"), bytes);
        EXPECT_EQ(TranslateHex("<1," + lower + ",2>"), "01 " + bytes + " 02") << lower;
        const std::string token = "<" + lower + ">";
        EXPECT_EQ(FindUnknownNames(token.data(), token.size(), nullptr, 0), 0u) << lower;
        const std::string line = upper + std::string(23 - upper.size(), ' ') + bytes + "\n";
        EXPECT_NE(("\n" + listed).find("\n" + line), std::string::npos) << line;
    }
    EXPECT_EQ(Count(listed, "\n"), 116u);
    EXPECT_TRUE(listed.starts_with("NUL                    00\n")) << listed;
    EXPECT_TRUE(listed.ends_with("KTA_LINE4              FE D4\nKTB_LINE4              FE D4\n"));
}

// No prefix, abbreviation or extension of a name matches: it gives no bytes
// and is reported where it stands. The items of a token are taken one by
// one; text that holds no token, or a token cut off by the end, reports
// nothing. Written " offset:name", then " +N" for N more than found[] held.
TEST(Names, UnknownNamesAndWhereTheyStand) {
    constexpr std::string_view kCases[][3] = {
        {"<CLS>Hi<kta_line2><KTA_LIN2>", "0C 48 69 FE C0", " 19:KTA_LIN2"},
        {"<CL,CLSX,CLS_,XCLS>", "", " 1:CL 4:CLSX 9:CLS_ 14:XCLS"},
        {"<254,LINE2,_x,_12,0x41,\\a\\,Q,12,,cls>", "FE 4C 41 41 11 0C 00 0C", " 5:LINE2 11:_x"},
        {"<<CLS> a<b c> <NOPE", "3C 0C 20 61 3C 62 20 63 3E 20 3C 4E 4F 50 45", ""},
        {"<A1><B2><C3><D4><E5><F6>", "", " 1:A1 5:B2 9:C3 13:D4 +2"},
    };
    for (const auto& [text, hex, unknown] : kCases) {
        UnknownName found[4];
        const std::size_t count = FindUnknownNames(text.data(), text.size(), found, 4);
        std::string names;
        for (std::size_t i = 0; i < count && i < 4; ++i) {
            names += " " + std::to_string(found[i].offset) + ":" +
                     std::string(text.substr(found[i].offset, found[i].length));
        }
        EXPECT_EQ(count > 4 ? names + " +" + std::to_string(count - 4) : names, unknown) << text;
        EXPECT_EQ(TranslateHex(text), hex) << text;
    }
}

// A name that matches nothing gives no bytes, as it always has, and a
// warning; --strict makes it an error before anything is written. Bad usage
// says what was wrong, then the usage line: status 2, nothing written. Not a
// terminal: the help is wrapped to 80 columns, an option's text under its own.
TEST(Cli, RunAsScriptsDo) {
    const std::string unknown = "<CLS>a<KTA_LIN2>b<x1,65>";
    const std::string tool = "wendle-translate: ";
    const std::string hint = " sends nothing; wendle-translate --list-names shows every name\n";
    const std::string warned = tool + "unknown name KTA_LIN2 at offset 7" + hint + tool +
                               "unknown name x1 at offset 18" + hint;
    const std::string strict = " (--strict): nothing sent\n";
    const std::string refused = tool + "unknown name KTA_LIN2 at offset 7" + strict + tool +
                                "unknown name x1 at offset 18" + strict;
    const std::string usage = "\nusage: wendle-translate [--hex] [--strict] [--decode [--names]] "
                              "[--] [TEXT] | --list-names (see --help)\n";
    const std::string excluded = "--hex and --decode exclude each other (to decode a hex dump, "
                                 "turn it into bytes first: xxd -r -p)";
    const std::string dash = " (put -- before a TEXT that starts with -)";
    const struct {
        std::vector<std::string> args;
        std::string_view input;
        int status;
        std::string out, err;
    } cases[] = {
        {{}, "A\0<66>\xFF<0>\r\n<NUL>"sv, 0, "A\0B\xFF\0\r\n\0"s, ""},
        {{"--hex"}, "", 0, "\n", ""},
        // The argument wins over standard input; -- ends the options.
        {{"<66>"}, "<65>", 0, "B", ""},
        {{"--hex", "--", "--hex"}, "", 0, "2D 2D 68 65 78\n", ""},
        {{"--decode", "--names"}, "\x0CHi\xFE\xC0<1>\0"sv, 0, "<CLS>Hi<KTA_LINE2><1<62,NULL>", ""},
        {{"--version"}, "", 0, "wendle-translate (Wendle 1.4)\n", ""},
        {{"--hex", unknown}, "", 0, "0C 61 62 41\n", warned},
        {{"--strict", "--hex", unknown}, "", 9, "", refused},
        {{"--strict", "--hex", "<CLS,kta_line2>"}, "", 0, "0C FE C0\n", ""},
        {{"--hexx"}, "", 2, "", tool + "unknown option --hexx" + dash + usage},
        {{"--names"}, "", 2, "", tool + "--names requires --decode" + usage},
        {{"--hex", "--decode"}, "", 2, "", tool + excluded + usage},
        {{"--list-names", "--hex"}, "", 2, "", tool + "--list-names goes alone" + usage},
        {{"--list-names", "--strict"}, "", 2, "", tool + "--list-names goes alone" + usage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args) + " " + Hex(c.input));
        const ToolRun run = RunTool(WENDLE_TRANSLATE_TOOL, c.args, c.input);
        EXPECT_EQ(run.exit_code, c.status);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
    }
    const std::string help = RunTool(WENDLE_TRANSLATE_TOOL, {"--help"}).out;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 80u) << line;
    }
    EXPECT_NE(help.find("\n  --decode                Read bytes and write a message that "
                        "translates back to\n                          exactly them"),
              std::string::npos)
        << help;
}

} // namespace
