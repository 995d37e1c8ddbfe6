// The exact repair: a shortest path through the notes, each note one of a few
// pitches, each step between notes priced by the grade of the pair it sings.
#include "edit/tone_repair.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <optional>

#include "composer/song.h"

namespace quavella::edit {
namespace {

/// A price compared in order of importance; lower is better.
using Cost = std::array<long long, 5>;

Cost operator+(const Cost& a, const Cost& b) {
    Cost sum{};
    for (std::size_t k = 0; k < sum.size(); ++k) sum[k] = a[k] + b[k];
    return sum;
}

enum Weight : std::size_t {
    contrary = 0,
    not_suiting = 1,
    changed = 2,
    not_good = 3,
    movement = 4
};

/// The price of singing a pair with `interval`.
Cost pair_cost(Tone from, Tone to, int interval, RepairGoal goal) {
    Cost cost{};
    const ToneGrade grade = grade_interval(from, to, interval);
    if (grade == ToneGrade::contrary) cost[contrary] = 1;
    if (goal == RepairGoal::all_suit && grade != ToneGrade::good && grade != ToneGrade::fair) {
        cost[not_suiting] = 1;
    }
    // Most pairs graded good: every pair that is not good costs one.
    if (grade != ToneGrade::good) cost[not_good] = 1;
    return cost;
}

}  // namespace

RepairLimits limits_for(int mode, std::span<const std::int32_t> composed,
                        std::span<const std::int32_t> current) {
    RepairLimits limits;
    for (std::size_t i = 1; i < current.size(); ++i) {
        limits.max_leap = std::max(limits.max_leap, std::abs(current[i] - current[i - 1]));
    }
    if (composed.empty()) return limits;
    std::array<bool, 12> in_scale{};
    for (const std::int32_t note : mode_scale(mode))
        in_scale[static_cast<std::size_t>(note % 12)] = true;
    const auto [low, high] = std::minmax_element(composed.begin(), composed.end());
    for (int pitch = std::max(*low, 0); pitch <= std::min(*high, 127); ++pitch) {
        if (in_scale[static_cast<std::size_t>(pitch % 12)]) limits.pitches.push_back(pitch);
    }
    return limits;
}

Repair repair_tones(const ToneCheck& check, std::span<const std::int32_t> notes,
                    const RepairLimits& limits, RepairGoal goal) {
    Repair repair;
    repair.notes.assign(notes.begin(), notes.end());
    const std::size_t n = notes.size();
    if (n == 0) return repair;

    // The pair each note ends, if any: a graded pair is sung by the second
    // syllable's note and the note just before it.
    struct PairTones {
        Tone from;
        Tone to;
    };
    std::vector<std::optional<PairTones>> pair_at(n);
    const ToneGrading before = check.grade(notes);
    for (const TonePair& pair : before.pairs) {
        pair_at[pair.second] = PairTones{pair.first_tone, pair.second_tone};
    }

    // Each note's choices: its own pitch first (unchanged), then the allowed ones.
    std::vector<std::vector<int>> choices(n);
    for (std::size_t i = 0; i < n; ++i) {
        choices[i].push_back(notes[i]);
        for (const int pitch : limits.pitches) {
            if (pitch != notes[i]) choices[i].push_back(pitch);
        }
    }
    auto note_cost = [&](std::size_t i, std::size_t choice) {
        Cost cost{};
        if (choice != 0) {
            cost[changed] = 1;
            cost[movement] = std::abs(choices[i][choice] - notes[i]);
        }
        return cost;
    };

    // best[i][c]: the cheapest way to sing notes 0..i with note i on choice c.
    std::vector<std::vector<Cost>> best(n);
    std::vector<std::vector<std::size_t>> from(n);
    best[0].resize(choices[0].size());
    from[0].assign(choices[0].size(), 0);
    for (std::size_t c = 0; c < choices[0].size(); ++c) best[0][c] = note_cost(0, c);
    for (std::size_t i = 1; i < n; ++i) {
        const std::size_t count = choices[i].size();
        best[i].assign(count, Cost{});
        from[i].assign(count, 0);
        for (std::size_t c = 0; c < count; ++c) {
            const int pitch = choices[i][c];
            std::optional<Cost> cheapest;
            for (std::size_t p = 0; p < choices[i - 1].size(); ++p) {
                const int previous = choices[i - 1][p];
                // Two unchanged notes keep their step whatever it is.
                if ((c != 0 || p != 0) && std::abs(pitch - previous) > limits.max_leap) continue;
                Cost cost = best[i - 1][p];
                if (pair_at[i]) {
                    cost =
                        cost + pair_cost(pair_at[i]->from, pair_at[i]->to, pitch - previous, goal);
                }
                if (!cheapest || cost < *cheapest) {
                    cheapest = cost;
                    from[i][c] = p;
                }
            }
            // Choice 0 after choice 0 is always allowed, so each unchanged note is reachable;
            // a changed one with no allowed step before it is marked unreachable.
            if (cheapest) {
                best[i][c] = *cheapest + note_cost(i, c);
            } else {
                best[i][c].fill(std::numeric_limits<long long>::max() / 4);
            }
        }
    }

    std::size_t choice = static_cast<std::size_t>(
        std::min_element(best[n - 1].begin(), best[n - 1].end()) - best[n - 1].begin());
    for (std::size_t i = n; i-- > 0;) {
        repair.notes[i] = choices[i][choice];
        if (choice != 0) {
            repair.changes.push_back(NoteChange{static_cast<int>(i), notes[i], choices[i][choice]});
        }
        choice = from[i][choice];
    }
    std::reverse(repair.changes.begin(), repair.changes.end());

    for (const TonePair& pair : check.grade(repair.notes).pairs) {
        const bool missed = goal == RepairGoal::no_contrary
                                ? pair.grade == ToneGrade::contrary
                                : pair.grade != ToneGrade::good && pair.grade != ToneGrade::fair;
        if (missed) repair.left.push_back(pair);
    }
    return repair;
}

}  // namespace quavella::edit
