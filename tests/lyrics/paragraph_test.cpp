// Paragraph: measures of the rule table, copies handed out, and the layout
// invariants the composer relies on for any byte string at all.
#include "lyrics/paragraph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "gbk_bytes.h"
#include "lyrics/lyric_scan.h"

namespace quavella::test {
namespace {

const std::string sp = " ";

struct ParagRow {
    const char* name;
    std::string text;
    const char* layout;
    std::int32_t pause_cnt;
    std::int32_t val_sum;
    std::int32_t val_avg;
};

class ParagraphMeasures : public ::testing::TestWithParam<ParagRow> {};

TEST_P(ParagraphMeasures, LayoutAndMeasures) {
    const ParagRow& row = GetParam();
    const Paragraph parag(row.text);
    EXPECT_EQ(show(parag.get_layout()), show(lay(row.layout)));
    EXPECT_EQ(parag.get_stc_cnt(), 4);
    EXPECT_EQ(parag.get_pause_cnt(), row.pause_cnt);
    EXPECT_EQ(parag.get_val_sum(), row.val_sum);
    EXPECT_EQ(parag.get_val_avg(), row.val_avg);
    EXPECT_EQ(parag.get_text(), row.text);
}

const std::vector<ParagRow> kParagRows = {
    {"FourSentences", cn(5) + kDou + cn(5) + kJu + cn(5) + kDou + cn(5) + kJu, "5 E 5 E 5 E 5 E", 0,
     16, 4},
    {"TwoSentencesSplit", cn(5) + kDou + cn(5) + kJu, "2 E 3 E 2 E 3 E", 0, 6, 1},
    {"PauseCountKeptFromBeforeShaping", cn(4) + sp + cn(5) + sp + cn(4) + sp + cn(5),
     "4 E 5 E 4 E 5 E", 3, 14, 3},
    {"OnePromotion",
     cn(2) + sp + cn(2) + sp + cn(1) + kDou + cn(2) + sp + cn(2) + sp + cn(1) + kJu + cn(2) + sp +
         cn(2),
     "2 E 2 P 1 E 2 P 2 P 1 E 2 P 2 E", 5, 10, 2},
    {"AsciiWordSplitThreeTimes", wn(10), "0 E 1 E 1 E 1 E", 0, -1, 0},
    {"TenSpacesAverageTruncates", std::string(10, ' '), "0 E 0 E 0 E E", 0, -4, -1},
    {"EmptyText", "", "0 E 0 E 0 E E", 0, -4, -1},
    {"TextWithNulBytesKept", std::string("ab\0cd\0\0efg", 10), "0 E 1 E 1 E 1 E", 0, -1, 0},
};

INSTANTIATE_TEST_SUITE_P(Rows, ParagraphMeasures, ::testing::ValuesIn(kParagRows), RowName{});

TEST(ParagraphLayout, CopiesAreEqualAndIndependent) {
    const Paragraph parag(cn(5) + kDou + cn(5) + kJu);
    PhraseLayout first = parag.get_layout();
    const PhraseLayout second = parag.get_layout();
    EXPECT_EQ(first, second);
    first[0] = 99;
    first.push_back(7);
    EXPECT_EQ(parag.get_layout(), second);
}

TEST(ParagraphLayout, TextIsCopiedAtConstruction) {
    std::string text = cn(8);
    const Paragraph parag(text);
    text.assign(text.size(), 'x');
    EXPECT_EQ(parag.get_text(), cn(8));
}

/// Random lyric bytes built from pieces that stress the scanner: GBK
/// characters, sentence and ignored marks, spaces, ASCII words and digits,
/// lone high bytes (which shift the pairing), control bytes and GBK extension
/// characters whose second byte is ASCII.
std::string random_lyrics(std::mt19937& rng, int pieces) {
    static const std::vector<std::string> marks = {kJu, kDou, kWen, kTan, kFen, kMao,
                                                   ",", ".",  ";",  "?",  "!"};
    static const std::vector<std::string> ignored = {kIdeoSpace, kDash, kDun, kTilde};
    std::uniform_int_distribution<int> kind_d(0, 99), byte_d(0, 255), small_d(1, 6);
    std::string s;
    for (int p = 0; p < pieces; ++p) {
        const int kind = kind_d(rng);
        if (kind < 35) {
            s += cn(small_d(rng), byte_d(rng));
        } else if (kind < 50) {
            s += marks[static_cast<std::size_t>(byte_d(rng)) % marks.size()];
        } else if (kind < 57) {
            s += ignored[static_cast<std::size_t>(byte_d(rng)) % ignored.size()];
        } else if (kind < 70) {
            s.append(static_cast<std::size_t>(small_d(rng) % 3 + 1), ' ');
        } else if (kind < 78) {
            s += wn(small_d(rng) + small_d(rng));
        } else if (kind < 83) {
            s += std::to_string(byte_d(rng));
        } else if (kind < 89) {
            s.push_back(static_cast<char>(0x80 + byte_d(rng) % 0x80));  // lone high byte
        } else if (kind < 94) {
            s.push_back(static_cast<char>(byte_d(rng) % 0x20));  // control byte, NUL included
        } else if (kind < 97) {
            s.push_back(static_cast<char>(0x81 + byte_d(rng) % 0x7E));  // extension character
            s.push_back(static_cast<char>(0x40 + byte_d(rng) % 0x3F));
        } else {
            s.push_back(static_cast<char>(byte_d(rng)));  // anything
        }
    }
    return s;
}

std::int64_t syllables(const PhraseLayout& layout) {
    std::int64_t sum = 0;
    for (const auto v : layout) sum += v > 0 ? v : 0;
    return sum;
}

void expect_composer_ready(const std::string& text) {
    PhraseLayout merged = scan_lyrics(text);
    merge_runs(merged);

    const Paragraph parag(text);
    const PhraseLayout layout = parag.get_layout();
    SCOPED_TRACE("merged: " + show(merged) + "\nshaped: " + show(layout));
    ASSERT_EQ(std::count(layout.begin(), layout.end(), STC_END), 4);
    ASSERT_EQ(layout.back(), STC_END);
    for (std::size_t i = 0; i < layout.size(); ++i) {
        ASSERT_GE(layout[i], STC_END) << "at " << i;
        if (i > 0) {
            ASSERT_FALSE(layout[i - 1] >= 1 && layout[i] >= 1) << "at " << i;
        }
    }
    ASSERT_EQ(parag.get_stc_cnt(), 4);
    ASSERT_EQ(parag.get_pause_cnt(), std::count(merged.begin(), merged.end(), STC_PAUSE));
    // Shaping moves markers only: the syllables of the merge all arrive.
    ASSERT_EQ(syllables(layout), syllables(merged));
    std::int64_t sum = 0;
    for (const auto v : layout) sum += v;
    ASSERT_EQ(parag.get_val_sum(), sum);
    ASSERT_EQ(parag.get_val_avg(), parag.get_val_sum() / 4);
}

TEST(ParagraphAnyBytes, RandomTextsGiveComposerReadyLayouts) {
    std::mt19937 rng(77031);
    std::uniform_int_distribution<int> pieces_d(0, 120);
    for (int round = 0; round < 4000; ++round) {
        const int pieces = round % 500 == 0 ? 20000 : pieces_d(rng);
        ASSERT_NO_FATAL_FAILURE(expect_composer_ready(random_lyrics(rng, pieces)))
            << "round " << round;
    }
}

TEST(ParagraphAnyBytes, UniformRandomBytes) {
    std::mt19937 rng(4242);
    std::uniform_int_distribution<int> len_d(0, 64), byte_d(0, 255);
    for (int round = 0; round < 2000; ++round) {
        std::string s(static_cast<std::size_t>(len_d(rng)), '\0');
        for (char& c : s) c = static_cast<char>(byte_d(rng));
        ASSERT_NO_FATAL_FAILURE(expect_composer_ready(s)) << "round " << round;
    }
}

TEST(ParagraphAnyBytes, MarksOnlyAndHugeWords) {
    std::string marks;
    for (int i = 0; i < 5000; ++i) marks += kJu + "," + kDun + " ";
    expect_composer_ready(marks);
    expect_composer_ready(cn(300000));  // one word of 300000 syllables, split three times
    expect_composer_ready(std::string(1 << 20, '\xC4'));  // a megabyte of one high byte
}

}  // namespace
}  // namespace quavella::test
