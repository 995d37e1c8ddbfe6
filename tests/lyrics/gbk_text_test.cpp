// Lyric input: strict UTF-8 validation, conversion to GBK, line joining.
#include "lyrics/gbk_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "gbk_bytes.h"

namespace quavella {
namespace {

struct Utf8Row {
    const char* name;
    std::string bytes;
    std::optional<std::size_t> bad_offset;  // nothing: valid
};

class Utf8Validation : public ::testing::TestWithParam<Utf8Row> {};

TEST_P(Utf8Validation, FindsFirstIllFormedSequence) {
    const Utf8Row& row = GetParam();
    EXPECT_EQ(find_invalid_utf8(row.bytes), row.bad_offset);
    const GbkConversion conv = utf8_to_gbk(row.bytes);
    EXPECT_EQ(conv.ok, !row.bad_offset.has_value());
    if (row.bad_offset) {
        EXPECT_EQ(conv.bad_offset, *row.bad_offset);
        EXPECT_TRUE(conv.gbk.empty());
    }
}

const std::vector<Utf8Row> kUtf8Rows = {
    {"Empty", "", std::nullopt},
    {"AsciiWithNul", std::string("a\0b", 3), std::nullopt},
    {"TwoThreeFourBytes", "\xC2\xA9\xE6\x98\xA5\xF0\x9F\x98\x80", std::nullopt},
    {"Limits", "\x7F\xDF\xBF\xEF\xBF\xBF\xF4\x8F\xBF\xBF\xED\x9F\xBF\xEE\x80\x80", std::nullopt},
    {"OverlongTwoByte", "ab\xC0\xAF", 2},
    {"OverlongC1", "\xC1\xBF", 0},
    {"OverlongThreeByte", "x\xE0\x9F\xBF", 1},
    {"OverlongFourByte", "\xF0\x8F\xBF\xBF", 0},
    {"SurrogateHigh", "\xE6\x98\xA5\xED\xA0\x80", 3},
    {"SurrogateLow", "\xED\xBF\xBF", 0},
    {"AboveMaxCodePoint", "\xF4\x90\x80\x80", 0},
    {"LeadF5", "\xF5\x80\x80\x80", 0},
    {"ByteFF", "ok\xFF", 2},
    {"StrayContinuation", "a\x80", 1},
    {"TruncatedAtEnd", "\xE6\x98\xA5\xE6\x98", 3},
    {"ContinuationMissing", "\xE6\x41\x42", 0},
    {"FourByteCutShort", "\xF0\x9F\x98!", 0},
};

INSTANTIATE_TEST_SUITE_P(Rows, Utf8Validation, ::testing::ValuesIn(kUtf8Rows), test::RowName{});

TEST(Utf8ToGbk, ConvertsToCodePage936) {
    // 春眠，。 and ASCII
    const GbkConversion conv = utf8_to_gbk("\xE6\x98\xA5\xE7\x9C\xA0\xEF\xBC\x8C\xE3\x80\x82 a,");
    ASSERT_TRUE(conv.ok);
    EXPECT_EQ(conv.gbk, "\xB4\xBA\xC3\xDF\xA3\xAC\xA1\xA3 a,");
    EXPECT_EQ(utf8_to_gbk("\xE2\x82\xAC").gbk, "\x80");  // the euro sign is 0x80 in 936
}

TEST(Utf8ToGbk, DropsCharactersGbkLacks) {
    // A byte order mark, an emoji and U+0080 between characters GBK has.
    const GbkConversion conv =
        utf8_to_gbk("\xEF\xBB\xBF\xE6\x98\xA5\xF0\x9F\x98\x80x\xC2\x80\xE7\x9C\xA0");
    ASSERT_TRUE(conv.ok);
    EXPECT_EQ(conv.gbk,
              "\xB4\xBA"
              "x"
              "\xC3\xDF");
    EXPECT_EQ(utf8_to_gbk("\xF0\x9F\x98\x80\xF0\x9F\x98\x80").gbk, "");
}

TEST(Utf8ToGbk, ListsEachDroppedCharacterOnceInOrder) {
    // An emoji, 春, U+20000 (beyond GBK), the emoji again, the euro sign (GBK has it).
    const GbkConversion conv =
        utf8_to_gbk("\xF0\x9F\x98\x80\xE6\x98\xA5\xF0\xA0\x80\x80\xF0\x9F\x98\x80\xE2\x82\xAC");
    ASSERT_TRUE(conv.ok);
    EXPECT_EQ(conv.gbk, "\xB4\xBA\x80");
    EXPECT_EQ(conv.dropped, (std::vector<std::string>{"\xF0\x9F\x98\x80", "\xF0\xA0\x80\x80"}));
    EXPECT_TRUE(utf8_to_gbk("\xE6\x98\xA5 a\xE2\x82\xAC").dropped.empty());
}

TEST(Utf8ToGbk, LongTextConvertsWhole) {
    std::string utf8, gbk;
    for (int i = 0; i < 100000; ++i) {
        utf8 += "\xE6\x98\xA5\xF0\x9F\x98\x80";  // 春 and an emoji that is dropped
        gbk += "\xB4\xBA";
    }
    EXPECT_EQ(utf8_to_gbk(utf8).gbk, gbk);
}

TEST(JoinLyricLines, LinesJoinWithNothingBetween) {
    EXPECT_EQ(join_lyric_lines("ab\ncd"), "abcd");
    EXPECT_EQ(join_lyric_lines("ab\r\ncd\r\n"), "abcd");
    EXPECT_EQ(join_lyric_lines("\n\nab\rcd\n"), "abcd");
    EXPECT_EQ(join_lyric_lines(std::string("a \t\0b", 5)), std::string("a \t\0b", 5));
}

TEST(LyricInput, Utf8IsConvertedThenJoined) {
    const GbkConversion conv =
        lyric_text_from_input("\xE6\x98\xA5\r\n\xE7\x9C\xA0\n", LyricEncoding::utf8);
    ASSERT_TRUE(conv.ok);
    EXPECT_EQ(conv.gbk, "\xB4\xBA\xC3\xDF");
}

TEST(LyricInput, BadOffsetCountsInTheInputAsGiven) {
    const GbkConversion conv = lyric_text_from_input("ab\r\ncd\n\xFF", LyricEncoding::utf8);
    EXPECT_FALSE(conv.ok);
    EXPECT_EQ(conv.bad_offset, 7u);
    // A character cut by a line break is invalid, though its halves meet once joined.
    const GbkConversion cut = lyric_text_from_input("a\n\xE6\x98\r\n\xA5", LyricEncoding::utf8);
    EXPECT_FALSE(cut.ok);
    EXPECT_EQ(cut.bad_offset, 2u);
}

TEST(LyricLines, SplitAtEveryKindOfLineBreak) {
    using Lines = std::vector<std::string_view>;
    EXPECT_EQ(split_lyric_lines("a\r\nb\rc\nd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(split_lyric_lines("a\n\n"), (Lines{"a", "", ""}));
    EXPECT_EQ(split_lyric_lines(""), (Lines{""}));
}

TEST(LyricLines, JoinedThenConvertedWithTheBadLineNamed) {
    const std::vector<std::string> lines{"\xE6\x98\xA5 ", "", "\xE7\x9C\xA0\xF0\x9F\x98\x80"};
    const GbkConversion conv = lyric_text_from_lines(lines, LyricEncoding::utf8);
    ASSERT_TRUE(conv.ok);
    EXPECT_EQ(conv.gbk, "\xB4\xBA \xC3\xDF");
    EXPECT_EQ(conv.dropped, std::vector<std::string>{"\xF0\x9F\x98\x80"});

    const GbkConversion bad =
        lyric_text_from_lines(std::vector<std::string>{"ab", "c\xFF"}, LyricEncoding::utf8);
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.bad_line, 1u);
    EXPECT_EQ(bad.bad_offset, 1u);
}

TEST(LyricInput, GbkBytesAreTakenAsTheyStand) {
    const GbkConversion conv = lyric_text_from_input("\xB4\xBA\n\xFF\x80\r\n", LyricEncoding::gbk);
    ASSERT_TRUE(conv.ok);
    EXPECT_EQ(conv.gbk, "\xB4\xBA\xFF\x80");
}

/// Lyric input with characters that are no sung word, and the text it comes to
/// (UTF-8 on both sides; the test compares their GBK forms).
struct TidyRow {
    const char* name;
    std::string input;
    std::string tidied;
};

void PrintTo(const TidyRow& row, std::ostream* out) { *out << row.name; }

const TidyRow kTidyRows[] = {
    {"PlainTextKeepsItsBytes", "春眠不觉晓，处处闻啼鸟。don't stop 1, 2; go? yes! a.b", ""},
    {"TabAndIdeographicSpaceAreSpaces", "\t春眠\t不觉　晓\v\f", " 春眠 不觉 晓  "},
    {"ControlBytesAreDropped", std::string("春\0眠\x01不\x1B觉\x7F晓", 19), "春眠不觉晓"},
    {"UnicodeSpacesAreSpaces", "春\u00A0眠\u2003不\u202F觉\u3000晓\u2028", "春 眠 不 觉 晓 "},
    {"C1ControlsAndByteOrderMarksGoSilently", "\uFEFF春\u0085眠\u0090不\uFEFF觉", "春 眠不觉"},
    {"QuotationMarksAndBracketsAreNotSung",
     "“春”‘眠’《不》「觉」『晓』（处）〈处〉【闻】〔啼〕〖鸟〗［夜］｛来｝＂风＂＇雨＇＜声＞",
     "春眠不觉晓处处闻啼鸟夜来风雨声"},
    {"EllipsisAndDashPartLikeSpacesMiddleDotGoes", "春眠……不觉——晓·处", "春眠  不觉  晓处"},
    {"AsciiMarksThatEndNoSentenceAreNotSung", "春:眠\"不\"觉#晓'(处)[处]<闻>{啼}*鸟@",
     "春眠不觉晓处处闻啼鸟"},
    {"ApostropheAndHyphenInsideALatinWordStay", "don't well-known 'quoted' -x- rock/roll a:b",
     "don't well-known quoted x rock roll a b"},
};

class TidyLyrics : public ::testing::TestWithParam<TidyRow> {};

/// GBK of UTF-8 text, through the converter the input path uses.
std::string gbk_of(std::string_view utf8) {
    const GbkConversion conv = utf8_to_gbk(utf8);
    EXPECT_TRUE(conv.ok && conv.dropped.empty()) << utf8;
    return conv.gbk;
}

TEST_P(TidyLyrics, BothEncodingsComeToTheSameTidyText) {
    const TidyRow& row = GetParam();
    const std::string want = gbk_of(row.tidied.empty() ? row.input : row.tidied);
    const GbkConversion utf8 = lyric_text_from_input(row.input, LyricEncoding::utf8);
    ASSERT_TRUE(utf8.ok);
    EXPECT_EQ(utf8.gbk, want);
    EXPECT_TRUE(utf8.dropped.empty()) << "nothing here is reported as unusable";
    // The window's path: the same text as lines.
    const GbkConversion lines =
        lyric_text_from_lines(std::vector<std::string>{row.input}, LyricEncoding::utf8);
    EXPECT_EQ(lines.gbk, want);
    // GBK input takes the same road after its conversion (where GBK has the characters).
    const GbkConversion as_gbk = utf8_to_gbk(row.input);
    if (as_gbk.dropped.empty()) {
        const GbkConversion gbk = lyric_text_from_input(as_gbk.gbk, LyricEncoding::gbk);
        EXPECT_EQ(gbk.gbk, want);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, TidyLyrics, ::testing::ValuesIn(kTidyRows), test::RowName{});

TEST(TidyLyrics, DoubleByteCharactersAreNeverCutByTheirSecondByte) {
    // GBK extension characters have a second byte in the ASCII range (0x40 to 0x7E):
    // 丂 is 81 40, 亊 is 81 7B ('{'); a stray pair, stray high bytes and a lead byte
    // at the end are left for the scan as they are. None may lose a byte.
    const std::string text = "\x81\x40\x81\x7B\x81\x22\xFF\x80\x81";
    EXPECT_EQ(tidy_lyric_text(text), text);
}

TEST(LyricInput, EncodingNames) {
    EXPECT_EQ(parse_lyric_encoding("utf-8"), LyricEncoding::utf8);
    EXPECT_EQ(parse_lyric_encoding("UTF8"), LyricEncoding::utf8);
    EXPECT_EQ(parse_lyric_encoding("GBK"), LyricEncoding::gbk);
    EXPECT_EQ(parse_lyric_encoding("cp936"), LyricEncoding::gbk);
    EXPECT_EQ(parse_lyric_encoding("latin1"), std::nullopt);
    EXPECT_EQ(parse_lyric_encoding(""), std::nullopt);
}

}  // namespace
}  // namespace quavella
