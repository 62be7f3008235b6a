// The translator: turns a message with angle-bracket tokens into the bytes
// sent to the display. Portable, allocation-free and exception-free, so that
// it can run inside other people's processes (see exports/exports_win.cpp).
#pragma once

#include <cstddef>

// Translates text[0, length) in place and returns the length of the result,
// which then stands in text[0, result). Every replacement is shorter than
// its token, so the result never needs more room than the message had.
// Bytes from text[result] on are left in an unspecified state.
std::size_t TranslateText(char* text, std::size_t length) noexcept;
