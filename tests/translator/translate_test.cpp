// What messages give, form by form. Beyond these the scan itself is checked
// against the literal rebuild loop (differential_test.cpp).
#include "tests/translator/test_support.h"
#include "translator/token.h"

#include <gtest/gtest.h>

namespace {

// clang-format off
constexpr MessageCase kMessages[] = {
    // Text passes, tokens are replaced, what is no token stays as it is.
    {"Hello", "48 65 6C 6C 6F"}, {"<CLS>Hi<13>", "0C 48 69 0D"}, {"a<>b", "61 3C 3E 62"},
    {"<12", "3C 31 32"}, {"12>", "31 32 3E"}, {"<<12>", "3C 0C"}, {"<1<2>", "3C 31 02"},
    {"<A-B>", "3C 41 2D 42 3E"}, {"A\0<66>"sv, "41 00 42"}, {"< 12>", "3C 20 31 32 3E"},
    {"\x80<65>\xFF", "80 41 FF"}, {"<\xE9>", "3C E9 3E"}, {"<XYZZY><65>", "41"},
    // A replacement is scanned again with the text after it, never with the
    // text before the token.
    {"<60>12>", "0C"}, {"<60,65,62>", "01"}, {"<<65>66>", "3C 41 36 36 3E"},
    {"<60><60>12>", "3C 0C"}, {"<60>A<62>", "3C 41 3E"}, {"<60,60,54,53,62,62>", "3C 41 3E"},
    // Decimal items: the low byte; a value whose low 32 bits are all ones
    // gives nothing; 18 significant digits are exact, further ones count as
    // zeros; from 2^63 on 00; an empty item is 00.
    {"<255>", "FF"}, {"<256>", "00"}, {"<300>", "2C"}, {"<0000000000000000000000000000013>", "0D"},
    {"<4294967295>", ""}, {"<4294967294>", "FE"}, {"<8589934591>", ""}, {"<4294967295,65>", "41"},
    {"<999999997191651327>", ""}, {"<9223372036854775807>", "F8"},
    {"<9223372036854775810>", "00"}, {"<1000000000000000255>", "FA"},
    {"<123456789012345678>", "4E"}, {"<18446744073709551615>", "00"},
    {"<,>", "00 00"}, {"<7,>", "07 00"}, {"<1,,2>", "01 00 02"},
    // Underscore: 64 + N, by the same rule.
    {"<_5>", "45"}, {"<__>", "40"}, {"<_1_2>", "41"}, {"<_0012_>", "4C"}, {"<_192>", "00"},
    {"<_4294967231>", ""}, {"<_9223372036854775743>", "FC"}, {"<_9223372036854775750>", "00"},
    {"<_5A>", ""}, {"<_5,65>", "45 41"},
    // Hexadecimal: the last two characters, in any case.
    {"<0x41>", "41"}, {"<0XfF>", "FF"}, {"<0x7>", "07"}, {"<0x>", "00"}, {"<0XX7>", "07"},
    {"<0x1234>", "34"}, {"<0xG1>", "00"}, {"<0x1G>", "01"},
    // Control letters: "A" to "_" less 64, letters in either case.
    {"<G>", "07"}, {"<g>", "07"}, {"<a>", "01"}, {"<z>", "1A"}, {"<[>", "1B"}, {"<\\>", "1C"},
    {"<_>", "1F"}, {"<@>", "3C 40 3E"}, {"<`>", ""},
    // Backslash: the text upper-cased; a backslash pair ends it.
    {"<\\hello>", "48 45 4C 4C 4F"}, {"<\\a\\>", "41"}, {"<\\\\>", ""}, {"<\\a\\b>", "41 5C 42"},
    {"<\\\\\\a\\\\>", "41"}, {"<\\`[]^>", "60 5B 5D 5E"}, {"<\\65,\\66>", "36 35 36 36"},
    // The first form that matches wins: control letter, underscore,
    // backslash, hexadecimal, name.
    {"<_CLS>", ""}, {"<\\ESC>", "45 53 43"}, {"<0XCLS>", "00"}, {"<0CLS>", ""}, {"<x41>", ""},
    {"<1,CLS,2>", "01 0C 02"}, {"<0x1B,_0,\\x>", "1B 40 58"}, {"<12A>", ""},
};
// clang-format on

TEST(Translate, Messages) {
    ExpectTranslations(kMessages);
}

TEST(Translate, LookupMnemonicTrimsSpacesAndFoldsCase) {
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
