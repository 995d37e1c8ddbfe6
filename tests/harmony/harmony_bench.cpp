// Speed of the chords and the accompaniment pattern: four lines and a long lyric of
// about 5,000 characters. Built with -DQUAVELLA_BUILD_BENCHMARKS=ON.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "composition/composition.h"
#include "harmony/accompaniment.h"
#include "lyrics/gbk_text.h"
#include "tests/support/files.h"

namespace quavella::harmony {
namespace {

std::string sample_gbk(const std::string& name) {
    std::string text = test::read_file(std::filesystem::path(QUAVELLA_SAMPLES_DIR) / name);
    std::erase(text, '\n');
    return utf8_to_gbk(text).gbk;
}

/// About `characters` characters of lyrics: the samples one after another.
std::string long_gbk(std::size_t characters) {
    const std::string one = sample_gbk("chunxiao.txt") + sample_gbk("jingyesi.txt") +
                            sample_gbk("xiangsi.txt") + sample_gbk("luzhai.txt");
    std::string text;
    while (text.size() < 2 * characters) text += one;
    return text;
}

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
