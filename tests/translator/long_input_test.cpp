#include "tests/translator/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr std::size_t kTenMillion = 10'000'000;

std::string Repeat(std::string_view piece, std::size_t times) {
    std::string text;
    text.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

TEST(LongInputs, UnclosedRunStaysAsItIs) {
    const std::string text = "<" + std::string(kTenMillion, 'A') + "<65>";
    const std::string result = Translate(text);
    ASSERT_EQ(result.size(), kTenMillion + 2);
    EXPECT_EQ(result.substr(0, kTenMillion + 1), text.substr(0, kTenMillion + 1));
    EXPECT_EQ(result.back(), 'A');
}

TEST(LongInputs, HugeTokens) {
    EXPECT_EQ(Translate("<" + std::string(kTenMillion, 'Q') + ">"), "");
    EXPECT_EQ(Translate("<1" + std::string(kTenMillion, '0') + ">"), std::string(1, '\0'));
    EXPECT_EQ(Translate("<" + std::string(kTenMillion, '0') + "65>"), "A");
    EXPECT_EQ(Translate("<\\" + std::string(kTenMillion, 'q') + ">"),
              std::string(kTenMillion, 'Q'));
    EXPECT_EQ(Translate("<" + Repeat(",", kTenMillion) + ">"), std::string(kTenMillion + 1, '\0'));
}

TEST(LongInputs, MillionsOfTokens) {
    EXPECT_EQ(Translate(Repeat("<65>", 1'000'000)), std::string(1'000'000, 'A'));
    EXPECT_EQ(Translate(Repeat("<KTA_LINE2>", 1'000'000)), Repeat("\xFE\xC0", 1'000'000));
    EXPECT_EQ(Translate(Repeat("<XYZZY>", 1'000'000) + "end"), "end");
}

// Replacements that are scanned again: a "<" that finds no token, a "<" that
// does, and tokens that build further tokens.
TEST(LongInputs, RescanningChains) {
    EXPECT_EQ(Translate(Repeat("<60>", 1'000'000)), std::string(1'000'000, '<'));
    EXPECT_EQ(Translate(Repeat("<60>", 1'000'000) + "12>"), std::string(999'999, '<') + "\x0C");
    EXPECT_EQ(Translate(Repeat("<60,60,65,62,62>", 500'000)), Repeat("<\x01>", 500'000));
    EXPECT_EQ(Translate("<" + Repeat("60,", 1'000'000) + "65,62>"),
              std::string(999'999, '<') + "\x01");
}

} // namespace
