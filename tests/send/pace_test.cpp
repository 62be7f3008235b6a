// wendle-send's pacing on a pseudo-terminal, on a clock whose time is
// arithmetic: the writes on the port, its rate and the waits, in order.
#include "serial/posix/line_calls.h"
#include "tests/support/pty_port.h"
#include "tools/send_pacing.h"

#include <gtest/gtest.h>

namespace {

// "write N", "rate 9600" (a tcsetattr), "sleep T" (ns from the start); a
// write takes the clock 1 µs on, so that a wait from the wrong moment shows.
std::string calls;
std::uint64_t now_ns = 0;

void Add(const std::string& call) {
    calls += (calls.empty() ? "" : ", ") + call;
}

const LineCalls kLoggedCalls = [] {
    LineCalls logged = kSystemLineCalls;
    logged.write = [](int fd, const void* bytes, std::size_t size) {
        Add("write " + std::to_string(size));
        now_ns += 1000;
        return kSystemLineCalls.write(fd, bytes, size);
    };
    logged.tcsetattr = [](int fd, int when, const termios* settings) {
        Add(cfgetospeed(settings) == B9600 ? "rate 9600" : "rate other");
        return kSystemLineCalls.tcsetattr(fd, when, settings);
    };
    return logged;
}();
constexpr PaceClock kModelClock{[] { return now_ns; },
                                [](std::uint64_t until) {
                                    Add("sleep " + std::to_string(until));
                                    now_ns = std::max(now_ns, until);
                                }};

// N bytes on the wire, rounded down: 10 bits each at 9600 baud. A clear is
// busy 1.52 ms at 270 kHz, 2.16 ms at 190, and paced a tenth longer.
constexpr auto W = [](std::uint64_t n) { return n * 10'000'000'000 / 9600; };
constexpr std::uint64_t kClear = 1'520'000 + 152'000, kSlowClear = 2'160'000 + 216'000;
constexpr std::uint64_t kFrame = W(1), kMs = 1'000'000;
const auto S = [](std::uint64_t ns) { return "sleep " + std::to_string(ns); };

// After a byte busy for longer than a frame, its pause: the busy time and
// its tenth from the byte's start on the wire, where the next write starts.
// A character's 37 µs is inside a frame: no pause. Then a recording, at its
// times from the start, each read in one write, at the rates it records.
TEST(Pace, WritesAndWaits) {
    using std::chrono::milliseconds;
    // clang-format off
    const struct {
        bool pace;
        unsigned osc;
        int char_ms, line_ms;
        std::string bytes, expected;
    } cases[] = {
        {false, 270, 0, 0, "\x0cHi\x0c", "write 4"},
        {true, 270, 0, 0, "\x0cHello", "write 1, " + S(kClear) + ", write 5"},
        {true, 270, 0, 0, "ab\x0c\x0c", "write 3, " + S(W(3) + kClear - kFrame) + ", write 1, " + S(W(3) + 2 * kClear - kFrame)},
        // Each byte its delay, or the clear's pause where that is longer.
        {true, 190, 1, 0, "\x0c" "ab", "write 1, " + S(kSlowClear) + ", write 1, " + S(kSlowClear + kFrame + kMs) +
         ", write 1, " + S(kSlowClear + 2 * (kFrame + kMs))},
        {true, 270, 1, 0, "\x0c" "a", "write 1, " + S(kFrame + kMs) + ", write 1, " + S(2 * (kFrame + kMs))},
        {false, 270, 2, 5, "ab", "write 1, " + S(kFrame + 2 * kMs) + ", write 1, " + S(2 * (kFrame + 2 * kMs)) + ", " +
         S(2 * (kFrame + 2 * kMs) + 5 * kMs)},
        {true, 270, 0, 3, "a\x0c", "write 2, " + S(W(2) + kClear - kFrame) + ", " + S(W(2) + kClear - kFrame + 3 * kMs)},
    };
    // clang-format on
    PtyPort port;
    SerialLine line;
    // Opened at 19200, so that the recording's change to 9600 is a call; the
    // pacing's frame is its own.
    ASSERT_TRUE(OpenSerialLine(port.path(), 19200, line).ok());
    InstallLineCalls(&kLoggedCalls);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes) + " " + std::to_string(c.osc));
        calls.clear();
        now_ns = 0;
        const Pacing pacing{
            {9600}, c.pace, c.osc, milliseconds(c.char_ms), milliseconds(c.line_ms)};
        EXPECT_TRUE(WritePaced(line, c.bytes, pacing, {}, kModelClock).ok());
        EXPECT_EQ(calls, c.expected);
        EXPECT_EQ(port.Drain(), c.bytes);
    }
    std::vector<RecordingEvent> events;
    ASSERT_EQ(ParseRecording("wendle-recording 1\n0 line 19200 8N1\n0 0C 48\n10 49\n"
                             "2500 line 9600 8N1\n2600 41\n2600 42\n",
                             events),
              "");
    EXPECT_EQ(ReplayOpenRate(events, 2400), 19200);
    calls.clear();
    now_ns = 0;
    EXPECT_TRUE(Replay(line, port.path(), 19200, events, {}, {}, kModelClock).ok());
    EXPECT_EQ(calls,
              "write 2, sleep 10000, write 1, sleep 2500000, rate 9600, sleep 2600000, write 2");
    EXPECT_EQ(port.Drain(), "\x0cHIAB");
    InstallLineCalls(nullptr);
}

} // namespace
