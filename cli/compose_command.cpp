// quavella-cli compose: a melody from the lyrics, written as a MIDI file with its exports.

#include <cstdint>
#include <iostream>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>

#include "base/terminal_text.h"
#include "cli/cli_common.h"
#include "composer/compose_request.h"
#include "composer/draws.h"
#include "composition/best_of.h"
#include "composition/composition.h"
#include "history/record.h"
#include "lyrics/gbk_text.h"
#include "notation/score.h"
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
    auto source = std::make_shared<quavella::CompositionSource>();
    source->gbk_text = text;
    source->speed_pos = settings.speed;
    source->mode_pos = settings.mode;
    source->timbre_pos = settings.timbre;

    // One composition, or the best of N; either way one value with its file's bytes.
    quavella::CompositionPtr composition;
    std::optional<quavella::BestOf> best;
    std::string error;
    if (settings.best_of > 1) {
        best = quavella::compose_best_of(source, settings.best_of, draws, messages);
        composition = best->best;
        error = best->error;
    } else {
        quavella::Composed made = quavella::compose(source, draws, messages);
        composition = std::move(made.composition);
        error = std::move(made.error);
    }
    if (!error.empty()) {
        std::cerr << "quavella-cli: cannot write '" << quavella::terminal_text(settings.out_file)
                  << "': " << quavella::terminal_text(error) << "\n";
        return status(Exit::output_not_written);
    }
    if (!write_bytes(settings.out_file, composition->midi)) return status(Exit::output_not_written);
    const quavella::notation::Melody& melody = composition->melody;

    const ExportFiles files{settings.musicxml_file, settings.lyrics_midi_file, settings.audio_file};
    std::optional<quavella::notation::Score> score;
    if (files.any() || settings.score) {
        score = quavella::notation::build_score(melody);
    }
    std::string written;
    const bool exported = write_exports(files, score, written);
    if (!exported) return status(Exit::output_not_written);

    if (best) {
        for (std::size_t k = 0; k < best->candidates.size(); ++k) {
            const quavella::CandidateGrade& candidate = best->candidates[k];
            std::cout << "candidate=" << k + 1
                      << " state=" << quavella::history::state_text(candidate.state)
                      << " tones=" << candidate.percent << "% (" << candidate.agreeing << " of "
                      << candidate.graded << ")\n";
        }
    }
    if (settings.state) {
        std::cout << "state=" << quavella::history::state_text(*settings.state);
    } else {
        std::cout << "seed=" << seed;
    }
    std::cout << " notes=" << melody.notes.size() << " tempo=" << melody.tempo
              << " mode=" << melody.mode << " program=" << melody.program
              << " file=" << quavella::terminal_text(settings.out_file + written);
    if (best) {
        std::cout << " candidate=" << best->best_index + 1
                  << " state=" << quavella::history::state_text(composition->state)
                  << " tones=" << composition->tones.percent() << "%";
    }
    std::cout << "\n";
    if (settings.score) {
        std::cout << quavella::terminal_text(
            quavella::notation::score_text(*score, terminal_width()), true);
    }
    if (settings.tones) {
        const quavella::ToneCheck check = quavella::lyric_tone_check(text);
        std::cout << quavella::terminal_text(quavella::grading_lines(check, composition->tones),
                                             true);
    }
    return status(flush_output());
}

}  // namespace quavella::cli
