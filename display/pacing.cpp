#include "display/pacing.h"

std::vector<Pause> PacingPauses(std::span<const unsigned char> message, const LineFrame& frame,
                                unsigned oscillator_khz, Profile profile) {
    // Rounded down, the frame makes each pause a little long, never short.
    const std::uint64_t frame_ns = FrameNanoseconds(frame);
    std::vector<Pause> pauses;
    unsigned char pending = 0;
    for (std::size_t i = 0; i < message.size(); ++i) {
        std::uint64_t busy =
            BusyNanoseconds(ByteWork(profile, pending, message[i]), oscillator_khz);
        busy += (busy * kPaceMarginPercent + 99) / 100;
        if (busy > frame_ns) {
            pauses.push_back({i, busy - frame_ns});
        }
        pending = PendingAfter(profile, pending, message[i]);
    }
    return pauses;
}

std::vector<Pause> PacingPauses(std::string_view message, const LineFrame& frame,
                                unsigned oscillator_khz, Profile profile) {
    return PacingPauses(
        std::span(reinterpret_cast<const unsigned char*>(message.data()), message.size()), frame,
        oscillator_khz, profile);
}
