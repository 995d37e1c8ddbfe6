// MusicXML export of a finished score: one part, one voice, the syllables as
// lyrics. Notation programs open it to arrange the melody; the score window
// and the command line write it.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/staged_file.h"
#include "harmony/chord_model.h"
#include "notation/score.h"

namespace quavella::exports {

/// How a notation program is told to write and play a timbre: its instrument
/// sound (MusicXML's standard sound names), clef and written octave.
struct Voicing {
    const char* sound;       ///< instrument-sound, e.g. "keyboard.piano"
    const char* clef_sign;   ///< "G" or "F"
    int clef_line;           ///< 2 for treble, 4 for bass
    int clef_octave_change;  ///< -1: an octave clef (G8vb) that reads as sounding pitch
    int octave_change;       ///< sounding = written + 12 * this (piccolo +1, bass -1)
};

/// The voicing of a General MIDI program: one of the composer's ten timbres
/// (piano, music box, organ, guitar, bass, violin, strings, trumpet, saxophone,
/// piccolo), or a treble-clef part at sounding pitch for any other program.
Voicing voicing_of(int program);

/// The date the exports record as their encoding date (YYYY-MM-DD, UTC): the
/// time SOURCE_DATE_EPOCH gives, when it is set to a whole number of seconds
/// (the reproducible builds convention), else today.
std::string encoding_date();

/// MusicXML's sound dynamics for a MIDI velocity: a percentage of the forte
/// velocity 90, two decimals ("105.56" for 95).
std::string sound_dynamics(int velocity);

/// The score as a MusicXML 4.0 score-partwise document in UTF-8: one part named
/// after the General MIDI instrument of the melody's program, with its
/// score-instrument (instrument-sound) and midi-instrument (channel 2, the
/// program), C major, 4/4, the clef and transposition of voicing_of(program),
/// the mode as a direction text ("调式: 五声调式"), a forte mark whose sound
/// dynamics is the melody's velocity, the tempo as a metronome mark and a sound
/// tempo, the title as work and movement title, the software and encoding date
/// in the identification. Notes follow the score's bars and ties; the first
/// glyph of a sung note carries its syllable, melismas an extension line,
/// sentence ends a breath mark.
/// @param date the encoding date; empty for encoding_date()
/// @param chords chord symbols to write above the notes: each a <harmony> (root, kind,
///        and an offset when it starts inside a written note) where it starts
/// @pre musicxml_refusal(score) is empty (a note it names would be written at the
///      nearest pitch MusicXML has)
std::string musicxml_document(const notation::Score& score, std::string_view date = {},
                              std::span<const harmony::ChordChange> chords = {});

/// The MusicXML kind of a chord ("major", "minor", "suspended-second",
/// "suspended-fourth", "minor-seventh"), and whether its fifth is left out.
struct HarmonyKind {
    const char* kind;
    const char* text;  ///< the kind's own spelling on the symbol: "", "m", "sus2", ...
    bool no_fifth;
};
HarmonyKind harmony_kind(harmony::ChordKind kind);

/// Why a score cannot be written as MusicXML, naming the first note that cannot: its
/// written pitch (its sound for most timbres; an octave above it for the bass, below it
/// for the piccolo) lies outside the octaves 0 to 9 MusicXML has, C0 to B9. A melody
/// composed has none; an edited one may ("--edits 1:0"). Nothing when it can be written.
std::optional<std::string> musicxml_refusal(const notation::Score& score);

/// Writes musicxml_document(score, date) to `file`, replacing it; a score that
/// musicxml_refusal refuses is not written.
/// @return the reason, naming the file, when it could not be written completely
std::optional<std::string> write_musicxml(const notation::Score& score,
                                          const std::filesystem::path& file,
                                          std::string_view date = {},
                                          std::span<const harmony::ChordChange> chords = {});
/// The same into a staged file's temporary; the caller commits it (with others).
std::optional<std::string> write_musicxml(const notation::Score& score, files::StagedFile& out,
                                          std::string_view date = {},
                                          std::span<const harmony::ChordChange> chords = {});

}  // namespace quavella::exports
