#include "tests/translator/test_support.h"

#include <gtest/gtest.h>

namespace {

// Several rows to a line.
// clang-format off
TEST(DecimalItems, WrapModulo256) {
    constexpr MessageCase kCases[] = {
        {"0", "00"}, {"9", "09"}, {"255", "FF"}, {"256", "00"}, {"300", "2C"}, {"511", "FF"},
        {"65535", "FF"}, {"4294967296", "00"}, {"00000", "00"},
        {"0000000000000000000000000000013", "0D"},
    };
    ExpectTranslations(kCases, "<", ">");
}

// A value whose low 32 bits are all ones gives no byte, whatever lies above
// them; the value one less gives FE.
TEST(DecimalItems, LowThirtyTwoBitsAllOnesGiveNothing) {
    constexpr MessageCase kCases[] = {
        {"4294967295", ""}, {"4294967294", "FE"},
        {"8589934591", ""}, {"8589934590", "FE"}, // 2 * 2^32 - 1
        // 232830643 * 2^32 - 1, the last with 18 digits
        {"999999997191651327", ""}, {"999999997191651326", "FE"},
        {"0004294967295", ""}, {"4294967295,65", "41"},
    };
    ExpectTranslations(kCases, "<", ">");
}

// Eighteen significant digits are exact; every further digit counts as a
// zero, and values from 2^63 (9223372036854775808) on give 00.
TEST(DecimalItems, EighteenSignificantDigits) {
    constexpr MessageCase kCases[] = {
        // 2^63 - 1 and 2^63 are both read as 922337203685477580 * 10,
        // which is 2^63 - 8.
        {"9223372036854775807", "F8"}, {"9223372036854775808", "F8"},
        // 922337203685477581 * 10 is past 2^63.
        {"9223372036854775810", "00"},
        {"1000000000000000000", "00"}, // 10^18 = 2^18 * 5^18: low byte 00
        {"1000000000000000001", "00"}, // the nineteenth digit counts as a zero
        {"1000000000000000255", "FA"}, // read as 1000000000000000250
        {"123456789012345678", "4E"},  // exact: 0x1B69B4BA630F34E
        {"1234567890123456789", "0C"}, // read as 1234567890123456780
        {"1000000000000000000000000", "00"}, {"0000000000000000000000001", "01"},
        {"18446744073709551615", "00"}, // 2^64 - 1: past 2^63
    };
    ExpectTranslations(kCases, "<", ">");
}

TEST(DecimalItems, EmptyItemsGiveZero) {
    constexpr MessageCase kCases[] = {
        {",", "00 00"}, {",,", "00 00 00"}, {"7,", "07 00"}, {",7", "00 07"}, {"1,,2", "01 00 02"},
    };
    ExpectTranslations(kCases, "<", ">");
}

// The underscore form applies the same rule to 64 + N.
TEST(UnderscoreForm, SixtyFourPlusN) {
    constexpr MessageCase kCases[] = {
        {"_5", "45"}, {"_0", "40"}, {"__", "40"}, {"___", "40"}, {"_1_2", "41"}, {"_0012_", "4C"},
        {"_191", "FF"}, {"_192", "00"}, {"_200", "08"},
        {"_4294967231", ""}, {"_4294967230", "FE"}, // 64 + N = 2^32 - 1
        {"_9223372036854775743", "FC"}, // read as ...740: + 64 is 2^63 - 4
        {"_9223372036854775750", "00"}, // + 64 is past 2^63
        {"_922337203685477574", "06"},  // exact: + 64 is 922337203685477638
        {"_1000000000000000000000", "00"}, {"_A", ""}, {"_5A", ""}, {"_5,65", "45 41"},
    };
    ExpectTranslations(kCases, "<", ">");
}

TEST(HexadecimalForm, LastTwoCharactersInAnyCase) {
    constexpr MessageCase kCases[] = {
        {"0x41", "41"}, {"0X41", "41"}, {"0xff", "FF"}, {"0XfF", "FF"}, {"0x1b", "1B"},
        {"0x7", "07"}, {"0x", "00"}, {"0xx", "00"}, {"0XX7", "07"}, {"0x1234", "34"},
        {"0xG1", "00"}, {"0x1G", "01"}, {"0x100", "00"}, {"0x1X", "01"}, {"0xABCDEF", "EF"},
        {"0x3C", "3C"},
    };
    ExpectTranslations(kCases, "<", ">");
}
// clang-format on

} // namespace
