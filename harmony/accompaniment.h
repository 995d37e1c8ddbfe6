// The accompaniment under a melody: its chords voiced in three voices and a bass,
// each voice moving to the nearest chord tone, below the melody and quieter than
// it, in one of three patterns; and the arrangement file that plays melody and
// accompaniment together.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "harmony/chord_model.h"
#include "midi/kept_error_write.h"
#include "notation/score.h"

namespace quavella::harmony {

/// How the chords are played.
enum class Pattern : std::uint8_t {
    block,   ///< the chord struck on beats 1 and 3, held for two beats
    broken,  ///< a broken chord in eighths: bass, then the voices up and down
    pad,     ///< a bass note on beats 1 and 3 under the chord held while it lasts
};

/// The patterns' names as the command line takes them: "block", "broken", "pad".
const char* pattern_name(Pattern pattern);
/// The pattern of a name, or nothing.
std::optional<Pattern> pattern_of(std::string_view name);

/// Velocities of the accompaniment: below the melody's 95.
inline constexpr int kChordVelocity = 60;
inline constexpr int kBassVelocity = 70;

/// The lowest and highest notes the chord voices take, and the bass's range.
inline constexpr int kVoiceFloor = 43;    // G2
inline constexpr int kVoiceCeiling = 60;  // C4: never above the melody's lowest note there
inline constexpr int kBassFloor = 33;     // A1
inline constexpr int kBassCeiling = 45;   // A2

/// One note of the accompaniment.
struct AccompanimentNote {
    std::int64_t start = 0;  ///< ticks from the start
    int ticks = 0;
    int key = 0;
    int velocity = 0;
    bool operator==(const AccompanimentNote&) const = default;
};

/// The voicing of each slot: the bass and three voices, ascending. Each voice moves
/// to the nearest tone of the next chord (the three tones shared out so that the
/// voices move least in all), every voice below the lowest melody note sounding in
/// the slot and at most kVoiceCeiling.
struct Voicing {
    int bass = 0;
    std::array<int, 3> voices{};
};
/// @param rests the silence after each note (empty: none), as notation::Melody::rests
std::vector<Voicing> voice_chords(const Harmony& harmony, std::span<const int> notes,
                                  std::span<const int> ticks, std::span<const int> rests = {});

/// The accompaniment of a melody in a pattern, sorted by start then key.
std::vector<AccompanimentNote> accompany(const notation::Melody& melody, const Harmony& harmony,
                                         Pattern pattern);

/// What an arrangement file holds besides the melody.
struct ArrangementSettings {
    Pattern pattern = Pattern::block;
    int program = 0;  ///< the accompaniment's General MIDI program, 0-based
};

/// The accompaniment's MIDI channel (the third; the melody plays on the second).
inline constexpr int kAccompanimentChannel = 2;

/// Writes the accompaniment into the open track of `out`: its program change, then its
/// notes on kAccompanimentChannel in time order (at a shared tick, the notes ending first).
void write_accompaniment(KeptErrorWrite& out, std::span<const AccompanimentNote> notes,
                         int program);

/// The bytes of an arrangement file, or why it could not be made.
struct ArrangementFile {
    std::string bytes;
    std::string error;
};

/// The arrangement as a format 1 Standard MIDI File at 120 ticks per beat: track 1
/// the key signature and tempo of the composition file; track 2 "Melody", the
/// melody's program and notes on channel 2 exactly as the composition file plays
/// them; track 3 "Accompaniment", its program and notes on channel 3.
ArrangementFile arrangement_file(const notation::Melody& melody, const Harmony& harmony,
                                 const ArrangementSettings& settings);

}  // namespace quavella::harmony
