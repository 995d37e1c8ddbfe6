// MusicXML export of a finished score: one part, one voice, the syllables as
// lyrics. Notation programs open it to arrange the melody; the score window
// and the command line write it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "base/staged_file.h"
#include "notation/score.h"

namespace quavella::exports {

/// The score as a MusicXML 4.0 score-partwise document in UTF-8: one part named
/// after the General MIDI instrument of the melody's program, C major, 4/4, one
/// treble clef, the tempo as a metronome mark and a sound tempo, the title as
/// the work title. Notes follow the score's bars and ties; the first glyph of a
/// sung note carries its syllable, melismas an extension line, sentence ends a
/// breath mark.
std::string musicxml_document(const notation::Score& score);

/// Writes musicxml_document(score) to `file`, replacing it.
/// @return the reason, naming the file, when it could not be written completely
std::optional<std::string> write_musicxml(const notation::Score& score,
                                          const std::filesystem::path& file);
/// The same into a staged file's temporary; the caller commits it (with others).
std::optional<std::string> write_musicxml(const notation::Score& score, files::StagedFile& out);

}  // namespace quavella::exports
