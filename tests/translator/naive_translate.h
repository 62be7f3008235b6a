// The scan written the slow, literal way, as a reference for the in-place
// scanner: evaluate the leftmost token at or after the resume position into
// a buffer of its own, rebuild the text around it and resume there.
// Quadratic; for tests, the fuzzer and the benchmark.
#pragma once

#include "translator/token.h"

#include <string>

namespace naive {

inline std::string Translate(std::string text) {
    const auto is_token_char = [](unsigned char c) {
        return c == ',' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'z');
    };
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = start + 1;
        while (text[start] == '<' && end < text.size() && is_token_char(text[end])) {
            ++end;
        }
        if (end == start + 1 || end == text.size() || text[end] != '>') {
            ++start;
            continue;
        }
        std::string bytes(end - start, '\0');
        bytes.resize(EvaluateToken(text.data() + start + 1, end - start - 1, bytes.data()));
        text = text.substr(0, start) + bytes + text.substr(end + 1);
    }
    return text;
}

} // namespace naive
