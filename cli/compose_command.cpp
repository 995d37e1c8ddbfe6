// quavella-cli compose: a melody from the lyrics, written as a MIDI file with its exports.

#include <cstdint>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <variant>

#include "base/terminal_text.h"
#include "cli/cli_common.h"
#include "composer/compose_request.h"
#include "composer/draws.h"
#include "history/record.h"
#include "lyrics/gbk_text.h"
#include "lyrics/syllables.h"
#include "notation/score.h"
#include "tones/best_of.h"
#include "tones/tone_grading.h"
#include "tones/tone_report.h"

namespace quavella::cli {

/// compose: composes a melody from the lyrics and writes it as a MIDI file.
int cmd_compose(std::span<const std::string> args) {
    const auto parsed = quavella::cli::parse_compose(args);
    if (const auto* refused = std::get_if<quavella::cli::UsageError>(&parsed)) {
        return usage_error(refused->message);
    }
    const auto& settings = std::get<quavella::cli::ComposeSettings>(parsed);

    const LyricText read = read_lyrics(settings.source);
    if (const Exit* failed = std::get_if<Exit>(&read)) return status(*failed);
    const std::string& text = std::get<quavella::GbkConversion>(read).gbk;
    const quavella::LyricCheck lyric_check =
        quavella::check_lyrics(std::get<quavella::GbkConversion>(read));
    if (lyric_check.notice) std::cerr << quavella::terminal_text(*lyric_check.notice) << "\n";
    if (lyric_check.refusal) {
        std::cerr << *lyric_check.refusal << "\n";
        return status(Exit::refused_lyrics);
    }

    if (settings.shaped()) return compose_shaped(settings, text);

    const std::uint64_t seed = settings.seed.value_or(quavella::clock_seed());
    quavella::Generators draws(seed);
    if (settings.state) draws.restore(*settings.state);
    StderrMessages messages;
    std::optional<quavella::ToneCheck> check;
    if (settings.tones || settings.best_of > 1) check.emplace(quavella::syllable_texts(text));

    // A single composition is written as it is composed; best of N writes its choice.
    // Either goes to a temporary that replaces the file with the exports, all or none.
    quavella::files::StagedFile composition(settings.out_file);
    if (composition.error()) {
        std::cerr << "quavella-cli: " << quavella::terminal_text(*composition.error()) << "\n";
        return status(Exit::output_not_written);
    }
    const std::string staged_name = composition.temp_path().string();
    quavella::ComposeOutcome outcome;
    std::optional<quavella::BestOf> best;
    if (settings.best_of > 1) {
        best =
            quavella::compose_best_of(text, *check, settings.best_of, settings.speed, settings.mode,
                                      settings.timbre, draws, messages, staged_name);
        outcome = best->candidates[best->best].outcome;
    } else {
        outcome = quavella::compose_lyrics(text, settings.speed, settings.mode, settings.timbre,
                                           draws, messages, staged_name);
    }
    if (!outcome.midi_error.empty()) {
        composition.fail(quavella::files::write_failure(settings.out_file, outcome.midi_error));
    }
    if (composition.error()) {
        std::cerr << "quavella-cli: " << quavella::terminal_text(*composition.error()) << "\n";
        return status(Exit::output_not_written);
    }

    const ExportFiles files{settings.musicxml_file, settings.lyrics_midi_file, settings.audio_file};
    std::optional<quavella::notation::Score> score;
    if (files.any() || settings.score) {
        score = quavella::notation::build_score(quavella::notation::melody_from(text, outcome));
    }
    std::string written;
    const bool exported = write_outputs(composition, files, score, written);
    if (!exported) return status(Exit::output_not_written);

    if (best) {
        for (std::size_t k = 0; k < best->candidates.size(); ++k) {
            const quavella::BestOfCandidate& candidate = best->candidates[k];
            std::cout << "candidate=" << k + 1
                      << " state=" << quavella::history::state_text(candidate.state)
                      << " tones=" << candidate.grading.percent() << "% ("
                      << candidate.grading.agreeing() << " of " << candidate.grading.graded()
                      << ")\n";
        }
    }
    if (settings.state) {
        std::cout << "state=" << quavella::history::state_text(*settings.state);
    } else {
        std::cout << "seed=" << seed;
    }
    std::cout << " notes=" << outcome.notes << " tempo=" << outcome.tempo
              << " mode=" << outcome.mode << " program=" << outcome.program
              << " file=" << quavella::terminal_text(settings.out_file + written);
    if (best) {
        const quavella::BestOfCandidate& chosen = best->candidates[best->best];
        std::cout << " candidate=" << best->best + 1
                  << " state=" << quavella::history::state_text(chosen.state)
                  << " tones=" << chosen.grading.percent() << "%";
    }
    std::cout << "\n";
    if (settings.score) {
        std::cout << quavella::terminal_text(
            quavella::notation::score_text(*score, terminal_width()), true);
    }
    if (settings.tones) {
        std::cout << quavella::terminal_text(
            quavella::grading_lines(
                *check, best ? best->candidates[best->best].grading : check->grade(outcome.nt_seq)),
            true);
    }
    return status(flush_output());
}

}  // namespace quavella::cli
