// Time in the module model against the datasheet's busy times and the line
// rate's arithmetic, written out here.
#include "display/pacing.h"
#include "display/recording.h"
#include "tests/display/shown_text.h"
#include "tests/support/tool_run.h"
#include "tests/support/translate_support.h"

#include <gtest/gtest.h>

#include <array>
#include <tuple>

namespace {

// The HD44780U datasheet's busy times at 270 kHz.
constexpr std::uint64_t kClear = 1'520'000, kShort = 37'000;

// Byte k of a burst from 0 ends k frames of `bits` at `baud` later, in
// nanoseconds rounded down.
constexpr std::uint64_t At(std::uint64_t k, std::uint64_t bits, std::uint64_t baud) {
    return k * bits * 1'000'000'000 / baud;
}

using Read = std::pair<std::uint64_t, std::string_view>; // when, and what

Module RunTimed(const ModuleTiming& timing, const LineFrame& frame, std::vector<Read> reads) {
    Module module = MakeModule(*FindGeometry("16x2"), Profile::kCommand, timing);
    SetModuleLine(module, frame);
    for (const auto& [at, message] : reads) {
        FeedModuleAt(module, at, Translate(message));
    }
    return module;
}

constexpr ModuleTiming kNoBuffer{270, 0};
constexpr std::string_view kHello = "<CLS>Hello";

TEST(Timing, WhatIsShownAndLost) {
    // clang-format off
    const struct {
        ModuleTiming timing;
        LineFrame frame;
        std::vector<Read> reads;
        std::string_view screen, lost; // the offsets lost
        std::uint64_t arrival, until;  // of the first lost
    } cases[] = {
        // 'H' arrives two frames in, during the clear that arrived one in.
        {kNoBuffer, {9600}, {{0, kHello}}, "ello||1 5", "1", At(2, 10, 9600), At(1, 10, 9600) + kClear},
        // A slow part: 1.52 ms x 270 / 190 = 2.16 ms, more than a frame at 4800.
        {{190, 0}, {4800}, {{0, kHello}}, "ello||1 5", "1", At(2, 10, 4800), At(1, 10, 4800) + 2'160'000},
        // Five bytes wait for the clear; the fifth finds four held.
        {{270, 5}, {38400}, {{0, kHello}}, "Hello||1 6", "", 0, 0},
        {{270, 4}, {38400}, {{0, kHello}}, "Hell||1 5", "5", At(6, 10, 38400), At(1, 10, 38400) + kClear},
        // At 7200 baud 1.52 ms is 10.9 bits: frames of 10 bits lose 'H'.
        {kNoBuffer, {7200, 8, 'N', 1}, {{0, kHello}}, "ello||1 5", "1", At(2, 10, 7200), At(1, 10, 7200) + kClear},
        {kNoBuffer, {7200, 8, 'M', 1}, {{0, kHello}}, "Hello||1 6", "", 0, 0},
        {kNoBuffer, {7200, 8, 'N', 2}, {{0, kHello}}, "Hello||1 6", "", 0, 0},
        // Reads: back to back while the wire is busy, from the read after a pause.
        {kNoBuffer, {9600}, {{0, "<CLS>"}, {500'000, "Hello"}}, "ello||1 5", "1", At(2, 10, 9600), At(1, 10, 9600) + kClear},
        {kNoBuffer, {9600}, {{0, "Hi"}, {5'000'000, kHello}}, "ello||1 5", "3", 5'000'000 + At(2, 10, 9600), 5'000'000 + At(1, 10, 9600) + kClear},
        // The prefix and a position off the screen are the module's own.
        {kNoBuffer, {9600}, {{0, "<CLS><254,192>X"}}, "|X|2 2", "", 0, 0},
        {kNoBuffer, {38400}, {{0, "<CLS><254,192>"}, {3'000'000, "X"}}, "X||1 2", "2", At(3, 10, 38400), At(1, 10, 38400) + kClear},
        {kNoBuffer, {38400}, {{0, "<CLS><16,200>X"}}, "||1 1", "3", At(4, 10, 38400), At(1, 10, 38400) + kClear},
        // Backspace is an address, a write and an address; 37 us data
        // writes outlast a frame at 1 Mbaud.
        {kNoBuffer, {115200}, {{0, "ab<8>c"}}, "a||1 2", "3", At(4, 10, 115200), At(3, 10, 115200) + 3 * kShort},
        // A buffer of two goes on taking bytes after one it lost.
        {{270, 2}, {1'000'000}, {{0, "abcdefgh"}}, "abce||1 5", "3 5 6 7", At(4, 10, 1'000'000), At(1, 10, 1'000'000) + kShort},
        // The bell and the backlight are the module's; cursor looks are a display control, a tab an address.
        {kNoBuffer, {1'000'000}, {{0, "<7><15>x<5>y<9>z"}}, "xz||1 3", "3 4 5", At(4, 10, 1'000'000), At(3, 10, 1'000'000) + kShort},
    };
    // clang-format on
    for (const auto& c : cases) {
        const Module m = RunTimed(c.timing, c.frame, c.reads);
        std::string lost;
        for (std::size_t i = 0; i < m.lost.total; ++i) {
            lost += (i == 0 ? "" : " ") + std::to_string(m.lost.first[i].offset);
        }
        const LostByte first = m.lost.total ? m.lost.first[0] : LostByte{};
        EXPECT_EQ((std::tuple{ShownText(m), lost, first.arrival, first.until}),
                  (std::tuple{c.screen, c.lost, c.arrival, c.until}))
            << c.reads.back().second << " at " << c.frame.baud;
        EXPECT_TRUE(m.lost.total == 0 ||
                    (first.cause == LossCause::kBufferFull) == (c.timing.buffer > 0));
        EXPECT_TRUE(c.timing.buffer || m.no_buffer.total == m.lost.total) << "the summary's count";
    }
}

// Whatever the buffer. At 190 kHz the clear and home take 2.16 ms: 'a' comes
// 1899583 ns early (a 1.9 ms pause, rounded up); 'b' arrives 1.5 ms after
// home, 0.66 ms early (0.7 ms).
TEST(Timing, NoBufferSummary) {
    Module m = RunTimed({190, 80}, {38400}, {{0, "<CLS>a"}, {5'000'000, "<1>"}, {6'500'000, "b"}});
    EXPECT_FALSE(SetModuleLine(m, {0})); // a rate no line has: 38400 kept
    EXPECT_EQ(NoBufferSummary(m),
              "at 38400 baud a module without a buffer loses 2 bytes: offset 1 'a' arrives 0.26 ms "
              "into a 2.16 ms clear; pause 1.9 ms after each clear, 0.7 ms after each return "
              "home, or send with wendle-send --pace");
}

// The datasheet's rows as docs/timing.md shows them and the code has them,
// in its order (their scaling is in the 190 kHz rows above and below).
TEST(Timing, BusyTableItsDocAndTimeTexts) {
    constexpr std::string_view kRows[] = {
        "| clear display | 1.52 ms |",
        "| return home | 1.52 ms |",
        "| entry mode set | 0.037 ms |",
        "| display control | 0.037 ms |",
        "| cursor or display shift | 0.037 ms |",
        "| function set | 0.037 ms |",
        "| set CGRAM address | 0.037 ms |",
        "| set DDRAM address | 0.037 ms |",
        "| data write | 0.037 ms |",
        "| backspace (set DDRAM address, data write, set DDRAM address) | 0.111 ms |",
    };
    const std::string doc = ReadFile(WENDLE_SOURCE_DIR "/docs/timing.md");
    for (std::size_t i = 0; i < std::size(kRows); ++i) {
        const BusyRow& code = BusyTable[i + 1];
        EXPECT_EQ("| " + std::string(code.name) + " | " + TimeText(code.nanoseconds) + " |",
                  kRows[i]);
        EXPECT_NE(doc.find(kRows[i]), std::string::npos) << kRows[i];
    }
    EXPECT_EQ((std::array{TimeText(499), TimeText(500), TimeText(999'999'499),
                          TimeText(999'999'500), TimeText(12'500'000'000)}),
              (std::array<std::string, 5>{"0 ms", "0.001 ms", "999.999 ms", "1 s", "12.5 s"}));
}

// After each slow byte, its busy time and a tenth more, less a frame.
TEST(Timing, PacingPauses) {
    const std::uint64_t kSlowClear = 2'160'000; // at 190 kHz
    // clang-format off
    const struct {
        LineFrame frame;
        unsigned khz;
        std::string_view message;
        std::vector<Pause> pauses;
    } cases[] = {
        {{9600}, 270, kHello, {{0, kClear + 152'000 - At(1, 10, 9600)}}},
        {{9600}, 270, "Hello<16,70><254,128>", {}},
        {{38400, 8, 'E', 2}, 190, "a<254,2><1>", {{2, kSlowClear + 216'000 - At(1, 12, 38400)}, {3, kSlowClear + 216'000 - At(1, 12, 38400)}}},
        // 37 us and its tenth end with the frame (10 / 245699 s, 40700 ns): no pause.
        {{245'699}, 270, "a", {}},
        // 37 us fits a 40 us frame, its tenth more does not.
        {{250'000}, 270, "a", {{0, kShort + 3'700 - At(1, 10, 250'000)}}},
        // 52578.9 ns at 190 kHz, and 5257.9 more: each rounded up.
        {{1'000'000}, 190, "a", {{0, 52'579 + 5'258 - At(1, 10, 1'000'000)}}},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(PacingPauses(Translate(c.message), c.frame, c.khz), c.pauses) << c.message;
    }
}

// Refused with the line number and what is wrong; nothing is half-read.
TEST(Recording, Refused) {
    const std::string ok = "wendle-recording 1\n0 line 9600 8N1\n";
    const std::string not_recording =
        "line 1: not a recording: the first line must be \"wendle-recording 1\"";
    // clang-format off
    const std::pair<std::string, std::string> kCases[] = {
        {"wendle-recording 2\n0 line 9600 8N1\n", not_recording},
        {"wendle-recording 1\n# comment\n\n5 0C\n", "line 4: bytes before the line's settings: put a line such as \"0 line 9600 8N1\" first"},
        {ok + "-1 41\n", "line 3: \"-1\" is not a time: give the microseconds since the first arrival, up to 1000000000000000"},
        {ok + "3\n", "line 3: a time and nothing after it: give bytes in hex or \"line\" and the settings"},
        {ok + "3 fF 4G\n", "line 3: \"4G\" is not a byte: give two hex digits, such as 0C"},
        {ok + "3 line 9600 8N\n", "line 3: \"9600 8N\" are not line settings: give a rate, then data bits, parity and stop bits, such as \"9600 8N1\""},
        {ok + "3 line 49 8N1\n", "line 3: the rate 49 is not one a line can have: give 50 to 4000000"},
        {ok + "3 line 9600 8X1\n", "line 3: parity X: give N, E, O, M or S"},
    };
    // clang-format on
    for (const auto& [text, error] : kCases) {
        std::vector<RecordingEvent> events(1);
        EXPECT_EQ(ParseRecording(text, events), error);
        EXPECT_EQ(events.size(), 1u);
    }
}

// Written as reads arrive (microseconds from the first, the settings when
// they change), read back and replayed with its times: the clear at 9600
// loses the first 'x'; at 38400, back to back after the 21st byte's end,
// the clear loses "Hi".
TEST(Recording, WrittenReadAndReplayed) {
    Recorder recorder;
    const LineFrame fast{38400};
    std::string text = RecordArrival(recorder, 7'000'000'123, {9600}, Translate("<CLS>"));
    text += RecordArrival(recorder, 7'000'000'623, {9600}, std::string(20, 'x'));
    text += RecordArrival(recorder, 7'002'000'999, fast, Translate("<CLS>Hi"));
    const std::string xs = " 78 78 78 78";
    EXPECT_EQ(text, "wendle-recording 1\n0 line 9600 8N1\n0 0C\n0" + xs + xs + xs + xs + "\n0" +
                        xs + "\n2000 line 38400 8N1\n2000 0C 48 69\n");
    std::vector<RecordingEvent> events;
    ASSERT_EQ(ParseRecording(text + "# end\r\n", events), "");
    EXPECT_EQ(events, (std::vector<RecordingEvent>{{0, true, {9600}, ""},
                                                   {0, false, {}, "\x0c" + std::string(20, 'x')},
                                                   {2000, true, fast, ""},
                                                   {2000, false, {}, "\x0cHi"}}));
    Module module = MakeModule(DefaultGeometry(), Profile::kCommand, kNoBuffer);
    FeedRecording(module, events);
    EXPECT_EQ((std::array{module.lost.total, module.lost.first[0].arrival,
                          module.lost.first[1].offset, module.lost.first[1].arrival}),
              (std::array<std::uint64_t, 4>{3, At(2, 10, 9600), 22,
                                            At(21, 10, 9600) + At(2, 10, 38400)}));
}

} // namespace
