// Token evaluation: the bytes that take the place of one angle-bracket token.
//
// Both functions write to `out`, which needs room for the number of bytes
// each may return and may be the input itself or lie before it in the same
// buffer, as it does in the scanner: every item is read whole before its
// bytes are written, and no item gives more than one byte more than its own
// length, so the writing never overtakes the reading. Where `out` overlaps
// the input the input is overwritten; otherwise it is not changed.
#pragma once

#include <cstddef>

// What may stand between the brackets of a token: the comma, the digits and
// every byte from "A" to "z", which takes in the six characters between the
// two alphabets. The scanner finds tokens by it, and the decoder must see
// them exactly as the scanner does.
constexpr bool IsTokenChar(unsigned char c) {
    return c == ',' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'z');
}

// Splits a token inside (the characters between the brackets) at commas and
// writes the bytes of every item in order: an item of digits only (the empty
// item included) is a decimal byte code, any other item a name for
// LookupMnemonic. Returns the number of bytes written, at most length + 1.
std::size_t EvaluateToken(const char* inside, std::size_t length, char* out) noexcept;

// Writes the bytes of one name: a control letter, the underscore, backslash or
// hexadecimal form, or a name of the MnemonicTable, tried in that order after
// the name is trimmed of spaces and upper-cased. A name that none of them
// accepts gives nothing. Returns the number of bytes written, at most length.
std::size_t LookupMnemonic(const char* name, std::size_t length, char* out) noexcept;

// Whether LookupMnemonic takes `name` as one of its forms: false for a name
// that gives nothing because nothing matches it (a misspelt <KTA_LIN2>).
bool IsKnownName(const char* name, std::size_t length) noexcept;
