// The rates a port can be opened at, on every platform, and how long a write
// at one of them may take.
#pragma once

#include "serial/line_status.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <iterator>
#include <string>

// The six rates of Wendle's window, its exports and its tools.
inline constexpr int kLineRates[] = {1200, 2400, 4800, 9600, 19200, 38400};

constexpr bool IsLineRate(int baud) noexcept {
    return std::find(std::begin(kLineRates), std::end(kLineRates), baud) != std::end(kLineRates);
}

// kNone for a rate of kLineRates, else kBadRate with a message that lists them.
LineStatus CheckLineRate(int baud);

// "1200, 2400, 4800, 9600, 19200 or 38400", for messages and help texts.
std::string LineRatesText();

// How long writing `size` bytes at `baud` may take before it counts as stuck:
// twice the time on the wire (ten bits a byte) and two seconds more.
std::chrono::milliseconds DefaultWriteTimeout(std::size_t size, int baud);
