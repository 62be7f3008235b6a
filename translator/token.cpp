#include "translator/token.h"

#include "translator/mnemonic_table.h"

#include <cstdint>
#include <string_view>

namespace {

// Every value from 2^63 on gives the same byte, so readings stop there.
constexpr std::uint64_t kHuge = std::uint64_t{1} << 63;
constexpr std::uint64_t kLow32 = 0xFFFFFFFFu;
constexpr int kExactDigits = 18;

constexpr bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// On token characters the platform's ANSI upper-casing folds exactly "a" to
// "z"; bytes from 80 hex up, where code pages differ, are no token characters
// and never reach a name. Folding "a" to "z" alone therefore gives the same
// result on every code page and keeps the translator free of locale state.
constexpr char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

template <typename Drop> void Trim(const char*& begin, const char*& end, Drop drop) {
    while (begin != end && drop(*begin)) {
        ++begin;
    }
    while (end != begin && drop(end[-1])) {
        --end;
    }
}

// The byte-code rule shared by every numeric form: 2^63 and above give 00,
// a value whose low 32 bits are all ones gives no byte, any other value its
// low byte.
std::size_t PutByteCode(std::uint64_t value, char* out) noexcept {
    if (value >= kHuge) {
        *out = 0;
        return 1;
    }
    if ((value & kLow32) == kLow32) {
        return 0;
    }
    *out = static_cast<char>(value & 0xFF);
    return 1;
}

// Reads the digits at the start of [p, end) as a decimal number of any length:
// leading zeros count for nothing, the first 18 significant digits are exact
// and every further digit counts as a zero. Results from 2^63 on come back as
// kHuge. Eighteen digits and one zero stay below 10^19 < 2^64; a twentieth
// digit makes the value at least 10^19, past 2^63.
std::uint64_t ReadDecimal(const char* p, const char* end) noexcept {
    while (p != end && *p == '0') {
        ++p;
    }
    std::uint64_t value = 0;
    for (int significant = 0; p != end && IsDigit(*p); ++p, ++significant) {
        if (significant == kExactDigits + 1) {
            return kHuge;
        }
        value = value * 10 + (significant < kExactDigits ? static_cast<unsigned>(*p - '0') : 0);
    }
    return value < kHuge ? value : kHuge;
}

// "_" followed by digits and underscores: the byte for 64 + N, where N is read
// from what is left after trimming the underscores, up to the next one.
bool OnlyDigitsAndUnderscores(const char* begin, const char* end) noexcept {
    for (const char* p = begin; p != end; ++p) {
        if (!IsDigit(*p) && *p != '_') {
            return false;
        }
    }
    return true;
}

std::size_t UnderscoreForm(const char* begin, const char* end, char* out) noexcept {
    if (!OnlyDigitsAndUnderscores(begin, end)) {
        return 0;
    }
    Trim(begin, end, [](char c) { return c == '_'; });
    return PutByteCode(64 + ReadDecimal(begin, end), out);
}

// "\text": the text itself, upper-cased, without surrounding backslashes.
// The copy runs forwards, so it may land on or before the name it reads.
std::size_t BackslashForm(const char* begin, const char* end, char* out) noexcept {
    Trim(begin, end, [](char c) { return c == ' ' || c == '\\'; });
    std::size_t size = 0;
    for (; begin != end; ++begin) {
        out[size++] = Upper(*begin);
    }
    return size;
}

// "0X..": one byte from the last two characters only, once any leading "X"
// is dropped from them; reading stops at the first non-hex character.
std::size_t HexForm(const char* end, char* out) noexcept {
    const char* p = end - 2;
    while (p != end && Upper(*p) == 'X') {
        ++p;
    }
    unsigned value = 0;
    for (; p != end; ++p) {
        const char c = Upper(*p);
        if (IsDigit(c)) {
            value = value * 16 + static_cast<unsigned>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            value = value * 16 + static_cast<unsigned>(c - 'A' + 10);
        } else {
            break;
        }
    }
    *out = static_cast<char>(value);
    return 1;
}

std::size_t TableName(const char* begin, std::size_t size, char* out) noexcept {
    if (size > kLongestMnemonic) {
        return 0;
    }
    char name[kLongestMnemonic];
    for (std::size_t i = 0; i < size; ++i) {
        name[i] = Upper(begin[i]);
    }
    const MnemonicRow* row = FindMnemonic(std::string_view(name, size));
    if (row == nullptr) {
        return 0;
    }
    for (std::size_t i = 0; i < row->size; ++i) {
        out[i] = static_cast<char>(row->bytes[i]);
    }
    return row->size;
}

// Which form a name (trimmed of spaces) takes, in the order they are tried.
enum class NameForm { kNothing, kControlLetter, kUnderscore, kBackslash, kHex, kTable };

NameForm FormOf(const char* begin, const char* end) noexcept {
    const std::size_t size = static_cast<std::size_t>(end - begin);
    if (size == 0) {
        return NameForm::kNothing;
    }
    const char first = Upper(*begin);
    if (size == 1 && first >= '@' && first <= '_') {
        return NameForm::kControlLetter;
    }
    if (first == '_') {
        return NameForm::kUnderscore;
    }
    if (first == '\\') {
        return NameForm::kBackslash;
    }
    if (size >= 2 && first == '0' && Upper(begin[1]) == 'X') {
        return NameForm::kHex;
    }
    return NameForm::kTable;
}

void TrimSpaces(const char*& begin, const char*& end) noexcept {
    Trim(begin, end, [](char c) { return c == ' '; });
}

} // namespace

