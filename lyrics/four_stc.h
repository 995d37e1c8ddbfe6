// Four-sentence shaping: rewrites a merged phrase layout so that it holds
// exactly four STC_END values (pauses promoted, segments split or sentences joined).
// Paragraph runs it once while it is built; the composer needs four sentences.
//
// Glossary: stc = sentence, cnt = count. Sentence k ends at the (k+1)-th STC_END.
#pragma once

#include "lyrics/phrase_layout.h"

namespace quavella {

/// Reshapes a merged layout to exactly four sentences, in place.
/// @param layout a layout as merge_runs leaves it (non-empty, ends with STC_END)
/// @param stc_cnt the number of STC_END values in layout
/// @param pause_cnt the number of STC_PAUSE values in layout
/// @return stc_cnt lowered by one for each join (the other cases return it unchanged)
int fit_four_stc(PhraseLayout& layout, int stc_cnt, int pause_cnt);

/// Sums every sentence of a layout, one total per STC_END, in order.
/// Pauses add 0, the ending STC_END is not counted; values after the last STC_END are ignored.
/// @param layout any phrase layout
/// @return the sentence totals (clamped to the 32-bit range)
PhraseLayout stc_totals(const PhraseLayout& layout);

}  // namespace quavella
