// Translator throughput on messages of five shapes at 1 MiB and 16 MiB, and
// the literal rebuild loop beside the real scanner at 64 KiB.
#include "bench/bench_support.h"
#include "tests/translator/naive_translate.h"
#include "translator/translator.h"

#include <benchmark/benchmark.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

enum class Shape { kPlain, kDecimalTokens, kNames, kUnclosedRun, kRescanChain };

std::string Message(Shape shape, std::size_t size) {
    switch (shape) {
    case Shape::kPlain:
        return Repeat("The quick brown fox jumps over the lazy dog, 0123456789.\r\n", size);
    case Shape::kDecimalTokens:
        return Repeat("<65>", size);
    case Shape::kNames:
        return Repeat("<KTA_LINE2>", size);
    case Shape::kUnclosedRun: {
        std::string text(size, 'A');
        text.front() = '<';
        return text;
    }
    case Shape::kRescanChain:
        // Every "<60>" gives a "<" that is scanned again with what follows;
        // the last one forms a new token with "12>".
        return Repeat("<60>", size) + "12>";
    }
    return {};
}

void BM_Translate(benchmark::State& state, Shape shape, std::size_t size) {
    TimeTranslation(state, Message(shape, size));
}

void BM_Naive(benchmark::State& state, Shape shape, std::size_t size) {
    const std::string message = Message(shape, size);
    for (auto _ : state) {
        benchmark::DoNotOptimize(naive::Translate(message));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size()));
}

constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = 1024 * kKiB;

#define WENDLE_SHAPE_BENCHMARKS(name, shape)                                                       \
    BENCHMARK_CAPTURE(BM_Translate, name##_1MiB, shape, kMiB)->Unit(benchmark::kMicrosecond);      \
    BENCHMARK_CAPTURE(BM_Translate, name##_16MiB, shape, 16 * kMiB)                                \
        ->Unit(benchmark::kMicrosecond);                                                           \
    BENCHMARK_CAPTURE(BM_Translate, name##_64KiB, shape, 64 * kKiB)                                \
        ->Unit(benchmark::kMicrosecond);                                                           \
    BENCHMARK_CAPTURE(BM_Naive, name##_64KiB, shape, 64 * kKiB)->Unit(benchmark::kMicrosecond)

WENDLE_SHAPE_BENCHMARKS(plain, Shape::kPlain);
WENDLE_SHAPE_BENCHMARKS(decimal_tokens, Shape::kDecimalTokens);
WENDLE_SHAPE_BENCHMARKS(names, Shape::kNames);
WENDLE_SHAPE_BENCHMARKS(unclosed_run, Shape::kUnclosedRun);
WENDLE_SHAPE_BENCHMARKS(rescan_chain, Shape::kRescanChain);

} // namespace
