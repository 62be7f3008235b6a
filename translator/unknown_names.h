// Finding the names in a message that match nothing, so that the tools can
// warn about them: such a name translates to no bytes at all, which is how
// Wendle has always read it, and a misspelling is otherwise silent.
#pragma once

#include <cstddef>

// Where an unknown name stands in the message: its first character and its
// length (a token may hold several items, "<254,LIN2>": only the item).
struct UnknownName {
    std::size_t offset;
    std::size_t length;
};

// Finds the tokens of text[0, length) as the scanner does in the message as
// written and checks every item that is not a decimal code with
// IsKnownName. Writes the first `capacity` unknown ones to `found`, in order,
// and returns how many there are in all. No allocation, no exceptions.
//
// A token that only a replacement forms ("<60>CLX>" makes "<CLX>") is not
// checked: it exists only half-way through the translation.
std::size_t FindUnknownNames(const char* text, std::size_t length, UnknownName* found,
                             std::size_t capacity) noexcept;
