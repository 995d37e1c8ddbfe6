// Word scan and run merge of the lyric tokenizer, stage by stage.
#include "lyrics/lyric_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gbk_bytes.h"
#include "lyrics/gbk_text.h"

namespace quavella::test {
namespace {

const std::string sp = " ";

struct ScanRow {
    const char* name;
    std::string text;
    const char* scanned;  // layout after the word scan
    const char* merged;   // layout after the run merge
};

class WordScan : public ::testing::TestWithParam<ScanRow> {};

TEST_P(WordScan, ScanThenMerge) {
    const ScanRow& row = GetParam();
    PhraseLayout layout = scan_lyrics(row.text);
    EXPECT_EQ(show(layout), show(lay(row.scanned)));
    merge_runs(layout);
    EXPECT_EQ(show(layout), show(lay(row.merged)));
}

const std::vector<ScanRow> kScanRows = {
    {"FourSentencesOfFive", cn(5) + kDou + cn(5) + kJu + cn(5) + kDou + cn(5) + kJu,
     "5 E 5 E 5 E 5 E", "5 E 5 E 5 E 5 E"},
    {"SpacesAfterChinesePause",
     cn(2) + sp + cn(2) + sp + cn(1) + kDou + cn(2) + sp + cn(2) + sp + cn(1) + kJu,
     "2 P 2 P 1 E 2 P 2 P 1 E", "2 P 2 P 1 E 2 P 2 P 1 E"},
    {"AsciiWordsSingleByteRule",
     wn(1) + sp + wn(4) + sp + wn(3) + "," + sp + wn(2) + sp + wn(4) + ".", "1 2 1 E 1 2 E",
     "4 E 3 E"},
    {"AsciiWordLengthsOneTwoThree",
     wn(3) + sp + wn(4) + sp + wn(6) + sp + wn(7) + sp + wn(12) + ".", "1 2 2 3 3 E", "11 E"},
    {"NoMarkNoSpace", cn(8), "8 E", "8 E"},
    {"SpacesOnly", cn(4) + sp + cn(5) + sp + cn(4) + sp + cn(5), "4 P 5 P 4 P 5 E",
     "4 P 5 P 4 P 5 E"},
    {"MarkAfterSpaceEndsNothing", cn(2) + sp + kJu + cn(2) + kDou, "2 P 2 E", "2 P 2 E"},
    {"SecondMarkAddsNothing", cn(2) + kJu + kJu, "2 E", "2 E"},
    {"TrailingSpace", cn(2) + sp, "2 P E", "2 P E"},
    {"OnlyDelimiters", sp + kJu + "," + kDun + sp + kIdeoSpace + "!" + sp + sp + kTilde, "E", "E"},
    {"IgnoredMarkJoinsWords", cn(2) + kDun + cn(2), "4 E", "4 E"},
    {"IgnoredMarksNeitherEndNorSplit", cn(1) + kIdeoSpace + cn(1) + kDash + cn(1) + kTilde + cn(1),
     "4 E", "4 E"},
    {"AsciiWordBeforeDoubleByteMark", wn(5) + kJu, "2 E", "2 E"},
    {"OneLetterBeforeDoubleByteMark", wn(1) + kDou, "0 E", "P E"},
    {"DigitThenSpaceNoPause", cn(2) + "7" + sp + cn(2), "2 2 E", "4 E"},
    {"LetterAtEndDecidedByHighByte", cn(2) + wn(1), "2 E", "2 E"},
    {"LetterAfterFourCharsAtEnd", cn(4) + wn(1), "4 E", "4 E"},
    {"DigitsThenChineseAtEnd", "2024" + cn(6), "8 E", "8 E"},
    {"AsciiMarkAfterChinese", cn(3) + "!" + cn(2) + "?", "3 E 2 E", "3 E 2 E"},
    {"EverySentenceMark",
     cn(1) + kJu + cn(1) + kDou + cn(1) + kWen + cn(1) + kTan + cn(1) + kFen + cn(1) + kMao +
         cn(1) + "," + cn(1) + "." + cn(1) + ";" + cn(1) + "?" + cn(1) + "!",
     "1 E 1 E 1 E 1 E 1 E 1 E 1 E 1 E 1 E 1 E 1 E", "1 E 1 E 1 E 1 E 1 E 1 E 1 E 1 E 1 E 1 E 1 E"},
    {"OtherPunctuationIsSyllable", cn(1) + "\xA1\xB0" + cn(1) + "\xA1\xAD", "4 E", "4 E"},
    {"ColonAndHyphenJoinWord", wn(2) + ":" + wn(2) + "-" + wn(3) + ".", "3 E", "3 E"},
    {"LoneHighByteAtEndDropped", cn(3) + "\xC4", "3 E", "3 E"},
    {"HighAsciiHighMakeOnePair", "\xC4" + wn(2) + "\xE3" + kJu, "2 E", "2 E"},
    // 81 40 is not seen as one character: 81 pairs with the next high byte,
    // which shifts every later pair and swallows the mark.
    {"ExtensionCharShiftsPairs", "\x81\x40" + cn(2) + kJu, "3 E", "3 E"},
    {"StrayHighByteSwallowsMark", cn(1) + "\xC4" + kJu, "2 E", "2 E"},
    {"ControlBytesJoinWord", cn(1) + std::string("\0\t\x01", 3) + cn(1) + kJu, "3 E", "3 E"},
    {"EmptyText", "", "E", "E"},
    {"OneLetterText", "a", "1 E", "1 E"},
    {"OneHighByteText", "\xC4", "E", "E"},
    {"OneSpaceText", " ", "E", "E"},
};

INSTANTIATE_TEST_SUITE_P(Rows, WordScan, ::testing::ValuesIn(kScanRows), RowName{});

TEST(WordScanLines, JoinedLinesRunTogether) {
    const std::string two_lines = cn(3) + "\r\n" + cn(3, 3) + "\n";
    EXPECT_EQ(show(scan_lyrics(join_lyric_lines(two_lines))), "6 E");
}

struct MergeRow {
    const char* name;
    const char* in;
    const char* out;
};

class RunMerge : public ::testing::TestWithParam<MergeRow> {};

TEST_P(RunMerge, MergesRunsBetweenMarkers) {
    PhraseLayout layout = lay(GetParam().in);
    merge_runs(layout);
    EXPECT_EQ(show(layout), show(lay(GetParam().out)));
}

const std::vector<MergeRow> kMergeRows = {
    {"AlreadyMerged", "5 E 5 E", "5 E 5 E"},
    {"RunBeforeEnd", "1 2 1 E 1 2 E", "4 E 3 E"},
    {"RunBeforePause", "2 2 P 3 1 E", "4 P 4 E"},
    {"ZeroCountBecomesMarker", "3 0 2 E", "3 P 2 E"},
    {"LeadingZero", "0 E", "P E"},
    {"MarkersOnly", "P E E", "P E E"},
    {"LoneEnd", "E", "E"},
    {"RunAfterLastMarkerDropped", "2 E 3 4", "2 E"},
};

INSTANTIATE_TEST_SUITE_P(Rows, RunMerge, ::testing::ValuesIn(kMergeRows), RowName{});

}  // namespace
}  // namespace quavella::test
