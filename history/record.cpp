// Helpers around a recorded composition: settings texts, melody, state text,
// the reproducing command line.
#include "history/record.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "composer/compose_request.h"
#include "composer/style_tables.h"
#include "edit/edits.h"
#include "harmony/chord_model.h"
#include "lyrics/gbk_text.h"
#include "lyrics/syllables.h"
#include "tones/tone_grading.h"

namespace quavella::history {

namespace {

std::string item_at(const std::vector<std::string>& items, int position) {
    if (position < 0 || position >= static_cast<int>(items.size())) return {};
    return items[static_cast<std::size_t>(position)];
}

/// Hex digits per --lyrics-hex option, and most characters per --edits option: well
/// under the 128 KiB Linux allows one argument.
constexpr std::size_t kHexPerArgument = 65536;

/// A file name every shell takes literally: letters, digits and "._/-", never "-"
/// first (an option) nor empty; anything else becomes "_".
std::string literal_file_name(std::string_view name) {
    if (name.empty()) return "song.mid";
    std::string out(name);
    for (char& c : out) {
        const bool literal = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '/' || c == '-';
        if (!literal) c = '_';
    }
    if (out[0] == '-') out[0] = '_';
    return out;
}

/// The rests of a composition file as composition_file writes it (each note of the second
/// track a note-on, its length, a note-off; a rest is the time before the next note-on or
/// the end of the track): one per note, or none when it has none or the bytes are not
/// that layout for `notes`.
std::vector<int> rests_in(std::string_view midi, const std::vector<int>& notes) {
    std::size_t at = 50;  // the second track's first event
    const auto quantity = [&midi, &at](std::uint32_t& value) {
        value = 0;
        for (int k = 0; k < 4 && at < midi.size(); ++k) {
            const auto byte = static_cast<unsigned char>(midi[at++]);
            value = value << 7 | (byte & 0x7F);
            if ((byte & 0x80) == 0) return true;
        }
        return false;
    };
    const auto event = [&midi, &at](unsigned char status, int key) {
        if (at + 3 > midi.size() || static_cast<unsigned char>(midi[at]) != status ||
            static_cast<unsigned char>(midi[at + 1]) != key) {
            return false;
        }
        at += 3;
        return true;
    };
    if (midi.size() < at) return {};
    std::vector<int> rests(notes.size(), 0);
    bool any = false;
    for (std::size_t i = 0; i <= notes.size(); ++i) {
        std::uint32_t before = 0;
        if (!quantity(before)) return {};
        if (i > 0) {
            rests[i - 1] =
                static_cast<int>(std::min<std::uint32_t>(before, notation::kMaxScoreTicks));
            any = any || before > 0;
        }
        if (i == notes.size()) {
            if (at + 3 > midi.size() || midi.compare(at, 3, "\xFF\x2F\x00", 3) != 0) return {};
            break;
        }
        std::uint32_t length = 0;
        if (!event(0x91, notes[i]) || !quantity(length) || !event(0x81, notes[i])) return {};
    }
    if (!any) return {};
    return rests;
}

}  // namespace

namespace {

std::optional<std::string> tempo_fault(int tempo) {
    if (tempo >= kMinTempo && tempo <= kMaxTempo) return std::nullopt;
    return "tempo " + std::to_string(tempo) + " is outside " + std::to_string(kMinTempo) + ".." +
           std::to_string(kMaxTempo);
}

/// An edit list that the command line to make the entry again would not take: one that
/// does not parse, or is longer than compose accepts.
std::optional<std::string> edits_fault(const std::string& edits) {
    if (edits.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                "0123456789+-:,") != std::string::npos) {
        return std::string("the edit list holds characters outside letters, digits and +-:,");
    }
    const edit::ParsedEdits parsed = edit::parse_edits(edits);
    if (!parsed.error.empty()) return "the edit list is not one compose takes: " + parsed.error;
    return std::nullopt;
}

/// The words of the last word edit of an edit list, if it has one.
std::optional<std::string> last_words(const std::string& edits) {
    if (edits.find("w:") == std::string::npos) return std::nullopt;
    const edit::ParsedEdits parsed = edit::parse_edits(edits);
    for (auto e = parsed.edits.rbegin(); e != parsed.edits.rend(); ++e) {
        if (e->kind == edit::EditKind::words) return e->words;
    }
    return std::nullopt;
}

std::optional<std::string> tone_score_fault(const std::optional<double>& score) {
    // Written so that not-a-number fails too.
    if (!score || (*score >= 0.0 && *score <= 1.0)) return std::nullopt;
    char shown[32];
    std::snprintf(shown, sizeof shown, "%g", *score);
    return "tone score " + std::string(shown) + " is outside 0..1";
}

}  // namespace

