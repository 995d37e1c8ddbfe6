// Lyric tokenizer: the word scan that turns GBK lyric bytes into a phrase
// layout, and the run merge that folds neighbouring counts into segments.
// Paragraph runs both; they are free functions so each stage can be tested alone.
//
// Glossary: stc = sentence, cnt = count, val = layout value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "lyrics/phrase_layout.h"

namespace quavella {

/// Scans GBK lyric bytes into word syllable counts, pauses and sentence ends.
/// Any byte string is accepted; the result is never empty and ends with STC_END.
/// @param gbk_text the lyric text, lines already joined
/// @return the unmerged layout
PhraseLayout scan_lyrics(std::string_view gbk_text);

/// One word of the scan: the count it wrote and the offset of the byte that ended it.
struct ScannedWord {
    std::int32_t count;  ///< syllables, as written to the layout (0 for some one-byte words)
    std::size_t end;     ///< offset of the delimiter byte that flushed it; the text's size
                         ///< for the word still open at the end
};

/// Runs the same word scan as scan_lyrics and lists its words in order, so
/// each count of the layout can be traced back to the stretch of text it
/// came from (a word holds bytes from the previous word's end up to its own).
/// @param gbk_text the lyric text, lines already joined
std::vector<ScannedWord> scan_words(std::string_view gbk_text);

/// Merges each run of counts between two markers into one segment, in place.
/// Every 0 is treated as a marker (STC_PAUSE); a run left after the last marker is dropped.
/// @param layout the layout of scan_lyrics, rewritten in place
void merge_runs(PhraseLayout& layout);

}  // namespace quavella
