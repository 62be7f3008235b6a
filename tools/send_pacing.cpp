#include "tools/send_pacing.h"

#include "display/pacing.h"
#include "serial/line_rates.h"

#include <algorithm>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// `count` bytes' time on the wire, rounded down: never longer than the port
// takes, so a wait from it is never cut short by the rounding of a frame.
std::uint64_t WireNanoseconds(const LineFrame& frame, std::size_t count) {
    return count * FrameBits(frame) * kNanosecondsPerSecond / frame.baud;
}

std::chrono::milliseconds TimeoutFor(std::chrono::milliseconds timeout, std::size_t size,
                                     int baud) {
    return timeout.count() > 0 ? timeout : DefaultWriteTimeout(size, baud);
}

std::uint64_t Nanoseconds(std::chrono::milliseconds time) {
    return static_cast<std::uint64_t>(time.count()) * 1'000'000;
}

} // namespace

constinit const PaceClock kSteadyClock{
    [] {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
                .count());
    },
    [](std::uint64_t nanoseconds) {
        std::this_thread::sleep_until(Clock::time_point(std::chrono::nanoseconds(nanoseconds)));
    },
};

LineStatus WritePaced(const SerialLine& line, std::string_view bytes, const Pacing& pacing,
                      const WriteProgress& progress, const PaceClock& clock) {
    const std::vector<Pause> pauses = pacing.pace
                                          ? PacingPauses(bytes, pacing.frame, pacing.oscillator_khz)
                                          : std::vector<Pause>();
    auto next_pause = pauses.begin();
    const bool bytewise = pacing.char_delay.count() > 0;
    for (std::size_t from = 0; from < bytes.size();) {
        std::size_t end = bytes.size();
        if (bytewise) {
            end = from + 1;
        } else if (next_pause != pauses.end()) {
            end = next_pause->after + 1;
        }
        std::uint64_t wait = Nanoseconds(pacing.char_delay);
        if (next_pause != pauses.end() && next_pause->after < end) {
            wait = std::max(wait, next_pause->nanoseconds);
            ++next_pause;
        }
        const std::uint64_t start = clock.now();
        const WriteProgress piece_progress =
            progress ? WriteProgress([&](std::size_t written) { progress(from + written); })
                     : WriteProgress();
        if (LineStatus status = WriteToLine(
                line, bytes.substr(from, end - from),
                TimeoutFor(pacing.timeout, end - from, static_cast<int>(pacing.frame.baud)),
                piece_progress);
            !status.ok()) {
            return status;
        }
        if (wait > 0) {
            const std::uint64_t left =
                std::max(clock.now(), start + WireNanoseconds(pacing.frame, end - from));
            clock.sleep_until(left + wait);
        }
        from = end;
    }
    if (pacing.line_delay.count() > 0) {
        clock.sleep_until(clock.now() + Nanoseconds(pacing.line_delay));
    }
    return {};
}

LineStatus CheckReplay(std::span<const RecordingEvent> events) {
    for (const RecordingEvent& event : events) {
        if (!event.is_line) {
            continue;
        }
        const std::string where =
            "the line " + LineFrameText(event.line) + " at " + TimeText(event.microseconds * 1000);
        if (!IsLineRate(static_cast<int>(event.line.baud))) {
            return {LineError::kBadRate, where + ": the port is opened at " + LineRatesText() +
                                             " baud only; nothing sent"};
        }
        if (event.line.data_bits != 8 || event.line.parity != 'N' || event.line.stop_bits != 1) {
            return {LineError::kOther, where + ": the port is opened 8N1 only; nothing sent"};
        }
    }
    return {};
}

int ReplayOpenRate(std::span<const RecordingEvent> events, int baud) {
    return !events.empty() && events.front().is_line ? static_cast<int>(events.front().line.baud)
                                                     : baud;
}

LineStatus Replay(const SerialLine& line, const std::string& path, int baud,
                  std::span<const RecordingEvent> events, std::chrono::milliseconds timeout,
                  const WriteProgress& progress, const PaceClock& clock) {
    const std::uint64_t start = clock.now();
    std::size_t reads = 0;
    for (const RecordingEvent& event : events) {
        // Each time from the start, so that a late write does not delay the rest.
        if (const std::uint64_t at = start + event.microseconds * 1000; at > clock.now()) {
            clock.sleep_until(at);
        }
        if (event.is_line) {
            if (const int rate = static_cast<int>(event.line.baud); rate != baud) {
                if (LineStatus status = SetLineRate(line, path, rate); !status.ok()) {
                    return status;
                }
                baud = rate;
            }
            continue;
        }
        if (LineStatus status =
                WriteToLine(line, event.bytes, TimeoutFor(timeout, event.bytes.size(), baud));
            !status.ok()) {
            status.message = path + ": " + status.message;
            return status;
        }
        if (progress) {
            progress(++reads);
        }
    }
    return {};
}
