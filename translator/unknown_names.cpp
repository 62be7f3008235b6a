#include "translator/unknown_names.h"

#include "translator/token.h"

namespace {

bool IsDecimal(const char* begin, const char* end) noexcept {
    for (const char* p = begin; p != end; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
    }
    return true;
}

} // namespace

std::size_t FindUnknownNames(const char* text, std::size_t length, UnknownName* found,
                             std::size_t capacity) noexcept {
    std::size_t count = 0;
    std::size_t next = 0;
    while (next < length) {
        std::size_t open = next;
        while (open < length && text[open] != '<') {
            ++open;
        }
        std::size_t close = open + 1;
        while (close < length && IsTokenChar(static_cast<unsigned char>(text[close]))) {
            ++close;
        }
        if (close >= length || close == open + 1 || text[close] != '>') {
            next = close;
            continue;
        }
        for (std::size_t item = open + 1; item < close;) {
            std::size_t item_end = item;
            while (item_end < close && text[item_end] != ',') {
                ++item_end;
            }
            const char* begin = text + item;
            const char* end = text + item_end;
            if (!IsDecimal(begin, end) && !IsKnownName(begin, item_end - item)) {
                if (count < capacity) {
                    found[count] = {item, item_end - item};
                }
                ++count;
            }
            item = item_end + 1;
        }
        next = close + 1;
    }
    return count;
}
