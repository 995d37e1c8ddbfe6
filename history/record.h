// One composition as the history keeps it, and the short form a list shows.
// Filled by the window when a composition is complete; read back by the score
// window and the command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "composer/compose_request.h"
#include "composer/draws.h"
#include "notation/score.h"

namespace quavella::history {

/// Everything needed to find a composition again, hear it and make it again.
struct Record {
    std::int64_t time_ms = 0;  ///< when it was composed: milliseconds since 1970-01-01 UTC
    std::string lyrics;        ///< the lyric box's lines as typed, UTF-8, joined by "\n"
    std::string gbk_text;      ///< the joined GBK text that was composed
    int speed_pos = 0;         ///< list positions of the three settings
    int mode_pos = 0;
    int timbre_pos = 0;
    std::string speed_item;  ///< the items' texts at those positions ("" outside the lists)
    std::string mode_item;
    std::string timbre_item;
    int tempo = 0;                           ///< beats per minute
    int mode = 0;                            ///< mode number 0..3
    int program = 0;                         ///< General MIDI program, 0-based
    Generators::State state;                 ///< both generators just before the composition
    std::vector<int> notes;                  ///< MIDI note numbers
    std::vector<int> ticks;                  ///< each note's duration in ticks
    std::vector<notation::Lyric> syllables;  ///< one per note; empty when not known
    std::string midi;                        ///< the composition file's bytes
    std::optional<double> tone_score;        ///< how well the melody follows the tones
    /// How the melody was shaped from the composition of `state` (the edit list of
    /// `quavella-cli compose --edits`); empty for a melody as composed.
    std::string edits;
    /// The entry of the composition it was shaped from; none when it is a composition,
    /// or its origin was not recorded.
    std::optional<std::int64_t> origin;
};

/// A recorded composition with its number in the history.
struct Entry {
    std::int64_t id = 0;
    Record record;
};

/// What a list of the history shows of one entry.
struct Summary {
    std::int64_t id = 0;
    std::int64_t time_ms = 0;
    std::string lyrics_start;  ///< the first characters of the lyrics, lines joined by "\n"
    int speed_pos = 0;
    int mode_pos = 0;
    int timbre_pos = 0;
    std::string speed_item;
    std::string mode_item;
    std::string timbre_item;
    int tempo = 0;
    int note_count = 0;
    std::optional<double> tone_score;
    bool edited = false;                 ///< shaped from a composition by edits
    std::optional<std::int64_t> origin;  ///< the entry it was shaped from
};

/// Fills the settings' item texts of `record` from the window's lists.
void fill_items(Record& record);

/// The record of a composition, filled as the window fills it: the settings'
/// positions and items, the generators' state before it, the melody with its
/// syllables, the file's bytes and, when a pair is graded, the tone score.
/// @param lyrics the lyric lines, UTF-8, joined by "\n"
/// @param gbk_text the joined GBK text that was composed
/// @param midi the composition file's bytes
/// @param time_ms when it was composed, milliseconds since 1970-01-01 UTC
Record composed_record(std::string lyrics, std::string gbk_text, int speed_pos, int mode_pos,
                       int timbre_pos, const Generators::State& state,
                       const ComposeOutcome& outcome, std::string midi, std::int64_t time_ms);

/// The melody of a record, for the score and the exports. A record without
/// syllables gets them from its GBK text.
notation::Melody melody_of(const Record& record);

// The state's text form ("S:T") lives with the generators.
using quavella::parse_state;
using quavella::state_text;

/// A shell command line that makes the same composition file again with
/// quavella-cli: the lyrics piped in line by line, the state and the settings,
/// and the edits of a shaped melody.
/// @param out the file name it writes
std::string reproduce_command(const Record& record, const std::string& out = "song.mid");

/// Local time of a record as "YYYY-MM-DD HH:MM:SS".
std::string local_time_text(std::int64_t time_ms);

}  // namespace quavella::history
