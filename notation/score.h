// The melody in bars: a numbered-notation (jianpu) model of one finished
// composition with its syllables. Qt-free; the score window draws it, the
// command line prints it, the exports write it.
//
// Glossary: tick = 1/120 of a beat; bar = 480 ticks (4/4); degree = 1..7 for C..B.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lyrics/syllables.h"

namespace quavella {
struct ComposeOutcome;
}

namespace quavella::notation {

/// Ticks per beat of the score: those of the composition file (kCompositionTicksPerBeat,
/// composer/song.h), which score.cpp checks at compile time.
inline constexpr int kTicksPerBeat = 120;
inline constexpr int kBarTicks = 480;
/// The longest melody a score is written for: 2^26 ticks, about 140,000 bars (over 38
/// hours at 240 bpm), four times what the longest lyrics the program takes compose to;
/// notes past it are left out, so that no melody makes a score without end.
inline constexpr int kMaxScoreTicks = 1 << 26;

/// One sung syllable, UTF-8.
struct Lyric {
    std::string text;           ///< empty for a continuation
    bool continuation = false;  ///< sung on the previous syllable's vowel (extension line)
    bool pause_after = false;   ///< a pause follows inside the sentence
    bool sentence_end = false;  ///< ends its sentence: a breath mark follows the note
    int sentence = 0;           ///< 0..3
};

/// A finished composition, as the composer made it.
struct Melody {
    std::vector<int> notes;     ///< MIDI note numbers, one per sung note
    std::vector<int> ticks;     ///< duration of each note in ticks
    std::vector<Lyric> lyrics;  ///< one per note
    int tempo = 0;              ///< beats per minute
    int mode = 0;               ///< mode number 0..3
    int program = 0;            ///< General MIDI program, 0-based
    /// Ticks of silence after each note: empty when the melody has no rest (as every
    /// composed melody), else one per note. A note starts where the previous note and
    /// its rest end.
    std::vector<int> rests;
};

/// The silence after note `i` of `melody` in ticks: 0 when it has none (a negative
/// one counts 0).
inline int rest_after(const Melody& melody, std::size_t i) {
    return i < melody.rests.size() && melody.rests[i] > 0 ? melody.rests[i] : 0;
}

/// One written symbol of a bar: a note (or a piece of a tied note) or a rest.
struct Glyph {
    int note = -1;                ///< index of the sung note in Melody::notes; -1 for a rest
    int degree = 0;               ///< 1..7; 0 for a rest
    int octave = 0;               ///< dots: +1 one above, -1 one below (MIDI 60..71 is 0)
    bool sharp = false;           ///< a raised degree (#); the composer's scales have none
    int start = 0;                ///< ticks from the start of the bar
    int ticks = 0;                ///< written duration, including dashes and dot
    int underlines = 0;           ///< 1 for an eighth, 2 for a sixteenth, ...
    int dashes = 0;               ///< added beats written as dashes after the digit
    bool dotted = false;          ///< augmentation dot
    bool tie_to_next = false;     ///< tied to the next glyph, which continues the same note
    bool first = false;           ///< the first glyph of its note: it carries the syllable
    bool beam_with_next = false;  ///< underline continues to the next glyph (same beat)
};

struct Bar {
    std::vector<Glyph> glyphs;  ///< in time order; their ticks sum to kBarTicks
};

/// The whole score.
struct Score {
    std::string title;            ///< the first sentence, UTF-8
    Melody melody;                ///< what the score was built from
    std::vector<int> note_start;  ///< absolute start tick of each note (after the rests before it)
    std::vector<Bar> bars;        ///< the last bar is filled with rests
};

/// Full-width characters an A4 title line holds at a score's title size; a Latin
/// letter or digit counts half.
inline constexpr int kTitleWidth = 16;

/// The title printed on a score (window, PDF, MusicXML): `sentence` up to its first
/// punctuation or line break, shortened with "…" to kTitleWidth full-width characters.
/// The score's own `title` (the whole first sentence) is kept for the history.
/// @param sentence UTF-8; a malformed byte counts as one half-width character
std::string print_title(std::string_view sentence);

/// The melody of a finished composition with its syllables in UTF-8: the notes
/// and durations the composer returned, the syllable texts of the lyrics.
/// @param gbk_text the lyric text the composition was made from (GBK, lines joined)
/// @param outcome what compose_melody returned for it
Melody melody_from(std::string_view gbk_text, const ComposeOutcome& outcome);

/// The sung syllables of a melody in UTF-8, one per note: the syllable texts in
/// order, empty lyrics for notes beyond them.
/// @param syllables the lyric's syllable texts (GBK)
/// @param notes the melody's note count
std::vector<Lyric> lyrics_of(std::span<const SyllableText> syllables, std::size_t notes);

/// Builds the score: bars of 480 ticks, notes split at bar lines and where the
/// conventions do not let a note hide a beat, ties joining the pieces, the rests after
/// notes written as rests, the last bar filled with rests. Takes any
/// melody: note numbers outside 0..127 are written as the nearest of them, negative
/// durations as 0, and what lies past kMaxScoreTicks as 0.
Score build_score(Melody melody);

/// Index of the note sounding at `tick` (absolute), or -1 in a rest or past the end.
int note_at_tick(const Score& score, long tick);

/// The score as text for a terminal: a header line, then pairs of lines (the
/// notes of some bars, the syllables under them), East Asian wide characters
/// counted as two columns.
/// @param width the terminal width in columns
std::string score_text(const Score& score, int width = 80);

}  // namespace quavella::notation
