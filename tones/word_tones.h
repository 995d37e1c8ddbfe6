// Characters with several readings read by the word they stand in: 地 is dì in
// 大地 and de after an adverb, 长 cháng in 长城, 着 zháo in 睡着. A table
// generated at build time from a word dictionary holds the words that give such a
// character a tone other than that of its customary reading (and the words that
// keep its customary tone where a shorter word would change it).
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "tones/tone_table.h"

namespace quavella {

/// The tone a word gives one character of a phrase.
struct WordTone {
    Tone tone = Tone::none;      ///< the word's tone; `none` when no word of the table settles it
    std::size_t word_first = 0;  ///< index in the phrase of the word's first character
    std::size_t word_size = 0;   ///< the word's length in characters; 0 with `none`
};

/// Reads the characters of one phrase by their words. The longest word of the
/// table around a character reads it; of two as long, the one that starts first.
/// A character that word leaves to its customary reading, or that no word covers,
/// gets `none`: its tone is that of `gbk_char_tone`.
/// @param chars the phrase's characters in order, each two GBK bytes; an entry
///        of any other length stands in no word
/// @return one entry per character
std::vector<WordTone> word_tones(std::span<const std::string_view> chars);

}  // namespace quavella
