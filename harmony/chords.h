// Chords as values: a root pitch class and a kind, their tones, names and scale
// degree, and the chords a scale offers. The chord model chooses among them; the
// accompaniment voices them; the exports and the command line name them.
//
// Glossary: pc = pitch class (0 = C .. 11 = B); slot = half a bar (beats 1-2 or
// 3-4), the span one chord covers at most before it may change.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quavella::harmony {

/// The kinds of chord the model uses.
enum class ChordKind : std::uint8_t {
    major,       ///< root, major third, fifth
    minor,       ///< root, minor third, fifth
    sus2,        ///< root, second, fifth (where the triad's third is outside the scale)
    sus4,        ///< root, fourth, fifth
    minor7_no5,  ///< root, minor third, minor seventh: a root with no triad or sus chord
                 ///< inside the scale (E in the five-tone scale C D E G A)
};

/// A chord: its root pitch class and kind.
struct Chord {
    int root = 0;  ///< 0..11, C = 0
    ChordKind kind = ChordKind::major;
    bool operator==(const Chord&) const = default;
};

/// The pitch classes of a chord, root first (three of them).
std::array<int, 3> chord_tones(Chord chord);

/// True when `pc` (any integer, taken modulo 12) is one of the chord's tones.
bool is_chord_tone(Chord chord, int pc);

/// The chord symbol: "C", "Am", "Dsus2", "Gsus4", "Em7(no5)"; roots as sharps.
std::string chord_name(Chord chord);

/// The root's letter name: "C", "C#", ... "B".
const char* root_name(int pc);

/// The kind as the command line's JSON names it: "major", "minor", "sus2", "sus4",
/// "minor7-no5".
const char* kind_name(ChordKind kind);

/// The root's scale degree as numbered notation writes it (every scale of the
/// composer is built on C): 1 for C .. 7 for B; 0 for a root off the white keys.
int degree_of(Chord chord);

/// A set of pitch classes, bit pc set for each member.
struct Scale {
    std::uint16_t pcs = 0;
    bool contains(int pc) const { return (pcs >> (((pc % 12) + 12) % 12)) & 1u; }
    int size() const;
    /// The scale of these notes (MIDI note numbers), their pitch classes.
    static Scale of_notes(std::span<const std::int32_t> notes);
    bool operator==(const Scale&) const = default;
};

/// The scale of a composer mode (its table of notes, by mode number 0..3): the
/// model is keyed on the pitch classes, not on the list item naming the mode.
/// @return an empty scale for a mode without a table
Scale mode_pitch_classes(int mode);

/// The chords of a scale, every tone inside it: on each scale note as root, the
/// major and minor triads that fit; where neither fits, the sus2 and sus4 chords
/// that do; where none of those fits, the minor seventh without fifth. Ordered by
/// root from C, then by kind. Diminished triads are left out.
std::vector<Chord> chord_vocabulary(Scale scale);

/// The chords of chord_vocabulary built on `pc`.
std::vector<Chord> chords_on(Scale scale, int pc);

/// How a melody pitch class sounds against a chord: 0 when it is a chord tone, 1 when
/// it lies a semitone from one (a clash), 2 for any other non-chord tone.
int clash_class(Chord chord, int pc);

}  // namespace quavella::harmony
