// The 倒字 repair: exact against an exhaustive search on short sentences, and
// within its limits on real compositions.
#include "edit/tone_repair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "composer/compose_request.h"
#include "composer/message_sink.h"
#include "composer/song.h"
#include "lyrics/gbk_text.h"
#include "lyrics/syllables.h"
#include "tests/tones/tone_test_support.h"

namespace quavella::edit {
namespace {

/// The price the repair minimises, in its order of importance, computed from
/// a finished melody (the repair's own bookkeeping is not trusted).
std::array<long long, 5> price(const ToneCheck& check, const std::vector<std::int32_t>& before,
                               const std::vector<std::int32_t>& after, RepairGoal goal) {
    std::array<long long, 5> cost{};
    for (const TonePair& pair : check.grade(after).pairs) {
        if (pair.grade == ToneGrade::contrary) ++cost[0];
        if (goal == RepairGoal::all_suit && pair.grade != ToneGrade::good &&
            pair.grade != ToneGrade::fair) {
            ++cost[1];
        }
        if (pair.grade != ToneGrade::good) ++cost[3];
    }
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (before[i] != after[i]) {
            ++cost[2];
            cost[4] += std::abs(before[i] - after[i]);
        }
    }
    return cost;
}

/// True when `after` keeps the limits: changed notes among the allowed pitches,
/// no step wider than the limit except between two unchanged notes.
bool within(const std::vector<std::int32_t>& before, const std::vector<std::int32_t>& after,
            const RepairLimits& limits) {
    for (std::size_t i = 0; i < after.size(); ++i) {
        if (after[i] != before[i] && std::find(limits.pitches.begin(), limits.pitches.end(),
                                               after[i]) == limits.pitches.end()) {
            return false;
        }
        if (i > 0 && (after[i] != before[i] || after[i - 1] != before[i - 1]) &&
            std::abs(after[i] - after[i - 1]) > limits.max_leap) {
            return false;
        }
    }
    return true;
}

/// The cheapest price over every melody the limits allow.
std::array<long long, 5> exhaustive_best(const ToneCheck& check,
                                         const std::vector<std::int32_t>& notes,
                                         const RepairLimits& limits, RepairGoal goal) {
    std::vector<std::vector<std::int32_t>> choices;
    for (const std::int32_t note : notes) {
        std::vector<std::int32_t> c{note};
        for (const int p : limits.pitches) {
            if (p != note) c.push_back(p);
        }
        choices.push_back(c);
    }
    std::vector<std::size_t> at(notes.size(), 0);
    std::vector<std::int32_t> melody = notes;
    std::array<long long, 5> best{};
    best.fill(1LL << 40);
    while (true) {
        for (std::size_t i = 0; i < notes.size(); ++i) melody[i] = choices[i][at[i]];
        if (within(notes, melody, limits)) best = std::min(best, price(check, notes, melody, goal));
        std::size_t i = 0;
        while (i < at.size() && ++at[i] == choices[i].size()) at[i++] = 0;
        if (i == at.size()) break;
    }
    return best;
}

TEST(ToneRepair, IsAsSmallAsAnExhaustiveSearchFinds) {
    // Short sentences whose pairs cover every tone (and a neutral one, and
    // continuations): random melodies in a narrow scale, both goals.
    const std::vector<std::vector<std::string>> lyrics = {
        {"春眠不觉晓"}, {"妈麻马骂吗"}, {"花_落知多"}, {"天地玄黄"}, {"我 们_走"}};
    std::mt19937 random(20261211);
    for (const auto& sentence : lyrics) {
        const ToneCheck check(test::syllables_of(sentence));
        const std::size_t n = check.syllables().size();
        for (int round = 0; round < 12; ++round) {
            RepairLimits limits;
            const int low = 55 + static_cast<int>(random() % 8);
            for (int p = low; p <= low + 9; ++p) {
                if (p % 12 != 1 && p % 12 != 3 && p % 12 != 6 && p % 12 != 8 && p % 12 != 10) {
                    limits.pitches.push_back(p);
                }
            }
            limits.max_leap = 3 + static_cast<int>(random() % 6);
            std::vector<std::int32_t> notes(n);
            for (auto& note : notes) note = low + static_cast<int>(random() % 12);
            for (const RepairGoal goal : {RepairGoal::no_contrary, RepairGoal::all_suit}) {
                const Repair repair = repair_tones(check, notes, limits, goal);
                ASSERT_TRUE(within(notes, repair.notes, limits));
                EXPECT_EQ(price(check, notes, repair.notes, goal),
                          exhaustive_best(check, notes, limits, goal))
                    << sentence[0] << " round " << round;
            }
        }
    }
}

TEST(ToneRepair, ReportsWhatItChangedAndWhatItCouldNotMend) {
    // 麻 (second tone) then 妈 (first): sung on one pitch the pair is contrary; a
    // rise of 2 to 5 semitones suits it. With one pitch allowed nothing mends it.
    const ToneCheck check(test::syllables_of({"麻妈"}));
    const std::vector<std::int32_t> level{60, 60};
    const Repair stuck =
        repair_tones(check, level, RepairLimits{{60}, 12}, RepairGoal::no_contrary);
    EXPECT_TRUE(stuck.changes.empty());
    EXPECT_EQ(stuck.notes, level);
    ASSERT_EQ(stuck.left.size(), 1u);
    EXPECT_EQ(stuck.left[0].second, 1u);

    const Repair mended = repair_tones(check, level, RepairLimits{{55, 57, 60, 62, 64, 67}, 12},
                                       RepairGoal::all_suit);
    ASSERT_EQ(mended.changes.size(), 1u);
    EXPECT_TRUE(mended.left.empty());
    // The smallest movement among the good ones: the second note up a whole tone.
    EXPECT_EQ(mended.notes, (std::vector<std::int32_t>{60, 62}));
    EXPECT_EQ(mended.changes[0].note, 1);
    EXPECT_EQ(mended.changes[0].from, 60);
    EXPECT_EQ(mended.changes[0].to, 62);
}

TEST(ToneRepair, KeepsEveryLimitOnComposedMelodies) {
    const std::string gbk = utf8_to_gbk("床前明月光，疑是地上霜。举头望明月，低头思故乡。").gbk;
    const ToneCheck check(syllable_texts(gbk));
    QuietSink quiet;
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        Generators gens(seed * 7919);
        const ComposeOutcome outcome = compose_melody(gbk, static_cast<int>(seed % 4),
                                                      static_cast<int>(seed % 4), 0, gens, quiet);
        const std::vector<std::int32_t>& notes = outcome.nt_seq;
        const RepairLimits limits = limits_for(outcome.mode, notes, notes);
        const auto [low, high] = std::minmax_element(notes.begin(), notes.end());
        const auto scale = mode_scale(outcome.mode);
        for (const RepairGoal goal : {RepairGoal::no_contrary, RepairGoal::all_suit}) {
            const Repair repair = repair_tones(check, notes, limits, goal);
            EXPECT_TRUE(within(notes, repair.notes, limits)) << seed;
            for (const NoteChange& change : repair.changes) {
                EXPECT_GE(change.to, *low);
                EXPECT_LE(change.to, *high);
                EXPECT_TRUE(std::any_of(scale.begin(), scale.end(),
                                        [&](std::int32_t p) { return p % 12 == change.to % 12; }));
            }
            // Whatever it left names exactly the pairs that still miss the goal.
            int missed = 0;
            for (const TonePair& pair : check.grade(repair.notes).pairs) {
                missed += goal == RepairGoal::no_contrary
                              ? pair.grade == ToneGrade::contrary
                              : pair.grade != ToneGrade::good && pair.grade != ToneGrade::fair;
            }
            EXPECT_EQ(static_cast<std::size_t>(missed), repair.left.size()) << seed;
            // A repair of a repaired melody changes nothing.
            EXPECT_TRUE(repair_tones(check, repair.notes,
                                     limits_for(outcome.mode, notes, repair.notes), goal)
                            .changes.empty() ||
                        !repair.left.empty())
                << seed;
        }
    }
}

}  // namespace
}  // namespace quavella::edit
