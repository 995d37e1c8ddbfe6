// The score as terminal text: symbols and syllables in aligned columns (wide
// characters taking two), lines broken between bars, nothing unsafe printed.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "notation/score.h"

namespace quavella::notation {
namespace {

Score two_sentences() {
    Melody m;
    m.notes = {67, 64, 72, 55, 60};
    m.ticks = {120, 60, 60, 240, 480};
    m.lyrics = {{"春", false, false, false, 0},
                {"眠", false, false, false, 0},
                {"", true, false, false, 0},
                {"晓", false, false, true, 0},
                {"la", false, false, true, 1}};
    m.tempo = 96;
    return build_score(m);
}

TEST(ScoreText, SymbolsOverSyllablesInAlignedColumns) {
    EXPECT_EQ(score_text(two_sentences()),
              "春眠晓  1=C 4/4 \u2669=96\n"
              "\n"
              "| 5    3_ 1'_ 5, - V | 1 - - - V ||\n"
              "  1.春 眠 _   晓       2.la\n");
}

TEST(ScoreText, LinesBreakBetweenBarsToFitTheWidth) {
    const std::string text = score_text(two_sentences(), 24);
    EXPECT_EQ(text,
              "春眠晓  1=C 4/4 \u2669=96\n"
              "\n"
              "| 5    3_ 1'_ 5, - V |\n"
              "  1.春 眠 _   晓\n"
              "\n"
              "| 1 - - - V ||\n"
              "  2.la\n");
    // A bar wider than the terminal still gets a line of its own.
    EXPECT_EQ(score_text(two_sentences(), 1), text);
}

TEST(ScoreText, TiesRestsAndControlCharactersMadeHarmless) {
    Melody m;
    m.notes = {62};
    m.ticks = {600};
    m.lyrics = {{"\x1b[2Jx", false, false, false, 0}};
    m.tempo = 120;
    EXPECT_EQ(score_text(build_score(m)),
              "\xEF\xBF\xBD[2Jx  1=C 4/4 \u2669=120\n"
              "\n"
              "| 2 - - -~ | 2 0 0 0 ||\n"
              "  1.\xEF\xBF\xBD[2Jx\n");
}

// A melody no composer makes (a damaged or crafted history row): extreme note numbers
// are written as the nearest key, durations stop at the score's end, sentence numbers
// never overflow. Under UBSan any overflow here fails the test.
TEST(ScoreText, ExtremeValuesAreWrittenWithinBounds) {
    Melody m;
    m.notes = {INT_MIN, INT_MAX, 60, 62};
    m.ticks = {120, INT_MAX, INT_MAX, -5};
    m.lyrics = {{"a", false, false, false, INT_MAX},
                {"b", false, false, false, INT_MIN},
                {"c", false, false, true, -1},
                {"d", false, false, false, 0}};
    m.tempo = INT_MAX;
    const Score score = build_score(m);
    EXPECT_EQ(score.note_start, (std::vector<int>{0, 120, kMaxScoreTicks, kMaxScoreTicks}));
    EXPECT_EQ(score.bars.size(),
              static_cast<std::size_t>((kMaxScoreTicks + kBarTicks - 1) / kBarTicks));
    EXPECT_EQ(score.bars.front().glyphs.front().octave, -5);  // key 0
    EXPECT_EQ(score.bars.front().glyphs[1].octave, 5);        // key 127
    EXPECT_EQ(score.bars.front().glyphs[1].degree, 5);
    const std::string text = score_text(score, 80);
    EXPECT_EQ(text.substr(0, text.find('\n', text.find('\n') + 1) + 1),
              "a  1=C 4/4 \u2669=2147483647\n\n");
    EXPECT_NE(text.find("2147483648.a"), std::string::npos);
    EXPECT_NE(text.find("-2147483647.b"), std::string::npos);
    EXPECT_EQ(text.find("c"), std::string::npos) << "notes past the end are not written";
}

TEST(ScoreText, EmptyScoreIsJustTheHeader) {
    EXPECT_EQ(score_text(build_score(Melody{})), "1=C 4/4 \u2669=0\n");
}

}  // namespace
}  // namespace quavella::notation
