// Four-sentence shaping of a merged phrase layout.
//
// Splits and promotions happen at most three times each (a merged layout holds
// at least one STC_END), so each is a plain scan of the layout. Joins can run
// tens of thousands of times on long lyrics; they keep the sentence totals in a
// linked list and the neighbour pairs in a min-heap, so each join costs
// O(log S) instead of a rescan of the whole layout.
#include "lyrics/four_stc.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <queue>
#include <tuple>
#include <vector>

namespace quavella {
namespace {

constexpr int kFourStc = 4;

std::int32_t clamp_val(std::int64_t v) {
    constexpr std::int64_t lo = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t hi = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(v, lo, hi));
}

void pauses_to_ends(PhraseLayout& layout) {
    std::replace(layout.begin(), layout.end(), STC_PAUSE, STC_END);
}

/// Splits the largest value (the first on ties) into h, STC_END, c - h with h = c / 2.
void split_largest(PhraseLayout& layout) {
    if (layout.empty()) return;
    const auto it = std::max_element(layout.begin(), layout.end());  // first of the largest
    const std::int32_t c = *it;
    const std::int32_t h = c / 2;  // truncates toward zero: -1 gives 0
    const auto pos = it - layout.begin();
    *it = h;
    const std::int32_t tail[2] = {STC_END, c - h};
    layout.insert(layout.begin() + pos + 1, std::begin(tail), std::end(tail));
}

/// Turns the pause with the highest neighbour sum into STC_END (the first on
/// ties). A pause in the first position is no candidate, and neither is one in
/// the last position (the layout always ends with STC_END). Returns false when
/// there is no candidate.
bool promote_best_pause(PhraseLayout& layout) {
    std::size_t best = 0;
    std::int64_t best_score = 0;
    bool found = false;
    for (std::size_t i = 1; i + 1 < layout.size(); ++i) {
        if (layout[i] != STC_PAUSE) continue;
        const std::int64_t score = std::int64_t{layout[i - 1]} + layout[i + 1];
        if (!found || score > best_score) {
            best = i;
            best_score = score;
            found = true;
        }
    }
    if (found) layout[best] = STC_END;
    return found;
}

/// Joins the lightest neighbouring sentences until `target` sentences are left.
/// Returns the number of joins made.
int join_lightest(PhraseLayout& layout, int target) {
    // Sentence k: its total and the position of the STC_END that ends it.
    std::vector<std::int64_t> total;
    std::vector<std::size_t> end_pos;
    std::int64_t run = 0;
    for (std::size_t i = 0; i < layout.size(); ++i) {
        if (layout[i] == STC_END) {
            total.push_back(run);
            end_pos.push_back(i);
            run = 0;
        } else {
            run += layout[i];
        }
    }
    const std::size_t cnt = total.size();
    if (cnt <= static_cast<std::size_t>(target) || target < 1) return 0;

    // Live sentences form a doubly linked list in their original order. A
    // joined sentence keeps the index of its left half, so comparing indices
    // still compares positions in the layout.
    constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    std::vector<std::size_t> next(cnt), prev(cnt);
    for (std::size_t k = 0; k < cnt; ++k) {
        next[k] = k + 1 < cnt ? k + 1 : kNone;
        prev[k] = k > 0 ? k - 1 : kNone;
    }
    std::vector<bool> alive(cnt, true);

    // Heap entry: pair total, left sentence, right sentence. The smallest total
    // comes first, then the smallest left index: the first pair on ties.
    // Entries go stale when a join changes a total or a neighbour; a stale entry
    // is recognised on the way out and skipped.
    using Pair = std::tuple<std::int64_t, std::size_t, std::size_t>;
    std::vector<Pair> init;
    init.reserve(cnt - 1);
    for (std::size_t k = 0; k + 1 < cnt; ++k) init.emplace_back(total[k] + total[k + 1], k, k + 1);
    std::priority_queue<Pair, std::vector<Pair>, std::greater<Pair>> heap(std::greater<Pair>{},
                                                                          std::move(init));
    const auto current = [&](const Pair& p) {
        const auto& [sum, k, j] = p;
        return alive[k] && next[k] == j && total[k] + total[j] == sum;
    };

    int joins = 0;
    std::size_t live = cnt;
    while (live > static_cast<std::size_t>(target) && !heap.empty()) {
        const Pair top = heap.top();
        heap.pop();
        if (!current(top)) continue;
        const std::size_t k = std::get<1>(top);
        const std::size_t j = std::get<2>(top);
        // The end of sentence k becomes a pause inside the joined sentence.
        layout[end_pos[k]] = STC_PAUSE;
        total[k] += total[j];
        end_pos[k] = end_pos[j];
        alive[j] = false;
        next[k] = next[j];
        if (next[k] != kNone) {
            prev[next[k]] = k;
            heap.emplace(total[k] + total[next[k]], k, next[k]);
        }
        if (prev[k] != kNone) heap.emplace(total[prev[k]] + total[k], prev[k], k);
        --live;
        ++joins;
    }
    return joins;
}

}  // namespace

int fit_four_stc(PhraseLayout& layout, int stc_cnt, int pause_cnt) {
    const long long m = static_cast<long long>(stc_cnt) + pause_cnt;
    if (stc_cnt == kFourStc) return stc_cnt;
    if (stc_cnt > kFourStc) return stc_cnt - join_lightest(layout, kFourStc);
    if (m == kFourStc) {
        pauses_to_ends(layout);
    } else if (m < kFourStc) {
        pauses_to_ends(layout);
        for (long long i = m; i < kFourStc; ++i) split_largest(layout);
    } else {
        for (int i = stc_cnt; i < kFourStc; ++i) {
            if (!promote_best_pause(layout)) break;
        }
    }
    return stc_cnt;
}

PhraseLayout stc_totals(const PhraseLayout& layout) {
    PhraseLayout totals;
    std::int64_t run = 0;
    for (const std::int32_t v : layout) {
        if (v == STC_END) {
            totals.push_back(clamp_val(run));
            run = 0;
        } else {
            run += v;
        }
    }
    return totals;
}

}  // namespace quavella
