// Speed of shaping a melody: the exact repairs (倒字, 对齐节拍) on four lines and on a long lyric,
// one edit with the score laid out again and the melody graded again, best of N
// by sentence. Built with -DQUAVELLA_BUILD_BENCHMARKS=ON.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "edit/editable_melody.h"
#include "lyrics/gbk_text.h"
#include "notation/score.h"
#include "tests/support/files.h"
#include "tests/support/sample_lyrics.h"

namespace quavella::edit {
namespace {

using test::long_gbk;
using test::sample_gbk;

Source source_of(std::string gbk) {
    return Source{std::move(gbk), 1, 3, 0, Generators(42).state()};
}

void BM_Repair(benchmark::State& state, const std::string& gbk, RepairGoal goal) {
    const EditableMelody melody(source_of(gbk));
    const RepairLimits limits =
        limits_for(melody.composed().mode, melody.composed().notes, melody.melody().notes);
    for (auto _ : state) {
        benchmark::DoNotOptimize(repair_tones(melody.check(), melody.melody().notes, limits, goal));
    }
    state.counters["notes"] = static_cast<double>(melody.melody().notes.size());
}
BENCHMARK_CAPTURE(BM_Repair, FourLinesNoContrary, sample_gbk("chunxiao.txt"),
                  RepairGoal::no_contrary)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Repair, FourLinesAllSuit, sample_gbk("chunxiao.txt"), RepairGoal::all_suit)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Repair, FiveThousandCharacters, long_gbk(5000), RepairGoal::no_contrary)
    ->Unit(benchmark::kMillisecond);

/// 对齐节拍 itself, as the editable melody runs it: the melody's line ends, the search.
void BM_AlignBeats(benchmark::State& state, const std::string& gbk) {
    const EditableMelody melody(source_of(gbk));
    const int unit = time_unit(static_cast<int>(melody.melody().notes.size()));
    for (auto _ : state) benchmark::DoNotOptimize(align_beats(melody.melody(), unit));
    state.counters["notes"] = static_cast<double>(melody.melody().notes.size());
}
BENCHMARK_CAPTURE(BM_AlignBeats, FourLines, sample_gbk("chunxiao.txt"))
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_AlignBeats, FiveThousandCharacters, long_gbk(5000))
    ->Unit(benchmark::kMillisecond);

/// One key press in the score window's core: the note moves, the melody is graded
/// again, the score is laid out in bars again.
void BM_EditAndRelay(benchmark::State& state, const std::string& gbk) {
    EditableMelody melody(source_of(gbk));
    const int middle = static_cast<int>(melody.melody().notes.size() / 2);
    bool up = true;
    for (auto _ : state) {
        melody.apply(Edit(EditKind::semitone, middle, up ? 1 : -1));
        up = !up;
        benchmark::DoNotOptimize(notation::build_score(melody.melody()));
        benchmark::DoNotOptimize(melody.grading());
    }
}
BENCHMARK_CAPTURE(BM_EditAndRelay, FourLines, sample_gbk("chunxiao.txt"))
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_EditAndRelay, FiveThousandCharacters, long_gbk(5000))
    ->Unit(benchmark::kMillisecond);

void BM_BestBySentence(benchmark::State& state) {
    const std::string gbk = sample_gbk("chunxiao.txt");
    const ToneCheck check(syllable_texts(gbk));
    const Source settings = source_of(gbk);
    for (auto _ : state) {
        Generators gens(7);
        QuietSink quiet;
        benchmark::DoNotOptimize(
            shape_by_sentence(settings, check, static_cast<int>(state.range(0)), gens, quiet));
    }
}
BENCHMARK(BM_BestBySentence)->Arg(20)->Arg(200)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quavella::edit

BENCHMARK_MAIN();
