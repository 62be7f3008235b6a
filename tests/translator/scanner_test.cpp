#include "tests/translator/test_support.h"

#include <gtest/gtest.h>

namespace {

// How the scanner finds tokens, passes other text on and rescans; several
// rows to a line.
// clang-format off
constexpr MessageCase kScannerCases[] = {
    {"Hello", "48 65 6C 6C 6F"}, {"Hello<13>", "48 65 6C 6C 6F 0D"}, {"<12>Hi", "0C 48 69"},
    {"<CLS>Hi<13>", "0C 48 69 0D"}, {"a<>b", "61 3C 3E 62"}, {"<12", "3C 31 32"},
    {"12>", "31 32 3E"}, {"<<12>", "3C 0C"}, {"<1<2>", "3C 31 02"}, {"<60>12>", "0C"},
    {"<60,65,62>", "01"}, {"<<65>66>", "3C 41 36 36 3E"}, {"<cls>", "0C"}, {"<CLS>", "0C"},
    {"<A-B>", "3C 41 2D 42 3E"}, {"<[>", "1B"}, {"a<XYZZY>b", "61 62"}, {"A\0<66>"sv, "41 00 42"},
    {"<A <B>", "3C 41 20 02"}, {"< 12>", "3C 20 31 32 3E"}, {"<12 >", "3C 31 32 20 3E"},
    {"\x80<65>\xFF", "80 41 FF"}, {"<\xE9>", "3C E9 3E"}, {"<>", "3C 3E"}, {">", "3E"},
    {"<65><66>", "41 42"}, {"<XYZZY><65>", "41"},
};
// clang-format on

TEST(Scanner, DocumentedMessages) {
    ExpectTranslations(kScannerCases);
}

// "<1" + b + ">" is a token exactly when b is a token character; a token of
// that shape always gives fewer bytes than its four characters.
TEST(Scanner, TokenCharactersAreExactlyCommaDigitsAndAtoz) {
    struct Boundary {
        unsigned char byte;
        bool token;
    };
    constexpr Boundary kBoundaries[] = {
        {0x00, false}, {0x20, false}, {0x2B, false}, {0x2C, true},  {0x2D, false}, {0x2F, false},
        {0x30, true},  {0x39, true},  {0x3A, false}, {0x3C, false}, {0x40, false}, {0x41, true},
        {0x5A, true},  {0x5B, true},  {0x5C, true},  {0x5D, true},  {0x5E, true},  {0x5F, true},
        {0x60, true},  {0x61, true},  {0x7A, true},  {0x7B, false}, {0x7F, false}, {0x80, false},
        {0xC1, false}, {0xE1, false}, {0xFF, false},
    };
    for (const Boundary& b : kBoundaries) {
        const std::string text = std::string("<1") + static_cast<char>(b.byte) + ">";
        const std::string result = Translate(text);
        EXPECT_EQ(result != text, b.token) << "byte " << Hex(text.substr(2, 1));
        EXPECT_EQ(result.size() < text.size(), b.token) << "byte " << Hex(text.substr(2, 1));
    }
}

TEST(Scanner, TextWithoutTokensComesBackUnchanged) {
    std::string all_bytes;
    for (int b = 0; b < 256; ++b) {
        all_bytes += static_cast<char>(b);
    }
    const std::string texts[] = {
        "", "<", ">", "<<<", ">>>", "<>>", "<<>", "<,", "<A", "<A B>", "<\x80>", all_bytes,
    };
    for (const std::string& text : texts) {
        EXPECT_EQ(Translate(text), text) << "message: " << Hex(text);
    }
}

// The scan resumes at the replacement: what a token gives is scanned again
// with the text after it, but never joins with text before the token.
TEST(Scanner, ReplacementsAreRescannedFromTheirFirstByte) {
    constexpr MessageCase kCases[] = {
        // "<" then "<12>" formed from the replacement and what follows.
        {"<60><60>12>", "3C 0C"},
        // A replacement that is a whole token, formed twice over.
        {"<60,60,65,62,62>", "3C 01 3E"},
        // The "<" before the inner token is behind the resume position.
        {"<60,60,54,53,62,62>", "3C 41 3E"},
        // A removed token leaves the text that followed it to be scanned.
        {"<XYZZY><65>", "41"},
        {"<<XYZZY>65>", "3C 36 35 3E"},
        // A "<" made by a replacement whose run is not closed stays.
        {"<60>AB<66>", "3C 41 42 42"},
        // Characters that became part of no token are final even if a later
        // replacement could have closed them.
        {"<60>A<62>", "3C 41 3E"},
    };
    ExpectTranslations(kCases);
}

TEST(Scanner, WorksInTheCallersBuffer) {
    char text[] = "x<65>y<XYZZY>z<60>66>";
    const std::size_t size = TranslateText(text, sizeof text - 1);
    EXPECT_EQ(std::string(text, size), "xAyzB");
    EXPECT_EQ(TranslateText(nullptr, 0), 0u);
}

} // namespace
