// Lyrics as hex digits: the form in which a lyric text travels on a command line (the
// lyrics of `quavella-cli compose --lyrics-hex`, and the new words of a word edit), the
// same on screen and in every shell whatever bytes the text holds.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quavella {

/// Two lowercase hex digits per byte of `lyrics`.
std::string lyrics_hex(std::string_view lyrics);

/// Decodes hex digits (either case), two per byte.
/// @return nothing when the length is odd or a character is not a hex digit
std::optional<std::string> parse_lyrics_hex(std::string_view hex);

}  // namespace quavella