std::optional<std::string> record_fault(const Record& record) {
    if (auto fault = tempo_fault(record.tempo)) return fault;
    if (record.mode < 0 || record.mode > 3) {
        return "mode " + std::to_string(record.mode) + " is outside 0..3";
    }
    if (record.program < 0 || record.program > 127) {
        return "program " + std::to_string(record.program) + " is outside 0..127";
    }
    if (record.ticks.size() != record.notes.size()) {
        return std::to_string(record.notes.size()) + " notes but " +
               std::to_string(record.ticks.size()) + " durations";
    }
    if (!record.syllables.empty() && record.syllables.size() != record.notes.size()) {
        return std::to_string(record.notes.size()) + " notes but " +
               std::to_string(record.syllables.size()) + " syllables";
    }
    long long total = 0;
    for (std::size_t k = 0; k < record.notes.size(); ++k) {
        if (record.notes[k] < 0 || record.notes[k] > 127) {
            return "note " + std::to_string(k + 1) + " is " + std::to_string(record.notes[k]) +
                   ", outside 0..127";
        }
        if (record.ticks[k] < 0) {
            return "note " + std::to_string(k + 1) + " lasts " + std::to_string(record.ticks[k]) +
                   " ticks";
        }
        total += record.ticks[k];
        if (total > notation::kMaxScoreTicks) {
            return "the notes last over " + std::to_string(notation::kMaxScoreTicks) + " ticks";
        }
    }
    for (std::size_t k = 0; k < record.syllables.size(); ++k) {
        const int sentence = record.syllables[k].sentence;
        if (sentence < 0 || sentence > 3) {
            return "syllable " + std::to_string(k + 1) + " is in sentence " +
                   std::to_string(sentence) + ", outside 0..3";
        }
    }
    if (auto fault = edits_fault(record.edits)) return fault;
    return tone_score_fault(record.tone_score);
}

std::optional<std::string> summary_fault(const Summary& summary) {
    if (auto fault = tempo_fault(summary.tempo)) return fault;
    // One note a syllable, and no syllable without a byte of the lyrics.
    if (summary.note_count < 0 || static_cast<std::size_t>(summary.note_count) > kMaxLyricBytes)
        return "a count of " + std::to_string(summary.note_count) + " notes";
    if (auto fault = edits_fault(summary.edits)) return fault;
    return tone_score_fault(summary.tone_score);
}

Record record_of(const Composition& composition, std::int64_t time_ms) {
    // The lyric its state composed, which its edits (a word edit among them) start from:
    // the entry is made again from that, its syllables and tone score are the words sung.
    const CompositionSource& source = *composition.composed_source();
    Record record;
    record.time_ms = time_ms;
    for (std::size_t k = 0; k < source.lines.size(); ++k) {
        if (k > 0) record.lyrics += '\n';
        record.lyrics += source.lines[k];
    }
    record.gbk_text = source.gbk_text;
    record.speed_pos = source.speed_pos;
    record.mode_pos = source.mode_pos;
    record.timbre_pos = source.timbre_pos;
    fill_items(record);
    const notation::Melody& melody = composition.melody;
    record.tempo = melody.tempo;
    record.mode = melody.mode;
    record.program = melody.program;
    record.state = composition.state;
    record.notes = melody.notes;
    record.ticks = melody.ticks;
    record.syllables = melody.lyrics;
    record.midi = composition.midi;
    if (composition.tones.graded() > 0) record.tone_score = composition.tones.score();
    record.edits = composition.edits;
    return record;
}

std::size_t press_order(std::size_t k, std::size_t count, std::size_t chosen) {
    if (k + 1 == count) return chosen;
    return k < chosen ? k : k + 1;
}

