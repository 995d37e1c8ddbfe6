// The melody in bars: durations and places in the bar to numbered-notation
// symbols, pitches to degrees and octave dots, the note under a player
// position, and for many composed melodies the durations kept exactly.
#include "notation/score.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "composer/compose_request.h"
#include "composer/draws.h"
#include "composer/message_sink.h"
#include "lyrics/gbk_text.h"
#include "tests/support/files.h"

namespace quavella::notation {
namespace {

/// One glyph as written: digit (0 for a rest), "_" per underline, "." when
/// dotted, " -" per dash, "~" when tied on; bars separated by " | ".
std::string show(const Score& score) {
    std::string s;
    for (std::size_t b = 0; b < score.bars.size(); ++b) {
        if (b > 0) s += " |";
        for (const Glyph& g : score.bars[b].glyphs) {
            if (!s.empty()) s += ' ';
            s += std::to_string(g.degree);
            s += std::string(static_cast<std::size_t>(g.underlines), '_');
            if (g.dotted) s += '.';
            for (int d = 0; d < g.dashes; ++d) s += " -";
            if (g.tie_to_next) s += '~';
        }
    }
    return s;
}

Melody melody_of(const std::vector<int>& notes, const std::vector<int>& ticks) {
    Melody m;
    m.notes = notes;
    m.ticks = ticks;
    m.lyrics.resize(notes.size());
    m.tempo = 90;
    return m;
}

struct TickRow {
    const char* name;
    int lead;  // ticks of a note 1 (C4) placing the note 5 (G4) under test
    int ticks;
    const char* written;
};

class TickPatterns : public ::testing::TestWithParam<TickRow> {};

TEST_P(TickPatterns, WrittenSymbols) {
    const TickRow& row = GetParam();
    const Melody m =
        row.lead > 0 ? melody_of({60, 67}, {row.lead, row.ticks}) : melody_of({67}, {row.ticks});
    EXPECT_EQ(show(build_score(m)), row.written);
}

// The composer makes multiples of 60 ticks (an eighth) or of 120 (a beat).
const std::vector<TickRow> kTickRows = {
    {"QuarterOnBeatOne", 0, 120, "5 0 0 0"},
    {"EighthThenEighthRestsAndBeatRests", 0, 60, "5_ 0_ 0 0 0"},
    {"DottedQuarterOnTheBeat", 0, 180, "5. 0_ 0 0"},
    {"HalfIsDigitAndDash", 0, 240, "5 - 0 0"},
    {"TwoAndAHalfBeatsTieTheEighth", 0, 300, "5 -~ 5_ 0_ 0"},
    {"DottedHalf", 0, 360, "5 - - 0"},
    {"WholeFillsTheBar", 0, 480, "5 - - -"},
    {"TwoBarsTiedAtTheBarLine", 0, 960, "5 - - -~ | 5 - - -"},
    {"EighthOffTheBeatBeamsWithTheLead", 60, 60, "1_ 5_ 0 0 0"},
    {"QuarterOffTheBeatTiedOverTheBeat", 60, 120, "1_ 5_~ 5_ 0_ 0 0"},
    {"HalfOffTheBeatBecomesEighthAndDottedQuarter", 60, 240, "1_ 5_~ 5. 0_ 0"},
    {"DottedQuarterOnBeatThree", 240, 180, "1 - 5. 0_"},
    {"DashesDoNotCrossTheBarLine", 120, 420, "1 5 - -~ | 5_ 0_ 0 0 0"},
    {"EighthBeforeTheBarLineTied", 420, 120, "1 - -~ 1_ 5_~ | 5_ 0_ 0 0 0"},
    {"LongNoteFromTheLastEighth", 420, 600, "1 - -~ 1_ 5_~ | 5 - - -~ | 5_ 0_ 0 0 0"},
    {"EndsExactlyOnTheBarLine", 240, 240, "1 - 5 -"},
    // Finer values from a hand-made melody: sixteenths, a dotted eighth, and
    // a length no symbol writes, kept exact.
    {"DottedEighthAndSixteenth", 90, 30, "1_. 5__ 0 0 0"},
    {"SixteenthOffsetTiedToAnEighth", 30, 90, "1__ 5__~ 5_ 0 0 0"},
    {"ThirtySecond", 0, 15, "5___ 0___ 0__ 0_ 0 0 0"},
};

INSTANTIATE_TEST_SUITE_P(Rows, TickPatterns, ::testing::ValuesIn(kTickRows),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(TickPatterns, EveryComposerDurationOnEveryEighthOfTheBar) {
    // Durations of 1 to 24 eighths from each of the eight positions: each piece
    // keeps inside its bar, a piece off the beat inside its beat, dashes and
    // dots only on the beat, and the pieces add up to the note.
    for (int lead = 0; lead < kBarTicks; lead += 60) {
        for (int ticks = 60; ticks <= 24 * 60; ticks += 60) {
            SCOPED_TRACE(::testing::Message() << "lead " << lead << " ticks " << ticks);
            const Score score = lead > 0 ? build_score(melody_of({60, 67}, {lead, ticks}))
                                         : build_score(melody_of({67}, {ticks}));
            const int note = lead > 0 ? 1 : 0;
            int sum = 0;
            int firsts = 0;
            for (const Bar& bar : score.bars) {
                for (const Glyph& g : bar.glyphs) {
                    EXPECT_LE(g.start + g.ticks, kBarTicks);
                    if (g.note != note) continue;
                    sum += g.ticks;
                    firsts += g.first ? 1 : 0;
                    if (g.start % kTicksPerBeat != 0) {
                        EXPECT_LE(g.start % kTicksPerBeat + g.ticks, kTicksPerBeat);
                    }
                    if (g.dashes > 0 || (g.dotted && g.underlines == 0)) {
                        EXPECT_EQ(g.start % kTicksPerBeat, 0);
                    }
                    EXPECT_EQ(g.ticks, (g.underlines == 0 ? (1 + g.dashes) * kTicksPerBeat
                                                          : kTicksPerBeat >> g.underlines) *
                                           (g.dotted ? 3 : 2) / 2);
                }
            }
            EXPECT_EQ(sum, ticks);
            EXPECT_EQ(firsts, 1);
        }
    }
}

TEST(Pitches, DegreesAndOctaveDotsInC) {
    struct Row {
        int midi, degree, octave;
        bool sharp;
    };
    const std::vector<Row> rows = {
        {60, 1, 0, false},  {62, 2, 0, false},  {64, 3, 0, false},  {65, 4, 0, false},
        {67, 5, 0, false},  {69, 6, 0, false},  {71, 7, 0, false},  {72, 1, 1, false},
        {76, 3, 1, false},  {55, 5, -1, false}, {57, 6, -1, false}, {59, 7, -1, false},
        {48, 1, -1, false}, {47, 7, -2, false}, {84, 1, 2, false},  {61, 1, 0, true},
        {70, 6, 0, true},   {0, 1, -5, false},
    };
    for (const Row& r : rows) {
        const Score score = build_score(melody_of({r.midi}, {120}));
        const Glyph& g = score.bars.at(0).glyphs.at(0);
        EXPECT_EQ(g.degree, r.degree) << r.midi;
        EXPECT_EQ(g.octave, r.octave) << r.midi;
        EXPECT_EQ(g.sharp, r.sharp) << r.midi;
    }
}

// Rests after notes: one 0 a beat on the beat, underlined inside a beat, never with a
// dash or a dot; the notes after them start later.
TEST(BuildScore, RestsAfterNotesAreWrittenAndMoveTheNotesAfterThem) {
    struct Row {
        const char* name;
        std::vector<int> ticks;  // of notes 1 (C4) and 5 (G4)
        std::vector<int> rests;
        const char* written;
        std::vector<int> starts;
    };
    const Row rows[] = {
        {"EighthRestOffTheBeat", {120, 120}, {60, 0}, "1 0_ 5_~ 5_ 0_ 0", {0, 180}},
        {"TwoBeatsAreTwoZeros", {120, 120}, {240, 0}, "1 0 0 5", {0, 360}},
        {"RestOverTheBarLine", {360, 120}, {240, 0}, "1 - - 0 | 0 5 0 0", {0, 600}},
        {"RestAfterTheLastNote", {120, 120}, {0, 480}, "1 5 0 0 | 0 0 0 0", {0, 120}},
        {"NoRestAtAll", {120, 120}, {0, 0}, "1 5 0 0", {0, 120}},
    };
    for (const Row& row : rows) {
        Melody m = melody_of({60, 67}, row.ticks);
        m.rests = row.rests;
        const Score score = build_score(m);
        EXPECT_EQ(show(score), row.written) << row.name;
        EXPECT_EQ(score.note_start, row.starts) << row.name;
    }
    const Score rested = build_score([] {
        Melody m = melody_of({60, 67}, {120, 120});
        m.rests = {60, 0};
        return m;
    }());
    EXPECT_EQ(note_at_tick(rested, 150), -1);
    EXPECT_EQ(note_at_tick(rested, 180), 1);
}

TEST(NoteAtTick, NoteSoundingAtPlayerPosition) {
    const Score score = build_score(melody_of({60, 62, 64}, {120, 60, 240}));
    struct Row {
        long tick;
        int note;
    };
    const std::vector<Row> rows = {{-1, -1}, {0, 0},   {119, 0},  {120, 1},  {179, 1},
                                   {180, 2}, {419, 2}, {420, -1}, {479, -1}, {100000, -1}};
    for (const Row& r : rows) EXPECT_EQ(note_at_tick(score, r.tick), r.note) << r.tick;
    EXPECT_EQ(note_at_tick(build_score(Melody{}), 0), -1);
}

TEST(BuildScore, EmptyMelodyHasNoBars) {
    const Score score = build_score(Melody{});
    EXPECT_TRUE(score.bars.empty());
    EXPECT_TRUE(score.title.empty());
}

class NullSink final : public MessageSink {
public:
    void show(const std::string&) override {}
};

std::string gbk(const std::string& utf8) { return utf8_to_gbk(utf8).gbk; }

class ComposedMelodies : public ::testing::Test {
protected:
    ComposeOutcome compose(const std::string& text, std::uint64_t seed, int speed, int mode) {
        Generators draws(seed);
        return compose_melody(text, speed, mode, 0, draws, sink_);
    }

    NullSink sink_;
};

TEST_F(ComposedMelodies, DurationsKeptExactlyAndEveryBarFull) {
    const std::vector<std::string> lyrics = {
        gbk("春眠不觉晓，处处闻啼鸟。夜来风雨声，花落知多少。"),
        gbk("我们 一起 唱，歌声 飞过 山冈。"),
        gbk("hello world, sing along, la la la."),
        gbk("长亭外，古道边，芳草碧连天。晚风拂柳笛声残，夕阳山外山。天之涯，地之角，知交半零落。"
            "一壶浊酒尽余欢，今宵别梦寒。"),
        gbk("我爱music，你爱歌 2024 年，a，春～眠、不觉　晓－啊"),
    };
    int melodies = 0;
    for (std::size_t t = 0; t < lyrics.size(); ++t) {
        for (std::uint64_t seed = 1; seed <= 24; ++seed) {
            const int speed = static_cast<int>(seed % 3);
            const int mode = static_cast<int>(seed % 4);
            SCOPED_TRACE(::testing::Message() << "lyric " << t << " seed " << seed);
            const ComposeOutcome outcome = compose(lyrics[t], seed, speed, mode);
            const Score score = build_score(melody_from(lyrics[t], outcome));
            const std::size_t n = outcome.nt_seq.size();
            ASSERT_EQ(score.melody.lyrics.size(), n);
            ASSERT_EQ(score.note_start.size(), n);

            std::vector<long> written(n, 0);
            std::vector<int> firsts(n, 0);
            const Glyph* before = nullptr;
            for (const Bar& bar : score.bars) {
                int bar_sum = 0;
                for (const Glyph& g : bar.glyphs) {
                    bar_sum += g.ticks;
                    if (before != nullptr && before->tie_to_next) {
                        EXPECT_EQ(g.note, before->note);
                        EXPECT_FALSE(g.first);
                    }
                    before = &g;
                    if (g.note < 0) continue;
                    const auto i = static_cast<std::size_t>(g.note);
                    written[i] += g.ticks;
                    firsts[i] += g.first ? 1 : 0;
                    // Degree and dots give the pitch back (C major, no sharps).
                    static const int kSemitone[] = {0, 0, 2, 4, 5, 7, 9, 11};
                    EXPECT_FALSE(g.sharp);
                    EXPECT_EQ(60 + 12 * g.octave + kSemitone[g.degree], outcome.nt_seq[i]);
                    const long at = score.note_start[i] + written[i] - g.ticks;
                    EXPECT_EQ(note_at_tick(score, at), g.note);
                }
                EXPECT_EQ(bar_sum, kBarTicks);
            }
            for (std::size_t i = 0; i < n; ++i) {
                EXPECT_EQ(written[i], outcome.tm_seq[i]) << "note " << i;
                EXPECT_EQ(firsts[i], 1) << "note " << i;
            }
            // The composer lengthens the last note of every sentence: the
            // sentence ends the lyrics mark are those notes.
            EXPECT_TRUE(score.melody.lyrics.back().sentence_end);
            ++melodies;
        }
    }
    EXPECT_EQ(melodies, 120);
}

TEST_F(ComposedMelodies, MelodyFromCarriesSettingsAndUtf8Syllables) {
    const std::string text = gbk("春眠不觉晓，处处闻啼鸟。夜来风雨声，花落知多少。");
    const ComposeOutcome outcome = compose(text, 42, 2, 3);
    const Melody m = melody_from(text, outcome);
    EXPECT_EQ(m.tempo, outcome.tempo);
    EXPECT_EQ(m.mode, outcome.mode);
    EXPECT_EQ(m.program, outcome.program);
    EXPECT_EQ(m.notes, std::vector<int>(outcome.nt_seq.begin(), outcome.nt_seq.end()));
    EXPECT_EQ(m.ticks, std::vector<int>(outcome.tm_seq.begin(), outcome.tm_seq.end()));
    std::string sung;
    std::string ends;
    for (const Lyric& l : m.lyrics) {
        sung += l.text;
        ends += l.sentence_end ? std::to_string(l.sentence) : "";
    }
    EXPECT_EQ(sung, "春眠不觉晓处处闻啼鸟夜来风雨声花落知多少");
    EXPECT_EQ(ends, "0123");
    EXPECT_EQ(build_score(m).title, "春眠不觉晓");
}

TEST(BuildScore, TitleIsTheFirstSentenceWithBlanksBetweenLatinWords) {
    Melody m = melody_of({60, 62, 64, 65}, {120, 120, 120, 120});
    m.lyrics = {{"hello", false, false, false, 0},
                {"", true, false, false, 0},
                {"world", false, false, true, 0},
                {"next", false, false, true, 1}};
    EXPECT_EQ(build_score(m).title, "hello world");
}

}  // namespace
}  // namespace quavella::notation

namespace {

struct TitleRow {
    const char* name;
    const char* sentence;
    const char* printed;
};

class PrintTitle : public testing::TestWithParam<TitleRow> {};

TEST_P(PrintTitle, EndsAtPunctuationAndFitsATitleLine) {
    EXPECT_EQ(quavella::notation::print_title(GetParam().sentence), GetParam().printed);
}

const TitleRow kTitleRows[] = {
    {"ShortKeptWhole", "春眠不觉晓", "春眠不觉晓"},
    {"EndsAtTheFirstPunctuation", "春眠不觉晓，处处闻啼鸟。", "春眠不觉晓"},
    {"EndsAtTheLineBreak", "春眠不觉晓\n处处闻啼鸟", "春眠不觉晓"},
    {"LatinEndsAtItsComma", "Spring sleep, no dawn", "Spring sleep"},
    {"SixteenWideFitExactly", "一二三四五六七八九十一二三四五六",
     "一二三四五六七八九十一二三四五六"},
    {"SeventeenWideShortenedWithEllipsis", "一二三四五六七八九十一二三四五六七",
     "一二三四五六七八九十一二三四五…"},
    {"FortyCharactersShortened",
     "我们一起走过春夏秋冬看过山川湖海听过风声雨声读书声也笑过哭过梦过醒过又重新出发",
     "我们一起走过春夏秋冬看过山川湖…"},
    {"ThirtyTwoLettersFit", "abcdefghijklmnopqrstuvwxyzabcdef", "abcdefghijklmnopqrstuvwxyzabcdef"},
    {"LettersShortenedWithoutSplittingACharacter", "abcdefghijklmnopqrstuvwxyzabcdefg",
     "abcdefghijklmnopqrstuvwxyzabcd…"},
    {"MixedWidthsNeverSplitAWideCharacter", "a一二三四五六七八九十一二三四五六",
     "a一二三四五六七八九十一二三四…"},
    {"EmptyStaysEmpty", "", ""},
};

INSTANTIATE_TEST_SUITE_P(Titles, PrintTitle, testing::ValuesIn(kTitleRows),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
