// Paragraph construction: runs the tokenizer and the shaping, then takes the measures.
#include "lyrics/paragraph.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <numeric>

#include "base/qassert.h"
#include "lyrics/four_stc.h"
#include "lyrics/lyric_scan.h"

namespace quavella {
namespace {

std::int32_t count_of(const PhraseLayout& layout, std::int32_t value) {
    return static_cast<std::int32_t>(std::count(layout.begin(), layout.end(), value));
}

}  // namespace

Paragraph::Paragraph(std::string_view gbk_text) : text(gbk_text) {
    val_sum = 0;
    layout.reserve(100);
    scan_lyrics();
    merge_runs();
    stc_cnt = count_of(layout, STC_END);
    pause_cnt = count_of(layout, STC_PAUSE);
    fit_four_stc();
    const std::int64_t sum = std::accumulate(layout.begin(), layout.end(), std::int64_t{0});
    val_sum = static_cast<std::int32_t>(std::clamp<std::int64_t>(
        sum, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
    stc_cnt = count_of(layout, STC_END);
    // The report quotes the expression as written: keep it unspaced.
    QV_ASSERT_TEXT("parag", stc_cnt > 0, "stc_cnt>0");
    val_avg = val_sum / stc_cnt;
}

PhraseLayout Paragraph::get_layout() const { return layout; }

void Paragraph::scan_lyrics() {
    layout = quavella::scan_lyrics(text);
    if (layout.capacity() < 100) layout.reserve(100);
}

void Paragraph::merge_runs() { quavella::merge_runs(layout); }

void Paragraph::fit_four_stc() { stc_cnt = quavella::fit_four_stc(layout, stc_cnt, pause_cnt); }

PhraseLayout Paragraph::stc_totals() const { return quavella::stc_totals(layout); }

}  // namespace quavella
