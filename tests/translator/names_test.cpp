// What messages give, form by form, and the names in them; the decoder's
// readable messages; the built wendle-translate run the way scripts do. The
// scan against the literal rebuild loop over any text is
// fuzz/translate_fuzz.cpp's.
#include "tests/support/tool_run.h"
#include "tests/support/translate_support.h"
#include "translator/decode.h"
#include "translator/unknown_names.h"

#include <gtest/gtest.h>

namespace {

using namespace std::literals;

constexpr std::string_view kMessages[][2] = {
    // Text passes, tokens are replaced, what is no token stays as it is.
    {"<CLS>Hi<13>", "0C 48 69 0D"},
    {"a<>b", "61 3C 3E 62"},
    {"12><12", "31 32 3E 3C 31 32"},
    {"<1<2>", "3C 31 02"},
    {"A\0<66>"sv, "41 00 42"},
    {"< 12>", "3C 20 31 32 3E"},
    {"\x80<65>\xFF", "80 41 FF"},
    {"<\xE9>", "3C E9 3E"},
    {"<XYZZY><65>", "41"},
    // A replacement is scanned again with the text after it, never with the
    // text before the token.
    {"<60>12>", "0C"},
    {"<60,65,62>", "01"},
    {"<<65>66>", "3C 41 36 36 3E"},
    // Decimal items: the low byte; a value whose low 32 bits are all ones
    // gives nothing; 18 significant digits are exact, further ones count as
    // zeros; from 2^63 on 00; an empty item is 00.
    {"<255>", "FF"},
    {"<256>", "00"},
    {"<0000000000000000000000000000013>", "0D"},
    {"<4294967294>", "FE"},
    {"<8589934591>", ""},
    {"<4294967295,65>", "41"},
    {"<999999997191651327>", ""},
    {"<9223372036854775807>", "F8"},
    {"<9223372036854775810>", "00"},
    {"<,>", "00 00"},
    // Underscore: 64 + N, by the same rule.
    {"<_5>", "45"},
    {"<__>", "40"},
    {"<_1_2>", "41"},
    {"<_4294967231>", ""},
    {"<_5A>", ""},
    // Hexadecimal: the last two characters, in any case.
    {"<0XfF>", "FF"},
    {"<0x7>", "07"},
    {"<0x>", "00"},
    {"<0XX7>", "07"},
    {"<0x1234>", "34"},
    {"<0x1G>", "01"},
    // Control letters: "A" to "_" less 64, letters in either case.
    {"<a>", "01"},
    {"<z>", "1A"},
    {"<_>", "1F"},
    {"<@>", "3C 40 3E"},
    {"<`>", ""},
    // Backslash: the text upper-cased; a backslash pair ends it.
    {"<\\hello>", "48 45 4C 4C 4F"},
    {"<\\\\>", ""},
    {"<\\a\\b>", "41 5C 42"},
    {"<\\\\\\a\\\\>", "41"},
    {"<\\`[]^>", "60 5B 5D 5E"},
    {"<\\65,\\66>", "36 35 36 36"},
    // The first form that matches wins: control letter, underscore,
    // backslash, hexadecimal, name.
    {"<_CLS>", ""},
    {"<\\ESC>", "45 53 43"},
    {"<0XCLS>", "00"},
    {"<1,CLS,2>", "01 0C 02"},
    {"<12A>", ""},
};

TEST(Translate, Messages) {
    for (const auto& [text, hex] : kMessages) {
        EXPECT_EQ(Hex(Translate(text)), hex) << Hex(text);
    }
    // A million tokens that build further tokens: no recursion, nothing lost.
    constexpr std::size_t kMillion = 1'000'000;
    std::string chain;
    while (chain.size() < 4 * kMillion) {
        chain += "<60>";
    }
    EXPECT_EQ(Translate(chain + "12>"), std::string(kMillion - 1, '<') + "\x0C");
}

// Bytes, their message without names and with names.
constexpr std::string_view kDecodeCases[][3] = {
    {"\x0CHello", "<12>Hello", "<CLS>Hello"},
    {"\0\x7F\x80\xFF"sv, "<0,127,128,255>", "<NULL,127,128,255>"},
    // The ASCII control names are no display commands.
    {"\x13\x1B", "<19,27>", "<19,27>"},
    {"\xFE\xC0", "<254,192>", "<KTA_LINE2>"},
    {"\xFE\x01\xFE\x80", "<254,1,254,128>", "<KTA_CLS>"},
    {"\xFE\x01", "<254,1>", "<KTA_PREFIX,HOME>"},
    // Escape sequences take in their printable letters, longest first.
    {"\x1B\x59\x41", "<27>YA", "<LAYERS_GRAPHICS_OFF>"},
    {"\x1B\x44H", "<27>DH", "<DEFINE_CHAR>H"},
    // A "<" stays literal; a ">" that would close a token after it does not.
    {"<12>", "<12<62>", "<12<62>"},
    {"<1\x01>", "<1<1>>", "<1<HOME>>"},
    {"<\x1B\x41>", "<<27>A>", "<<SET_ADDRESS>>"},
};

TEST(Decode, ReadableMessages) {
    for (const auto& [bytes, numbers, names] : kDecodeCases) {
        EXPECT_EQ(DecodeBytes(bytes, false), numbers) << Hex(bytes);
        EXPECT_EQ(DecodeBytes(bytes, true), names) << Hex(bytes);
    }
    // Every pair of bytes, so every byte after every other, comes back.
    for (unsigned pair = 0; pair < 0x10000; ++pair) {
        const std::string bytes{static_cast<char>(pair >> 8), static_cast<char>(pair)};
        for (const bool with_names : {false, true}) {
            ASSERT_EQ(Translate(DecodeBytes(bytes, with_names)), bytes) << Hex(bytes);
        }
    }
}

// Every name with its bytes, written out here from the documented table
// rather than taken from the translator: NAME=HEX, in groups as documented.
constexpr std::string_view kNameTable = R"(
    NUL=00 SOH=01 STX=02 ETX=03 EOT=04 ENQ=05 ACK=06 BEL=07 BS=08 HT=09 LF=0A VT=0B FF=0C CR=0D
    SO=0E SI=0F DLE=10 DC1=11 DC2=12 DC3=13 DC4=14 NAK=15 SYN=16 ETB=17 CAN=18 EM=19 SUB=1A ESC=1B
    FS=1C GS=1D RS=1E US=1F
    NULL=00 HOME=01 BIG_BEGIN=02 BIG_END=03 NO_CURSOR=04 UL_CURSOR=05 BK_CURSOR=06 BELL=07
    BACKSPACE=08 TAB=09 LINEFEED=0A VTAB=0B CLS=0C CLEAR=0C CLEAR_SCREEN=0C RETURN=0D BL_ON=0E
    BL_OFF=0F BACKLIGHT_ON=0E BACKLIGHT_OFF=0F VFD_ON=0E VFD_OFF=0F POSITION=10 CLR_COL=11
    RIGHT_ALIGN=12
    EEPROM_TO_SCREEN=1B45 DEFINE_CHAR=1B44 SET_ADDRESS=1B41 WRITE_BYTE=1B42 CLEAR_TO_BYTE=1B43
    DOWNLOAD_GRAPHIC=1B4447 SET_FONT=1B46 SET_INK=1B49 LINE=1B4C LINE_TO=1B54 MODE_OR=1B4D40
    MODE_XOR=1B4D41 OVERLAY_OR=1B4F40 OVERLAY_XOR=1B4F41 OVERLAY_AND=1B4F42 POINT=1B50
    REVERSE_NONE=1B5240 REVERSE_GRAPHICS=1B5241 REVERSE_TEXT=1B5242 REVERSE_BOTH=1B5243
    LAYERS_BOTH_ON=1B5940 LAYERS_GRAPHICS_OFF=1B5941 LAYERS_TEXT_OFF=1B5942 LAYERS_BOTH_OFF=1B5943
    TRANSFER_TO_EE=1B58 ZAP_GRAPHICS_SETTINGS=1B5941 ZAP_TEXT_SETTINGS=1B5A42
    ZAP_BOTH_SETTINGS=1B5943 REVERSE_LINES=1B52
    KTA_CLS=FE01FE80 KTB_CLS=FE01FE80 KTA_HOME=FE02 KTB_HOME=FE02 KTA_BLANK=FE08 KTB_BLANK=FE08
    KTA_NO_CURSOR=FE0C KTB_NO_CURSOR=FE0C KTA_BLOCK_CURSOR=FE0D KTB_BLOCK_CURSOR=FE0D
    KTA_UL_CURSOR=FE0E KTB_UL_CURSOR=FE0E KTA_MOVE_LEFT=FE10 KTB_MOVE_LEFT=FE10 KTA_MOVE_RIGHT=FE14
    KTB_MOVE_RIGHT=FE14 KTA_SCROLL_LEFT=FE18 KTB_SCROLL_LEFT=FE18 KTA_SCROLL_RIGHT=FE1C
    KTB_SCROLL_RIGHT=FE1C KTA_PREFIX=FE KTB_PREFIX=FE KTA_LINE1=FE80 KTB_LINE1=FE80 KTA_LINE2=FEC0
    KTB_LINE2=FEC0 KTA_LINE3=FE94 KTB_LINE3=FE94 KTA_LINE4=FED4 KTB_LINE4=FED4
)";

