// Paragraph: the analysis of the lyrics of one musical paragraph. Built by the
// compose command from the GBK lyric text; the composer receives a copy of its
// four-sentence phrase layout (get_layout).
//
// Glossary: stc = sentence, cnt = count, val = layout value, avg = average.
// Members without a trailing underscore (text, stc_cnt, val_sum, ...) are the documented names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "lyrics/phrase_layout.h"

namespace quavella {

class Paragraph {
public:
    /// Analyses the lyric text: word scan, run merge, four-sentence shaping, measures.
    /// Any byte string is accepted; the layout always ends up with four sentences.
    /// @param gbk_text the lyric text in GBK, lines already joined; it is copied
    explicit Paragraph(std::string_view gbk_text);

    /// Returns an independent copy of the shaped layout.
    PhraseLayout get_layout() const;

    /// Returns the lyric text as it was given.
    const std::string& get_text() const { return text; }

    /// Returns the sum of all shaped layout values (STC_END counts -1).
    std::int32_t get_val_sum() const { return val_sum; }

    /// Returns val_sum / stc_cnt, truncated toward zero.
    std::int32_t get_val_avg() const { return val_avg; }

    /// Returns the number of sentences of the shaped layout (always 4).
    std::int32_t get_stc_cnt() const { return stc_cnt; }

    /// Returns the number of pauses of the merged layout, counted before shaping.
    std::int32_t get_pause_cnt() const { return pause_cnt; }

private:
    void scan_lyrics();
    void merge_runs();
    void fit_four_stc();
    PhraseLayout stc_totals() const;

    std::string text;
    std::int32_t val_sum = 0;
    std::int32_t val_avg = 0;
    std::int32_t stc_cnt = 0;
    std::int32_t pause_cnt = 0;
    PhraseLayout layout;
};

}  // namespace quavella
