// Text as the exports write it: lyric syllables and titles made into valid
// UTF-8 that XML 1.0 and MIDI text events can carry. Used by the MusicXML and
// lyric MIDI exports, so both show the same syllables.
#pragma once

#include <string>
#include <string_view>

#include "notation/score.h"

namespace quavella::exports {

/// Cleans a text for export: every byte that is not part of a valid UTF-8
/// sequence becomes U+FFFD; control characters (C0, DEL, C1) and the
/// non-characters U+FFFE and U+FFFF are dropped; blanks at both ends are trimmed.
/// @param text UTF-8 text, possibly damaged
/// @return printable UTF-8, possibly empty
std::string export_text(std::string_view text);

/// The syllable a note carries in the exports.
/// @return the cleaned text; empty for a continuation and for a syllable with
///         nothing printable
std::string sung_text(const notation::Lyric& lyric);

}  // namespace quavella::exports
