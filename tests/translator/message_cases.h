// The documented messages and their bytes, shared by the library tests and
// the command-line test.
#pragma once

#include "tests/translator/test_support.h"

using namespace std::string_view_literals;

// Rows of tables, several to a line.
// clang-format off

// How the scanner finds tokens, passes other text on and rescans.
inline constexpr MessageCase kScannerCases[] = {
    {"Hello", "48 65 6C 6C 6F"}, {"Hello<13>", "48 65 6C 6C 6F 0D"}, {"<12>Hi", "0C 48 69"},
    {"<CLS>Hi<13>", "0C 48 69 0D"}, {"a<>b", "61 3C 3E 62"}, {"<12", "3C 31 32"},
    {"12>", "31 32 3E"}, {"<<12>", "3C 0C"}, {"<1<2>", "3C 31 02"}, {"<60>12>", "0C"},
    {"<60,65,62>", "01"}, {"<<65>66>", "3C 41 36 36 3E"}, {"<cls>", "0C"}, {"<CLS>", "0C"},
    {"<A-B>", "3C 41 2D 42 3E"}, {"<[>", "1B"}, {"a<XYZZY>b", "61 62"}, {"A\0<66>"sv, "41 00 42"},
    {"<A <B>", "3C 41 20 02"}, {"< 12>", "3C 20 31 32 3E"}, {"<12 >", "3C 31 32 20 3E"},
    {"\x80<65>\xFF", "80 41 FF"}, {"<\xE9>", "3C E9 3E"}, {"<>", "3C 3E"}, {">", "3E"},
    {"<65><66>", "41 42"}, {"<XYZZY><65>", "41"},
};

// Token insides of every form, as whole tokens.
inline constexpr MessageCase kTokenCases[] = {
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
