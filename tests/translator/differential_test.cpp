#include "tests/translator/naive_translate.h"
#include "tests/translator/test_support.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

TEST(Differential, InPlaceScanMatchesTheLiteralRebuildLoop) {
    std::mt19937 random(20240601);
    int with_tokens = 0;
    for (int i = 0; i < 5000; ++i) {
        const std::string message = RandomMessage(random);
        const std::string expected = naive::Translate(message);
        ASSERT_EQ(Hex(Translate(message)), Hex(expected)) << "message: " << Hex(message);
        with_tokens += expected != message;
    }
    // The generator must keep producing tokens, or the comparison says little.
    EXPECT_GT(with_tokens, 2500);
}

// A token whose bytes are the text of another token, k levels deep: every
// level is a replacement that is scanned again where it stands.
std::string Nest(const std::string& text) {
    std::string token = "<";
    for (unsigned char c : text) {
        token += std::to_string(c) + ",";
    }
    token.back() = '>';
    return token;
}

TEST(Differential, NestedTokensUnfoldLevelByLevel) {
    std::string message = "a<\\payload\\,0x3C>b";
    const std::string innermost = Translate(message);
    ASSERT_EQ(innermost, "aPAYLOAD<b");
    for (int depth = 1; depth <= 5; ++depth) {
        message = Nest(message);
        EXPECT_EQ(Translate(message), innermost) << "depth " << depth;
        EXPECT_EQ(naive::Translate(message), innermost) << "depth " << depth;
        EXPECT_EQ(Translate("<" + message), "<" + innermost) << "depth " << depth;
    }
}

} // namespace
