// Speed of the chords and the accompaniment pattern: four lines and a long lyric of
// about 5,000 characters. Built with -DQUAVELLA_BUILD_BENCHMARKS=ON.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "composition/composition.h"
#include "harmony/accompaniment.h"
#include "lyrics/gbk_text.h"
#include "tests/support/files.h"
#include "tests/support/sample_lyrics.h"

namespace quavella::harmony {
namespace {

using test::long_gbk;
using test::sample_gbk;

notation::Melody melody_of(const std::string& gbk, int mode) {
    auto source = std::make_shared<CompositionSource>();
    source->gbk_text = gbk;
    source->mode_pos = mode;
    Generators gens(42);
    QuietSink quiet;
    return compose(source, gens, quiet).composition->melody;
}

/// The chords chosen and played in a pattern, as an arrangement is made.
void BM_ChordsAndPattern(benchmark::State& state, const std::string& gbk) {
    const notation::Melody melody = melody_of(gbk, static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const Harmony chords = choose_chords(request_for(melody));
        benchmark::DoNotOptimize(accompany(melody, chords, Pattern::broken));
    }
    state.counters["notes"] = static_cast<double>(melody.notes.size());
}
BENCHMARK_CAPTURE(BM_ChordsAndPattern, FourLines, sample_gbk("chunxiao.txt"))
    ->Arg(0)
    ->Arg(3)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ChordsAndPattern, FiveThousandCharacters, long_gbk(5000))
    ->Arg(0)
    ->Arg(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quavella::harmony

BENCHMARK_MAIN();
