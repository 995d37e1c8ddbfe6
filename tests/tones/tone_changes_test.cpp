// Tones of real words: the customary reading from the generated table, then
// the tone changes (third-tone sandhi, 一, 不) within a phrase.
#include "tones/tone_changes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tone_test_support.h"
#include "tones/tone_table.h"

namespace quavella {
namespace {

/// Tones of the syllables as digits, one per note: "-" for none.
std::string digits(const std::vector<SyllableTone>& tones, Tone SyllableTone::*which) {
    std::string out;
    for (const SyllableTone& tone : tones) {
        const std::string_view d = tone_digit(tone.*which);
        out += d.empty() ? "-" : std::string(d);
    }
    return out;
}

struct WordRow {
    const char* name;
    std::vector<std::string> sentences;
    const char* citation;  // tones of the customary readings
    const char* sung;      // after the tone changes
};

void PrintTo(const WordRow& row, std::ostream* out) { *out << row.name; }

class ToneChangesTest : public testing::TestWithParam<WordRow> {};

TEST_P(ToneChangesTest, CitationAndSungTones) {
    const WordRow& row = GetParam();
    const auto tones = syllable_tones(test::syllables_of(row.sentences));
    EXPECT_EQ(digits(tones, &SyllableTone::citation), row.citation);
    EXPECT_EQ(digits(tones, &SyllableTone::sung), row.sung);
}

const WordRow kWords[] = {
    // Plain readings; 不 before a second tone keeps its fourth.
    {"chunxiao", {"春眠不觉晓"}, "12423", "12423"},
    // Polyphonic characters take the customary (first) reading: 长 zhǎng, 行 xíng,
    // 乐 lè, 得 dé, 重 zhòng; 的, 了, 吗 have no tone mark and are neutral.
    {"polyphonic", {"长城银行音乐"}, "322214", "322214"},
    {"neutral", {"我的好了吗"}, "35355", "35355"},
    // Third-tone sandhi: before a third tone, a third tone rises; a run rises on
    // all but its last; a neutral tone between stops it.
    {"nihao", {"你好"}, "33", "23"},
    {"zhanlanguan", {"展览馆"}, "333", "223"},
    {"nihaoma", {"你好吗"}, "335", "235"},
    {"wode_haoma", {"我的好吗"}, "3535", "3535"},
    // No sandhi across a pause, a sentence end or a syllable without a reading.
    {"pause", {"你 好"}, "33", "33"},
    {"sentence_end", {"你", "好"}, "33", "33"},
    {"latin_between", {"你ok好"}, "3-3", "3-3"},
    // A continuation does not separate the syllables it lies between.
    {"continuation", {"你_好"}, "3-3", "2-3"},
    // 一: second before a fourth, fourth before the others, first at a phrase end,
    // in ordinals and numbers, neutral between repeats.
    {"yige", {"一个"}, "14", "24"},
    {"yitian_yinian_yiqi", {"一天一年一起"}, "111213", "414243"},
    {"yi_at_end", {"统一"}, "31", "31"},
    {"diyi_shiyi", {"第一天十一年"}, "411212", "411212"},
    {"kanyikan", {"看一看"}, "414", "454"},
    // 不: second before a fourth, neutral between repeats, else fourth.
    {"bushi", {"不是"}, "44", "24"},
    {"buhao", {"不好"}, "43", "43"},
    {"haobuhao", {"好不好"}, "343", "353"},
    // Both together: 不 before 一 (first) stays, 一 before 样 (fourth) rises.
    {"buyiyang", {"不一样"}, "414", "424"},
    // 一不 in 一不小心: 一 before 不 (fourth) rises; 不 before 小 stays;
    // 小 before 心 (first) keeps its third.
    {"yibuxiaoxin", {"一不小心"}, "1431", "2431"},
};

INSTANTIATE_TEST_SUITE_P(Words, ToneChangesTest, testing::ValuesIn(kWords), test::RowName{});

TEST(ToneTableTest, CharactersWithoutReadingAndStrayBytes) {
    EXPECT_EQ(text_tone("ok"), Tone::none);
    EXPECT_EQ(text_tone("\xA3\xAC"), Tone::none);      // ，full-width comma
    EXPECT_EQ(text_tone("\xA1\xB0"), Tone::none);      // “ opening quote
    EXPECT_EQ(text_tone("\xC4"), Tone::none);          // a lead byte alone
    EXPECT_EQ(gbk_char_tone(0x80, 0x40), Tone::none);  // below the lead range
    EXPECT_EQ(gbk_char_tone(0xB4, 0x7F), Tone::none);  // 0x7F is never a trail
    EXPECT_EQ(gbk_char_tone(0xFF, 0xA1), Tone::none);  // above the lead range
    // A quotation mark around a character does not hide its reading.
    EXPECT_EQ(text_tone("\xA1\xB0\xB4\xBA"), Tone::first);  // “春
}

TEST(ToneTableTest, EveryGbkCharacterOfOneLevelHasAReading) {
    // GB 2312 level 1 (0xB0A1..0xD7F9) holds the 3755 commonest characters,
    // every one of which has a Mandarin reading; a shifted or truncated table
    // would leave holes or give the punctuation rows tones.
    int without = 0;
    for (unsigned lead = 0xB0; lead <= 0xD7; ++lead) {
        for (unsigned trail = 0xA1; trail <= 0xFE; ++trail) {
            if (lead == 0xD7 && trail > 0xF9) break;
            if (gbk_char_tone(static_cast<unsigned char>(lead),
                              static_cast<unsigned char>(trail)) == Tone::none) {
                ++without;
            }
        }
    }
    EXPECT_EQ(without, 0);
    for (unsigned trail = 0xA1; trail <= 0xFE; ++trail) {  // row 1: punctuation
        EXPECT_EQ(gbk_char_tone(0xA1, static_cast<unsigned char>(trail)), Tone::none) << trail;
    }
}

}  // namespace
}  // namespace quavella
