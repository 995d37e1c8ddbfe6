// The chord model: chords under a melody, one per half bar at most, chosen by
// dynamic programming (Viterbi) over how each chord fits the notes it sounds under
// and how chords follow one another. Locks (a chord fixed at a slot) are inputs, so
// a chord edit is a lock and a new choice; the same melody and locks give the same
// chords.
//
// Glossary: slot = half a bar (240 ticks), counted from 0; run = consecutive slots
// with the same chord.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "harmony/chords.h"
#include "notation/score.h"

namespace quavella::harmony {

/// Ticks of one slot: chords change on beats 1 and 3 only.
inline constexpr int kSlotTicks = 240;
/// The longest run a chord holds before the model pays heavily: four bars.
inline constexpr int kMaxRunSlots = 8;

/// A chord fixed at a slot: the model keeps it and chooses the others around it.
struct Lock {
    int slot = 0;
    Chord chord;
    bool operator==(const Lock&) const = default;
};

/// The weights of the model's cost (lower is better), in whole numbers so that the
/// choice is exact and the same on every machine. A note's weight in a slot is one
/// per sixteenth it sounds there, plus `strong_beat` when it sounds at the slot's
/// start (beat 1 or 3) and `on_beat` when it starts on beat 2 or 4.
struct ChordWeights {
    int strong_beat = 6;
    int on_beat = 2;
    int chord_tone = -10;       ///< per weight of a note that is a chord tone
    int clash = 40;             ///< per weight of a note a semitone from a chord tone
    int other_tone = 8;         ///< per weight of any other non-chord tone
    int stepping_tone = 3;      ///< instead, when the next note steps (<= 2 semitones) to a
                                ///< chord tone
    int consonance = 3;         ///< per weight, times the note's consonance over the three
                                ///< chord tones (+1 unison, thirds, fifth, sixths; 0 the
                                ///< fourth; -1 the rest), subtracted
    int change = 14;            ///< every chord change
    int mid_bar_change = 16;    ///< besides, a change on beat 3
    int hold_after = 4;         ///< slots a chord holds before `hold` is paid per slot
    int hold = 5;               ///< per slot of a run past `hold_after`
    int too_long = 100000;      ///< per slot of a run past kMaxRunSlots (four bars)
    int secondary_root = 4;     ///< a triad on degree 2 or 3
    int suspended = 6;          ///< a sus2 or sus4 chord
    int seventh_no_fifth = 12;  ///< a minor seventh without fifth
    int fifth_down = -4;        ///< a root moving a fifth down (G to C, D to G)
    int retrogression = 10;     ///< dominant to subdominant (G to F, G to Dm)
    int to_dominant = 2;        ///< tonic to dominant, skipping the subdominant
    int back_to_tonic = 4;      ///< subdominant straight back to the tonic
    int same_function = 4;      ///< a change within one function (C to Am)
};

/// What the model harmonises: the melody (each note starting where the previous one
/// ends, from tick 0), its scale and the locks. It views the notes, durations and locks
/// it is given: they outlive the request.
struct ChordRequest {
    std::span<const int> notes;  ///< MIDI note numbers
    std::span<const int> ticks;  ///< durations, as many as notes (negative ones count 0)
    std::span<const int> rests;  ///< the silence after each note: none, or one per note
    Scale scale;
    std::span<const Lock> locks;  ///< locks past the last slot are ignored; the last
                                  ///< of two at one slot wins
    ChordWeights weights;
};

/// The request for a composed melody: its notes, durations and rests, its mode's scale.
ChordRequest request_for(const notation::Melody& melody, std::span<const Lock> locks = {});

/// The chords chosen: one per slot.
struct Harmony {
    std::vector<Chord> chords;  ///< one per slot
    std::int64_t cost = 0;      ///< sequence_cost of the choice
};

/// The number of slots of a melody: its length rounded up to whole slots (0 for none).
int slot_count(const ChordRequest& request);

/// The chords a slot may take: the lock's chord at a locked slot; at the last slot
/// the chords built on the melody's final note (when the scale has one); elsewhere
/// chord_vocabulary(scale).
std::vector<Chord> slot_candidates(const ChordRequest& request, int slot);

/// The best chord sequence: every slot takes one of its candidates and the total of
/// sequence_cost is the least; equals are settled by a fixed order, so the same
/// request always gives the same chords.
Harmony choose_chords(const ChordRequest& request);

/// The cost of a chord sequence (one chord per slot): each chord's fit to the notes
/// under it and its kind, each change with its function and place, and the runs.
std::int64_t sequence_cost(const ChordRequest& request, std::span<const Chord> chords);

/// choose_chords again after an edit of the notes sounding in [from_tick, to_tick):
/// only the slots they touch may change, at most `max_changed` of them from the one
/// holding from_tick; every other slot keeps its chord from `previous`.
Harmony choose_chords_near(const ChordRequest& request, const Harmony& previous,
                           std::int64_t from_tick, std::int64_t to_tick, int max_changed = 2);

/// The chords of the vocabulary at one slot, best first, with the neighbours of
/// `current` kept: what a chord's menu offers there.
std::vector<Chord> chord_choices(const ChordRequest& request, const Harmony& current, int slot);

/// A chord where it starts sounding.
struct ChordChange {
    std::int64_t tick = 0;
    Chord chord;
    bool operator==(const ChordChange&) const = default;
};

/// The chords as they change: the first slot's chord and each slot whose chord
/// differs from the one before, with their start ticks.
std::vector<ChordChange> chord_changes(const Harmony& harmony);

}  // namespace quavella::harmony
