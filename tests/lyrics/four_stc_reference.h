// The four-sentence shaping rules applied literally, as an independent
// reference for the fast implementation: every promotion and every join
// rescans the whole layout. Used by the shaping tests and the lyrics fuzz target.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "lyrics/phrase_layout.h"

namespace quavella::reference {

inline void split(PhraseLayout& l) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < l.size(); ++i) {
        if (l[i] > l[best]) best = i;
    }
    const std::int32_t c = l[best];
    const std::int32_t h = c / 2;
    l[best] = h;
    l.insert(l.begin() + static_cast<std::ptrdiff_t>(best) + 1, {STC_END, c - h});
}

inline bool promote(PhraseLayout& l) {
    std::size_t best = 0;
    std::int64_t best_score = 0;
    for (std::size_t i = 1; i + 1 < l.size(); ++i) {
        if (l[i] != STC_PAUSE) continue;
        const std::int64_t score = std::int64_t{l[i - 1]} + l[i + 1];
        if (best == 0 || score > best_score) {
            best = i;
            best_score = score;
        }
    }
    if (best == 0) return false;  // no candidate left
    l[best] = STC_END;
    return true;
}

inline void join(PhraseLayout& l) {
    std::vector<std::int64_t> totals;
    std::int64_t run = 0;
    for (const auto v : l) {
        if (v == STC_END) {
            totals.push_back(run);
            run = 0;
        } else {
            run += v;
        }
    }
    std::size_t best = 0;
    for (std::size_t k = 1; k + 1 < totals.size(); ++k) {
        if (totals[k] + totals[k + 1] < totals[best] + totals[best + 1]) best = k;
    }
    std::size_t ends = 0;
    for (auto& v : l) {
        if (v == STC_END && ends++ == best) {
            v = STC_PAUSE;
            break;
        }
    }
}

/// Shapes `l` (S = s, Z = z) as fit_four_stc does; -1 when a promotion finds no candidate.
inline int fit(PhraseLayout& l, int s, int z) {
    const int m = s + z;
    if (s == 4) return s;
    if (s > 4) {
        while (s != 4) {
            join(l);
            --s;
        }
        return s;
    }
    if (m <= 4) {
        std::replace(l.begin(), l.end(), STC_PAUSE, STC_END);
        for (int i = m; i < 4; ++i) split(l);
    } else {
        for (int i = s; i < 4; ++i) {
            if (!promote(l)) return -1;
        }
    }
    return s;
}

}  // namespace quavella::reference
