// Karaoke: the syllables laid out in words and lines as karaoke displays show
// them, and the Soft Karaoke (.kar) file. The lyric MIDI export, the score
// window and the command line use it.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/staged_file.h"
#include "harmony/accompaniment.h"
#include "notation/score.h"

namespace quavella::exports {

/// One sung syllable of a karaoke display.
struct KaraokeSyllable {
    std::size_t note = 0;     ///< index of the note that sings it
    std::string text;         ///< the exported syllable (sung_text), UTF-8
    bool word_end = false;    ///< a Latin word (ends in ASCII): a space follows it
    bool line_start = false;  ///< the first syllable of its line
    bool line_end = false;    ///< the last syllable of its line (a sentence ends with it)
    bool paragraph_end =
        false;     ///< the last syllable of a paragraph: two lines, or the song's last
    int line = 0;  ///< 0-based line, one per sentence
};

/// The syllables of the melody with text, in order. A line is a sentence; when
/// its last notes are melismas, the line ends with the last syllable sung before
/// them. A melody that stops without a sentence end still ends its last line.
/// Lines pair into paragraphs (screens): lines 1-2, 3-4, ...
std::vector<KaraokeSyllable> karaoke_syllables(const notation::Melody& melody);

/// The text of a lyric event (FF 05) for a syllable, in the convention of MIDI
/// lyric events: the syllable, a space after a word, a carriage return (0D) at
/// the end of a line, a line feed (0A) instead at the end of a paragraph.
std::string lyric_event_text(const KaraokeSyllable& syllable);

/// The text of a syllable in a Soft Karaoke words track: "\" (new paragraph)
/// before the first syllable of a paragraph, "/" (new line) before the first
/// syllable of its second line, a space after a word.
/// Characters the format reserves ("/", "\" anywhere, "@" first) become their
/// full-width forms, so a syllable cannot break a line or read as a tag.
std::string kar_text(const KaraokeSyllable& syllable);

/// An accompaniment played with the melody of a karaoke file.
struct KaraokeAccompaniment {
    std::vector<harmony::AccompanimentNote> notes;
    int program = 0;
};

/// Writes the melody as a Soft Karaoke file (.kar): a format 1 Standard MIDI
/// File at 120 ticks per beat, laid out as Soft Karaoke players expect: track 1
/// the title as track name, the key signature and the tempo; track 2 the header
/// text events "@KMIDI KARAOKE FILE", "@V0100" and "@I" lines (the software,
/// the text encoding: UTF-8); track 3, named "Words", the title lines
/// "@T<first sentence>" and "@TQuavella", then each syllable as a text event
/// (kar_text) at the start of its note; track 4 the program change and the
/// notes on channel 2 at velocity 95.
/// With an accompaniment (an arrangement's), track 5 holds it: its program and notes on
/// channel 3.
/// @return the reason, naming the file, when it could not be written completely
std::optional<std::string> write_karaoke(const notation::Score& score,
                                         const std::filesystem::path& file,
                                         const KaraokeAccompaniment* accompaniment = nullptr);
/// The same into a staged file's temporary; the caller commits it (with others).
std::optional<std::string> write_karaoke(const notation::Score& score, files::StagedFile& out,
                                         const KaraokeAccompaniment* accompaniment = nullptr);

}  // namespace quavella::exports
