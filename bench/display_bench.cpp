// Module model throughput on long streams of text and commands, 1 MiB and
// 16 MiB, without time and with it, beside the translator on the message
// that gives the mixed stream.
#include "bench/bench_support.h"
#include "display/module.h"
#include "translator/translator.h"

#include <benchmark/benchmark.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

// A 20x4 status screen: clear, text on all rows, cursor moves, a custom
// character defined and shown, the backlight, a bell, tabs, backspaces and a
// graphic module's escape the model reports.
constexpr std::string_view kMixedMessage =
    "<CLS>Boiler 2<KTA_LINE2>Temp<9>21.5<223>C<KTA_LINE3>Pressure<9>1.2 bar"
    "<KTA_LINE4>Pump<9>on<8><8>off<13><10><BL_OFF><BL_ON><BELL>"
    "<254,64><95,81,81,81,81,81,95,64><KTA_LINE1><16,80>ok<KTA_SCROLL_LEFT><KTA_HOME>"
    "<ESC>Z<KTA_UL_CURSOR><RETURN>";

constexpr std::string_view kPlainText = "The quick brown fox jumps over the lazy dog, 0123456789. ";

std::string Translated(std::string_view message) {
    std::vector<char> buffer(message.begin(), message.end());
    return std::string(buffer.data(), TranslateText(buffer.data(), buffer.size()));
}

enum class Stream { kMixed, kPlain };

std::string Bytes(Stream stream, std::size_t size) {
    return Repeat(stream == Stream::kMixed ? Translated(kMixedMessage) : std::string(kPlainText),
                  size);
}

enum class Time { kNone, kTimed };

// Timed: the default buffer at 9600 8N1, the stream one read at time 0, as
// a file is; untimed: every byte acted on at once.
void BM_FeedModule(benchmark::State& state, Stream stream, Profile profile, std::size_t size,
                   Time time) {
    const std::string bytes = Bytes(stream, size);
    for (auto _ : state) {
        Module module = MakeModule(*FindGeometry("20x4"), profile);
        if (time == Time::kTimed) {
            FeedModuleAt(module, 0, bytes);
        } else {
            FeedModule(module, bytes);
        }
        benchmark::DoNotOptimize(module);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

// The translator on the mixed message itself, repeated to the same size.
void BM_TranslateMixed(benchmark::State& state, std::size_t size) {
    TimeTranslation(state, Repeat(kMixedMessage, size));
}

constexpr std::size_t kMiB = 1024 * 1024;

// Each stream at 1 MiB and 16 MiB, without time and with it, side by side.
const bool kModuleBenchmarks = [] {
    constexpr struct {
        std::string_view name;
        Stream stream;
        Profile profile;
    } kStreams[] = {
        {"mixed_command", Stream::kMixed, Profile::kCommand},
        {"mixed_prefix_only", Stream::kMixed, Profile::kPrefixOnly},
        {"plain_text", Stream::kPlain, Profile::kCommand},
    };
    for (const auto& s : kStreams) {
        for (const std::size_t mebibytes : {1, 16}) {
            for (const Time time : {Time::kNone, Time::kTimed}) {
                const std::string name = "BM_FeedModule/" + std::string(s.name) + "_" +
                                         std::to_string(mebibytes) + "MiB" +
                                         (time == Time::kTimed ? "_timed" : "");
                benchmark::RegisterBenchmark(name.c_str(), BM_FeedModule, s.stream, s.profile,
                                             mebibytes * kMiB, time)
                    ->Unit(benchmark::kMicrosecond);
            }
        }
    }
    return true;
}();

BENCHMARK_CAPTURE(BM_TranslateMixed, mixed_message_1MiB, kMiB)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_TranslateMixed, mixed_message_16MiB, 16 * kMiB)->Unit(benchmark::kMicrosecond);

} // namespace
