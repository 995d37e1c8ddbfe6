// The tones of the sung syllables of a lyric as they are spoken in context:
// the tone of each character's reading in the word it stands in (its customary
// reading where no word says otherwise), then the tone changes of Mandarin
// (third-tone sandhi, 一 and 不). The tone grading reads them.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "lyrics/syllables.h"
#include "tones/tone_table.h"

namespace quavella {

/// The tone of one entry of the syllable texts.
struct SyllableTone {
    Tone citation = Tone::none;  ///< the tone of the character's reading in its word
    Tone sung = Tone::none;      ///< the tone after the tone changes; graded
    /// The word (GBK) whose reading gave `citation`; empty when it is the tone of
    /// the character's customary reading.
    std::string word;
};

/// Gives every syllable its tone. Continuations, texts without a Chinese
/// reading, and the neighbours they separate are left as they are.
///
/// A character with several readings is read by its word (word_tones.h) among
/// the syllables of its phrase: 地 is dì in 大地, 长 cháng in 长城.
///
/// The changes look at the next syllable of the same phrase: the syllables of
/// one sentence up to a pause or the sentence end, continuations skipped.
/// - 一 (yī) becomes the second tone before a fourth, the fourth before any
///   other tone; it keeps the first tone at the end of a phrase, after 第 and
///   next to another digit (第一, 十一, 一二三), and turns neutral between a
///   repeated syllable (看一看).
/// - 不 (bù) becomes the second tone before a fourth and neutral between a
///   repeated syllable (好不好).
/// - Third-tone sandhi: a third tone before a third tone is sung as a second.
///   A run of third tones rises on all but its last syllable (展览馆: 2 2 3),
///   the usual reading when the words of the run are not known.
/// The changes of 一 and 不 look at the citation tone of the next syllable.
/// @param syllables the syllable texts, one per note
/// @return one entry per syllable text
std::vector<SyllableTone> syllable_tones(std::span<const SyllableText> syllables);

}  // namespace quavella
