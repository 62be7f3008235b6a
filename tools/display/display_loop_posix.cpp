#include "serial/posix/retry.h"
#include "tools/display/display_frame.h"
#include "tools/display/display_loop.h"
#include "tools/display/display_signals_posix.h"
#include "tools/display/live_terminal_posix.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <optional>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// At most about 30 frames a second: arrivals closer than this are drawn
// together.
constexpr std::chrono::milliseconds kFramePause(33);

// Reads of a port after the end was asked for: a pseudo-terminal holds far
// less than this many buffers.
constexpr int kReadsAfterTheEnd = 16;

int MillisecondsUntil(Clock::time_point when) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

// The loop's state between polls.
class Session {
  public:
    Session(DisplaySource& source, Module& module, const LoopOptions& options)
        : source_(source), module_(module), options_(options),
          terminal_(options.live, options.keys), dirty_(options.live) {}

    LineStatus Run() {
        // Signals are caught before the terminal changes and until it is back.
        if (LineStatus status = signals_.Watch(); !status.ok()) {
            return status;
        }
        if (LineStatus status = terminal_.Enter(); !status.ok()) {
            return status;
        }
        if (source_.packets) {
            NoteLine(); // the settings a writer finds, until one sets its own
        }
        for (;;) {
            if (dirty_ && Clock::now() >= next_frame_) {
                if (LineStatus status = Draw(); !status.ok()) {
                    return status;
                }
            }
            pollfd ready[3] = {{options_.replaying ? -1 : source_.fd(), POLLIN, 0},
                               {signals_.fd(), POLLIN, 0},
                               {terminal_.KeyFd(), POLLIN, 0}};
            const auto polled = Retry([&] { return poll(ready, 3, Wait()); });
            if (polled.failed()) {
                return SystemFailure(LineError::kOther, "cannot wait for input", polled.error);
            }
            const int count = polled.value;
            if (count > 0 && ready[1].revents != 0) {
                SignalsTaken taken;
                if (LineStatus status = signals_.Take(taken); !status.ok()) {
                    return status;
                }
                if (taken.end) {
                    // What the writer sent before the end is still shown.
                    return ReadWhileReady();
                }
                if (taken.stop) {
                    if (LineStatus status = Stop(); !status.ok()) {
                        return status;
                    }
                }
                clear_ |= taken.redraw || taken.stop;
            }
            if (count > 0 && ready[2].revents != 0 && QuitTyped()) {
                return ReadWhileReady();
            }
            dirty_ |= clear_ && options_.live;
            if (count > 0 && ready[0].revents != 0) {
                if (const std::optional<LineStatus> end = ReadOnce()) {
                    return *end;
                }
            } else if (ReplayDue()) {
                if (next_event_ == options_.replay.size()) {
                    return {};
                }
                if (const std::optional<LineStatus> end = ReplayOne()) {
                    return *end;
                }
            } else if (count == 0 && IdleOver()) {
                return {};
            }
        }
    }

    // The end: the half-sent command reported, the last frame drawn, the
    // terminal as it was.
    LineStatus Finish() {
        FinishModule(module_);
        LineStatus status = options_.live ? Draw() : LineStatus{};
        if (options_.lines && status.ok()) {
            status = WriteOut(ReportLines(module_, listed_, true));
        }
        if (LineStatus closed = terminal_.Close(); status.ok()) {
            status = closed;
        }
        return status;
    }

  private:
    LineStatus Draw() {
        dirty_ = false;
        next_frame_ = Clock::now() + kFramePause;
        const bool clear = std::exchange(clear_, false);
        const auto [columns, rows] = TerminalSize();
        return terminal_.Draw(FrameLines({module_, arrivals_, source_.name, line_, options_.dots,
                                          columns, rows, options_.colour}),
                              clear);
    }

    // Ctrl+Z: the screen as it was while the program is stopped.
    LineStatus Stop() {
        if (LineStatus status = terminal_.Leave(); !status.ok()) {
            return status;
        }
        if (LineStatus status = signals_.StopHere(); !status.ok()) {
            return status;
        }
        return terminal_.Enter();
    }

    // Reads the keys typed: whether q (or Q) was among them. A keyboard that
    // fails or ends is read no more, deliberately without a word: Ctrl+C
    // and the other ends still end the program.
    bool QuitTyped() {
        char keys[64];
        const auto got = Retry([&] { return read(terminal_.KeyFd(), keys, sizeof keys); });
        if (got.value <= 0) {
            if (got.value == 0 || got.error != EAGAIN) {
                terminal_.StopReadingKeys();
            }
            return false;
        }
        return std::find_if(keys, keys + got.value, [](char c) { return c == 'q' || c == 'Q'; }) !=
               keys + got.value;
    }

    bool IdleOver() const {
        return options_.idle_exit > 0 && arrivals_.total != 0 &&
               Clock::now() >= last_byte_ + IdleTime();
    }

