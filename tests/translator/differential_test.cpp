#include "tests/translator/naive_translate.h"
#include "tests/translator/test_support.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using namespace std::string_view_literals;

// Pieces that make tokens, half-tokens and the bytes around them likely:
// brackets, commas, numbers that give "<", ">" and ",", names, the special
// forms, and bytes that are no token characters.
// clang-format off
constexpr std::string_view kPieces[] = {
    "<", "<", "<", ">", ">", ">", ",", ",", "60", "62", "44", "65", "0", "12", "256", "4294967295",
    "99999999999999999999", "A", "a", "z", "G", "_", "__5", "\\", "\\a", "0x", "0x3c", "0X3E", "x",
    "CLS", "cls", "KTA_LINE2", "NUL", "XYZZY", "`", "[", "@", "{", " ", "-", "\0"sv, "\x80", "\xFF",
    "\x7F", "<60>", "<62>", "<44>", "<60,",
};
// clang-format on

std::string RandomMessage(std::mt19937& random) {
    std::string message;
    const unsigned pieces = random() % 40;
    for (unsigned i = 0; i < pieces; ++i) {
        if (random() % 16 == 0) {
            message += static_cast<char>(random() % 256);
        } else {
            message += kPieces[random() % std::size(kPieces)];
        }
    }
    return message;
}

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
