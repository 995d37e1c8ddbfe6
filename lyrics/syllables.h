// Syllable texts: the piece of the lyric text that each note of the melody
// sings. Built beside Paragraph from the same GBK text; the score, the exports
// and the tone check read them. The k-th entry belongs to the k-th note.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quavella {

/// The text one note sings, and what follows it in the shaped layout.
struct SyllableText {
    std::string text;           ///< GBK bytes sung on this note; empty for a continuation
    bool continuation = false;  ///< the note prolongs the previous syllable (a melisma)
    bool pause_after = false;   ///< a pause follows this syllable inside its sentence
    bool sentence_end = false;  ///< this syllable ends its sentence
    int sentence = 0;           ///< sentence of the shaped layout, 0..3
};

/// Gives each note the composer makes from Paragraph(gbk_text).get_layout() its text.
/// Any byte string is accepted. The result has exactly one entry per note, and the
/// texts joined in order hold every character of the lyrics except the delimiters
/// and the ignored marks (when there is at least one note to carry them).
///
/// Each word of the scan, counted k, is cut into units: each double-byte character
/// alone, each run of ASCII characters together. Unit i goes to note i; with more
/// units than notes the last note sings the rest, with fewer the extra notes are
/// continuations (so a Latin word counted 3 is sung on its first note and held over
/// two more). A word counted 0 gives its text to the previous sung syllable, or to
/// the first one when it comes before any. Characters are read as GBK characters in
/// order, so one whose second byte is below 0x80 stays whole.
/// @param gbk_text the lyric text in GBK, lines already joined
std::vector<SyllableText> syllable_texts(std::string_view gbk_text);

}  // namespace quavella
