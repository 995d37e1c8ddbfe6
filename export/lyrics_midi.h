// MIDI export with lyrics: the composition's tracks, timing and notes, plus the
// syllables as lyric events, for karaoke players, sequencers and notation
// programs. The score window and the command line write it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "base/staged_file.h"
#include "notation/score.h"

namespace quavella::exports {

/// The text event that tells readers how the lyric and name texts are encoded.
/// The leading "@I" marks it as information in the karaoke convention: readers
/// that take text events as lyrics (MuseScore 3's MIDI import does, ahead of
/// the lyric events) skip it.
inline constexpr const char* kLyricsEncodingText = "@Icharset=UTF-8";

/// Writes the melody as a format 1 Standard MIDI File at 120 ticks per beat.
/// Track 1 holds the title as track name, kLyricsEncodingText as a text event,
/// then the key signature, tempo and program change of the composition file.
/// Track 2 repeats the program change (programs assign instruments per track)
/// and holds the notes on channel 2 at velocity 95, each starting where the
/// previous one ends, with the UTF-8 syllable as a lyric event (FF 05) at the
/// start of every sung note, in the convention karaoke displays read: a space
/// ends each Latin word, a carriage return each line (sentence); see
/// lyric_event_text.
/// @return the reason, naming the file, when it could not be written completely
std::optional<std::string> write_lyrics_midi(const notation::Score& score,
                                             const std::filesystem::path& file);
/// The same into a staged file's temporary; the caller commits it (with others).
std::optional<std::string> write_lyrics_midi(const notation::Score& score, files::StagedFile& out);

}  // namespace quavella::exports
