// Syllable texts: real lyric lines cut into the pieces each note sings, and,
// for any byte string at all, one text per note of the composer with every
// character of the lyrics kept in order.
#include "lyrics/syllables.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "composer/compose_request.h"
#include "composer/draws.h"
#include "composer/message_sink.h"
#include "gbk_bytes.h"
#include "lyrics/gbk_text.h"
#include "tests/support/files.h"

namespace quavella::test {
namespace {

std::string gbk(const std::string& utf8) {
    const GbkConversion conv = utf8_to_gbk(utf8);
    EXPECT_TRUE(conv.ok);
    return conv.gbk;
}

/// One entry per note, separated by blanks: the text in UTF-8 ("~" for a
/// continuation, "\"\"" for an empty sung text), then "," when a pause follows
/// and "." when the sentence ends; "|" where the next sentence begins.
std::string show(const std::vector<SyllableText>& syllables) {
    std::string s;
    for (std::size_t i = 0; i < syllables.size(); ++i) {
        const SyllableText& syl = syllables[i];
        if (i > 0) s += syl.sentence != syllables[i - 1].sentence ? " | " : " ";
        s += syl.continuation   ? std::string("~")
             : syl.text.empty() ? std::string("\"\"")
                                : gbk_to_utf8(syl.text);
        if (syl.pause_after) s += ',';
        if (syl.sentence_end) s += '.';
    }
    return s;
}

struct SyllableRow {
    const char* name;
    std::string text;  // GBK
    const char* expected;
};

class RealLyrics : public ::testing::TestWithParam<SyllableRow> {};

TEST_P(RealLyrics, EachNoteGetsItsText) {
    EXPECT_EQ(show(syllable_texts(GetParam().text)), GetParam().expected);
}

const std::vector<SyllableRow> kRows = {
    {"ChineseFourLines", gbk("春眠不觉晓，处处闻啼鸟。夜来风雨声，花落知多少。"),
     "春 眠 不 觉 晓. | 处 处 闻 啼 鸟. | 夜 来 风 雨 声. | 花 落 知 多 少."},
    // Two sentences and four pauses: the two pauses between the heaviest
    // neighbours (the first on ties) become sentence ends.
    {"ChinesePausesAtSpaces", gbk("我们 一起 唱，歌声 飞过 山冈。"),
     "我 们. | 一 起, 唱. | 歌 声. | 飞 过, 山 冈."},
    // Two sentences are split into four; ASCII words carry their extra syllables
    // as continuations.
    {"EnglishLine", gbk("hello world, sing along."), "hello ~. | world ~. | sing ~. | along ~."},
    {"MixedWordMoreSyllablesThanUnits", gbk("我爱music，你爱歌，他爱诗，谁爱我。"),
     "我 爱 music ~. | 你 爱 歌. | 他 爱 诗. | 谁 爱 我."},
    // "春天1" ended by a space after a digit: the single-byte rule gives 2 for 5
    // bytes; three units on two notes, the last note sings the rest. No pause.
    {"DigitAfterChineseMoreUnitsThanSyllables", gbk("春天1 花开，夏雨，秋风，冬雪。"),
     "春 天1 花 开. | 夏 雨. | 秋 风. | 冬 雪."},
    {"DigitsOnlyWord", gbk("2024 年，我们，一起，唱。"), "2024 ~ 年. | 我 们. | 一 起. | 唱."},
    // A one-letter word before a double-byte mark counts 0: its text goes to a
    // neighbour, the previous syllable when there is one, else the next.
    {"OneLetterAfterSyllables", gbk("春眠 a，不觉晓，处处闻，啼鸟。"),
     "春 眠a,. | 不 觉 晓. | 处 处 闻. | 啼 鸟."},
    {"OneLetterFirst", gbk("a，春眠不觉晓，处处闻，啼鸟。"),
     "a春 眠 不 觉 晓. | 处 处 闻. | 啼 鸟."},
    {"IgnoredMarksJoinWithoutText", gbk("春～眠、不觉　晓－啊，夏，秋，冬。"),
     "春 眠 不 觉 晓 啊. | 夏. | 秋. | 冬."},
    // An ignored mark inside a Latin word splits it into units; the nine bytes
    // ended by a double-byte mark count 4.
    {"HyphenatedLatinWord", gbk("sing－along，la，la，la。"), "sing along ~ ~. | la. | la. | la."},
    // A GBK extension character with a second byte below 0x80: the scan pairs
    // bytes across it (and so swallows the final comma into a fourth syllable),
    // the texts keep it whole.
    {"ExtensionCharacterKeptWhole", gbk("丂 我们唱，"), "丂. | 我. | 们. | 唱 ~."},
    {"LoneHighByteAtTheEndIsKept", gbk("春眠不觉晓") + "\xB0",
     "春. | 眠. | 不. | 觉 晓\xEF\xBF\xBD."},
};

INSTANTIATE_TEST_SUITE_P(Rows, RealLyrics, ::testing::ValuesIn(kRows), RowName{});

/// The lyrics as the user sees them, minus delimiters and ignored marks: the
/// text decoded as GBK characters in order (a byte that starts none stands
/// alone), without spaces, , . ; ? ! and the ten double-byte marks.
std::string visible_characters(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const auto t = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (b >= 0x81 && b <= 0xFE && t >= 0x40 && t <= 0xFE && t != 0x7F) {
            static const std::vector<std::string> marks = {kJu,  kDou,       kWen,  kTan, kFen,
                                                           kMao, kIdeoSpace, kDash, kDun, kTilde};
            const std::string pair = text.substr(i, 2);
            if (std::find(marks.begin(), marks.end(), pair) == marks.end()) out += pair;
            i += 2;
            continue;
        }
        if (std::string_view(" ,.;?!").find(static_cast<char>(b)) == std::string_view::npos) {
            out += static_cast<char>(b);
        }
        ++i;
    }
    return out;
}

/// Random lyric-like bytes: Chinese characters, letters, digits, spaces, both
/// kinds of marks, ignored marks, stray high bytes and extension characters.
std::string random_lyrics(std::mt19937& rng) {
    static const std::vector<std::string> pieces = {
        cn(1),  cn(1, 7), cn(1, 300), "a",        "b",    "Z",        "7",    "-",
        " ",    " ",      ",",        ".",        "?",    "!",        ";",    kJu,
        kDou,   kWen,     kTan,       kFen,       kMao,   kIdeoSpace, kDash,  kDun,
        kTilde, "\xB0",   "\xA3",     "\x81\x40", "\x81", "\xFF",     "\x80", std::string(1, '\0'),
        "\t"};
    std::uniform_int_distribution<std::size_t> length(0, 40);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    std::uniform_int_distribution<int> any_byte(0, 255);
    std::string s;
    const std::size_t n = length(rng);
    for (std::size_t k = 0; k < n; ++k) {
        if (k % 7 == 3) {
            s.push_back(static_cast<char>(any_byte(rng)));
        } else {
            s += pieces[pick(rng)];
        }
    }
    return s;
}

TEST(SyllableTexts, OneTextPerComposedNoteAndNoCharacterLostForAnyBytes) {
    std::mt19937 rng(20240611);
    QuietSink sink;
    for (int round = 0; round < 400; ++round) {
        const std::string text = random_lyrics(rng);
        SCOPED_TRACE(::testing::PrintToString(text));
        const std::vector<SyllableText> syllables = syllable_texts(text);

        Generators draws(static_cast<std::uint64_t>(round));
        const ComposeOutcome outcome = compose_melody(text, round % 3, round % 4, 0, draws, sink);
        ASSERT_EQ(syllables.size(), outcome.nt_seq.size());

        std::string joined;
        for (std::size_t i = 0; i < syllables.size(); ++i) {
            const SyllableText& s = syllables[i];
            joined += s.text;
            EXPECT_TRUE(!s.continuation || s.text.empty());
            EXPECT_FALSE(i == 0 && s.continuation);
            EXPECT_GE(s.sentence, 0);
            EXPECT_LE(s.sentence, 3);
            if (i + 1 < syllables.size()) {
                EXPECT_LE(s.sentence, syllables[i + 1].sentence);
                EXPECT_TRUE(!s.sentence_end || s.sentence < syllables[i + 1].sentence);
            }
        }
        // A text without syllables has no note to carry its characters.
        if (!syllables.empty()) {
            EXPECT_EQ(joined, visible_characters(text));
            EXPECT_TRUE(syllables.back().sentence_end);
        }
    }
}

}  // namespace
}  // namespace quavella::test
