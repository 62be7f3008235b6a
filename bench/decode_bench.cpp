// Decoder throughput: 1 MiB and 16 MiB of random bytes (every value), with
// and without names, and plain text, which is copied through.
#include "translator/decode.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>

namespace {

std::string RandomBytes(std::size_t size) {
    std::mt19937 random(16);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random());
    }
    return bytes;
}

std::string PlainText(std::size_t size) {
    std::string text;
    while (text.size() < size) {
        text += "The quick brown fox jumps over the lazy dog, 0123456789. ";
    }
    return text;
}

void BM_Decode(benchmark::State& state, bool random, bool with_names) {
    const std::size_t size = static_cast<std::size_t>(state.range(0)) << 20;
    const std::string bytes = random ? RandomBytes(size) : PlainText(size);
    std::size_t written = 0;
    for (auto _ : state) {
        const std::string message = DecodeBytes(bytes, with_names);
        written = message.size();
        benchmark::DoNotOptimize(message.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    state.counters["out/in"] = static_cast<double>(written) / static_cast<double>(bytes.size());
}

BENCHMARK_CAPTURE(BM_Decode, random_numbers, true, false)
    ->Arg(1)
    ->Arg(16)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode, random_names, true, true)
    ->Arg(1)
    ->Arg(16)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode, plain_text, false, false)
    ->Arg(1)
    ->Arg(16)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
