// Edits of a composed melody and their text form: what the score window's keys
// and buttons do to a melody, kept as a list that `quavella-cli compose --edits`
// replays byte for byte and the history stores beside the composition.
//
// The text form, items separated by commas (notes and sentences counted from 1):
//   12+  12-      note 12 one step of the mode's scale up / down
//   12+h 12-h     note 12 one semitone up / down
//   12+o 12-o     note 12 one octave up / down
//   12:67         note 12 set to MIDI note 67
//   s2:S:T        sentence 2 taken from the composition made from generator state S:T
//   fix           修正倒字: the fewest pitch changes that leave no contrary pair
//   suit          全部契合: the fewest pitch changes that make every pair good or fair
//   beat          对齐节拍: the fewest unit changes of note lengths that put every line
//                 end on a strong beat, a beat long at least
//   12d+ 12d-     note 12 one unit longer / shorter (the unit: time_unit of the note count)
//   12r+ 12r-     a rest of one unit more / less after note 12
//   w:HEX         new words, the melody kept: HEX is the lyric text as `quavella-cli
//                 compose --lyrics-hex` takes it (UTF-8 lines joined by a line feed, two
//                 hex digits a byte); a sentence whose syllable count is unchanged keeps
//                 its notes, one whose count changed is composed anew
//   k5+           the chord of slot 5 (half bars, from 1) locked as it is
//   k5-           the chord of slot 5 unlocked (it stays until chords are chosen again)
//   k5:7:1        slot 5 set to the chord on root pitch class 7 (C = 0) of kind 1 (the
//                 order of harmony::ChordKind: major, minor, sus2, sus4, minor7-no5) and
//                 locked; the unlocked chords beside it are chosen again
//   kr            every unlocked chord chosen again, the locked ones kept
// It holds only letters, digits and "+-:,", which every common shell takes literally
// (so no "<" or ">", which a shell reads as a redirection).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "composer/draws.h"
#include "harmony/chords.h"

namespace quavella::edit {

enum class EditKind : std::uint8_t {
    step,               ///< one step of the mode's scale
    semitone,           ///< one semitone
    octave,             ///< twelve semitones
    pitch,              ///< a MIDI note number
    sentence,           ///< a sentence of another composition of the same lyrics and settings
    fix_tones,          ///< 修正倒字
    suit_tones,         ///< 全部契合
    lengthen,           ///< a note one unit longer; the notes after it move
    shorten,            ///< a note one unit shorter, never below one unit
    add_rest,           ///< one unit of rest more after a note
    remove_rest,        ///< one unit of rest less after a note
    fix_rhythm,         ///< 对齐节拍
    words,              ///< new words, the melody kept where their syllables allow
    lock_chord,         ///< a slot's chord locked as it is
    unlock_chord,       ///< a slot's lock taken away, its chord kept
    set_chord,          ///< a slot's chord set and locked, the unlocked ones beside it chosen again
    regenerate_chords,  ///< every unlocked chord chosen again with the locks kept
};

/// One edit of a melody.
struct Edit {
    Edit() = default;
    /// An edit of `edit_kind`; for a note edit, of note `at` by (or to) `by`.
    explicit Edit(EditKind edit_kind, int at = 0, int by = 0)
        : kind(edit_kind), note(at), amount(by) {}

    EditKind kind = EditKind::step;
    int note = 0;      ///< the note, from 0 (step, semitone, octave, pitch, lengths and rests)
    int amount = 0;    ///< +1 or -1 for a move; the MIDI note number for `pitch`
    int sentence = 0;  ///< the sentence, from 0 (sentence)
    Generators::State state;  ///< the generators' state the sentence comes from (sentence)
    /// The new lyric text (words): the lyric box's lines as typed, UTF-8, joined by "\n".
    std::string words;
    int slot = 0;          ///< the chord slot, from 0 (lock_chord, unlock_chord, set_chord)
    harmony::Chord chord;  ///< the chord set (set_chord)

    bool operator==(const Edit&) const = default;
};

/// Most items one edit list may hold: a list is typed or replayed by people, and
/// each sentence item composes a whole melody.
inline constexpr std::size_t kMaxEdits = 10000;
/// Most bytes of the words a word edit carries, as typed (line ends included): 32 KiB,
/// about 10,000 Chinese characters, five times the longest song. Half of what a lyric
/// may be (kMaxLyricBytes): a word item ("w:" and two hex digits a byte) then stays one
/// argument of a command line, which Linux bounds at 128 KiB.
inline constexpr std::size_t kMaxWordBytes = 32 * 1024;
/// Most bytes of one word item's text: "w:" and the hex digits of the longest words.
inline constexpr std::size_t kMaxWordItemBytes = 2 + 2 * kMaxWordBytes;
/// Most bytes of one edit list's text: kMaxEdits of the longest other items (a sentence
/// item with the largest state takes 34 bytes, and a comma) with room to spare, and room
/// for eight word items of the longest words. Numbers padded with zeros cannot make a
/// list longer than that.
inline constexpr std::size_t kMaxEditsBytes = kMaxEdits * 40 + 8 * (kMaxWordItemBytes + 1);

/// The text form of one edit, as in the list above.
std::string edit_text(const Edit& edit);

/// The text form of a list: the items joined by commas; empty for no edits.
std::string edits_text(const std::vector<Edit>& edits);

/// What parse_edits made of a text.
struct ParsedEdits {
    std::vector<Edit> edits;  ///< the items in order; empty when `error` is set
    std::string error;        ///< why the text was refused, naming the item; empty when read
    std::size_t item = 0;     ///< with an error: the faulty item, from 1 (0: the list as a whole)
};

/// Reads an edit list. Checks its form only: whether a note or a sentence exists
/// is checked when the edit is applied to a melody.
/// Spaces around items are ignored; an empty text is an empty list.
ParsedEdits parse_edits(std::string_view text);

/// The message naming a faulty item: `item 3 "12+x": <reason>`. The item's text is
/// shown as typed; callers printing it to a terminal neutralise it.
std::string item_message(std::size_t item, std::string_view item_text, std::string_view reason);

}  // namespace quavella::edit
