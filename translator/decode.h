// From bytes back to a message: the way back from TranslateText, for showing
// what went down a line in the token language.
#pragma once

#include <string>
#include <string_view>

// Writes `bytes` as a message that TranslateText turns into exactly these
// bytes again. Printable ASCII (20 to 7E hex) stands as it is; every run of
// other bytes becomes one token, a list of decimal codes ("<254,192>").
// With `with_names`, a byte string that is a display command is written as
// its name instead, the longest first ("<KTA_LINE2>", "<CLS>"); a name may
// take in the printable bytes of its command ("<MODE_OR>" for 1B 4D 40).
//
// A "<" is always written as itself: a token's bytes are scanned again with
// the text after them, so a "<" made by a token could join that text. Where
// the bytes after a "<" are token characters followed by ">", that ">" is
// written as <62> so that the "<" cannot begin a token ("<12<62>" for the
// bytes "<12>").
//
// Linear in the number of bytes; no I/O, no state.
std::string DecodeBytes(std::string_view bytes, bool with_names);

// The same, appended to `out`.
void AppendDecoded(std::string_view bytes, bool with_names, std::string& out);

// The bytes as upper-case hex pairs separated by single spaces ("0C 48 69"),
// with nothing after the last.
std::string HexPairs(std::string_view bytes);
