// Helpers shared by the tests that translate messages.
#pragma once

#include "translator/translator.h"

#include <string>
#include <string_view>
#include <vector>

// Upper-case hex pairs separated by single spaces ("" for no bytes).
inline std::string Hex(std::string_view bytes) {
    constexpr std::string_view kDigits = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char byte : bytes) {
        hex += (hex.empty() ? "" : " ") + std::string{kDigits[byte >> 4], kDigits[byte & 0xF]};
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
