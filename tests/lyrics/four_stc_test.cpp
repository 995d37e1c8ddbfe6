// Four-sentence shaping: the rule table, sentence totals, and equivalence of
// the heap-based joins with a plain implementation of the rules on random layouts.
#include "lyrics/four_stc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "four_stc_reference.h"
#include "gbk_bytes.h"
#include "lyrics/lyric_scan.h"

namespace quavella::test {
namespace {

int count(const PhraseLayout& layout, std::int32_t v) {
    return static_cast<int>(std::count(layout.begin(), layout.end(), v));
}

struct ShapeRow {
    const char* name;
    const char* in;
    const char* out;
};

class FourStc : public ::testing::TestWithParam<ShapeRow> {};

TEST_P(FourStc, ShapesToFourSentences) {
    PhraseLayout layout = lay(GetParam().in);
    const int s = count(layout, STC_END);
    const int z = count(layout, STC_PAUSE);
    const int lowered = fit_four_stc(layout, s, z);
    EXPECT_EQ(show(layout), show(lay(GetParam().out)));
    // stc_cnt is lowered by exactly the joins; other cases leave it as it was.
    EXPECT_EQ(lowered, s > 4 ? 4 : s);
}

const std::vector<ShapeRow> kShapeRows = {
    {"FourAlready", "5 E 5 E 5 E 5 E", "5 E 5 E 5 E 5 E"},
    {"FourAlreadyKeepsPause", "2 P 3 E 5 E 5 E 5 E", "2 P 3 E 5 E 5 E 5 E"},
    {"PausesBecomeEnds", "4 P 5 P 4 P 5 E", "4 E 5 E 4 E 5 E"},
    {"TwoSplits", "5 E 5 E", "2 E 3 E 2 E 3 E"},
    {"PauseToEndThenTwoSplits", "3 P 4 E", "1 E 2 E 2 E 2 E"},
    {"ThreeSplitsOfEight", "8 E", "2 E 2 E 2 E 2 E"},
    {"SplitOfTheLargest", "7 E 1 E 1 E", "3 E 4 E 1 E 1 E"},
    {"ThreeSplitsOfThree", "3 E", "0 E 1 E 1 E 1 E"},
    {"ThreeSplitsOfOne", "1 E", "0 E 0 E 0 E 1 E"},
    {"ThreeSplitsOfEnd", "E", "0 E 0 E 0 E E"},
    {"PauseToEndThenSplit", "2 E P E", "1 E 1 E E E"},
    {"PauseBeforeEndMakesEmptySentence", "2 P E 2 E 2 E", "2 E E 2 E 2 E"},
    {"LeadingPauseAndEndSplit", "P E", "0 E 0 E E E"},
    {"ThreePromotions", "2 P 5 P 3 P 1 P 4 E", "2 E 5 E 3 P 1 E 4 E"},
    {"OnePromotionFirstOnTie", "2 P 2 P 1 E 2 P 2 P 1 E 2 P 2 E",
     "2 E 2 P 1 E 2 P 2 P 1 E 2 P 2 E"},
    {"LeadingPauseIsNoCandidate", "P 1 P 9 P 1 P 1 E", "P 1 E 9 E 1 E 1 E"},
    {"PromotionRescoresNeighbour", "3 P P 3 P 1 P 2 E", "3 E P 3 E 1 E 2 E"},
    {"OneJoin", "3 E 2 E 4 E 1 E 2 E", "3 E 2 E 4 E 1 P 2 E"},
    {"TwoJoinsFirstOnTie", "1 E 1 E 1 E 1 E 1 E 1 E", "1 P 1 E 1 P 1 E 1 E 1 E"},
    {"JoinsOfEmptySentences", "E E 2 P 1 E E E E", "P E 2 P 1 E P E E"},
};

INSTANTIATE_TEST_SUITE_P(Rows, FourStc, ::testing::ValuesIn(kShapeRows), RowName{});

TEST(StcTotals, OneTotalPerEnd) {
    EXPECT_EQ(stc_totals(lay("2 P 3 E 5 E")), lay("5 5"));
    EXPECT_EQ(stc_totals(lay("E E P E")), lay("0 0 0"));
    EXPECT_EQ(stc_totals(lay("3 E 4")), lay("3"));  // a value after the last end is ignored
}

/// A merged layout of random segments, pauses and ends; small counts so that
/// ties between scores and pair totals are common.
PhraseLayout random_merged(std::mt19937& rng, int max_len) {
    std::uniform_int_distribution<int> len_d(1, max_len), kind_d(0, 9), small_d(1, 3), big_d(1, 40);
    PhraseLayout l;
    const int len = len_d(rng);
    for (int i = 0; i < len; ++i) {
        const int kind = kind_d(rng);
        if (kind < 3) {
            l.push_back(STC_END);
        } else if (kind < 5) {
            l.push_back(STC_PAUSE);
        } else {
            l.push_back(kind < 9 ? small_d(rng) : big_d(rng));
        }
    }
    l.push_back(STC_END);
    merge_runs(l);
    return l;
}

TEST(FourStcEquivalence, MatchesPlainRulesOnRandomLayouts) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 6000; ++round) {
        // Mostly short layouts (every case), some long ones (thousands of joins).
        const int max_len = round % 2000 == 0 ? 4000 : round % 20 == 0 ? 400 : 24;
        const PhraseLayout in = random_merged(rng, max_len);
        const int s = count(in, STC_END);
        const int z = count(in, STC_PAUSE);
        PhraseLayout fast = in;
        PhraseLayout plain = in;
        const int fast_cnt = fit_four_stc(fast, s, z);
        const int plain_cnt = reference::fit(plain, s, z);
        ASSERT_EQ(fast, plain) << "input: " << show(in) << "\nfast:  " << show(fast)
                               << "\nplain: " << show(plain);
        ASSERT_EQ(fast_cnt, plain_cnt) << "input: " << show(in);
        ASSERT_EQ(count(fast, STC_END), 4) << "input: " << show(in);
    }
}

}  // namespace
}  // namespace quavella::test
