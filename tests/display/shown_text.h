// A module's screen on one line, for tables of cases.
#pragma once

#include "display/screen.h"

#include <sstream>
#include <string>

// The rows of the dump without their trailing spaces, each ended by "|",
// then the cursor: "abc|Xefg|2 2".
inline std::string ShownText(const Module& module) {
    std::istringstream lines(DumpText(module));
    std::string screen;
    for (std::string line; std::getline(lines, line);) {
        line.erase(line.find_last_not_of(' ') + 1);
        screen += line.starts_with("cursor ") ? line.substr(7) : line + "|";
    }
    return screen;
}
