#include "serial/line_rates.h"

LineStatus CheckLineRate(int baud) {
    if (IsLineRate(baud)) {
        return {};
    }
    return {LineError::kBadRate,
            std::to_string(baud) + " baud is not supported: use " + LineRatesText()};
}

std::string LineRatesText() {
    std::string text;
    for (std::size_t i = 0; i < std::size(kLineRates); ++i) {
        if (i != 0) {
            text += i + 1 == std::size(kLineRates) ? " or " : ", ";
        }
        text += std::to_string(kLineRates[i]);
    }
    return text;
}

std::chrono::milliseconds DefaultWriteTimeout(std::size_t size, int baud) {
    constexpr std::size_t kBitsPerByte = 10; // start bit, 8 data bits, stop bit
    const std::size_t rate = baud > 0 ? static_cast<std::size_t>(baud) : 1;
    const std::size_t wire_ms = size * kBitsPerByte * 1000 / rate;
    return std::chrono::milliseconds(2 * wire_ms + 2000);
}
