// One edit of the melody being shaped on its way to the player, for four lines and for
// 5,000 characters (targets 16 ms and 50 ms): the edit applied, the melody graded, the
// score laid out in bars and the melody opened by the FluidSynth player (no sound
// output is started). Two ways beside each other:
//   Document       the song document: graded once, the bytes handed over from memory;
//                  WithFiles also writes temp.mid and the next play file, as the
//                  window does after each edit; Length makes the note one unit longer
//                  and shorter by turns, Rest gives it a rest and takes it away (the
//                  notes after it move), where the others move its pitch
//   FilesReadBack  the way before the document: graded again when the composition is
//                  made, both files written, the play file read back by the player
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/commands/std_platform.h"
#include "app/player/fluid_player.h"
#include "composer/message_sink.h"
#include "edit/edits.h"
#include "lyrics/gbk_text.h"
#include "notation/score.h"
#include "song/document.h"
#include "tests/support/files.h"

namespace quavella {
namespace {

const char* const kFourLines = "春眠不觉晓，处处闻啼鸟。夜来风雨声，花落知多少。";

/// The four lines repeated up to `chars` characters, in GBK.
std::string lyrics_of(std::size_t chars) {
    const std::string one = utf8_to_gbk(kFourLines).gbk;
    std::string s;
    while (s.size() < chars * 2) s += one;
    s.resize(chars * 2);
    return s;
}

CompositionPtr composition(std::size_t chars) {
    auto source = std::make_shared<CompositionSource>();
    source->gbk_text = lyrics_of(chars);
    Generators draws(42);
    QuietSink sink;
    return compose(source, draws, sink).composition;
}

/// A player that opens melodies and never plays them: no soundfont, no output.
FluidPlayer::Options silent() {
    FluidPlayer::Options options;
    options.drivers = std::vector<std::string>{"file"};
    return options;
}

/// What the edits of a run change.
enum class Shaping { pitch, length, rest };

/// The edit of a run: a change and its undoing by turns.
edit::Edit edit_of(Shaping change, int note, bool forth) {
    switch (change) {
        case Shaping::length:
            return edit::Edit(forth ? edit::EditKind::lengthen : edit::EditKind::shorten, note);
        case Shaping::rest:
            return edit::Edit(forth ? edit::EditKind::add_rest : edit::EditKind::remove_rest, note);
        case Shaping::pitch:
            break;
    }
    return edit::Edit(edit::EditKind::semitone, note, forth ? 1 : -1);
}

void run_document(benchmark::State& state, std::size_t chars, bool with_files,
                  Shaping change = Shaping::pitch) {
    const test::ScratchDir dir(test::ScratchDir::Current::enter);
    FsFileCopier copier;
    FluidPlayer player(silent());
    song::Document document;
    document.start(composition(chars));
    const int middle = static_cast<int>(document.melody().melody().notes.size() / 2);
    int direction = 1;
    bool first = true;
    for (auto _ : state) {
        if (document.apply(edit_of(change, middle, direction > 0)).error) {
            state.SkipWithError("the edit was refused");
            break;
        }
        direction = -direction;
        const Composition& now = *document.current();
        benchmark::DoNotOptimize(notation::build_score(now.melody));
        const char* play_file = first ? "2.mid" : "1.mid";
        first = !first;
        if (with_files &&
            (copier.write("temp.mid", now.midi, true) || copier.write(play_file, now.midi, true))) {
            state.SkipWithError("a working file was not written");
            break;
        }
        player.open_melody(play_file, now.midi);
    }
    state.counters["notes"] = static_cast<double>(document.melody().melody().notes.size());
}

void run_files_read_back(benchmark::State& state, std::size_t chars) {
    const test::ScratchDir dir(test::ScratchDir::Current::enter);
    FsFileCopier copier;
    FluidPlayer player(silent());
    const CompositionPtr origin = composition(chars);
    const CompositionSource& from = *origin->source;
    edit::EditableMelody melody(
        edit::Source{from.gbk_text, from.speed_pos, from.mode_pos, from.timbre_pos, origin->state},
        origin->melody);
    const int middle = static_cast<int>(melody.melody().notes.size() / 2);
    int direction = 1;
    bool first = true;
    for (auto _ : state) {
        if (melody.apply(edit::Edit(edit::EditKind::semitone, middle, direction)).error) {
            state.SkipWithError("the edit was refused");
            break;
        }
        direction = -direction;
        const Composed made = make_composition(origin->source, origin->state, melody.melody(),
                                               melody.check(), edit::edits_text(melody.edits()));
        benchmark::DoNotOptimize(notation::build_score(melody.melody()));
        const char* play_file = first ? "2.mid" : "1.mid";
        first = !first;
        if (copier.write("temp.mid", made.composition->midi, true) ||
            copier.write(play_file, made.composition->midi, true)) {
            state.SkipWithError("a working file was not written");
            break;
        }
        player.open(play_file);
    }
    state.counters["notes"] = static_cast<double>(melody.melody().notes.size());
}

void BM_DocumentFourLines(benchmark::State& state) { run_document(state, 24, false); }
void BM_Document5000Chars(benchmark::State& state) { run_document(state, 5000, false); }
void BM_DocumentWithFilesFourLines(benchmark::State& state) { run_document(state, 24, true); }
void BM_DocumentWithFiles5000Chars(benchmark::State& state) { run_document(state, 5000, true); }
void BM_DocumentLengthFourLines(benchmark::State& state) {
    run_document(state, 24, false, Shaping::length);
}
void BM_DocumentLength5000Chars(benchmark::State& state) {
    run_document(state, 5000, false, Shaping::length);
}
void BM_DocumentRestFourLines(benchmark::State& state) {
    run_document(state, 24, false, Shaping::rest);
}
void BM_DocumentWithFilesLengthFourLines(benchmark::State& state) {
    run_document(state, 24, true, Shaping::length);
}
void BM_FilesReadBackFourLines(benchmark::State& state) { run_files_read_back(state, 24); }
void BM_FilesReadBack5000Chars(benchmark::State& state) { run_files_read_back(state, 5000); }

BENCHMARK(BM_DocumentFourLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Document5000Chars)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DocumentWithFilesFourLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DocumentWithFiles5000Chars)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DocumentLengthFourLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DocumentLength5000Chars)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DocumentRestFourLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DocumentWithFilesLengthFourLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilesReadBackFourLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilesReadBack5000Chars)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quavella

BENCHMARK_MAIN();
