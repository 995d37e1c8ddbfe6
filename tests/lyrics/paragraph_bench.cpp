// Paragraph construction speed for a four-line lyric, 100 KB and 1 MB of Chinese lyrics.
#include <benchmark/benchmark.h>

#include <string>

#include "lyrics/paragraph.h"

namespace {

// Four lines of seven GB2312 characters, ended by "，" and "。", with a space
// inside some lines (a pause). About 64 bytes.
std::string four_lines(int variant) {
    std::string s;
    for (int line = 0; line < 4; ++line) {
        for (int c = 0; c < 7; ++c) {
            const int k = variant * 31 + line * 7 + c;
            s.push_back(static_cast<char>(0xB0 + (k / 94) % 72));
            s.push_back(static_cast<char>(0xA1 + k % 94));
            if (c == 3 && (line + variant) % 3 == 0) s.push_back(' ');
        }
        s += line % 2 == 0 ? "\xA3\xAC" : "\xA1\xA3";
    }
    return s;
}

std::string lyrics_of(std::size_t bytes) {
    std::string s;
    for (int v = 0; s.size() < bytes; ++v) s += four_lines(v);
    s.resize(bytes);
    return s;
}

void run_paragraph(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        quavella::Paragraph parag(text);
        benchmark::DoNotOptimize(parag.get_val_sum());
    }
    const double bytes = static_cast<double>(state.iterations()) * static_cast<double>(text.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    // Seconds per byte, shown with an SI prefix ("2.5n" is 2.5 ns per byte).
    state.counters["time_per_byte"] =
        benchmark::Counter(bytes, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ParagraphFourLines(benchmark::State& state) { run_paragraph(state, four_lines(0)); }

void BM_ParagraphBytes(benchmark::State& state) {
    run_paragraph(state, lyrics_of(static_cast<std::size_t>(state.range(0))));
}

}  // namespace

BENCHMARK(BM_ParagraphFourLines);
BENCHMARK(BM_ParagraphBytes)->Arg(100 * 1024)->Arg(1024 * 1024)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
