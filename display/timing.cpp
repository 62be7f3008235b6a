#include "display/timing.h"

#include <charconv>

namespace {

constexpr std::string_view kParities = "NEOMS";

template <typename Number> bool ParseWhole(std::string_view text, Number& number) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return !text.empty() && error == std::errc{} && end == text.data() + text.size();
}

} // namespace

unsigned FrameBits(const LineFrame& frame) noexcept {
    return 1u + frame.data_bits + (frame.parity == 'N' ? 0u : 1u) + frame.stop_bits;
}

std::uint64_t FrameNanoseconds(const LineFrame& frame) noexcept {
    return FrameBits(frame) * kNanosecondsPerSecond / frame.baud;
}

namespace {

enum class LineFault { kNone, kRate, kDataBits, kParity, kStopBits };

LineFault FindLineFault(const LineFrame& frame) {
    if (frame.baud < kMinBaud || frame.baud > kMaxBaud) {
        return LineFault::kRate;
    }
    if (frame.data_bits < 5 || frame.data_bits > 8) {
        return LineFault::kDataBits;
    }
    if (frame.parity == '\0' || kParities.find(frame.parity) == kParities.npos) {
        return LineFault::kParity;
    }
    return frame.stop_bits == 1 || frame.stop_bits == 2 ? LineFault::kNone : LineFault::kStopBits;
}

} // namespace

bool LineFrameIsSound(const LineFrame& frame) noexcept {
    return FindLineFault(frame) == LineFault::kNone;
}

std::string CheckLineFrame(const LineFrame& frame) {
    switch (FindLineFault(frame)) {
    case LineFault::kNone:
        break;
    case LineFault::kRate:
        return "the rate " + std::to_string(frame.baud) + " is not one a line can have: give " +
               std::to_string(kMinBaud) + " to " + std::to_string(kMaxBaud);
    case LineFault::kDataBits:
        return std::to_string(frame.data_bits) + " data bits: a line has 5 to 8";
    case LineFault::kParity:
        return "parity " + std::string(1, frame.parity) + ": give N, E, O, M or S";
    case LineFault::kStopBits:
        return std::to_string(frame.stop_bits) + " stop bits: a line has 1 or 2";
    }
    return {};
}

std::string LineFrameText(const LineFrame& frame) {
    return std::to_string(frame.baud) + " " + std::to_string(frame.data_bits) + frame.parity +
           std::to_string(frame.stop_bits);
}

std::optional<LineFrame> ParseLineFrame(std::string_view rate, std::string_view bits) {
    LineFrame frame;
    if (!ParseWhole(rate, frame.baud) || bits.size() != 3 || bits[0] < '0' || bits[0] > '9' ||
        bits[2] < '0' || bits[2] > '9') {
        return std::nullopt;
    }
    frame.data_bits = static_cast<unsigned char>(bits[0] - '0');
    frame.parity = bits[1];
    frame.stop_bits = static_cast<unsigned char>(bits[2] - '0');
    return frame;
}

std::string CheckModuleTiming(const ModuleTiming& timing) {
    if (timing.oscillator_khz < kMinOscillatorKhz || timing.oscillator_khz > kMaxOscillatorKhz) {
        return "an oscillator of " + std::to_string(timing.oscillator_khz) + " kHz: give " +
               std::to_string(kMinOscillatorKhz) + " to " + std::to_string(kMaxOscillatorKhz) +
               " (270 is the datasheet's, 190 a slow part)";
    }
    if (timing.buffer > kMaxBuffer) {
        return "a buffer of " + std::to_string(timing.buffer) + " bytes: give 0 (none) to " +
               std::to_string(kMaxBuffer);
    }
    return {};
}

std::string TimeText(std::uint64_t nanoseconds) {
    const std::uint64_t microseconds = (nanoseconds + 500) / 1000;
    const bool seconds = microseconds >= 1'000'000;
    const std::uint64_t unit = seconds ? 1'000'000 : 1000;
    std::string fraction = std::to_string(microseconds % unit + unit).substr(1);
    fraction.erase(fraction.find_last_not_of('0') + 1);
    return std::to_string(microseconds / unit) + (fraction.empty() ? "" : "." + fraction) +
           (seconds ? " s" : " ms");
}
