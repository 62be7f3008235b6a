#include "translator/token.h"
#include "translator/translator.h"

#include <cstring>

namespace {

// Moves text[from, to) to the end of the finished part, text[0, done).
void Keep(char* text, std::size_t& done, std::size_t from, std::size_t to) noexcept {
    if (done != from) {
        std::memmove(text + done, text + from, to - from);
    }
    done += to - from;
}

// The next "<" at or after `from`, or `length`. Between tokens the distance
// is mostly short, where a loop beats a call; longer text goes to memchr.
std::size_t FindOpen(const char* text, std::size_t from, std::size_t length) noexcept {
    constexpr std::size_t kNear = 16;
    for (const std::size_t near = length - from < kNear ? length : from + kNear; from < near;
         ++from) {
        if (text[from] == '<') {
            return from;
        }
    }
    if (from == length) {
        return length;
    }
    const void* found = std::memchr(text + from, '<', length - from);
    return found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - text)
                            : length;
}

} // namespace

// One pass over one buffer. text[0, done) is finished and is never looked at
// again; text[next, length) is still to be scanned; the gap between them is
// the room that earlier replacements gave back. A token is evaluated in place
// and its bytes are then moved so that they end where the token ended: the
// replacement and the text after it form one stretch again, and the scan
// resumes at the replacement's first byte. Every replacement is shorter than
// its token, so each step either finishes bytes or shortens the text, and the
// work stays linear in the message apart from evaluating the tokens that
// replacements themselves form.
std::size_t TranslateText(char* text, std::size_t length) noexcept {
    std::size_t done = 0;
    std::size_t next = 0;
    while (next < length) {
        const std::size_t open = FindOpen(text, next, length);
        Keep(text, done, next, open);
        if (open == length) {
            break;
        }
        std::size_t close = open + 1;
        while (close < length && IsTokenChar(text[close])) {
            ++close;
        }
        if (close == open + 1 || close == length || text[close] != '>') {
            // No token begins at this "<", and none can begin inside the run
            // after it, which holds no "<": both stay as they are.
            Keep(text, done, open, close);
            next = close;
            continue;
        }
        const std::size_t size = EvaluateToken(text + open + 1, close - open - 1, text + open);
        if (FindOpen(text, open, open + size) == open + size) {
            // A replacement without "<" starts no token when it is scanned
            // again: it is finished as it stands.
            Keep(text, done, open, open + size);
            next = close + 1;
        } else {
            next = close + 1 - size;
            std::memmove(text + next, text + open, size);
        }
    }
    return done;
}
