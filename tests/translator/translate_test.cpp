// What messages give, form by form, and the decoder's readable messages.
// The scan against the literal rebuild loop over any text is
// fuzz/translate_fuzz.cpp's.
#include "tests/support/translate_support.h"
#include "translator/decode.h"

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

} // namespace
