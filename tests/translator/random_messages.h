// Random messages made of pieces that make tokens, half-tokens and the bytes
// around them likely; for the tests that compare or invert the translator.
#pragma once

#include <random>
#include <string>
#include <string_view>

using namespace std::string_view_literals;

// Pieces that make tokens, half-tokens and the bytes around them likely:
// brackets, commas, numbers that give "<", ">" and ",", names, the special
// forms, and bytes that are no token characters.
inline constexpr std::string_view kPieces[] = {
    "<",
    "<",
    "<",
    ">",
    ">",
    ">",
    ",",
    ",",
    "60",
    "62",
    "44",
    "65",
    "0",
    "12",
    "256",
    "4294967295",
    "99999999999999999999",
    "A",
    "a",
    "z",
    "G",
    "_",
    "__5",
    "\\",
    "\\a",
    "0x",
    "0x3c",
    "0X3E",
    "x",
    "CLS",
    "cls",
    "KTA_LINE2",
    "NUL",
    "XYZZY",
    "`",
    "[",
    "@",
    "{",
    " ",
    "-",
    "\0"sv,
    "\x80",
    "\xFF",
    "\x7F",
    "<60>",
    "<62>",
    "<44>",
    "<60,",
};

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
