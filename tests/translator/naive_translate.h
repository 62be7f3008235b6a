// The scan written the slow, literal way, as a reference for the in-place
// scanner: find the leftmost token at or after the resume position, evaluate
// its inside into a separate buffer, rebuild the whole text around the
// replacement and resume at the replacement. Quadratic; only for tests and
// the fuzzer.
#pragma once

#include "translator/token.h"

#include <string>

namespace naive {

inline bool IsTokenChar(unsigned char c) {
    return c == ',' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'z');
}

// The length of the token that begins at `start`, or 0 when none does.
inline std::size_t TokenLength(const std::string& text, std::size_t start) {
    if (text[start] != '<') {
        return 0;
    }
    std::size_t end = start + 1;
    while (end < text.size() && IsTokenChar(static_cast<unsigned char>(text[end]))) {
        ++end;
    }
    if (end == start + 1 || end == text.size() || text[end] != '>') {
        return 0;
    }
    return end + 1 - start;
}

inline std::string Translate(std::string text) {
    std::size_t resume = 0;
    for (;;) {
        std::size_t start = resume;
        std::size_t length = 0;
        while (start < text.size() && (length = TokenLength(text, start)) == 0) {
            ++start;
        }
        if (start >= text.size()) {
            return text;
        }
        const std::string inside = text.substr(start + 1, length - 2);
        std::string bytes(inside.size() + 1, '\0');
        bytes.resize(EvaluateToken(inside.data(), inside.size(), bytes.data()));
        text = text.substr(0, start) + bytes + text.substr(start + length);
        resume = start;
    }
}

} // namespace naive
