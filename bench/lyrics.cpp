#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "playback/LRCParser.h"

using namespace velto;

namespace {

constexpr int lineCount = 200;

std::string lrc(const char* words) {
    std::string text = "[ti:Benchmark]\n[ar:Someone]\n[offset:0]\n";
    char tag[32];
    for (int i = 0; i < lineCount; ++i) {
        const int centiseconds = i * 137;
        std::snprintf(tag, sizeof tag, "[%02d:%02d.%02d]", centiseconds / 6000,
                      centiseconds / 100 % 60, centiseconds % 100);
        text += tag;
        text += words;
        text += " " + std::to_string(i) + "\r\n";
    }
    return text;
}

const std::string& lyric() {
    static const std::string text = lrc("我们一起唱着这首歌 and the words go on");
    return text;
}

const std::string& translation() {
    static const std::string text = lrc("we sing this song together");
    return text;
}

void BM_ParseBilingualDocument(benchmark::State& state) {
    for (auto _ : state) {
        auto document = LRCParser::document(lyric(), translation());
        benchmark::DoNotOptimize(document);
    }
    state.SetItemsProcessed(state.iterations() * lineCount * 2);
    state.counters["per_line"] = benchmark::Counter(
        static_cast<double>(lineCount * 2),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ParseBilingualDocument);

void BM_CurrentIndex(benchmark::State& state) {
    const auto document = LRCParser::document(lyric(), translation());
    const double end = document.lines().back().time + 5;
    double time = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(document.currentIndex(time));
        time += 0.2;
        if (time > end) time = -1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CurrentIndex);

void BM_Translation(benchmark::State& state) {
    const auto document = LRCParser::document(lyric(), translation());
    std::size_t index = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(document.translation(document.lines()[index], 0.08));
        index = (index + 1) % document.lines().size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Translation);

}  // namespace