std::size_t LookupMnemonic(const char* name, std::size_t length, char* out) noexcept {
    const char* begin = name;
    const char* end = name + length;
    TrimSpaces(begin, end);
    switch (FormOf(begin, end)) {
    case NameForm::kNothing:
        return 0;
    case NameForm::kControlLetter:
        *out = static_cast<char>(Upper(*begin) - '@');
        return 1;
    case NameForm::kUnderscore:
        return UnderscoreForm(begin, end, out);
    case NameForm::kBackslash:
        return BackslashForm(begin, end, out);
    case NameForm::kHex:
        return HexForm(end, out);
    case NameForm::kTable:
        break;
    }
    return TableName(begin, static_cast<std::size_t>(end - begin), out);
}

bool IsKnownName(const char* name, std::size_t length) noexcept {
    const char* begin = name;
    const char* end = name + length;
    TrimSpaces(begin, end);
    switch (FormOf(begin, end)) {
    case NameForm::kNothing:
        return false;
    case NameForm::kUnderscore:
        return OnlyDigitsAndUnderscores(begin, end);
    case NameForm::kTable: {
        const std::size_t size = static_cast<std::size_t>(end - begin);
        if (size > kLongestMnemonic) {
            return false;
        }
        char upper[kLongestMnemonic];
        for (std::size_t i = 0; i < size; ++i) {
            upper[i] = Upper(begin[i]);
        }
        return FindMnemonic(std::string_view(upper, size)) != nullptr;
    }
    default:
        return true;
    }
}

std::size_t EvaluateToken(const char* inside, std::size_t length, char* out) noexcept {
    const char* const end = inside + length;
    std::size_t written = 0;
    for (const char* item = inside;;) {
        // The item's end is found before its bytes are written, since they
        // may overwrite the comma that ends it.
        const char* item_end = item;
        bool decimal = true;
        for (; item_end != end && *item_end != ','; ++item_end) {
            decimal = decimal && IsDigit(*item_end);
        }
        written += decimal ? PutByteCode(ReadDecimal(item, item_end), out + written)
                           : LookupMnemonic(item, static_cast<std::size_t>(item_end - item),
                                            out + written);
        if (item_end == end) {
            return written;
        }
        item = item_end + 1;
    }
}