    Clock::duration IdleTime() const {
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(options_.idle_exit));
    }

    // The next event of a recording, at its time with --real-time.
    bool ReplayDue() const {
        return options_.replaying &&
               (!options_.real_time || next_event_ == options_.replay.size() ||
                Clock::now() >= ReplayTime());
    }

    Clock::time_point ReplayTime() const {
        return start_ + std::chrono::microseconds(options_.replay[next_event_].microseconds);
    }

    // No time-out while nothing is due: the loop sleeps in poll.
    int Wait() const {
        int wait = dirty_ ? MillisecondsUntil(next_frame_) : -1;
        if (options_.replaying) {
            const int until_next = ReplayDue() ? 0 : MillisecondsUntil(ReplayTime());
            wait = wait < 0 ? until_next : std::min(wait, until_next);
        }
        if (options_.idle_exit > 0 && arrivals_.total != 0) {
            const int until_idle = MillisecondsUntil(last_byte_ + IdleTime());
            wait = wait < 0 ? until_idle : std::min(wait, until_idle);
        }
        return wait;
    }

    // One read; the status to end with when the input ended or failed.
    std::optional<LineStatus> ReadOnce() {
        const auto got = Retry([&] { return read(source_.fd(), buffer_.data(), buffer_.size()); });
        if (got.value == 0) {
            // The end of a file; a port ends so only when its device is gone.
            return source_.is_line ? LineStatus{LineError::kOther, source_.name + ": " + kHungUp}
                                   : LineStatus{};
        }
        if (got.failed()) {
            if (got.error == EAGAIN) {
                return std::nullopt;
            }
            // Standard input and files are no port: their failures are others.
            if (!source_.is_line) {
                return SystemFailure(LineError::kOther, "cannot read " + source_.name, got.error);
            }
            return SystemFailure(ErrorKindOf(got.error),
                                 got.error == EIO ? source_.name + ": " + kHungUp
                                                  : "cannot read " + source_.name,
                                 got.error);
        }
        std::string_view bytes(buffer_.data(), static_cast<std::size_t>(got.value));
        const Clock::time_point now = Clock::now();
        if (source_.packets) {
            const Packet packet = PacketBytes(bytes.data(), bytes.size());
            if (packet.settings_changed) {
                NoteLine();
            }
            bytes.remove_prefix(packet.data_offset);
            if (bytes.empty()) {
                return std::nullopt;
            }
        } else if (source_.is_line) {
            NoteLine();
        }
        if (arrivals_.total == 0) {
            start_ = now;
        }
        // A file or standard input is one burst from time zero.
        return Arrive(source_.is_line ? Nanoseconds(now - start_) : 0, bytes);
    }

    static std::uint64_t Nanoseconds(Clock::duration since) {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(since).count());
    }

    // The line's settings as they are now, for the frame and the model. A
    // line whose settings cannot be read keeps the last; a rate the model
    // cannot take keeps its frame, and the status says so.
    void NoteLine() {
        LineSettings settings;
        if (!ReadLineSettings(source_.fd(), settings).ok()) {
            return;
        }
        line_ = DescribeLineSettings(settings);
        const LineFrame frame{static_cast<std::uint32_t>(std::max(settings.baud, 0)),
                              static_cast<unsigned char>(settings.data_bits), settings.parity,
                              static_cast<unsigned char>(settings.stop_bits)};
        if (!SetModuleLine(module_, frame)) {
            line_ += " (timed as " + LineFrameText(module_.time.wire.frame) + ")";
        }
    }

    // The next event of the recording replayed.
    std::optional<LineStatus> ReplayOne() {
        const RecordingEvent& event = options_.replay[next_event_++];
        if (event.is_line) {
            SetModuleLine(module_, event.line);
            line_ = LineFrameText(event.line);
            return std::nullopt;
        }
        return Arrive(event.microseconds * 1000, event.bytes);
    }

    // Bytes that arrived at `clock_ns` from the first: fed, recorded, shown.
    std::optional<LineStatus> Arrive(std::uint64_t clock_ns, std::string_view bytes) {
        FeedModuleAt(module_, clock_ns, bytes);
        NoteArrival(arrivals_, bytes);
        last_byte_ = Clock::now();
        if (options_.record != nullptr) {
            const std::string text =
                RecordArrival(recorder_, clock_ns, module_.time.wire.frame, bytes);
            if (LineStatus status = WriteRecord(*options_.record, options_.record_path, text);
                !status.ok()) {
                return status;
            }
        }
        if (options_.lines) {
            std::string text = ArrivalLine(bytes) + ReportLines(module_, listed_, false);
            if (LineStatus status = WriteOut(text); !status.ok()) {
                return status;
            }
        }
        dirty_ = options_.live;
        return std::nullopt;
    }

    // What a port had received before the signal; a file is not read to its
    // end (it may have none: /dev/zero), nor a writer that never stops.
    LineStatus ReadWhileReady() {
        for (int reads = 0; source_.is_line && reads < kReadsAfterTheEnd; ++reads) {
            pollfd ready{source_.fd(), POLLIN, 0};
            const auto polled = Retry([&] { return poll(&ready, 1, 0); });
            if (polled.failed()) {
                return SystemFailure(LineError::kOther, "cannot wait for input", polled.error);
            }
            if (polled.value == 0) {
                return {};
            }
            if (const std::optional<LineStatus> end = ReadOnce()) {
                return *end;
            }
        }
        return {};
    }

    DisplaySource& source_;
    Module& module_;
    const LoopOptions& options_;
    ReportsListed listed_; // in plain lines
    SignalPipe signals_;   // before the terminal: it goes after it

    LiveTerminal terminal_;
    Arrivals arrivals_;
    std::string line_;
    bool dirty_;
    bool clear_ = false;
    Clock::time_point next_frame_ = Clock::now();
    Clock::time_point last_byte_{};
    Clock::time_point start_ = Clock::now(); // of the first read, or of a replay
    std::size_t next_event_ = 0;             // of a replay
    Recorder recorder_;
    std::vector<char> buffer_ = std::vector<char>(1 << 16);
};

} // namespace

LineStatus RunDisplayLoop(DisplaySource& source, Module& module, const LoopOptions& options) {
    Session session(source, module, options);
    const LineStatus status = session.Run();
    const LineStatus finished = session.Finish();
    return status.ok() ? finished : status;
}
