// Speed of the whole road from lyric text to a finished composition: the note
// and duration sequences alone, and with the composition file's bytes made in memory.
#include <benchmark/benchmark.h>

#include <string>

#include "composer/compose_request.h"
#include "composer/message_sink.h"
#include "composer/song.h"
#include "composer/style_tables.h"
#include "composer_test_support.h"
#include "lyrics/paragraph.h"

namespace quavella {
namespace {

// Four lines of seven characters, each ending with a full-width comma or stop (GBK).
std::string four_lines() {
    const std::string line1 = "\xCE\xD2\xB0\xAE\xB1\xB1\xBE\xA9\xCC\xEC\xB0\xB2\xC3\xC5\xA3\xAC";
    const std::string line2 = "\xCC\xEC\xB0\xB2\xC3\xC5\xC9\xCF\xCC\xAB\xD1\xF4\xC9\xFD\xA1\xA3";
    return line1 + line2 + line1 + line2;
}

std::string hundred_kilobytes() {
    const std::string four = four_lines();
    std::string text;
    while (text.size() + four.size() <= 100 * 1024) text += four;
    return text;
}

void BM_SequencesFourLines(benchmark::State& state) {
    const std::string text = four_lines();
    Generators draws(1);
    QuietSink sink;
    for (auto _ : state) {
        Paragraph paragraph(text);
        Song song(draws, sink);
        song.set_program(program_number(0));
        song.set_tempo(speed_base(1) + draws.random(20));
        song.set_mode(mode_number(static_cast<int>(state.iterations() % 4)));
        SongProbe::compose_sequences(song, paragraph.get_layout());
        benchmark::DoNotOptimize(song.get_tm_seq_now().data());
    }
}
BENCHMARK(BM_SequencesFourLines)->Unit(benchmark::kMicrosecond);

void compose_file(benchmark::State& state, const std::string& text) {
    Generators draws(1);
    QuietSink sink;
    int mode = 0;
    int notes = 0;
    for (auto _ : state) {
        const ComposeOutcome outcome = compose_melody(text, 1, mode++ % 4, 3, draws, sink);
        const CompositionFile file =
            composition_file(outcome.tempo, outcome.program, outcome.nt_seq, outcome.tm_seq);
        notes = outcome.notes;
        benchmark::DoNotOptimize(file.bytes.data());
    }
    state.counters["notes"] = notes;
}

void BM_FileFourLines(benchmark::State& state) { compose_file(state, four_lines()); }
BENCHMARK(BM_FileFourLines)->Unit(benchmark::kMicrosecond);

void BM_File100KB(benchmark::State& state) { compose_file(state, hundred_kilobytes()); }
BENCHMARK(BM_File100KB)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quavella

BENCHMARK_MAIN();
