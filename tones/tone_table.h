// Mandarin tones of GBK characters, looked up in a table generated at build
// time from the customary kMandarin readings of the Unicode Han database.
// The tone check reads the tone of each sung syllable here.
#pragma once

#include <cstdint>
#include <string_view>

namespace quavella {

/// The tone of a syllable; `none` for a character with no Mandarin reading.
enum class Tone : std::uint8_t { none = 0, first = 1, second = 2, third = 3, fourth = 4, neutral };

/// The tone of the customary reading of one GBK double-byte character.
/// @param lead,trail the character's two bytes
/// @return its tone; `neutral` when the reading has no tone mark; `none` for a
///         character without a reading and for bytes that are no GBK pair
Tone gbk_char_tone(unsigned char lead, unsigned char trail);

/// The tone of a syllable's text: that of its first double-byte character with
/// a reading. Single bytes (Latin letters, digits, ASCII marks) have none.
/// @param gbk the text in GBK
/// @return the tone, or `none` when no character of the text has a reading
Tone text_tone(std::string_view gbk);

/// The tone's digit as pinyin numbers it: "1" to "4", "5" for neutral, "" for none.
std::string_view tone_digit(Tone tone);

}  // namespace quavella
