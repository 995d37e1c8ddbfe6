// quavella-cli compose with --edits, --fix-tones or --by-sentence: the melody is
// composed, then shaped as the score window shapes it, then written.

#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "base/terminal_text.h"
#include "cli/cli_common.h"
#include "cli/json_out.h"
#include "composer/compose_request.h"
#include "composer/draws.h"
#include "edit/editable_melody.h"
#include "lyrics/gbk_text.h"
#include "lyrics/syllables.h"
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

}  // namespace

int compose_shaped(const ComposeSettings& settings, const std::string& text) {
    std::ostream& out = report_stream(settings.out_file);
    const std::uint64_t seed = settings.seed.value_or(clock_seed());
    Generators draws(seed);
    if (settings.state) draws.restore(*settings.state);
    StderrMessages messages;
    const ToneCheck check(syllable_texts(text));
    const Generators::State start = draws.state();
    edit::Source source{text, settings.speed, settings.mode, settings.timbre, start};

    // The melody the edits apply to: the composition itself, the best of N, or the
    // first of N whose sentences the others may replace.
    std::vector<edit::Edit> edits;
    std::optional<edit::SentenceChoice> by_sentence;
    if (settings.by_sentence) {
        by_sentence = edit::choose_by_sentence(source, check, settings.best_of, draws);
        source.state = by_sentence->first;
        edits = by_sentence->edits;
    } else if (settings.best_of > 1) {
        // The first of the best, as best of N chooses: compared exactly, first of equals.
        std::optional<ToneGrading> best;
        QuietSink quiet;
        for (int k = 0; k < settings.best_of; ++k) {
            const Generators::State state = draws.state();
            const ComposeOutcome candidate =
                compose_melody(text, settings.speed, settings.mode, settings.timbre, draws, quiet);
            ToneGrading grading = check.grade(candidate.nt_seq);
            if (!best || scores_higher(grading, *best)) {
                best = std::move(grading);
                source.state = state;
            }
        }
    }
    Generators base;
    base.restore(source.state);
    const ComposeOutcome outcome =
        compose_melody(text, settings.speed, settings.mode, settings.timbre, base, messages);
    edit::EditableMelody melody(source, notation::melody_from(text, outcome));

    edits.insert(edits.end(), settings.edits.begin(), settings.edits.end());
    if (const auto refused = melody.apply_all(edits)) {
        std::cerr << "quavella-cli: --edits: " << terminal_text(*refused) << "\n";
        return status(Exit::bad_usage);
    }
    std::optional<edit::Step> repair;
    if (settings.fix_tones) {
        const edit::Applied applied = melody.apply(edit::Edit(*settings.fix_tones));
        if (applied.error) {
            std::cerr << "quavella-cli: --fix-tones: " << terminal_text(*applied.error) << "\n";
            return status(Exit::bad_usage);
        }
        repair = applied.step;
    }

    const CompositionFile file = melody.file();
    if (!file.error.empty()) {
        std::cerr << "quavella-cli: cannot write '" << terminal_text(settings.out_file)
                  << "': " << terminal_text(file.error) << "\n";
        return status(Exit::output_not_written);
    }
    // A file is staged and replaced with the exports, all or none; standard output
    // gets the bytes at once.
    std::optional<files::StagedFile> midi;
    if (settings.out_file == "-") {
        if (!write_bytes(settings.out_file, file.bytes)) return status(Exit::output_not_written);
    } else {
        midi.emplace(settings.out_file);
        midi->write(file.bytes);
    }
    const ExportFiles files{settings.musicxml_file, settings.lyrics_midi_file, settings.audio_file,
                            settings.karaoke_file};
    std::optional<notation::Score> score;
    if (files.any() || settings.score) score = notation::build_score(melody.melody());
    std::string written;
    if (!write_outputs(midi ? &*midi : nullptr, files, score, written))
        return status(Exit::output_not_written);
    std::optional<std::int64_t> recorded;
    if (settings.record) {
        ComposeOutcome shaped = outcome;
        shaped.nt_seq.assign(melody.melody().notes.begin(), melody.melody().notes.end());
        shaped.tm_seq.assign(melody.melody().ticks.begin(), melody.melody().ticks.end());
        recorded = record_composition(settings, text, source.state, shaped, file.bytes,
                                      edit::edits_text(melody.edits()));
        if (!recorded) return status(Exit::history_failed);
    }

    const ToneGrading& grading = melody.grading();
    if (settings.json) {
        const notation::Melody& m = melody.melody();
        std::vector<std::string> syllables;
        for (const notation::Lyric& l : m.lyrics) syllables.push_back(json_string(l.text));
        JsonObject json;
        if (settings.state) {
            json.number_or_null("seed", std::nullopt);
        } else {
            json.unsigned_number("seed", seed);
        }
        json.text("start_state", state_text(start))
            .text("state", state_text(source.state))
            .number("speed_pos", settings.speed)
            .number("mode_pos", settings.mode)
            .number("timbre_pos", settings.timbre)
            .number("tempo", outcome.tempo)
            .number("mode", outcome.mode)
            .number("program", outcome.program)
            .number("notes", static_cast<std::int64_t>(m.notes.size()))
            .text("file", settings.out_file)
            .raw("exports", JsonObject()
                                .text_or_null("musicxml", settings.musicxml_file)
                                .text_or_null("lyrics_midi", settings.lyrics_midi_file)
                                .text_or_null("karaoke", settings.karaoke_file)
                                .text_or_null("audio", settings.audio_file)
                                .str())
            .raw("keys", json_numbers(m.notes))
            .raw("ticks", json_numbers(m.ticks))
            .raw("syllables", json_array(syllables))
            .text("edits", edit::edits_text(melody.edits()))
            .raw("tones", grading_json(grading));
        if (recorded) json.number("history_id", *recorded);
        out << json.str() << "\n";
        return status(flush_output());
    }
    if (by_sentence) {
        for (int s = 0; s < 4; ++s) {
            const edit::SentenceGrade grade = edit::sentence_grade(check, melody.grading(), s);
            out << "sentence=" << s + 1
                << " candidate=" << by_sentence->chosen[static_cast<std::size_t>(s)] + 1
                << " tones=" << grade.agreeing << " of " << grade.graded << "\n";
        }
    }
    if (repair)
        print_repair(out, melody, *repair, *settings.fix_tones == edit::EditKind::suit_tones);
    if (settings.state || settings.best_of > 1) {
        out << "state=" << state_text(source.state);
    } else {
        out << "seed=" << seed;
    }
    out << " notes=" << outcome.notes << " tempo=" << outcome.tempo << " mode=" << outcome.mode
        << " program=" << outcome.program << " file=" << terminal_text(settings.out_file + written)
        << " tones=" << grading.percent() << "% (" << grading.agreeing() << " of "
        << grading.graded() << ") edits=" << edit::edits_text(melody.edits());
    if (recorded) out << " history=" << *recorded;
    out << "\n";
    if (settings.score) {
        out << terminal_text(notation::score_text(*score, terminal_width()), true);
    }
    if (settings.tones) out << terminal_text(grading_lines(check, grading), true);
    return status(flush_output());
}

}  // namespace quavella::cli