CompositionPtr composition_of(const Record& record) {
    auto source = std::make_shared<CompositionSource>();
    // The lines were joined by line feeds, which a typed line never holds.
    for (std::size_t start = 0;;) {
        const std::size_t end = record.lyrics.find('\n', start);
        source->lines.push_back(record.lyrics.substr(
            start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    source->gbk_text = record.gbk_text;
    source->speed_pos = record.speed_pos;
    source->mode_pos = record.mode_pos;
    source->timbre_pos = record.timbre_pos;
    auto made = std::make_shared<Composition>();
    made->state = record.state;
    made->melody = melody_of(record);
    made->midi = record.midi;
    made->edits = record.edits;
    // A word edit in its edits: it sings the last one's words, graded by their tones.
    std::shared_ptr<const CompositionSource> sung = source;
    if (const auto words = last_words(record.edits)) {
        const GbkConversion converted =
            lyric_text_from_lines(with_words(*source, *words, {})->lines, LyricEncoding::utf8);
        if (converted.ok) {
            sung = with_words(*source, *words, converted.gbk);
            made->composed_from = source;
        }
    }
    const ToneCheck check = lyric_tone_check(sung->gbk_text);
    if (check.syllables().size() == made->melody.notes.size()) {
        made->tones = check.grade(made->melody.notes);
    }
    made->source = std::move(sung);
    // The chords chosen for the melody; the chord items of its edits are kept by the
    // song document, which replays them.
    made->chords = harmony::choose_chords(harmony::request_for(made->melody));
    return made;
}

void fill_items(Record& record) {
    record.speed_item = item_at(speed_items(), record.speed_pos);
    record.mode_item = item_at(mode_items(), record.mode_pos);
    record.timbre_item = item_at(timbre_items(), record.timbre_pos);
}

notation::Melody melody_of(const Record& record) {
    notation::Melody melody;
    melody.notes = record.notes;
    melody.ticks = record.ticks;
    // The rests are not columns of their own: the composition file holds them.
    melody.rests = rests_in(record.midi, record.notes);
    if (record.syllables.empty() && !record.gbk_text.empty()) {
        // Recorded without its syllables: they follow from the lyrics that were composed.
        melody.lyrics = notation::lyrics_of(syllable_texts(record.gbk_text), record.notes.size());
    } else {
        melody.lyrics = record.syllables;
        melody.lyrics.resize(record.notes.size());
    }
    melody.tempo = record.tempo;
    melody.mode = record.mode;
    melody.program = record.program;
    return melody;
}

std::string reproduce_command(const Record& record, const std::string& out) {
    // Quoting cannot be made safe for every shell (fish reads backslashes inside single
    // quotes) nor for a terminal (an escape sequence moves the cursor over what is
    // shown), so the lyrics travel as hex digits, which mean the same everywhere.
    std::string command = "quavella-cli compose --state " + state_text(record.state) + " --speed " +
                          std::to_string(record.speed_pos) + " --mode " +
                          std::to_string(record.mode_pos) + " --timbre " +
                          std::to_string(record.timbre_pos);
    // The edit list holds only letters, digits and "+-:," (a row holding more is not
    // trusted): every shell takes it as it is. A long one is cut between items into
    // several --edits, which compose joins, each well within what one argument holds.
    for (std::string_view rest = record.edits; !rest.empty();) {
        std::size_t cut = rest.size();
        if (cut > kHexPerArgument) {
            cut = rest.rfind(',', kHexPerArgument);
            // One item longer than that (a number padded with zeros) stays whole.
            if (cut == std::string_view::npos) cut = std::min(rest.size(), rest.find(','));
        }
        command += " --edits ";
        command += rest.substr(0, cut);
        rest.remove_prefix(std::min(rest.size(), cut + 1));
    }
    command += " -o " + literal_file_name(out);
    const std::string hex = lyrics_hex(record.lyrics);
    if (hex.empty()) command += " --lyrics-hex=";
    for (std::size_t at = 0; at < hex.size(); at += kHexPerArgument) {
        command += " --lyrics-hex " + hex.substr(at, kHexPerArgument);
    }
    return command;
}

std::string local_time_text(std::int64_t time_ms) {
    const std::time_t seconds = static_cast<std::time_t>(time_ms / 1000);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) return std::to_string(time_ms);
    char text[32];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text, n);
}

}  // namespace quavella::history