// Every name, as written and in lower case, gives its bytes alone and among
// other items; the search for unknown names knows it; --list-names shows the
// table as documented, in its order.
TEST(Names, EveryNameGivesItsBytesInAnyCase) {
    std::istringstream table{std::string(kNameTable)};
    std::string listed;
    for (std::string entry; table >> entry;) {
        const std::string name = entry.substr(0, entry.find('='));
        std::string hex, lower;
        for (std::size_t i = name.size() + 1; i < entry.size(); i += 2) {
            hex += (hex.empty() ? "" : " ") + entry.substr(i, 2);
        }
        for (const char c : name) {
            lower += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        }
        EXPECT_EQ(Hex(Translate("<" + name + ">")), hex) << name;
        EXPECT_EQ(Hex(Translate("<1," + lower + ",2>")), "01 " + hex + " 02") << lower;
        const std::string token = "<" + lower + ">";
        EXPECT_EQ(FindUnknownNames(token.data(), token.size(), nullptr, 0), 0u) << lower;
        listed += name + std::string(23 - name.size(), ' ') + hex + "\n";
    }
    EXPECT_EQ(RunTool(WENDLE_TRANSLATE_TOOL, {"--list-names"}).out, listed);
}

// No prefix, abbreviation or extension of a name matches: it gives no bytes
// and is reported where it stands. The items of a token are taken one by
// one; text that holds no token, or a token cut off by the end, reports
// nothing. Written " offset:name", then " +N" for N more than found[] held.
TEST(Names, UnknownNamesAndWhereTheyStand) {
    constexpr std::string_view kCases[][3] = {
        {"<CLS>Hi<kta_line2><KTA_LIN2>", "0C 48 69 FE C0", " 19:KTA_LIN2"},
        {"<CL,CLSX,CLS_,XCLS>", "", " 1:CL 4:CLSX 9:CLS_ 14:XCLS"},
        {"<KTA_LINE><KTA_LINE21><KTC_CLS>", "", " 1:KTA_LINE 11:KTA_LINE21 23:KTC_CLS"},
        {"<SP,DEL,KT_CLS,CLEARSCREEN>", "", " 1:SP 4:DEL 8:KT_CLS 15:CLEARSCREEN"},
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
        EXPECT_EQ(Hex(Translate(text)), hex) << text;
    }
}

