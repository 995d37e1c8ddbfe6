// Helpers around a recorded composition: settings texts, melody, state text,
// the reproducing command line.
#include "history/record.h"

#include <ctime>

#include "composer/compose_request.h"
#include "composer/style_tables.h"
#include "tones/tone_grading.h"

namespace quavella::history {

namespace {

std::string item_at(const std::vector<std::string>& items, int position) {
    if (position < 0 || position >= static_cast<int>(items.size())) return {};
    return items[static_cast<std::size_t>(position)];
}

/// Quotes `text` for a POSIX shell: inside single quotes every byte stands for
/// itself, so only the quote itself needs closing, escaping and reopening.
std::string shell_quote(std::string_view text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

}  // namespace

void fill_items(Record& record) {
    record.speed_item = item_at(speed_items(), record.speed_pos);
    record.mode_item = item_at(mode_items(), record.mode_pos);
    record.timbre_item = item_at(timbre_items(), record.timbre_pos);
}

Record composed_record(std::string lyrics, std::string gbk_text, int speed_pos, int mode_pos,
                       int timbre_pos, const Generators::State& state,
                       const ComposeOutcome& outcome, std::string midi, std::int64_t time_ms) {
    Record record;
    record.time_ms = time_ms;
    record.lyrics = std::move(lyrics);
    record.speed_pos = speed_pos;
    record.mode_pos = mode_pos;
    record.timbre_pos = timbre_pos;
    fill_items(record);
    record.tempo = outcome.tempo;
    record.mode = outcome.mode;
    record.program = outcome.program;
    record.state = state;
    record.notes = outcome.nt_seq;
    record.ticks = outcome.tm_seq;
    record.syllables = notation::melody_from(gbk_text, outcome).lyrics;
    record.midi = std::move(midi);
    const ToneGrading tones = grade_melody(gbk_text, outcome.nt_seq);
    if (tones.graded() > 0) record.tone_score = tones.score();
    record.gbk_text = std::move(gbk_text);
    return record;
}

notation::Melody melody_of(const Record& record) {
    if (record.syllables.empty() && !record.gbk_text.empty()) {
        // Recorded without its syllables: they follow from the lyrics that were composed.
        ComposeOutcome outcome{};
        outcome.tempo = record.tempo;
        outcome.mode = record.mode;
        outcome.program = record.program;
        outcome.notes = static_cast<int>(record.notes.size());
        outcome.nt_seq.assign(record.notes.begin(), record.notes.end());
        outcome.tm_seq.assign(record.ticks.begin(), record.ticks.end());
        return notation::melody_from(record.gbk_text, outcome);
    }
    notation::Melody melody;
    melody.notes = record.notes;
    melody.ticks = record.ticks;
    melody.lyrics = record.syllables;
    melody.lyrics.resize(record.notes.size());
    melody.tempo = record.tempo;
    melody.mode = record.mode;
    melody.program = record.program;
    return melody;
}

std::string reproduce_command(const Record& record, const std::string& out) {
    std::string command = "printf '%s\\n'";
    std::size_t start = 0;
    while (true) {
        const std::size_t end = record.lyrics.find('\n', start);
        command += " " + shell_quote(std::string_view(record.lyrics)
                                         .substr(start, end == std::string::npos ? std::string::npos
                                                                                 : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    command += " | quavella-cli compose --state " + state_text(record.state) + " --speed " +
               std::to_string(record.speed_pos) + " --mode " + std::to_string(record.mode_pos) +
               " --timbre " + std::to_string(record.timbre_pos);
    // The edit list holds only letters, digits and "+-:,": every shell takes it as it is.
    if (!record.edits.empty()) command += " --edits " + record.edits;
    command += " -o " + shell_quote(out);
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
