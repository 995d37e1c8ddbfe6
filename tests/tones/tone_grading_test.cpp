// Grading intervals against tone pairs: the published tiers, which pairs of a
// lyric are graded, and the tone score.
#include "tones/tone_grading.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "lyrics/gbk_text.h"
#include "tone_test_support.h"

namespace quavella {
namespace {

struct IntervalRow {
    Tone from;
    Tone to;
    int semitones;
    ToneGrade grade;
};

void PrintTo(const IntervalRow& row, std::ostream* out) {
    *out << static_cast<int>(row.from) << "->" << static_cast<int>(row.to) << " " << row.semitones;
}

class GradeIntervalTest : public testing::TestWithParam<IntervalRow> {};

TEST_P(GradeIntervalTest, TierOfThePublishedRanges) {
    const IntervalRow& row = GetParam();
    EXPECT_EQ(grade_interval(row.from, row.to, row.semitones), row.grade);
}

using enum Tone;
using enum ToneGrade;

// Edges of the tiers of pairs whose ranges differ in each direction, so a
// swapped row and column or a shifted tone index shows.
const IntervalRow kIntervals[] = {
    // first -> first: (0,1) (-1,2) (-3,4)
    {first, first, 0, good},
    {first, first, 1, good},
    {first, first, -1, fair},
    {first, first, 2, fair},
    {first, first, -3, acceptable},
    {first, first, 4, acceptable},
    {first, first, 5, contrary},
    {first, first, -4, contrary},
    // first -> second falls: (-5,-4) (-8,-3) (-10,-1); a rise is contrary
    {first, second, -4, good},
    {first, second, -8, fair},
    {first, second, -1, acceptable},
    {first, second, 0, contrary},
    // second -> first rises: (2,3) (2,5) (1,7)
    {second, first, 3, good},
    {second, first, 5, fair},
    {second, first, 1, acceptable},
    {second, first, -4, contrary},
    // third -> first: (4,5) (3,9) (1,10)
    {third, first, 9, fair},
    {third, first, 10, acceptable},
    {third, first, 11, contrary},
    // fourth -> third: (-7,-6) (-12,-3) (-14,0)
    {fourth, third, -6, good},
    {fourth, third, -12, fair},
    {fourth, third, 0, acceptable},
    {fourth, third, -15, contrary},
    // fourth -> fourth: (-6,-3) (-7,1) (-12,3)
    {fourth, fourth, -3, good},
    {fourth, fourth, 1, fair},
    {fourth, fourth, 3, acceptable},
    {fourth, fourth, 4, contrary},
    // neutral -> first: (2,3) (2,5) (1,7); first -> neutral: (-7,-6) (-12,-3) (-14,-1)
    {neutral, first, 2, good},
    {neutral, first, 0, contrary},
    {first, neutral, -7, good},
    {first, neutral, 0, contrary},
    // neutral -> third as published: the first tier is (-4, 3)
    {neutral, third, 3, good},
    {neutral, third, -5, fair},
    {neutral, third, -9, contrary},
};

/// "fourth_to_third_minus6": the tones and the interval of a row.
std::string interval_name(const testing::TestParamInfo<IntervalRow>& info) {
    const auto tone = [](Tone t) {
        static const char* const names[] = {"none",  "first",  "second",
                                            "third", "fourth", "neutral"};
        return std::string(names[static_cast<int>(t)]);
    };
    const IntervalRow& row = info.param;
    return tone(row.from) + "_to_" + tone(row.to) + "_" + (row.semitones < 0 ? "minus" : "plus") +
           std::to_string(row.semitones < 0 ? -row.semitones : row.semitones);
}

INSTANTIATE_TEST_SUITE_P(Tiers, GradeIntervalTest, testing::ValuesIn(kIntervals), interval_name);

/// The pairs of a grading as "first-second:interval:grade".
std::vector<std::string> pair_texts(const ToneGrading& grading) {
    std::vector<std::string> out;
    for (const TonePair& p : grading.pairs) {
        out.push_back(std::to_string(p.first) + "-" + std::to_string(p.second) + ":" +
                      std::to_string(p.interval) + ":" + std::string(grade_name(p.grade)));
    }
    return out;
}

TEST(ToneCheckTest, GradesConsecutiveSyllablesOfEachSentence) {
    // 春眠不觉晓 (1 2 4 2 3) / 处处闻啼鸟 (4 4 2 2 3)
    const ToneCheck check(test::syllables_of({"春眠不觉晓", "处处闻啼鸟"}));
    const std::vector<std::int32_t> notes = {67, 64, 62, 60, 60, 72, 69, 67, 69, 72};
    const ToneGrading grading = check.grade(notes);
    // 春眠 1->2 -3 fair; 眠不 2->4 -2 acceptable; 不觉 4->2 -2 fair; 觉晓 2->3 0 fair;
    // 晓处 crosses the sentence end; 处处 4->4 -3 good; 处闻 4->2 -2 fair;
    // 闻啼 2->2 +2 acceptable; 啼鸟 2->3 +3 acceptable.
    EXPECT_EQ(pair_texts(grading),
              (std::vector<std::string>{"0-1:-3:fair", "1-2:-2:acceptable", "2-3:-2:fair",
                                        "3-4:0:fair", "5-6:-3:good", "6-7:-2:fair",
                                        "7-8:2:acceptable", "8-9:3:acceptable"}));
    EXPECT_EQ(grading.counts, (std::array<int, 4>{1, 4, 3, 0}));
    EXPECT_EQ(grading.agreeing(), 5);
    EXPECT_DOUBLE_EQ(grading.score(), 5.0 / 8.0);
    EXPECT_EQ(grading.percent(), 63);
    EXPECT_TRUE(grading.contrary().empty());
}

TEST(ToneCheckTest, SungTonesAndTheLastNoteOfAMelismaAreGraded) {
    // 你好 is sung 2 3. The interval runs from the continuation's note (62),
    // not from the syllable's first note (60): +3 from a second into a third
    // tone is acceptable, +5 would be contrary.
    const ToneCheck check(test::syllables_of({"你_好"}));
    const ToneGrading grading = check.grade(std::vector<std::int32_t>{60, 62, 65});
    ASSERT_EQ(grading.pairs.size(), 1u);
    EXPECT_EQ(grading.pairs[0].first, 0u);
    EXPECT_EQ(grading.pairs[0].second, 2u);
    EXPECT_EQ(grading.pairs[0].first_tone, Tone::second);
    EXPECT_EQ(grading.pairs[0].second_tone, Tone::third);
    EXPECT_EQ(grading.pairs[0].interval, 3);
    EXPECT_EQ(grading.pairs[0].grade, ToneGrade::acceptable);
}

TEST(ToneCheckTest, PairsAreGradedWithTheReadingsOfTheirWords) {
    // 地上 in 疑是地上霜 is dì shàng: held on one pitch, a fourth tone into a
    // fourth is fair. Read as de (neutral) it was contrary and 修正倒字 moved it.
    const ToneCheck check(test::syllables_of({"疑是地上霜"}));
    const ToneGrading grading = check.grade(std::vector<std::int32_t>{60, 64, 62, 62, 60});
    ASSERT_EQ(grading.pairs.size(), 4u);
    EXPECT_EQ(grading.pairs[2].first_tone, Tone::fourth);
    EXPECT_EQ(grading.pairs[2].second_tone, Tone::fourth);
    EXPECT_EQ(grading.pairs[2].grade, ToneGrade::fair);
    EXPECT_EQ(grade_interval(Tone::neutral, Tone::fourth, 0), ToneGrade::contrary);
    EXPECT_TRUE(grading.contrary().empty());
}

TEST(ToneCheckTest, ContraryPairsAreListed) {
    // 夜 (4) -> 来 (2) rising 5 is outside (-9, 1): contrary; 来 -> 风 (1) rising 3 is good.
    const ToneCheck check(test::syllables_of({"夜来风"}));
    const ToneGrading grading = check.grade(std::vector<std::int32_t>{60, 65, 68});
    ASSERT_EQ(grading.contrary().size(), 1u);
    EXPECT_EQ(grading.contrary()[0].first, 0u);
    EXPECT_EQ(grading.contrary()[0].second, 1u);
    EXPECT_EQ(grading.counts[static_cast<std::size_t>(ToneGrade::contrary)], 1);
}

struct UngradedRow {
    const char* name;
    std::vector<std::string> sentences;
    std::vector<std::string> pairs;  // "first-second" of the graded pairs
};

void PrintTo(const UngradedRow& row, std::ostream* out) { *out << row.name; }

class UngradedPairsTest : public testing::TestWithParam<UngradedRow> {};

TEST_P(UngradedPairsTest, OnlyPairsInsideASentenceWithReadings) {
    const UngradedRow& row = GetParam();
    const ToneCheck check(test::syllables_of(row.sentences));
    const std::vector<std::int32_t> notes(check.syllables().size(), 60);
    std::vector<std::string> got;
    for (const TonePair& p : check.grade(notes).pairs) {
        got.push_back(std::to_string(p.first) + "-" + std::to_string(p.second));
    }
    EXPECT_EQ(got, row.pairs);
}

const UngradedRow kUngraded[] = {
    // A pause inside the sentence does not stop the grading.
    {"pause", {"春眠 不觉"}, {"0-1", "1-2", "2-3"}},
    // Nor does a continuation; the syllable and its continuation are no pair.
    {"continuation", {"春_眠"}, {"0-2"}},
    // The sentence end stops it, also when a continuation carries the end.
    {"sentence_end", {"春眠", "不觉"}, {"0-1", "2-3"}},
    {"end_on_continuation", {"春_", "眠"}, {}},
    // A word without a Chinese reading is graded with neither neighbour.
    {"latin", {"春love眠"}, {}},
    {"punctuation_syllable", {"春“眠"}, {}},
    {"empty", {}, {}},
};

INSTANTIATE_TEST_SUITE_P(Pairs, UngradedPairsTest, testing::ValuesIn(kUngraded), test::RowName{});

TEST(ToneCheckTest, NothingGradedScoresZeroAndLosesNoTie) {
    const ToneCheck latin(test::syllables_of({"la la la"}));
    const ToneGrading none = latin.grade(std::vector<std::int32_t>{60, 62, 64});
    EXPECT_EQ(none.graded(), 0);
    EXPECT_EQ(none.score(), 0.0);
    EXPECT_EQ(none.percent(), 0);
    EXPECT_FALSE(scores_higher(none, none));
}

TEST(ToneCheckTest, ScoresCompareAsExactFractions) {
    const auto grading = [](int agreeing, int graded) {
        ToneGrading g;
        g.pairs.resize(static_cast<std::size_t>(graded));
        g.counts[static_cast<std::size_t>(ToneGrade::good)] = agreeing;
        g.counts[static_cast<std::size_t>(ToneGrade::contrary)] = graded - agreeing;
        return g;
    };
    EXPECT_TRUE(scores_higher(grading(3, 4), grading(2, 3)));
    EXPECT_FALSE(scores_higher(grading(2, 3), grading(4, 6)));  // equal: no
    EXPECT_FALSE(scores_higher(grading(4, 6), grading(2, 3)));
    EXPECT_TRUE(scores_higher(grading(1, 3), grading(0, 0)));
    EXPECT_EQ(grading(1, 8).percent(), 13);  // 12.5 rounds up
    EXPECT_EQ(grading(2, 3).percent(), 67);
}

TEST(ToneGradingTest, AStoredScoreShowsTheSamePercentAsItsGrading) {
    // The history keeps the score as a fraction; shown again it must round as the
    // grading it came from did, halves included.
    for (int graded = 1; graded <= 300; ++graded) {
        for (int agreeing = 0; agreeing <= graded; ++agreeing) {
            ToneGrading g;
            g.pairs.resize(static_cast<std::size_t>(graded));
            g.counts[static_cast<std::size_t>(ToneGrade::fair)] = agreeing;
            ASSERT_EQ(score_percent(g.score()), g.percent()) << agreeing << "/" << graded;
        }
    }
}

TEST(ToneCheckTest, GradeMelodyGradesOnlyAMelodyOfTheLyric) {
    const std::string gbk = utf8_to_gbk("春眠不觉晓").gbk;
    const std::vector<std::int32_t> five{60, 62, 64, 62, 60};
    EXPECT_EQ(grade_melody(gbk, five).graded(),
              ToneCheck(syllable_texts(gbk)).grade(five).graded());
    EXPECT_GT(grade_melody(gbk, five).graded(), 0);
    EXPECT_EQ(grade_melody(gbk, std::vector<std::int32_t>{60, 62}).graded(), 0);
}

TEST(ToneCheckTest, RefusesAMelodyOfAnotherLength) {
    const ToneCheck check(test::syllables_of({"春眠不觉晓"}));
    EXPECT_THROW(check.grade(std::vector<std::int32_t>{60, 62}), std::invalid_argument);
}

}  // namespace
}  // namespace quavella
