// One composition as the history keeps it, and the short form a list shows.
// Made from a Composition when the window composes; turned back into one by the
// score window and the command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "composer/compose_request.h"
#include "composer/draws.h"
#include "composition/composition.h"
#include "lyrics/lyrics_hex.h"
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
    /// When it is one of the candidates of a best-of press: the entry chosen from them
    /// (its own id for the chosen one). None for a composition made alone, for a chosen
    /// one whose candidates were all deleted, and for an entry naming a chosen entry that
    /// is missing or was not chosen itself.
    std::optional<std::int64_t> chosen;
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
    /// The entry chosen from the best-of press this one belongs to (its own id for the
    /// chosen one); none for an entry listed on its own.
    std::optional<std::int64_t> chosen;
    /// For the chosen entry of a press, as Store::list gives it: how many candidates the
    /// press keeps, itself included (2 or more); 0 otherwise.
    std::int64_t candidates = 0;
    /// The edit list as read for the check (a list past edit::kMaxEditsBytes is cut just
    /// past that bound, which the check refuses); empty for a melody as composed.
    std::string edits;
};

/// Tempo bounds of a recorded composition: 4 bpm is the slowest a MIDI file's
/// 24-bit tempo holds; the composer writes 100 to 219.
inline constexpr int kMinTempo = 4;
inline constexpr int kMaxTempo = 1000;

/// Why a record read back from the history cannot be trusted, or nothing when it
/// can: tempo, mode and program in range, note numbers 0..127, durations of 0 or more
/// ticks adding up to at most notation::kMaxScoreTicks, as many durations (and
/// syllables, when there are any) as notes, sentences 0..3, a tone score 0..1, an edit
/// list that `quavella-cli compose --edits` takes (edit::parse_edits reads it: letters,
/// digits and "+-:," only, at most edit::kMaxEdits items and edit::kMaxEditsBytes bytes).
std::optional<std::string> record_fault(const Record& record);

/// The same for what a list shows of an entry (tempo, count of notes, tone score, edit
/// list).
std::optional<std::string> summary_fault(const Summary& summary);

/// Fills the settings' item texts of `record` from the window's lists.
void fill_items(Record& record);

/// The melody of a record, for the score and the exports. A record without
/// syllables gets them from its GBK text; the rests after its notes are read from its
/// composition file (none when that is not the composition layout of its notes).
notation::Melody melody_of(const Record& record);

/// The history's record of a composition.
/// @param time_ms when it was composed, milliseconds since 1970-01-01 UTC
Record record_of(const Composition& composition, std::int64_t time_ms);

/// Which of a best-of press's `count` compositions is the `k`-th of its records, in the
/// order the history keeps them: the candidates passed over first, as composed, and the
/// chosen one last, so that it is the newest and names the press.
/// @param chosen index of the chosen composition, less than `count`
std::size_t press_order(std::size_t k, std::size_t count, std::size_t chosen);

/// A recorded composition as a value again, for the score, the exports and the
/// player: its melody, its file's bytes, its grading made anew from the lyric.
CompositionPtr composition_of(const Record& record);

// The state's text form ("S:T") lives with the generators.
using quavella::parse_state;
using quavella::state_text;

// The lyrics as `quavella-cli compose --lyrics-hex` takes them live with the lyrics.
using quavella::lyrics_hex;
using quavella::parse_lyrics_hex;

/// A command line that makes the same composition file again with quavella-cli: the
/// state, the settings, the edits of a shaped melody and the lyrics as hex. It holds only letters,
/// digits, spaces and "-:._/=+,", which every common shell (sh, bash, zsh, fish) and every
/// terminal take literally, whatever the lyrics hold; long lyrics take several --lyrics-hex
/// options, and a long edit list several --edits options, which compose joins.
/// @param out the file name it writes; a character outside that set becomes "_"
std::string reproduce_command(const Record& record, const std::string& out = "song.mid");

/// Local time of a record as "YYYY-MM-DD HH:MM:SS".
std::string local_time_text(std::int64_t time_ms);

}  // namespace quavella::history
