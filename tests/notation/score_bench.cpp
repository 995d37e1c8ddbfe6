// Speed of the notation model: a four-line lyric (target under 20 us) and
// 5,000 characters of lyrics (under 5 ms), built from a finished composition.
// "Model" is the score from the composer's notes, durations and the syllables
// (build_score); "FromOutcome" adds finding the syllable texts and converting
// them to UTF-8 (melody_from), all the window does after a composition.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "composer/compose_request.h"
#include "composer/draws.h"
#include "composer/message_sink.h"
#include "lyrics/gbk_text.h"
#include "notation/score.h"

namespace {

using namespace quavella;

class NullSink final : public MessageSink {
public:
    void show(const std::string&) override {}
};

// 春眠不觉晓，处处闻啼鸟。夜来风雨声，花落知多少。
const char* const kFourLines =
    "\xE6\x98\xA5\xE7\x9C\xA0\xE4\xB8\x8D\xE8\xA7\x89\xE6\x99\x93\xEF\xBC\x8C"
    "\xE5\xA4\x84\xE5\xA4\x84\xE9\x97\xBB\xE5\x95\xBC\xE9\xB8\x9F\xE3\x80\x82"
    "\xE5\xA4\x9C\xE6\x9D\xA5\xE9\xA3\x8E\xE9\x9B\xA8\xE5\xA3\xB0\xEF\xBC\x8C"
    "\xE8\x8A\xB1\xE8\x90\xBD\xE7\x9F\xA5\xE5\xA4\x9A\xE5\xB0\x91\xE3\x80\x82";

/// The four lines repeated up to `chars` characters (punctuation included), in GBK.
std::string lyrics_of(std::size_t chars) {
    const std::string one = utf8_to_gbk(kFourLines).gbk;  // 24 characters, 48 bytes
    std::string s;
    while (s.size() < chars * 2) s += one;
    s.resize(chars * 2);
    return s;
}

/// A finished composition of `text`, made once outside the timed loop.
ComposeOutcome composed(const std::string& text) {
    Generators draws(42);
    NullSink sink;
    return compose_melody(text, 1, 0, 0, draws, sink);
}

void run_model(benchmark::State& state, const std::string& text) {
    const ComposeOutcome outcome = composed(text);
    const notation::Melody melody = notation::melody_from(text, outcome);
    for (auto _ : state) {
        notation::Score score = notation::build_score(melody);
        benchmark::DoNotOptimize(score.bars.data());
    }
    state.counters["notes"] = static_cast<double>(melody.notes.size());
}

void run_from_outcome(benchmark::State& state, const std::string& text) {
    const ComposeOutcome outcome = composed(text);
    for (auto _ : state) {
        notation::Score score = notation::build_score(notation::melody_from(text, outcome));
        benchmark::DoNotOptimize(score.bars.data());
    }
    state.counters["notes"] = static_cast<double>(outcome.nt_seq.size());
}

void run_text(benchmark::State& state, const std::string& text) {
    const ComposeOutcome outcome = composed(text);
    const notation::Score score = notation::build_score(notation::melody_from(text, outcome));
    for (auto _ : state) {
        std::string out = notation::score_text(score);
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_ScoreModelFourLines(benchmark::State& state) {
    run_model(state, utf8_to_gbk(kFourLines).gbk);
}
void BM_ScoreModel5000Chars(benchmark::State& state) { run_model(state, lyrics_of(5000)); }
void BM_ScoreFromOutcomeFourLines(benchmark::State& state) {
    run_from_outcome(state, utf8_to_gbk(kFourLines).gbk);
}
void BM_ScoreFromOutcome5000Chars(benchmark::State& state) {
    run_from_outcome(state, lyrics_of(5000));
}
void BM_ScoreTextFourLines(benchmark::State& state) {
    run_text(state, utf8_to_gbk(kFourLines).gbk);
}
void BM_ScoreText5000Chars(benchmark::State& state) { run_text(state, lyrics_of(5000)); }

}  // namespace

BENCHMARK(BM_ScoreModelFourLines);
BENCHMARK(BM_ScoreModel5000Chars)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScoreFromOutcomeFourLines);
BENCHMARK(BM_ScoreFromOutcome5000Chars)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScoreTextFourLines)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScoreText5000Chars)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
