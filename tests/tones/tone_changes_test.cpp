// Tones of real words: the reading of each character in its word (the
// customary reading where no word says otherwise) from the generated tables,
// then the tone changes (third-tone sandhi, 一, 不) within a phrase.
#include "tones/tone_changes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lyrics/gbk_text.h"
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
    // Characters with several readings are read by their word: 长城 cháng; 银行
    // háng and 音乐 yuè have the tones of xíng and lè. 的, 了, 吗 are neutral.
    {"polyphonic", {"长城银行音乐"}, "222214", "222214"},
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

struct ReadingRow {
    const char* name;
    std::vector<std::string> sentences;
    const char* citation;  // tones of the readings
    const char* sung;      // after the tone changes
    std::size_t at;        // a syllable
    const char* word;      // the word that reads it (UTF-8); "" for the customary reading
};

void PrintTo(const ReadingRow& row, std::ostream* out) { *out << row.name; }

class ReadByWordTest : public testing::TestWithParam<ReadingRow> {};

TEST_P(ReadByWordTest, TonesAndTheWordThatGaveThem) {
    const ReadingRow& row = GetParam();
    const auto tones = syllable_tones(test::syllables_of(row.sentences));
    EXPECT_EQ(digits(tones, &SyllableTone::citation), row.citation);
    EXPECT_EQ(digits(tones, &SyllableTone::sung), row.sung);
    ASSERT_LT(row.at, tones.size());
    EXPECT_EQ(gbk_to_utf8(tones[row.at].word), row.word);
}

const ReadingRow kReadings[] = {
    // 地: dì in its words, de (the customary reading) after an adverb.
    {"dadi", {"大地"}, "44", "44", 1, "大地"},
    {"dishangshuang", {"疑是地上霜"}, "24441", "24441", 2, "地上"},
    {"qingqingde", {"轻轻地走"}, "1153", "1153", 2, ""},
    // 着: zhe after a verb, zháo in 睡着, 着火.
    {"kanzhe", {"看着我"}, "453", "453", 1, ""},
    {"shuizhao", {"睡着了"}, "425", "425", 1, "睡着"},
    {"zhaohuo", {"着火"}, "23", "23", 0, "着火"},
    // 长: zhǎng (the customary reading) in 成长, cháng in 长城, 长江.
    {"changjiang", {"长江"}, "21", "21", 0, "长江"},
    {"chengzhang", {"成长"}, "23", "23", 1, ""},
    // 重: chóng in 重新, zhòng by itself.
    {"chongxin", {"重新"}, "21", "21", 0, "重新"},
    {"henzhong", {"很重"}, "34", "34", 1, ""},
    // 为: wéi in 成为, wèi in 因为.
    {"chengwei", {"成为"}, "22", "22", 1, "成为"},
    {"yinwei", {"因为"}, "14", "14", 1, ""},
    // 得: de in 觉得, dé by itself; 好: hào in 好奇 and 爱好.
    {"juede", {"觉得"}, "25", "25", 1, "觉得"},
    {"dedao", {"得到"}, "24", "24", 0, ""},
    {"haoqi", {"好奇"}, "42", "42", 0, "好奇"},
    {"aihao", {"爱好"}, "44", "44", 1, "爱好"},
    // 了: liǎo in 了解, whose two third tones then change as any others do;
    // le after a verb.
    {"liaojie", {"了解"}, "33", "23", 0, "了解"},
    {"haole", {"好了"}, "35", "35", 1, ""},
    // The old third tone of 长 (zhǎng) before 久 no longer rises: 长久 is cháng jiǔ.
    {"changjiu", {"长久"}, "23", "23", 0, "长久"},
    // The longest word around a character reads it: 生长期 zhǎng beside 长期
    // cháng, 空着手 zhe beside 着手 zhuó. Of two as long, the first: 万里长征 has
    // no word 里长 (lǐ zhǎng) to take 长征 from it.
    {"changqi", {"长期"}, "21", "21", 0, "长期"},
    {"shengzhangqi", {"生长期"}, "131", "131", 1, "生长期"},
    {"zhuoshou", {"着手"}, "23", "23", 0, "着手"},
    {"kongzheshou", {"空着手"}, "153", "153", 1, "空着手"},
    {"wanlichangzheng", {"万里长征"}, "4321", "4321", 2, "长征"},
    // Readings of the same tone need no word: 行 háng and xíng, 都 dū and dōu,
    // 还 hái and huán, 乐 lè and yuè.
    {"yinhang", {"银行"}, "22", "22", 1, ""},
    {"shoudu", {"首都"}, "31", "31", 1, ""},
    {"huanjia", {"还家"}, "21", "21", 0, ""},
    {"kuaile", {"快乐"}, "44", "44", 1, ""},
    // A word is read only inside a phrase: not across a pause, a sentence end,
    // a Latin word or a continuation's neighbour without a reading.
    {"pause", {"长 城"}, "32", "32", 0, ""},
    {"sentence_end", {"大", "地"}, "45", "45", 1, ""},
    {"latin_between", {"长ok城"}, "3-2", "3-2", 0, ""},
    {"continuation", {"长_城"}, "2-2", "2-2", 0, "长城"},
    // 一 and 不 keep the changes made where they are sung: 一行 yì háng.
    {"yihang", {"一行"}, "12", "42", 1, ""},
};

INSTANTIATE_TEST_SUITE_P(Words, ReadByWordTest, testing::ValuesIn(kReadings), test::RowName{});

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
