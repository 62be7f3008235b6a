#include "tests/translator/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr std::size_t kMillion = 1'000'000;

std::string Repeat(std::string_view piece, std::size_t times) {
    std::string text;
    text.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

// A million characters in one token or run, and a million tokens that
// build further tokens: no recursion, no limit, nothing lost.
TEST(LongInputs, HugeTokensAndRescanningChains) {
    EXPECT_EQ(Translate("<" + std::string(kMillion, 'A') + "<65>"),
              "<" + std::string(kMillion, 'A') + "A");
    EXPECT_EQ(Translate("<1" + std::string(kMillion, '0') + ">"), std::string(1, '\0'));
    EXPECT_EQ(Translate("<\\" + std::string(kMillion, 'q') + ">"), std::string(kMillion, 'Q'));
    EXPECT_EQ(Translate(Repeat("<60>", 1'000'000) + "12>"), std::string(999'999, '<') + "\x0C");
    EXPECT_EQ(Translate("<" + Repeat("60,", 1'000'000) + "65,62>"),
              std::string(999'999, '<') + "\x01");
}

} // namespace
