// Helpers shared by the translator tests: hex, translation in a buffer of
// the message's own size, tables of messages, and random messages.
#pragma once

#include "translator/translator.h"

#include <gtest/gtest.h>

#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// A message and the bytes it must give, written as upper-case hex pairs
// separated by single spaces ("" for no bytes).
struct MessageCase {
    std::string_view text;
    std::string_view hex;
};

inline std::string Hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char byte : bytes) {
        if (!hex.empty()) {
            hex += ' ';
        }
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0xF];
    }
    return hex;
}

// Translates a copy held in a buffer of exactly the message's size, so that
// the sanitizer sees any access past its end.
inline std::string Translate(std::string_view text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.shrink_to_fit();
    return std::string(buffer.data(), TranslateText(buffer.data(), buffer.size()));
}

inline std::string TranslateHex(std::string_view text) {
    return Hex(Translate(text));
}

// Checks the bytes of every case, its text put between `before` and `after`.
inline void ExpectTranslations(std::span<const MessageCase> cases, std::string_view before = {},
                               std::string_view after = {}) {
    for (const MessageCase& c : cases) {
        const std::string text = std::string(before) + std::string(c.text) + std::string(after);
        EXPECT_EQ(TranslateHex(text), c.hex) << "message: " << text << " (" << Hex(text) << ")";
    }
}

using namespace std::string_view_literals;

// Pieces that make tokens, half-tokens and the bytes around them likely:
// brackets, commas, numbers that give "<", ">" and ",", names, the special
// forms, and bytes that are no token characters.
// clang-format off
inline constexpr std::string_view kPieces[] = {
    "<", "<", "<", ">", ">", ">", ",", ",", "60", "62", "44", "65", "0", "12", "256", "4294967295",
    "99999999999999999999", "A", "a", "z", "G", "_", "__5", "\\", "\\a", "0x", "0x3c", "0X3E",
    "x", "CLS", "cls", "KTA_LINE2", "NUL", "XYZZY", "`", "[", "@", "{", " ", "-", "\0"sv, "\x80",
    "\xFF", "\x7F", "<60>", "<62>", "<44>", "<60,",
};
// clang-format on

inline std::string RandomMessage(std::mt19937& random) {
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
