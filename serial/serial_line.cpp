// The portable side of serial_line.h: the rates and the texts.
#include "serial/serial_line.h"

#include <algorithm>
#include <iterator>

bool IsLineRate(int baud) {
    return std::find(std::begin(kLineRates), std::end(kLineRates), baud) != std::end(kLineRates);
}

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

std::string DescribeLineSettings(const LineSettings& settings) {
    std::string text = settings.baud != 0 ? std::to_string(settings.baud) : "unknown rate";
    text += ' ';
    text += static_cast<char>('0' + settings.data_bits);
    text += settings.parity;
    text += static_cast<char>('0' + settings.stop_bits);
    if (settings.rts_cts) {
        text += ", RTS/CTS";
    }
    if (settings.xon_xoff_output || settings.xon_xoff_input) {
        text += ", XON/XOFF";
    }
    if (!settings.rts_cts && !settings.xon_xoff_output && !settings.xon_xoff_input) {
        text += ", no flow control";
    }
    if (!settings.output_processing && !settings.canonical_input) {
        text += ", raw";
    } else {
        text +=
            settings.output_processing ? ", output processed (a line feed may leave as CR LF)" : "";
        text += settings.canonical_input ? ", line input" : "";
    }
    return text;
}
