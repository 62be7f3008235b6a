#include "tests/translator/test_support.h"
#include "translator/token.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace {

// Token insides of every form, as whole tokens.
// clang-format off
constexpr MessageCase kTokenCases[] = {
    {"<13>", "0D"}, {"<0013>", "0D"}, {"<254,1>", "FE 01"}, {"<65,66,67>", "41 42 43"},
    {"<256>", "00"}, {"<300>", "2C"}, {"<4294967294>", "FE"}, {"<4294967295>", ""},
    {"<,>", "00 00"}, {"<7,>", "07 00"}, {"<,7>", "00 07"}, {"<G>", "07"}, {"<g>", "07"},
    {"<[>", "1B"}, {"<\\>", "1C"}, {"<_>", "1F"}, {"<_5>", "45"}, {"<_0>", "40"}, {"<__>", "40"},
    {"<_1_2>", "41"}, {"<_200>", "08"}, {"<_A>", ""}, {"<\\abc>", "41 42 43"}, {"<\\a\\>", "41"},
    {"<\\\\>", ""}, {"<\\a\\b>", "41 5C 42"}, {"<\\hello>", "48 45 4C 4C 4F"}, {"<0x41>", "41"},
    {"<0X7>", "07"}, {"<0XFF>", "FF"}, {"<0x1234>", "34"}, {"<0x>", "00"}, {"<0XX>", "00"},
    {"<0XG1>", "00"}, {"<0X1G>", "01"}, {"<0x41,0x42>", "41 42"}, {"<cls>", "0C"},
    {"<1,CLS,2>", "01 0C 02"}, {"<kta_line2>", "FE C0"}, {"<12A>", ""}, {"<`>", ""},
    {"<1,XYZZY,2>", "01 02"}, {"<0x1B,_0,\\x>", "1B 40 58"},
};
// clang-format on

TEST(TokenEvaluation, DocumentedTokens) {
    ExpectTranslations(kTokenCases);
}

// A single character from "@" to "_" gives its code minus 64; the letters in
// either case. "@" itself is no token character and never arrives.
TEST(ControlLetters, EveryLetterInBothCases) {
    for (char upper = 'A'; upper <= '_'; ++upper) {
        const std::string expected(1, static_cast<char>(upper - 64));
        const char lower = static_cast<char>(std::tolower(upper));
        for (const char letter : {upper, lower}) {
            EXPECT_EQ(Translate(std::string("<") + letter + ">"), expected) << letter;
        }
    }
    EXPECT_EQ(TranslateHex("<@>"), "3C 40 3E");
}

// clang-format off
TEST(BackslashForm, LiteralUpperCasedText) {
    constexpr MessageCase kCases[] = {
        {"<\\hello>", "48 45 4C 4C 4F"}, {"<\\Mixed_Case9>", "4D 49 58 45 44 5F 43 41 53 45 39"},
        {"<\\\\\\a\\\\>", "41"}, {"<\\a\\b\\c>", "41 5C 42 5C 43"}, {"<\\\\\\\\>", ""},
        {"<\\`[]^>", "60 5B 5D 5E"}, {"<\\CLS>", "43 4C 53"}, {"<\\65,\\66>", "36 35 36 36"},
    };
    ExpectTranslations(kCases);
}

// Where forms overlap, the first in the order control letter, underscore,
// backslash, hexadecimal, table wins.
TEST(FormOrder, FirstMatchingFormWins) {
    constexpr MessageCase kCases[] = {
        {"<_>", "1F"},  // control letter, not the underscore form
        {"<\\>", "1C"}, // control letter, not the backslash form
        {"<_CLS>", ""}, // underscore form: the table is not consulted
        {"<_ESC>", ""}, {"<\\ESC>", "45 53 43"},
        {"<0XCLS>", "00"}, // hexadecimal form from "LS"
        {"<0CLS>", ""},    // no form and no row
        {"<x41>", ""},     // "0X" must come first
        {"<`>", ""}, {"<``>", ""}, // one character outside "@" to "_"
    };
    ExpectTranslations(kCases);
}
// clang-format on

// The scanner hands EvaluateToken an output that overlaps the inside; the
// bytes must be the same as into a separate buffer, wherever the output
// starts at or before the inside. The buffer ends one byte after the inside,
// the room for an output of length + 1 bytes that starts at the inside.
TEST(TokenEvaluation, OverlappingOutputGivesTheSameBytes) {
    const std::string insides[] = {
        ",",
        ",,,,",
        "1,,2",
        "\\abc,\\de\\f,\\\\g\\",
        "0x41,_5,G,CLS",
        "KTA_CLS,,",
        "65,KTB_CLS,0x",
        "_,\\,[,`,@x",
        "99999999999999999999,4294967295,_200",
    };
    for (const std::string& inside : insides) {
        std::string separate(inside.size() + 1, '\0');
        separate.resize(EvaluateToken(inside.data(), inside.size(), separate.data()));
        for (std::size_t lead = 0; lead <= 2; ++lead) {
            std::vector<char> buffer(lead + inside.size() + 1, '#');
            std::copy(inside.begin(), inside.end(), buffer.begin() + static_cast<long>(lead));
            const std::size_t size =
                EvaluateToken(buffer.data() + lead, inside.size(), buffer.data());
            ASSERT_LE(size, inside.size() + 1) << inside;
            EXPECT_EQ(Hex(std::string_view(buffer.data(), size)), Hex(separate))
                << inside << " lead " << lead;
        }
    }
}

TEST(LookupMnemonic, TrimsSpacesAndFoldsCase) {
    constexpr MessageCase kCases[] = {
        {"  cls ", "0C"}, {" g", "07"}, {"\\ ab \\ ", "41 42"},
        {"   ", ""},      {"", ""},     {" 0x4f", "4F"},
    };
    for (const MessageCase& c : kCases) {
        std::string out(c.text.size() + 1, '\0');
        out.resize(LookupMnemonic(c.text.data(), c.text.size(), out.data()));
        EXPECT_EQ(Hex(out), c.hex) << '"' << c.text << '"';
    }
}

} // namespace