// A name that matches nothing gives no bytes, as it always has, and a
// warning; --strict makes it an error before anything is written. Bad usage
// says what was wrong, then the usage line: status 2, nothing written. Not a
// terminal: the help is wrapped to 80 columns, an option's text under its own.
TEST(Cli, RunAsScriptsDo) {
    const std::string unknown = "<CLS>a<KTA_LIN2>b<65>";
    const std::string tool = "wendle-translate: ";
    const std::string told = tool + "unknown name KTA_LIN2 at offset 7";
    const std::string warned =
        told + " sends nothing; wendle-translate --list-names shows every name\n";
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
        {{"--hex"}, "A\0<66>\r\n"sv, 0, "41 00 42 0D 0A\n", ""},
        {{"--hex"}, "", 0, "\n", ""},
        // The argument wins over standard input; -- ends the options.
        {{"<66>"}, "<65>", 0, "B", ""},
        {{"--hex", "--", "--hex"}, "", 0, "2D 2D 68 65 78\n", ""},
        {{"--decode", "--names"}, "\x0CHi\xFE\xC0<1>\0"sv, 0, "<CLS>Hi<KTA_LINE2><1<62,NULL>", ""},
        {{"--version"}, "", 0, "wendle-translate (Wendle 1.4)\n", ""},
        {{"--hex", unknown}, "", 0, "0C 61 62 41\n", warned},
        {{"--strict", "--hex", unknown}, "", 9, "", told + " (--strict): nothing sent\n"},
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
