// quavella-cli compose with --edits, --fix-tones or --by-sentence: the melody is
// composed, then shaped as the score window shapes it, then written.

#include <array>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/terminal_text.h"
#include "cli/cli_common.h"
#include "cli/json_out.h"
#include "composer/draws.h"
#include "composition/best_of.h"
#include "composition/composition.h"
#include "edit/beat_check.h"
#include "edit/editable_melody.h"
#include "notation/score.h"
#include "tones/tone_grading.h"
#include "tones/tone_report.h"

namespace quavella::cli {
namespace {

/// "5 (觉) 67->69": a changed note, counted from 1, with its syllable.
std::string change_text(const edit::EditableMelody& melody, const edit::Change& change) {
    const notation::Lyric& lyric = melody.melody().lyrics[static_cast<std::size_t>(change.note)];
    std::string text = std::to_string(change.note + 1);
    if (!lyric.text.empty()) text += " (" + lyric.text + ")";
    return text + " " + std::to_string(change.from_pitch) + "->" + std::to_string(change.to_pitch);
}

/// "3-4 (明月)": a graded pair, its notes counted from 1, with its syllables.
std::string pair_text(const edit::EditableMelody& melody, const TonePair& pair) {
    const auto& lyrics = melody.melody().lyrics;
    return std::to_string(pair.first + 1) + "-" + std::to_string(pair.second + 1) + " (" +
           lyrics[pair.first].text + lyrics[pair.second].text + ")";
}

/// What a repair did, in two lines: the notes it changed, the pairs it could not mend.
void print_repair(std::ostream& out, const edit::EditableMelody& melody, const edit::Step& step,
                  bool suit) {
    const char* name = suit ? "fix-tones=suit" : "fix-tones";
    std::string changed;
    for (const edit::Change& change : step.changes) {
        changed += (changed.empty() ? " " : ", ") + change_text(melody, change);
    }
    out << name << ": " << step.changes.size() << " of " << melody.melody().notes.size()
        << " notes changed" << (changed.empty() ? "" : ":") << terminal_text(changed) << "\n";
    if (!step.left.empty()) {
        std::string left;
        for (const TonePair& pair : step.left) {
            left += (left.empty() ? " " : ", ") + pair_text(melody, pair);
        }
        out << name << ": " << (suit ? "pairs not good or fair" : "contrary pairs")
            << " the limits keep:" << terminal_text(left) << "\n";
    }
}

/// What 对齐节拍 did: the notes it lengthened or shortened, in ticks, and any line end
/// it could not put on the beat.
void print_rhythm(std::ostream& out, const edit::EditableMelody& melody, const edit::Step& step,
                  const edit::BeatCheck& after) {
    const auto& lyrics = melody.melody().lyrics;
    auto note_text = [&lyrics](int note) {
        const notation::Lyric& lyric = lyrics[static_cast<std::size_t>(note)];
        return std::to_string(note + 1) + (lyric.text.empty() ? "" : " (" + lyric.text + ")");
    };
    std::string changed;
    for (const edit::Change& change : step.changes) {
        changed += (changed.empty() ? " " : ", ") + note_text(change.note) + " " +
                   std::to_string(change.from_ticks) + "->" + std::to_string(change.to_ticks);
    }
    out << "fix-rhythm: " << step.changes.size() << " of " << melody.melody().notes.size()
        << " notes changed" << (changed.empty() ? "" : ":") << terminal_text(changed) << "\n";
    std::string left;
    for (const int note : after.off_notes()) left += (left.empty() ? " " : ", ") + note_text(note);
    if (!left.empty()) out << "fix-rhythm: line ends off the beat:" << terminal_text(left) << "\n";
}

}  // namespace

int compose_shaped(const ComposeSettings& settings, const std::string& text,
                   const std::vector<std::string>& given) {
    std::ostream& out = report_stream(settings.out_file);
    const std::uint64_t seed = settings.seed.value_or(clock_seed());
    Generators draws(seed);
    if (settings.state) draws.restore(*settings.state);
    StderrMessages messages;
    const auto composition_from = composition_source(settings, text, given);
    const LyricPart lyric = lyric_part(text);
    const Generators::State start = draws.state();
    edit::Source source{text, settings.speed, settings.mode, settings.timbre, start};

    // The melody the edits apply to: the composition itself, the best of N, or the
    // first of N with each sentence taken from the candidate that sings it best.
    std::optional<edit::EditableMelody> editable;
    std::optional<std::array<int, 4>> by_sentence;
    if (settings.by_sentence) {
        edit::BySentence made =
            edit::shape_by_sentence(source, lyric.check, settings.best_of, draws, messages);
        by_sentence = made.chosen;
        editable.emplace(std::move(made.melody));
        source.state = editable->source().state;
    } else {
        if (settings.best_of > 1) {
            QuietSink quiet;
            const BestOf best = compose_best_of(composition_from, settings.best_of, draws, quiet);
            if (best.best) source.state = best.best->state;
        }
        Generators base;
        base.restore(source.state);
        const Composed composed = compose(composition_from, lyric, base, messages);
        if (!composed.error.empty()) {
            std::cerr << "quavella-cli: cannot write '" << terminal_text(settings.out_file)
                      << "': " << terminal_text(composed.error) << "\n";
            return status(Exit::output_not_written);
        }
        editable.emplace(source, composed.composition->melody);
    }
    edit::EditableMelody& melody = *editable;

    if (const auto refused = melody.apply_all(settings.edits)) {
        std::cerr << "quavella-cli: --edits: " << terminal_text(*refused) << "\n";
        return status(Exit::bad_usage);
    }
    std::optional<edit::Step> repair;
    std::optional<edit::Step> rhythm;
    // The two repairs in the order their options came.
    for (const bool rhythm_now : {true, false}) {
        if (rhythm_now == settings.rhythm_first && settings.fix_rhythm) {
            const edit::Applied applied = melody.apply(edit::Edit(edit::EditKind::fix_rhythm));
            if (applied.error) {
                std::cerr << "quavella-cli: --fix-rhythm: " << terminal_text(*applied.error)
                          << "\n";
                return status(Exit::bad_usage);
            }
            rhythm = applied.step;
        }
        if (rhythm_now != settings.rhythm_first && settings.fix_tones) {
            const edit::Applied applied = melody.apply(edit::Edit(*settings.fix_tones));
            if (applied.error) {
                std::cerr << "quavella-cli: --fix-tones: " << terminal_text(*applied.error) << "\n";
                return status(Exit::bad_usage);
            }
            repair = applied.step;
        }
    }

    // The shaped melody as one composition value, made as the window makes it: after a
    // word edit it sings the new words, and what its state composed stays beside them.
    std::shared_ptr<const CompositionSource> sung = composition_from;
    std::shared_ptr<const CompositionSource> composed_from;
    if (const std::string* words = melody.words()) {
        sung = with_words(*composition_from, *words, melody.source().gbk_text);
        composed_from = composition_from;
    }
    const Composed shaped = make_composition(sung, source.state, melody.melody(), melody.grading(),
                                             edit::edits_text(melody.edits()), composed_from,
                                             SongChords{melody.chords(), melody.locks()});
    if (!shaped.error.empty()) {
        std::cerr << "quavella-cli: cannot write '" << terminal_text(settings.out_file)
                  << "': " << terminal_text(shaped.error) << "\n";
        return status(Exit::output_not_written);
    }
    const Composition& composition = *shaped.composition;
    // A file is staged and replaced with the exports, all or none; standard output
    // gets the bytes at once.
    std::optional<files::StagedFile> midi;
    if (settings.out_file == "-") {
        if (!write_bytes(settings.out_file, composition.midi))
            return status(Exit::output_not_written);
    } else {
        midi.emplace(settings.out_file);
        midi->write(composition.midi);
    }
    const Harmonised harmonised = harmonise(settings, composition);
    const ExportFiles files = compose_exports(settings, harmonised);
    std::optional<notation::Score> score;
    if (files.any() || settings.score) score = notation::build_score(composition.melody);
    std::string written;
    if (!write_outputs(midi ? &*midi : nullptr, files, score, written))
        return status(Exit::output_not_written);
    std::optional<std::int64_t> recorded;
    if (settings.record) {
        recorded = record_in_history(1, 0, [&](std::size_t) { return shaped.composition; });
        if (!recorded) return status(Exit::history_failed);
    }

    const ToneGrading& grading = composition.tones;
    const notation::Melody& m = composition.melody;
    const edit::BeatCheck beats = edit::check_beats(m);
    if (settings.json) {
        JsonObject json = composition_json(settings, seed, start, composition);
        json.text("edits", composition.edits)
            .raw("tones", grading_json(grading))
            .raw("beats", beats_json(beats));
        if (settings.chords) json.raw("chords", chords_json(harmonised.changes));
        if (recorded) json.number("history_id", *recorded);
        out << json.str() << "\n";
        return status(flush_output());
    }
    if (by_sentence) {
        for (int s = 0; s < 4; ++s) {
            const edit::SentenceGrade grade = edit::sentence_grade(melody.check(), grading, s);
            out << "sentence=" << s + 1
                << " candidate=" << (*by_sentence)[static_cast<std::size_t>(s)] + 1
                << " tones=" << grade.agreeing << " of " << grade.graded << "\n";
        }
    }
    if (repair)
        print_repair(out, melody, *repair, *settings.fix_tones == edit::EditKind::suit_tones);
    if (rhythm) print_rhythm(out, melody, *rhythm, beats);
    if (settings.state || settings.best_of > 1) {
        out << "state=" << state_text(source.state);
    } else {
        out << "seed=" << seed;
    }
    out << " notes=" << m.notes.size() << " tempo=" << m.tempo << " mode=" << m.mode
        << " program=" << m.program << " file=" << terminal_text(settings.out_file + written)
        << " tones=" << grading.percent() << "% (" << grading.agreeing() << " of "
        << grading.graded() << ") beats=" << beats.percent() << "% (" << beats.aligned() << " of "
        << beats.checked() << ") edits=" << composition.edits;
    if (recorded) out << " history=" << *recorded;
    out << "\n";
    if (settings.score) {
        out << terminal_text(notation::score_text(*score, terminal_width()), true);
    }
    if (settings.tones) out << terminal_text(grading_lines(melody.check(), grading), true);
    if (settings.chords) out << chord_lines(harmonised.changes);
    return status(flush_output());
}

}  // namespace quavella::cli
