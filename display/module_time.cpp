#include "display/module_time.h"

#include <algorithm>

namespace {

// Pauses are suggested in steps a sender can keep to.
constexpr std::uint64_t kPauseStep = 100'000;

std::size_t Index(Work work) {
    return static_cast<std::size_t>(work);
}

// Byte `offset` of the burst: n frames after its start, in exact integers
// (the fraction below a nanosecond carried, then dropped).
std::uint64_t ArrivalOf(const WireClock& w, std::uint64_t offset) {
    const std::uint64_t n = offset - w.start_offset + 1;
    return w.start + n * w.frame_ns + (w.start_rest + n * w.frame_rest) / w.frame.baud;
}

void SetFrame(Module& m, const LineFrame& frame) {
    ModuleTime& t = m.time;
    t.wire.frame = frame;
    t.wire.frame_ns = FrameNanoseconds(frame);
    t.wire.frame_rest =
        static_cast<std::uint32_t>(FrameBits(frame) * kNanosecondsPerSecond % frame.baud);
    t.wire.start_rest = 0;
    t.slow_works = 0;
    for (std::size_t w = 0; w < kWorkCount; ++w) {
        // The next byte comes at least frame_ns later: a shorter work has
        // ended by then.
        t.slow_works |= (t.busy_ns[w] > t.wire.frame_ns ? 1u : 0u) << w;
    }
    t.timed_works = ~0u;
}

// A position off the screen gives the controller nothing: the module keeps it.
Work ScreenWork(const Module& m, unsigned char pending, unsigned char byte) {
    if (pending == kPositionCommand && !PositionOnScreen(*m.geometry, byte)) {
        return Work::kNothing;
    }
    return ByteWork(m.profile, pending, byte);
}

void NoBufferByte(Module& m, unsigned char byte, std::uint64_t arrival) {
    ModuleTime& t = m.time;
    BusyClock& clock = t.no_buffer;
    const Work work = ScreenWork(m, t.no_buffer_pending, byte);
    if (t.busy_ns[Index(work)] > 0 && clock.free_at > arrival) {
        NoBufferLosses& losses = m.no_buffer;
        if (losses.total++ == 0) {
            losses.first = {m.offset, arrival, clock.free_at, byte, LossCause::kBusy, clock.work};
            losses.first_into = arrival - clock.since;
        }
        std::uint64_t& overrun = losses.overrun[Index(clock.work)];
        overrun = std::max(overrun, clock.free_at - arrival);
        t.no_buffer_pending = 0;
        return;
    }
    if (t.busy_ns[Index(work)] > 0) {
        clock = {arrival + t.busy_ns[Index(work)], arrival, work};
    }
    t.no_buffer_pending = PendingAfter(m.profile, t.no_buffer_pending, byte);
}

// The module's own coping. Each byte is handed on at p = max(arrival, the
// controller's free time); p only grows, so the byte `buffer` accepted
// bytes back is the oldest one that can still be held, and the buffer is
// full when it is held still. Only a byte that waited is written to the
// ring: a slot not written since holds an earlier, smaller p, which answers
// the same as the p it stands for, which was its own arrival.
bool HandOn(Module& m, unsigned char byte, Work work, std::uint64_t arrival) {
    ModuleTime& t = m.time;
    BusyClock& clock = t.controller;
    const std::uint32_t busy = t.busy_ns[Index(work)];
    const std::uint64_t p = std::max(arrival, clock.free_at);
    if (t.timing.buffer == 0) {
        if (busy > 0 && clock.free_at > arrival) {
            AddReport(m.lost,
                      {m.offset, arrival, clock.free_at, byte, LossCause::kBusy, clock.work});
            m.pending = 0; // the module handed the byte on: its command is done
            return false;
        }
    } else {
        std::uint64_t& slot = t.handed_on[(m.offset - m.lost.total) % t.timing.buffer];
        if (slot > arrival) {
            AddReport(m.lost, {m.offset, arrival, slot, byte, LossCause::kBufferFull, clock.work});
            return false;
        }
        if (p > arrival) {
            slot = p;
        }
    }
    if (busy > 0) {
        clock = {p + busy, p, work};
    }
    return true;
}

std::string ByteText(unsigned char value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    if (value >= 0x20 && value < 0x7F) {
        return std::string("'") + static_cast<char>(value) + "'";
    }
    return {kDigits[value >> 4], kDigits[value & 0xF]};
}

std::string_view WorkName(Work work, bool short_name) {
    const BusyRow& row = BusyTable[Index(work)];
    return short_name ? row.short_name : row.name;
}

// "an 8.3 ms", "an 11 ms", "an 18.5 ms", "a 1.52 ms" as said aloud.
std::string WithArticle(const std::string& time) {
    const std::string whole = time.substr(0, time.find_first_of(". "));
    const bool vowel = whole[0] == '8' || whole == "11" || whole == "18";
    return (vowel ? "an " : "a ") + time;
}

} // namespace

