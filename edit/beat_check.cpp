// The beat check of line ends and the exact 对齐节拍.
#include "edit/beat_check.h"

#include <array>
#include <cstdlib>
#include <numeric>

#include "base/qassert.h"
#include "tones/tone_grading.h"

namespace quavella::edit {
namespace {

constexpr int kBar = notation::kBarTicks;
constexpr int kBeat = notation::kTicksPerBeat;

/// What a choice of lengths costs, in the repair's order of importance: line ends
/// off the beat, unit changes, notes changed, unit changes on notes ending no line.
using Cost = std::array<long, 4>;

Cost operator+(const Cost& a, const Cost& b) {
    return {a[0] + b[0], a[1] + b[1], a[2] + b[2], a[3] + b[3]};
}

long modulo(long value, long by) { return ((value % by) + by) % by; }

}  // namespace

int BeatCheck::aligned() const {
    int count = 0;
    for (const LineEnd& end : ends) count += end.on_beat() ? 1 : 0;
    return count;
}

double BeatCheck::share() const {
    return ends.empty() ? 0.0 : static_cast<double>(aligned()) / static_cast<double>(checked());
}

int BeatCheck::percent() const { return score_percent(share()); }

std::vector<int> BeatCheck::off_notes() const {
    std::vector<int> off;
    for (const LineEnd& end : ends) {
        if (!end.on_beat()) off.push_back(end.note);
    }
    return off;
}

std::vector<int> line_end_notes(const notation::Melody& melody) {
    std::vector<int> ends;
    if (melody.lyrics.size() != melody.notes.size()) return ends;
    int sung = -1;  // the last note of this line that starts a syllable
    for (std::size_t i = 0; i < melody.lyrics.size(); ++i) {
        const notation::Lyric& lyric = melody.lyrics[i];
        if (!lyric.continuation) sung = static_cast<int>(i);
        if (lyric.sentence_end) {
            ends.push_back(sung >= 0 ? sung : static_cast<int>(i));
            sung = -1;
        }
    }
    return ends;
}

BeatCheck check_beats(const notation::Melody& melody) {
    BeatCheck check;
    const std::vector<int> ends = line_end_notes(melody);
    std::size_t next = 0;
    long start = 0;
    for (std::size_t i = 0; i < melody.notes.size() && next < ends.size(); ++i) {
        const int ticks = i < melody.ticks.size() ? melody.ticks[i] : 0;
        if (static_cast<int>(i) == ends[next]) {
            check.ends.push_back(LineEnd{static_cast<int>(i), start, ticks});
            ++next;
        }
        start += ticks + notation::rest_after(melody, i);
    }
    return check;
}

RhythmRepair align_beats(const notation::Melody& melody, int unit) {
    QV_ASSERT("edit", unit > 0);
    const std::size_t n = std::min(melody.notes.size(), melody.ticks.size());
    RhythmRepair repair;
    repair.ticks.assign(melody.ticks.begin(), melody.ticks.begin() + static_cast<long>(n));
    std::vector<bool> is_end(n, false);
    for (const int note : line_end_notes(melody)) {
        if (static_cast<std::size_t>(note) < n) is_end[static_cast<std::size_t>(note)] = true;
    }

    // Unit changes move a note's end by multiples of `grid` in the bar: the start of
    // note i can only be base[i] + grid * m, m from 0 to period - 1. A change of a
    // whole period of units or more is never needed: one period less puts every later
    // note at the same place in its bar, with fewer changes.
    const int grid = std::gcd(unit, kBar);
    const int period = kBar / grid;
    std::vector<long> base(n + 1, 0);
    for (std::size_t i = 0; i < n; ++i) {
        base[i + 1] = modulo(base[i] + melody.ticks[i] + notation::rest_after(melody, i), grid);
    }
    // The changes note i may take, in units: never below one unit (a note shorter
    // than that is not shortened), and for a line end up to a period past what
    // makes it a beat long.
    auto lowest = [&](std::size_t i) {
        const int ticks = melody.ticks[i];
        const long floor = ticks >= unit ? -static_cast<long>((ticks - unit) / unit) : 0;
        return std::max(floor, -static_cast<long>(period - 1));
    };
    auto highest = [&](std::size_t i) {
        const int ticks = melody.ticks[i];
        const long need = is_end[i] && ticks < kBeat ? (kBeat - ticks + unit - 1) / unit : 0;
        return need + period - 1;
    };
    auto cost_of = [&](std::size_t i, long start, long change) {
        const long length = melody.ticks[i] + change * unit;
        const bool off = is_end[i] && (start % kStrongBeatTicks != 0 || length < kBeat);
        const long size = std::labs(change);
        return Cost{off ? 1 : 0, size, change != 0 ? 1 : 0, is_end[i] ? 0 : size};
    };
    auto state_of = [&](std::size_t i, long start) {
        return static_cast<std::size_t>((modulo(start, kBar) - base[i]) / grid);
    };

    // best[i * period + m]: the least cost of notes i.. when note i starts at base[i] + grid * m.
    const auto states = static_cast<std::size_t>(period);
    std::vector<Cost> best((n + 1) * states, Cost{});
    for (std::size_t i = n; i-- > 0;) {
        for (std::size_t m = 0; m < states; ++m) {
            const long start = base[i] + grid * static_cast<long>(m);
            Cost least{};
            bool found = false;
            for (long change = lowest(i); change <= highest(i); ++change) {
                const long end =
                    start + melody.ticks[i] + change * unit + notation::rest_after(melody, i);
                const Cost cost =
                    cost_of(i, start, change) + best[(i + 1) * states + state_of(i + 1, end)];
                if (!found || cost < least) least = cost;
                found = true;
            }
            best[i * states + m] = least;
        }
    }

    // Forward, the first choice of least cost at each note in the order kept, +1, -1,
    // +2, -2, ...: the least cost of what follows is known exactly, so this takes the
    // order's first among all melodies of least cost.
    long start = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const long low = lowest(i);
        const long high = highest(i);
        long chosen = 0;
        Cost least{};
        bool found = false;
        for (long size = 0; size <= std::max(-low, high); ++size) {
            for (const long sign : {1L, -1L}) {
                const long change = sign * size;
                if (change < low || change > high || (size == 0 && sign < 0)) continue;
                const long end =
                    start + melody.ticks[i] + change * unit + notation::rest_after(melody, i);
                const Cost cost = cost_of(i, modulo(start, kBar), change) +
                                  best[(i + 1) * states + state_of(i + 1, end)];
                if (!found || cost < least) {
                    least = cost;
                    chosen = change;
                    found = true;
                }
            }
        }
        if (chosen != 0) {
            repair.ticks[i] = melody.ticks[i] + static_cast<int>(chosen * unit);
            repair.changed.push_back(static_cast<int>(i));
            repair.units += static_cast<int>(std::labs(chosen));
        }
        start = modulo(start + repair.ticks[i] + notation::rest_after(melody, i), kBar);
    }

    notation::Melody after = melody;
    after.ticks = repair.ticks;
    repair.left = check_beats(after).off_notes();
    return repair;
}

}  // namespace quavella::edit
