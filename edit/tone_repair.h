// Repairing 倒字: the fewest pitch changes that make a melody sing its words'
// tones right, found exactly. The editable melody applies it as one edit (修正倒字,
// 全部契合); the command line's --fix-tones prints what it changed.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tones/tone_grading.h"

namespace quavella::edit {

/// What a repair aims at.
enum class RepairGoal : std::uint8_t {
    no_contrary,  ///< 修正倒字: no pair graded contrary
    all_suit,     ///< 全部契合: every graded pair good or fair
};

/// Where a repair may put a changed note. Notes it leaves alone are never limited.
struct RepairLimits {
    std::vector<int> pitches;  ///< the pitches a changed note may take: the melody's scale
                               ///< inside the composer's range for it, ascending
    int max_leap = 0;          ///< the widest step allowed between consecutive notes, semitones
};

/// One note a repair changed.
struct NoteChange {
    int note = 0;  ///< index of the note
    int from = 0;  ///< MIDI note number before
    int to = 0;    ///< MIDI note number after
};

/// The result of a repair.
struct Repair {
    std::vector<std::int32_t> notes;  ///< the repaired melody's notes
    std::vector<NoteChange> changes;  ///< the notes changed, in melody order
    std::vector<TonePair> left;       ///< pairs that still miss the goal, in melody order
};

/// The limits of a melody: its mode's scale between the lowest and highest note
/// the composer gave it, and its own widest leap.
/// @param composed the notes as composed (they set the range)
/// @param current the notes as they are now (they set the widest leap)
RepairLimits limits_for(int mode, std::span<const std::int32_t> composed,
                        std::span<const std::int32_t> current);

/// Finds the repair exactly, by dynamic programming over the notes: among the
/// melodies that keep every unchanged note and put every changed one inside the
/// limits, the one with (in this order of importance) the fewest contrary pairs,
/// for all_suit the fewest pairs not good or fair, the fewest changed notes, the
/// most pairs graded good, and the smallest total movement in semitones. When
/// the goal is reached nothing remains in `left`; otherwise `left` names the
/// pairs the limits do not let it mend.
/// @param notes one per syllable of `check`
Repair repair_tones(const ToneCheck& check, std::span<const std::int32_t> notes,
                    const RepairLimits& limits, RepairGoal goal);

}  // namespace quavella::edit
