// Speed of the tone check: best of 20 for a four-line lyric (twenty melodies
// composed with their bytes and graded, the best kept), and the grading of one
// melody alone.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "composer/compose_request.h"
#include "composer/message_sink.h"
#include "composition/best_of.h"
#include "lyrics/gbk_text.h"
#include "tests/tones/tone_test_support.h"

namespace quavella {
namespace {

const std::vector<std::string> kQuatrain = {"朝辞白帝彩云间", "千里江陵一日还", "两岸猿声啼不住",
                                            "轻舟已过万重山"};

std::string quatrain_gbk() {
    std::string utf8;
    for (const std::string& line : kQuatrain) utf8 += line + "，";
    return utf8_to_gbk(utf8).gbk;
}

void BM_BestOf20FourLines(benchmark::State& state) {
    auto source = std::make_shared<CompositionSource>();
    source->gbk_text = quatrain_gbk();
    source->speed_pos = 1;
    Generators gens(1);
    QuietSink sink;
    for (auto _ : state) {
        const BestOf best = compose_best_of(source, 20, gens, sink);
        benchmark::DoNotOptimize(best.best.get());
    }
}
BENCHMARK(BM_BestOf20FourLines)->Unit(benchmark::kMicrosecond);

void BM_GradeOneMelody(benchmark::State& state) {
    const std::string text = quatrain_gbk();
    const ToneCheck check(test::syllables_of(kQuatrain));
    Generators gens(1);
    QuietSink sink;
    const ComposeOutcome outcome = compose_melody(text, 1, 0, 0, gens, sink);
    for (auto _ : state) {
        const ToneGrading grading = check.grade(outcome.nt_seq);
        benchmark::DoNotOptimize(grading.counts.data());
    }
}
BENCHMARK(BM_GradeOneMelody);

}  // namespace
}  // namespace quavella

BENCHMARK_MAIN();
