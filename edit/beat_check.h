// Line ends on the beat: whether each line's last syllable starts on a strong beat
// (beat 1 or 3 of its 4/4 bar) and lasts at least a beat, the share that do
// (节拍契合), and 对齐节拍, the fewest unit changes of note lengths that put every
// line end there, found exactly. The score window marks the line ends that miss;
// the editable melody applies the repair as one edit; --fix-rhythm prints it.
//
// A line is a sentence of the lyric: its end is the note marked `sentence_end`.
// The line's last syllable is the last note of the sentence that is not a
// continuation (a Latin word held over several notes starts on its sung note).
#pragma once

#include <vector>

#include "notation/score.h"

namespace quavella::edit {

/// Ticks from one strong beat to the next: beats 1 and 3 of a 480-tick bar.
inline constexpr int kStrongBeatTicks = 2 * notation::kTicksPerBeat;

/// One line's last syllable and where it falls.
struct LineEnd {
    int note = 0;    ///< index of the note that sings it
    long start = 0;  ///< absolute start tick
    int ticks = 0;   ///< its note's duration
    /// Starts on beat 1 or 3 of its bar and lasts at least a beat.
    bool on_beat() const {
        return start % kStrongBeatTicks == 0 && ticks >= notation::kTicksPerBeat;
    }
};

/// The beat check of one melody.
struct BeatCheck {
    std::vector<LineEnd> ends;  ///< every line end, in melody order

    /// Line ends checked.
    int checked() const { return static_cast<int>(ends.size()); }
    /// Line ends on the beat.
    int aligned() const;
    /// 节拍契合: the share of line ends on the beat, 0..1; 0 when there is none.
    double share() const;
    /// The share in whole percent, rounded as the tone score is; 0 when there is none.
    int percent() const;
    /// The notes of the line ends that miss, in melody order.
    std::vector<int> off_notes() const;
};

/// The notes that sing the lines' last syllables, in melody order; none when the
/// melody's lyrics are not one per note.
std::vector<int> line_end_notes(const notation::Melody& melody);

/// Checks every line end of a melody (its rests count in where notes start).
BeatCheck check_beats(const notation::Melody& melody);

/// The result of 对齐节拍.
struct RhythmRepair {
    std::vector<int> ticks;    ///< the new duration of every note
    std::vector<int> changed;  ///< the notes whose duration changed, in melody order
    int units = 0;             ///< unit changes in all: each unit a note grew or shrank
    std::vector<int> left;     ///< line ends no change of units puts on the beat
};

/// Finds 对齐节拍 exactly, by dynamic programming over the notes with the start
/// position in the bar as state. Only note lengths change, each by whole units and
/// never below one unit (a note already shorter keeps its length or grows); pitches
/// and rests are kept. Among the melodies so made it takes, in this order of
/// importance: the fewest line ends off the beat (none when the lengths are whole
/// units that divide the bar, as every composed melody's are), the fewest unit
/// changes, the fewest notes changed, the fewest units changed on notes that end no
/// line (a line end held longer or shorter before the rhythm inside a line); then, at the first
/// note where equals differ, the note kept, else the smaller change, else the longer note.
/// @param unit the step of a length change in ticks, above 0 (time_unit of the melody)
RhythmRepair align_beats(const notation::Melody& melody, int unit);

}  // namespace quavella::edit
