// Text from users (lyrics, file names, history rows) made safe to print on a terminal:
// what a terminal would act on instead of show is written as a visible escape. Used by
// every line quavella-cli prints from user data.
#pragma once

#include <string>
#include <string_view>

namespace quavella {

/// The text with every character a terminal would act on shown as a visible escape:
/// C0 controls and DEL as \xHH (ESC as \x1B), C1 controls, the bidirectional
/// embeddings, overrides, isolates and marks as <U+XXXX>, bytes that are not UTF-8
/// as \xHH. Everything else, backslashes included, is left as it is.
/// @param keep_newlines keep line feeds, for text made of lines
std::string terminal_text(std::string_view text, bool keep_newlines = false);

}  // namespace quavella