void StartModuleTime(Module& m, const ModuleTiming& timing) {
    ModuleTime& t = m.time;
    // The settings were checked by the caller; kept in range here so that
    // no setting can divide by zero or allocate without bound.
    t.timing.oscillator_khz =
        std::clamp(timing.oscillator_khz, kMinOscillatorKhz, kMaxOscillatorKhz);
    t.timing.buffer = std::min(timing.buffer, kMaxBuffer);
    for (std::size_t w = 0; w < kWorkCount; ++w) {
        t.busy_ns[w] = BusyNanoseconds(static_cast<Work>(w), t.timing.oscillator_khz);
    }
    t.handed_on.assign(t.timing.buffer, 0);
    SetFrame(m, LineFrame{});
}

void StartRead(Module& m, std::uint64_t read_ns) noexcept {
    WireClock& w = m.time.wire;
    const std::uint64_t n = m.offset - w.start_offset;
    const std::uint64_t rest = w.start_rest + n * w.frame_rest;
    const std::uint64_t end = w.start + n * w.frame_ns + rest / w.frame.baud;
    if (!w.timed || read_ns > end) {
        w.start = read_ns;
        w.start_rest = 0;
    } else {
        w.start = end;
        w.start_rest = static_cast<std::uint32_t>(rest % w.frame.baud);
    }
    w.start_offset = m.offset;
    w.timed = true;
}

bool TimeByte(Module& m, unsigned char byte, Work work) noexcept {
    ModuleTime& t = m.time;
    const std::uint64_t arrival = ArrivalOf(t.wire, m.offset);
    if (work == Work::kSetDdramAddress) {
        work = ScreenWork(m, m.pending, byte);
    }
    const unsigned char pending_after = PendingAfter(m.profile, m.pending, byte);
    bool acts = true;
    if (t.timed_works != ~0u) {
        // Settled: both controllers are free by now and nothing is held, so
        // both modules take the byte at once.
        if (t.busy_ns[Index(work)] > 0) {
            t.controller = {arrival + t.busy_ns[Index(work)], arrival, work};
            t.no_buffer = t.controller;
        }
        t.no_buffer_pending = pending_after;
    } else {
        NoBufferByte(m, byte, arrival);
        acts = HandOn(m, byte, work, arrival);
    }
    const std::uint64_t horizon = arrival + t.wire.frame_ns;
    const bool settled = t.controller.free_at <= horizon && t.no_buffer.free_at <= horizon &&
                         t.no_buffer_pending == (acts ? pending_after : m.pending);
    t.timed_works = settled ? t.slow_works : ~0u;
    return acts;
}

bool SetModuleLine(Module& m, const LineFrame& frame) noexcept {
    if (!LineFrameIsSound(frame)) {
        return false;
    }
    if (m.time.wire.timed) {
        StartRead(m, 0); // the burst so far at the old rate
    }
    SetFrame(m, frame);
    return true;
}

std::string DescribeLost(const Module& m, const LostByte& lost) {
    std::string text = "offset " + std::to_string(lost.offset) + " " + ByteText(lost.value) +
                       " at " + TimeText(lost.arrival) + ": ";
    if (lost.cause == LossCause::kBufferFull) {
        text += "buffer full (" + std::to_string(m.time.timing.buffer) + " bytes)";
    } else {
        text += "controller busy with " + std::string(WorkName(lost.busy_with, false));
    }
    return text + " until " + TimeText(lost.until);
}

std::string NoBufferSummary(const Module& m) {
    const NoBufferLosses& losses = m.no_buffer;
    std::string text =
        "at " + std::to_string(m.time.wire.frame.baud) + " baud a module without a buffer loses ";
    if (losses.total == 0) {
        return text + "nothing";
    }
    const LostByte& first = losses.first;
    text += std::to_string(losses.total) +
            (losses.total == 1 ? " byte: offset " : " bytes: offset ") +
            std::to_string(first.offset) + " " + ByteText(first.value) + " arrives " +
            TimeText(losses.first_into) + " into " +
            WithArticle(TimeText(m.time.busy_ns[Index(first.busy_with)])) + " " +
            std::string(WorkName(first.busy_with, true)) + "; pause ";
    std::string pauses;
    for (std::size_t w = 0; w < kWorkCount; ++w) {
        if (losses.overrun[w] != 0) {
            const std::uint64_t pause =
                (losses.overrun[w] + kPauseStep - 1) / kPauseStep * kPauseStep;
            pauses += (pauses.empty() ? "" : ", ") + TimeText(pause) + " after each " +
                      std::string(WorkName(static_cast<Work>(w), true));
        }
    }
    return text + pauses + ", or send with wendle-send --pace";
}
