// quavella-cli compose: a melody from the lyrics, written as a MIDI file with its exports.

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
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
#include "composition/best_of.h"
#include "composition/composition.h"
#include "history/record.h"
#include "history/store.h"
#include "lyrics/gbk_text.h"
#include "notation/score.h"
#include "tones/tone_grading.h"
#include "tones/tone_report.h"

namespace quavella::cli {

std::optional<std::int64_t> record_in_history(
    std::size_t count, std::size_t chosen,
    const std::function<CompositionPtr(std::size_t index)>& make) {
    const auto path =
        history::default_path([](const char* name) -> const char* { return std::getenv(name); });
    if (!path) {
        std::cerr << "quavella-cli: --record: no place for the history: neither XDG_DATA_HOME "
                     "nor HOME is set\n";
        return std::nullopt;
    }
    const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    history::Store store(*path);
    std::vector<std::int64_t> ids;
    history::Record made;
    const auto record_at = [&](std::size_t k) -> const history::Record* {
        const CompositionPtr composition = make(history::press_order(k, count, chosen));
        if (!composition) return nullptr;
        made = history::record_of(*composition, now);
        return &made;
    };
    const history::Status st = store.record(count, record_at, ids);
    if (!store.notice().empty())
        std::cerr << "quavella-cli: " << terminal_text(store.notice()) << "\n";
    if (st != history::Status::ok && st != history::Status::recovered) {
        std::cerr << "quavella-cli: --record: " << terminal_text(store.last_error()) << "\n";
        return std::nullopt;
    }
    if (ids.empty()) return std::nullopt;
    return ids.back();
}

std::shared_ptr<const CompositionSource> composition_source(const ComposeSettings& settings,
                                                            const std::string& text,
                                                            const std::vector<std::string>& given) {
    auto source = std::make_shared<CompositionSource>();
    // The lines as typed, in UTF-8, as the window keeps its lyric box's lines; they go
    // back through the same mend as --lyrics-hex, which must make the same text.
    std::vector<std::string> lines;
    for (const std::string& line : given) {
        lines.push_back(settings.source.encoding == LyricEncoding::gbk ? gbk_to_utf8(line) : line);
    }
    const GbkConversion again = lyric_text_from_lines(lines, LyricEncoding::utf8);
    if (!lines.empty() && again.ok && again.gbk == text) {
        source->lines = std::move(lines);
    } else {
        source->lines = {gbk_to_utf8(text)};
    }
    source->gbk_text = text;
    source->speed_pos = settings.speed;
    source->mode_pos = settings.mode;
    source->timbre_pos = settings.timbre;
    return source;
}

JsonObject composition_json(const ComposeSettings& settings, std::uint64_t seed,
                            const Generators::State& start, const Composition& composition) {
    const notation::Melody& melody = composition.melody;
    JsonObject json;
    if (settings.state) {
        json.number_or_null("seed", std::nullopt);
    } else {
        json.unsigned_number("seed", seed);
    }
    std::vector<std::string> syllables;
    for (const notation::Lyric& l : melody.lyrics) syllables.push_back(json_string(l.text));
    json.text("start_state", history::state_text(start))
        .text("state", history::state_text(composition.state))
        .number("speed_pos", settings.speed)
        .number("mode_pos", settings.mode)
        .number("timbre_pos", settings.timbre)
        .number("tempo", melody.tempo)
        .number("mode", melody.mode)
        .number("program", melody.program)
        .number("notes", static_cast<std::int64_t>(melody.notes.size()))
        .text("file", settings.out_file)
        .raw("exports", JsonObject()
                            .text_or_null("musicxml", settings.musicxml_file)
                            .text_or_null("lyrics_midi", settings.lyrics_midi_file)
                            .text_or_null("karaoke", settings.karaoke_file)
                            .text_or_null("audio", settings.audio_file)
                            .text_or_null("arrangement", settings.arrangement_file)
                            .str())
        .raw("keys", json_numbers(melody.notes))
        .raw("ticks", json_numbers(melody.ticks))
        .raw("syllables", json_array(syllables));
    return json;
}

/// compose: composes a melody from the lyrics and writes it as a MIDI file.
int cmd_compose(std::span<const std::string> args) {
    const auto parsed = quavella::cli::parse_compose(args);
    if (const auto* refused = std::get_if<quavella::cli::UsageError>(&parsed)) {
        return usage_error(refused->message);
    }
    const auto& settings = std::get<quavella::cli::ComposeSettings>(parsed);

    std::vector<std::string> given;
    const LyricText read = read_lyrics(settings.source, &given);
    if (const Exit* failed = std::get_if<Exit>(&read)) return status(*failed);
    const std::string& text = std::get<GbkConversion>(read).gbk;
    const LyricCheck lyric_check = check_lyrics(std::get<GbkConversion>(read));
    if (lyric_check.notice) std::cerr << terminal_text(*lyric_check.notice) << "\n";
    if (lyric_check.refusal) {
        std::cerr << *lyric_check.refusal << "\n";
        return status(Exit::refused_lyrics);
    }

    if (settings.shaped()) return compose_shaped(settings, text, given);

    const std::uint64_t seed = settings.seed.value_or(clock_seed());
    Generators draws(seed);
    if (settings.state) draws.restore(*settings.state);
    const Generators::State start = draws.state();
    StderrMessages messages;
    const auto source = composition_source(settings, text, given);

    // One composition, or the best of N: either way one value with its file's bytes,
    // written to the file or to standard output.
    CompositionPtr composition;
    std::optional<BestOf> best;
    std::string error;
    if (settings.best_of > 1) {
        best = compose_best_of(source, settings.best_of, draws, messages);
        composition = best->best;
        error = best->error;
    } else {
        Composed made = compose(source, draws, messages);
        composition = std::move(made.composition);
        error = std::move(made.error);
    }
    if (!error.empty()) {
        std::cerr << "quavella-cli: cannot write '" << terminal_text(settings.out_file)
                  << "': " << terminal_text(error) << "\n";
        return status(Exit::output_not_written);
    }
    // A file is staged and replaces the old one together with the exports, all or none;
    // standard output gets the bytes at once.
    std::optional<files::StagedFile> staged;
    if (settings.to_stdout()) {
        if (!write_bytes("-", composition->midi)) return status(Exit::output_not_written);
    } else {
        staged.emplace(settings.out_file);
        staged->write(composition->midi);
    }
    const notation::Melody& melody = composition->melody;

    const Harmonised harmonised = harmonise(settings, *composition);
    const ExportFiles files = compose_exports(settings, harmonised);
    std::optional<notation::Score> score;
    if (files.any() || settings.score) {
        score = notation::build_score(melody);
    }
    std::string written;
    const bool exported = write_outputs(staged ? &*staged : nullptr, files, score, written);
    if (!exported) return status(Exit::output_not_written);

    std::optional<std::int64_t> recorded;
    if (settings.record) {
        if (best) {
            // The whole press, grouped under the melody written, as the window records its
            // 择优作曲. Each candidate is what one compose from its state makes, so the
            // ones passed over are made again one at a time, never all held at once.
            const auto candidate = [&](std::size_t index) {
                return candidate_of(source, *best, index);
            };
            recorded = record_in_history(best->candidates.size(), best->best_index, candidate);
        } else {
            recorded = record_in_history(1, 0, [&](std::size_t) { return composition; });
        }
        if (!recorded) return status(Exit::history_failed);
    }

    std::ostream& out = report_stream(settings.out_file);
    const ToneGrading* grading = settings.tones ? &composition->tones : nullptr;
    if (settings.json) {
        JsonObject json = composition_json(settings, seed, start, *composition);
        if (best) {
            std::vector<std::string> candidates;
            for (const CandidateGrade& c : best->candidates) {
                candidates.push_back(JsonObject()
                                         .text("state", history::state_text(c.state))
                                         .number("percent", c.percent)
                                         .number("agreeing", c.agreeing)
                                         .number("graded", c.graded)
                                         .str());
            }
            json.raw("candidates", json_array(candidates))
                .number("chosen", static_cast<std::int64_t>(best->best_index) + 1);
        }
        if (grading) {
            json.raw("tones", grading_json(*grading))
                .raw("beats", beats_json(edit::check_beats(composition->melody)));
        }
        if (settings.chords) json.raw("chords", chords_json(harmonised.changes));
        if (recorded) json.number("history_id", *recorded);
        out << json.str() << "\n";
        return status(flush_output());
    }

    if (best) {
        for (std::size_t k = 0; k < best->candidates.size(); ++k) {
            const CandidateGrade& candidate = best->candidates[k];
            out << "candidate=" << k + 1 << " state=" << history::state_text(candidate.state)
                << " tones=" << candidate.percent << "% (" << candidate.agreeing << " of "
                << candidate.graded << ")\n";
        }
    }
    if (settings.state) {
        out << "state=" << history::state_text(*settings.state);
    } else {
        out << "seed=" << seed;
    }
    out << " notes=" << melody.notes.size() << " tempo=" << melody.tempo << " mode=" << melody.mode
        << " program=" << melody.program << " file=" << terminal_text(settings.out_file + written);
    if (best) {
        out << " candidate=" << best->best_index + 1
            << " state=" << history::state_text(composition->state)
            << " tones=" << composition->tones.percent() << "%";
    }
    if (recorded) out << " history=" << *recorded;
    out << "\n";
    if (settings.score) out << terminal_text(notation::score_text(*score, terminal_width()), true);
    if (grading) out << terminal_text(grading_lines(lyric_tone_check(text), *grading), true);
    if (settings.chords) out << chord_lines(harmonised.changes);
    return status(flush_output());
}

}  // namespace quavella::cli
