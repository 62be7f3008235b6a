// The names of Wendle's language on the command line: the list a user can
// grep, and the warnings about names that match nothing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The status every tool ends with when --strict finds an unknown name.
inline constexpr int kUnknownNameStatus = 9;

// Every name of the table with its bytes, one a line: "KTA_LINE2  FE C0".
std::string NameList();

// Tells on standard error about each unknown name in `message` (the first
// few, then how many more): its text and offset, and, after `where` when
// given ("line 3: "), what happens to it: it sends nothing or, `strict`,
// nothing at all is sent. Returns how many there were.
std::size_t WarnUnknownNames(const char* tool, std::string_view message, bool strict,
                             const std::string& where = {});
