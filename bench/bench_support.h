// What the benchmarks share: long messages made of a repeated piece, and
// timing the translator on fresh copies of a message.
#pragma once

#include "translator/translator.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

inline std::string Repeat(std::string_view piece, std::size_t size) {
    std::string text;
    text.reserve(size + piece.size());
    while (text.size() < size) {
        text += piece;
    }
    return text;
}

// TranslateText works in place, so each run gets a fresh copy; the copying
// is not timed.
inline void TimeTranslation(benchmark::State& state, const std::string& message) {
    std::vector<char> buffer(message.size());
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(buffer.data(), message.data(), message.size());
        state.ResumeTiming();
        benchmark::DoNotOptimize(TranslateText(buffer.data(), buffer.size()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size()));
}
