// quavella-cli compose: a melody from the lyrics, written as a MIDI file with its exports.

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "base/terminal_text.h"
#include "cli/cli_common.h"
#include "cli/json_out.h"
#include "composer/compose_request.h"
#include "composer/draws.h"
#include "composer/song.h"
#include "history/record.h"
#include "history/store.h"
#include "lyrics/gbk_text.h"
#include "lyrics/syllables.h"
#include "notation/score.h"
#include "tones/best_of.h"
#include "tones/tone_grading.h"
#include "tones/tone_report.h"

namespace quavella::cli {

std::optional<std::int64_t> record_composition(const ComposeSettings& settings,
                                               const std::string& text,
                                               const Generators::State& state,
                                               const ComposeOutcome& outcome,
                                               const std::string& midi, const std::string& edits) {
    const auto path =
        history::default_path([](const char* name) -> const char* { return std::getenv(name); });
    if (!path) {
        std::cerr << "quavella-cli: --record: no place for the history: neither XDG_DATA_HOME "
                     "nor HOME is set\n";
        return std::nullopt;
    }
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    history::Record record =
        history::composed_record(gbk_to_utf8(text), text, settings.speed, settings.mode,
                                 settings.timbre, state, outcome, midi, now);
    record.edits = edits;
    history::Store store(*path);
    std::int64_t id = 0;
    const history::Status st = store.record(record, id);
    if (!store.notice().empty())
        std::cerr << "quavella-cli: " << terminal_text(store.notice()) << "\n";
    if (st != history::Status::ok && st != history::Status::recovered) {
        std::cerr << "quavella-cli: --record: " << terminal_text(store.last_error()) << "\n";
        return std::nullopt;
    }
    return id;
}

/// compose: composes a melody from the lyrics and writes it as a MIDI file.
int cmd_compose(std::span<const std::string> args) {
    const auto parsed = quavella::cli::parse_compose(args);
    if (const auto* refused = std::get_if<quavella::cli::UsageError>(&parsed)) {
        return usage_error(refused->message);
    }
    const auto& settings = std::get<quavella::cli::ComposeSettings>(parsed);

    const LyricText read = read_lyrics(settings.source);
    if (const Exit* failed = std::get_if<Exit>(&read)) return status(*failed);
    const std::string& text = std::get<GbkConversion>(read).gbk;
    const LyricCheck lyric_check = check_lyrics(std::get<GbkConversion>(read));
    if (lyric_check.notice) std::cerr << terminal_text(*lyric_check.notice) << "\n";
    if (lyric_check.refusal) {
        std::cerr << *lyric_check.refusal << "\n";
        return status(Exit::refused_lyrics);
    }

    if (settings.shaped()) return compose_shaped(settings, text);

    const std::uint64_t seed = settings.seed.value_or(clock_seed());
    Generators draws(seed);
    if (settings.state) draws.restore(*settings.state);
    const Generators::State start = draws.state();
    StderrMessages messages;
    std::optional<ToneCheck> check;
    if (settings.tones || settings.best_of > 1) check.emplace(syllable_texts(text));

    // A file is written as it is composed (best of N writes its choice) to a temporary
    // that replaces it with the exports, all or none; standard output gets the chosen
    // melody's bytes.
    std::optional<files::StagedFile> composition;
    if (!settings.to_stdout()) {
        composition.emplace(settings.out_file);
        if (composition->error()) {
            std::cerr << "quavella-cli: " << terminal_text(*composition->error()) << "\n";
            return status(Exit::output_not_written);
        }
    }
    const std::string file_target = composition ? composition->temp_path().string() : std::string();
    ComposeOutcome outcome;
    std::optional<BestOf> best;
    if (settings.best_of > 1) {
        best = compose_best_of(text, *check, settings.best_of, settings.speed, settings.mode,
                               settings.timbre, draws, messages, file_target);
        outcome = best->candidates[best->best].outcome;
    } else if (settings.to_stdout()) {
        outcome =
            compose_melody(text, settings.speed, settings.mode, settings.timbre, draws, messages);
    } else {
        outcome = compose_lyrics(text, settings.speed, settings.mode, settings.timbre, draws,
                                 messages, file_target);
    }
    if (!outcome.midi_error.empty()) {
        std::cerr << "quavella-cli: cannot write '" << terminal_text(settings.out_file)
                  << "': " << terminal_text(outcome.midi_error) << "\n";
        return status(Exit::output_not_written);
    }
    std::optional<CompositionFile> bytes;
    if (settings.to_stdout() || settings.record) {
        bytes = composition_file(outcome.tempo, outcome.program, outcome.nt_seq, outcome.tm_seq);
        if (!bytes->error.empty()) {
            std::cerr << "quavella-cli: cannot write '" << terminal_text(settings.out_file)
                      << "': " << terminal_text(bytes->error) << "\n";
            return status(Exit::output_not_written);
        }
        if (settings.to_stdout() && !write_bytes("-", bytes->bytes)) {
            return status(Exit::output_not_written);
        }
    }

    const ExportFiles files{settings.musicxml_file, settings.lyrics_midi_file, settings.audio_file,
                            settings.karaoke_file};
    std::optional<notation::Score> score;
    if (files.any() || settings.score) {
        score = notation::build_score(notation::melody_from(text, outcome));
    }
    std::string written;
    const bool exported =
        write_outputs(composition ? &*composition : nullptr, files, score, written);
    if (!exported) return status(Exit::output_not_written);

    // The state that makes this file again: the chosen candidate's for best of N.
    const Generators::State made_from = best ? best->candidates[best->best].state : start;
    std::optional<std::int64_t> recorded;
    if (settings.record) {
        recorded = record_composition(settings, text, made_from, outcome, bytes->bytes, {});
        if (!recorded) return status(Exit::history_failed);
    }

    std::ostream& out = report_stream(settings.out_file);
    const ToneGrading* grading = nullptr;
    std::optional<ToneGrading> own_grading;
    if (settings.tones) {
        if (best) {
            grading = &best->candidates[best->best].grading;
        } else {
            grading = &own_grading.emplace(check->grade(outcome.nt_seq));
        }
    }
    if (settings.json) {
        JsonObject json;
        if (settings.state) {
            json.number_or_null("seed", std::nullopt);
        } else {
            json.unsigned_number("seed", seed);
        }
        json.text("start_state", history::state_text(start))
            .text("state", history::state_text(made_from))
            .number("speed_pos", settings.speed)
            .number("mode_pos", settings.mode)
            .number("timbre_pos", settings.timbre)
            .number("tempo", outcome.tempo)
            .number("mode", outcome.mode)
            .number("program", outcome.program)
            .number("notes", outcome.notes)
            .text("file", settings.out_file)
            .raw("exports", JsonObject()
                                .text_or_null("musicxml", settings.musicxml_file)
                                .text_or_null("lyrics_midi", settings.lyrics_midi_file)
                                .text_or_null("karaoke", settings.karaoke_file)
                                .text_or_null("audio", settings.audio_file)
                                .str())
            .raw("keys", json_numbers(outcome.nt_seq))
            .raw("ticks", json_numbers(outcome.tm_seq));
        std::vector<std::string> syllables;
        for (const notation::Lyric& l : notation::melody_from(text, outcome).lyrics)
            syllables.push_back(json_string(l.text));
        json.raw("syllables", json_array(syllables));
        if (best) {
            std::vector<std::string> candidates;
            for (const BestOfCandidate& c : best->candidates) {
                candidates.push_back(JsonObject()
                                         .text("state", history::state_text(c.state))
                                         .number("percent", c.grading.percent())
                                         .number("agreeing", c.grading.agreeing())
                                         .number("graded", c.grading.graded())
                                         .str());
            }
            json.raw("candidates", json_array(candidates))
                .number("chosen", static_cast<std::int64_t>(best->best) + 1);
        }
        if (grading) json.raw("tones", grading_json(*grading));
        if (recorded) json.number("history_id", *recorded);
        out << json.str() << "\n";
        return status(flush_output());
    }

    if (best) {
        for (std::size_t k = 0; k < best->candidates.size(); ++k) {
            const BestOfCandidate& candidate = best->candidates[k];
            out << "candidate=" << k + 1 << " state=" << history::state_text(candidate.state)
                << " tones=" << candidate.grading.percent() << "% (" << candidate.grading.agreeing()
                << " of " << candidate.grading.graded() << ")\n";
        }
    }
    if (settings.state) {
        out << "state=" << history::state_text(*settings.state);
    } else {
        out << "seed=" << seed;
    }
    out << " notes=" << outcome.notes << " tempo=" << outcome.tempo << " mode=" << outcome.mode
        << " program=" << outcome.program << " file=" << terminal_text(settings.out_file + written);
    if (best) {
        const BestOfCandidate& chosen = best->candidates[best->best];
        out << " candidate=" << best->best + 1 << " state=" << history::state_text(chosen.state)
            << " tones=" << chosen.grading.percent() << "%";
    }
    if (recorded) out << " history=" << *recorded;
    out << "\n";
    if (settings.score) out << terminal_text(notation::score_text(*score, terminal_width()), true);
    if (grading) out << terminal_text(grading_lines(*check, *grading), true);
    return status(flush_output());
}

}  // namespace quavella::cli
