// Each composing stage of a Song alone, driven by scripted draws.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "composer/song.h"
#include "composer_test_support.h"

namespace quavella {
namespace {

const PhraseLayout layout29{5, STC_PAUSE, 4, STC_END, 7, STC_END,
                            5, STC_PAUSE, 2, STC_END, 6, STC_END};

TEST(SplitStc, CutsLayoutIntoFourSentences) {
    ScriptedDraws draws;
    RecordingSink sink;
    Song song(draws, sink);
    SongProbe::split_stc(song, layout29);
    EXPECT_EQ(song.get_stc_seq(0), (Sequence{5, 0, 4}));
    EXPECT_EQ(song.get_stc_seq(1), (Sequence{7}));
    EXPECT_EQ(song.get_stc_seq(2), (Sequence{5, 0, 2}));
    EXPECT_EQ(song.get_stc_seq(3), (Sequence{6}));
    EXPECT_TRUE(draws.bounds.empty());
}

TEST(SplitStcDeathTest, WrongNumberOfSentenceEndsStops) {
    const char* report =
        "Assertion failed: count\\( a.begin\\(\\),a.end\\(\\),STC_END\\) == 4, file song";
    ScriptedDraws draws;
    RecordingSink sink;
    for (const PhraseLayout& a :
         {PhraseLayout{3, STC_END, 2, STC_END, 4, STC_END},
          PhraseLayout{1, STC_END, 1, STC_END, 1, STC_END, 1, STC_END, 1, STC_END}}) {
        Song song(draws, sink);
        EXPECT_DEATH(song.compose_melody(a), report);
    }
}

TEST(Song, ConstructorDefaults) {
    ScriptedDraws draws;
    RecordingSink sink;
    Song song(draws, sink);
    EXPECT_EQ(song.get_program(), 0);
    EXPECT_EQ(song.get_tempo_bpm(), 90);
    EXPECT_EQ(song.get_mode(), 3);
    EXPECT_EQ(song.get_nt_range(), 5);
    EXPECT_EQ(song.get_first_nt(), 60);
    EXPECT_EQ(song.get_nt_cnt(), 0);
}

struct AreaRow {
    int mode;
    int r;       // draw for the lowest pool note
    int spread;  // draw of random(c / 3)
    int first_nt;
    int c3;  // bound of the second draw
    int nt_range;
};

TEST(MkNtArea, ScaleTablesAndPoolDraws) {
    const std::array<Sequence, 4> tables{{
        {55, 57, 60, 62, 64, 67, 69, 72, 74, 76},
        {55, 57, 60, 62, 64, 65, 67, 69, 72, 74, 76},
        {55, 57, 59, 60, 62, 64, 67, 69, 71, 72, 74, 76},
        {55, 57, 59, 60, 62, 64, 65, 67, 69, 71, 72, 74, 76},
    }};
    const std::vector<AreaRow> rows{
        {0, 0, 1, 55, 2, 6}, {0, 2, 0, 60, 2, 4}, {1, 0, 2, 55, 3, 9},  // 6 + 2 = 8 becomes 9
        {1, 2, 1, 60, 2, 5}, {2, 3, 1, 60, 2, 5}, {2, 1, 1, 57, 3, 7},
        {3, 0, 0, 55, 3, 7}, {3, 0, 1, 55, 3, 9},  // 8 becomes 9
        {3, 0, 2, 55, 3, 9}, {3, 3, 1, 60, 2, 6},
    };
    for (const AreaRow& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << "mode " << row.mode << " r " << row.r << " spread " << row.spread);
        ScriptedDraws draws({row.r, row.spread});
        RecordingSink sink;
        Song song(draws, sink);
        song.set_mode(row.mode);
        SongProbe::mk_nt_area(song);
        const Sequence& table = tables[static_cast<std::size_t>(row.mode)];
        EXPECT_EQ(song.get_nt_area(), table);
        EXPECT_EQ(draws.bounds, (std::vector<int>{static_cast<int>(table.size()) / 3, row.c3}));
        EXPECT_EQ(song.get_first_nt(), row.first_nt);
        EXPECT_EQ(song.get_nt_range(), row.nt_range);
        EXPECT_TRUE(sink.texts.empty());
    }
}

TEST(MkNtArea, UnknownModeReportsAndLeavesAreaEmpty) {
    for (int mode : {-1, 4}) {
        ScriptedDraws draws;
        RecordingSink sink;
        Song song(draws, sink);
        song.set_mode(mode);
        SongProbe::mk_nt_area(song);
        EXPECT_TRUE(song.get_nt_area().empty());
        EXPECT_EQ(sink.texts, (std::vector<std::string>{"mk_nt_area() error"}));
        EXPECT_TRUE(draws.bounds.empty());
    }
}

// Seed (1, 3) with R = 4: the zero sums draw 1, 1, 4, 3 and then 1 for the rest.
std::vector<int> worked_series_draws() { return {0, 2, 0, 0, 3, 2, 0, 0, 0, 0, 0}; }

Song& pool_song(Song& song) {
    SongProbe::set_area(song, {55, 57, 60, 62, 64, 67, 69, 72, 74, 76});
    SongProbe::set_pool(song, 60, 4);
    return song;
}

TEST(MakeNtSeq, WorkedExampleSeriesNotesAndMotifs) {
    std::vector<int> script = worked_series_draws();
    script.push_back(0);  // no reversal
    ScriptedDraws draws(script);
    RecordingSink sink;
    Song song(draws, sink);
    SongProbe::make_nt_seq(pool_song(song));
    EXPECT_EQ(song.get_nt_seq_now(), (Sequence{62, 64, 62, 62, 67, 64, 62, 60, 62, 62, 67, 64}));
    EXPECT_EQ(song.get_nt_motif(0), (Sequence{62, 64, 62}));
    EXPECT_EQ(song.get_nt_motif(1), (Sequence{62, 67, 64}));
    EXPECT_EQ(song.get_nt_motif(2), (Sequence{62, 60, 62}));
    EXPECT_EQ(song.get_nt_motif(3), (Sequence{62, 67, 64}));
    EXPECT_EQ(song.get_nt_range(), 4);
    EXPECT_EQ(draws.shuffle_draws, 0);  // one note left in the pool: nothing to shuffle
    EXPECT_TRUE(draws.exhausted());
    EXPECT_TRUE(sink.texts.empty());
}

struct NtSeqRow {
    std::string name;
    Sequence area;
    int first_nt;
    int nt_range;
    std::vector<int> script;  // seed, zero sums, no reversal
    std::vector<std::uint32_t> shuffles;
    Sequence notes;
};

// The tie and walk rules of the note assignment and the dealing of the
// shuffled pool, on series chosen to reach each rule.
TEST(MakeNtSeq, AssignmentRulesShuffleAndDealing) {
    const std::vector<NtSeqRow> rows{
        // Series 3 3 6 1 7 8 6 5 2 7 4 2 6 8 5 4 1 5 6 2 8 1 4 5 1 6 7 4, counts
        // 4 3 2 4 4 5 3 3 for the values 1..8. Rarest 3 gets 55; its first follower
        // is 3 itself, so the walk goes on and 6 gets 57. No other count 2 after
        // value 3: the count-3 search restarts from the first value, so 2 (not 7)
        // gets the highest note, 67. Eight values: 2's follower 7 gets 59. The
        // pool 60 62 64 65 is shuffled to 62 60 65 64 and dealt from its end to
        // 1, 4, 5, 8.
        {"follower walk, raised search from the first value, eight values",
         seven_tone_area(),
         55,
         9,
         {2, 2, 0, 3, 0, 3, 0, 0},
         {4, 5, 6},
         {55, 55, 57, 64, 59, 62, 57, 60, 67, 59, 65, 67, 57, 62,
          60, 65, 64, 60, 57, 67, 62, 64, 65, 60, 64, 57, 59, 65}},
        // Series 4 2 2 4 1 5 2 1 3 4 1 5 1 2 3 5 2 1 3 4 1 5 1 2 3 5 2 1, counts
        // 8 7 4 4 5. The first of the two rarest, 3, gets 57 and its follower 4
        // gets 60; 4 is also the second value, so the highest note 67 stays in the
        // pool. The pool 62 64 67 is shuffled to 67 62 64 and dealt to 1, 2, 5.
        {"second value already served",
         {55, 57, 60, 62, 64, 67, 69, 72, 74, 76},
         57,
         6,
         {3, 1, 1, 0, 1, 0, 1, 0, 1, 0},
         {0, 0},
         {60, 62, 62, 60, 64, 67, 62, 64, 57, 60, 64, 67, 64, 62,
          57, 67, 62, 64, 57, 60, 64, 67, 64, 62, 57, 67, 62, 64}},
    };
    for (const NtSeqRow& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedDraws draws(row.script, row.shuffles);
        RecordingSink sink;
        Song song(draws, sink);
        SongProbe::set_area(song, row.area);
        SongProbe::set_pool(song, row.first_nt, row.nt_range);
        SongProbe::make_nt_seq(song);
        EXPECT_EQ(song.get_nt_seq_now(), row.notes);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(song.get_nt_motif(i),
                      Sequence(row.notes.begin() + 7 * i, row.notes.begin() + 7 * (i + 1)));
        EXPECT_TRUE(draws.exhausted());
        EXPECT_TRUE(sink.texts.empty());
    }
}

TEST(MakeSeries, RestartsWhenSeedPairReturnsEarlyThenMayReverse) {
    // Seed (4, 4) makes every sum 0; drawing 4 each time repeats the pair at
    // position 2, so the series is discarded and a new seed is drawn.
    std::vector<int> script(28, 3);
    for (int v : worked_series_draws()) script.push_back(v);
    script.push_back(1);  // reverse
    ScriptedDraws draws(script);
    RecordingSink sink;
    Song song(draws, sink);
    pool_song(song);
    const Sequence series = SongProbe::make_series(song);
    EXPECT_EQ(series, (Sequence{3, 2, 1, 1, 4, 1, 3, 2, 1, 1, 3, 1}));
    std::vector<int> bounds(2 + 26 + 2 + 9, 4);
    bounds.push_back(2);
    EXPECT_EQ(draws.bounds, bounds);
}

TEST(MakeSeries, SeedPairThatNeverReturnsKeepsAllValues) {
    Generators g(2024);
    RecordingSink sink;
    bool saw28 = false;
    bool saw_short = false;
    for (int i = 0; i < 400; ++i) {
        Song song(g, sink);
        SongProbe::set_pool(song, 55, 4 + i % 6);
        const Sequence series = SongProbe::make_series(song);
        ASSERT_TRUE((series.size() >= 12 && series.size() <= 26) || series.size() == 28)
            << series.size();
        for (std::int32_t v : series) ASSERT_TRUE(v >= 1 && v <= 4 + i % 6);
        saw28 = saw28 || series.size() == 28;
        saw_short = saw_short || series.size() < 28;
    }
    EXPECT_TRUE(saw28);
    EXPECT_TRUE(saw_short);
}

TEST(MakeNtSeq, ShowSeqListsEntriesEachFollowedByABlank) {
    // first_nt outside the area: the pool stays empty, so no value gets a note.
    std::vector<int> script = worked_series_draws();
    script.push_back(0);
    ScriptedDraws draws(script);
    RecordingSink sink;
    Song song(draws, sink);
    SongProbe::set_area(song, {55, 57, 60, 62, 64, 67, 69, 72, 74, 76});
    SongProbe::set_pool(song, 61, 4);
    SongProbe::make_nt_seq(song);
    EXPECT_EQ(sink.texts,
              (std::vector<std::string>{" make_nt_seq2 error ! ", "error!", "0 0 0 0 ", ""}));
}

struct BuildRow {
    std::string name;
    Sequence motif;
    Sequence stc;
    std::vector<int> script;
    Sequence melody;
    std::vector<int> bounds;
};

TEST(BuildStc, GrowAndShrinkSteps) {
    const std::vector<BuildRow> rows{
        {"same length: only the direction", {62, 67, 64}, {2, 0, 1}, {1}, {62, 67, 64}, {2}},
        {"shrink at the front", {62, 67, 64}, {2}, {1}, {67, 64}, {2}},
        {"shrink before the last note", {62, 67, 64}, {2}, {0}, {62, 64}, {2}},
        {"no syllables, front", {62, 67, 64}, {0, 0}, {1}, {}, {2}},
        {"no syllables, back", {62, 67, 64}, {0}, {0}, {}, {2}},
        // repeats of 1 and 2 notes in front, doubling at 2, borrowed 64, neighbour of 62 before it
        {"grow at the front",
         {60, 64, 62},
         {9},
         {1, 0, 0, 0, 2, 1, 2, 7},
         {64, 60, 60, 60, 60, 60, 64, 60, 62},
         {2, 1, 2, 3, 3, 3, 3, 8}},
        // repeat of the last note, neighbour of 55 after it, borrowed 57 appended, doubling at 1
        {"grow at the back",
         {55, 57, 55},
         {4, 0, 3},
         {0, 0, 2, 0, 1, 0, 1},
         {55, 57, 57, 57, 55, 55, 57},
         {2, 1, 3, 4, 3, 3, 3}},
        {"borrowed note of a uniform melody, front",
         {60, 60, 60},
         {4},
         {1, 1},
         {60, 60, 60, 60},
         {2, 3}},
        {"borrowed note of a uniform melody, back",
         {60, 60, 60},
         {4},
         {0, 1},
         {60, 60, 60, 60},
         {2, 3}},
    };
    for (const BuildRow& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedDraws draws(row.script);
        RecordingSink sink;
        Song song(draws, sink);
        SongProbe::set_area(song, seven_tone_area());
        EXPECT_EQ(SongProbe::build_stc(song, row.motif, row.stc), row.melody);
        EXPECT_EQ(draws.bounds, row.bounds);
        EXPECT_TRUE(draws.exhausted());
        EXPECT_TRUE(sink.texts.empty());
    }
}

TEST(BuildStc, ImpossibleStepsReportAndGoOn) {
    ScriptedDraws draws({1, 3, 2, 0});  // step kind 3, then a neighbour of 61
    RecordingSink sink;
    Song song(draws, sink);
    SongProbe::set_area(song, seven_tone_area());
    const Sequence melody = SongProbe::build_stc(song, {61, 62, 64}, {5});
    EXPECT_EQ(sink.texts, (std::vector<std::string>{"build2 error!", "build1 error!"}));
    EXPECT_EQ(melody, (Sequence{76, 61, 62, 64}));  // the kind-3 step inserted nothing
}

TEST(BuildAll, SentenceMelodiesFollowEachOther) {
    // Directions only: every motif already fits its sentence, or shrinks.
    ScriptedDraws draws({0, 1, 0, 1});
    RecordingSink sink;
    Song song(draws, sink);
    SongProbe::split_stc(song, {3, STC_END, 1, 0, 1, STC_END, STC_PAUSE, STC_END, 2, STC_END});
    SongProbe::set_area(song, seven_tone_area());
    SongProbe::set_motifs(song, {{{60, 62, 64}, {65, 67, 69}, {71, 72, 74}, {55, 57, 59}}});
    SongProbe::build_all(song);
    EXPECT_EQ(song.get_nt_seq_now(), (Sequence{60, 62, 64, 67, 69, 57, 59}));
}

TEST(SmoothLeaps, IsolatedLeapsFollowThePreviousNote) {
    const std::vector<std::pair<Sequence, Sequence>> rows{
        {{60, 67, 60}, {60, 60, 60}},
        {{55, 62, 69}, {55, 55, 69}},
        {{60, 65, 60}, {60, 65, 60}},  // a leap of exactly 5 stays
        {{60, 70, 60, 70, 60}, {60, 60, 60, 60, 60}},
        {{76, 55, 76, 55}, {76, 76, 76, 55}},  // the change is seen by the next test; the ends stay
        {{60}, {60}},
        {{}, {}},
    };
    for (const auto& [before, after] : rows) {
        ScriptedDraws draws;
        RecordingSink sink;
        Song song(draws, sink);
        SongProbe::set_melody(song, before);
        SongProbe::smooth_leaps(song);
        EXPECT_EQ(song.get_nt_seq_now(), after);
    }
}

struct RhythmRow {
    std::string name;
    PhraseLayout layout;
    Sequence melody;
    std::vector<int> script;
    Sequence ticks;
    std::vector<int> bounds;
};

Sequence times(Sequence units, int unit) {
    for (std::int32_t& u : units) u *= unit;
    return units;
}

TEST(MakeTmSeq, ContourAndLyricStructure) {
    const Sequence up_down_up{55, 57, 59, 60, 62, 64, 65, 67, 69, 71, 72, 74, 76, 74, 72,
                              71, 69, 67, 65, 64, 62, 60, 59, 57, 55, 57, 59, 60, 62};
    const std::vector<RhythmRow> rows{
        {"turns and repeats, unit 120",
         {8, STC_END, STC_END, STC_END, STC_END},
         {60, 60, 62, 60, 60, 64, 62, 65},
         // repeat at note 1 shortens nothing; turn down shortens note 2, the repeat
         // after it note 2 again (clamped to 1); turn up lengthens note 4
         {0, 1, 1, 0, 4, 2, 0, 5, 1, 2, 3, 3},
         times({2, 2, 1, 2, 3, 2, 2, 30}, 120),
         {8, 5, 8, 5, 5, 5, 6, 6, 6, 6, 6, 6}},
        {"pauses and sentence ends, unit 60",
         layout29,
         up_down_up,
         {4, 4, 0, 0, 5, 0, 3, 2, 1, 4},
         times({2, 2, 2, 2, 4, 2, 2, 2, 5, 2, 2, 2, 2, 2, 2,
                8, 2, 2, 2, 2, 3, 2, 4, 2, 2, 2, 2, 2, 10},
               60),
         {5, 5, 6, 6, 6, 6, 6, 6, 6, 6}},
        {"pauses before the first segment and a sentence of pauses",
         {STC_PAUSE, 2, STC_END, STC_PAUSE, STC_END, 1, STC_END, 1, STC_END},
         {60, 62, 64, 65},
         {0, 0, 5, 0, 5, 5, 5, 5},
         times({2 + 2, (2 + 3 + 1 + 3) * 2, 2 + 2, (2 + 2) * 2}, 120),
         {6, 6, 6, 6, 6, 6, 6, 6}},
    };
    for (const RhythmRow& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedDraws draws(row.script);
        RecordingSink sink;
        Song song(draws, sink);
        SongProbe::split_stc(song, row.layout);
        SongProbe::set_area(song, seven_tone_area());
        SongProbe::set_melody(song, row.melody);
        SongProbe::make_tm_seq(song);
        EXPECT_EQ(song.get_tm_seq_now(), row.ticks);
        EXPECT_EQ(draws.bounds, row.bounds);
        EXPECT_TRUE(draws.exhausted());
        EXPECT_TRUE(sink.texts.empty());
    }
}

TEST(MakeTmSeq, EmptyMelodyDrawsAsUsualAndLengthensNothing) {
    ScriptedDraws draws(std::vector<int>(10, 0));
    RecordingSink sink;
    Song song(draws, sink);
    SongProbe::split_stc(
        song, {STC_PAUSE, STC_END, STC_PAUSE, STC_END, STC_PAUSE, STC_END, STC_PAUSE, STC_END});
    SongProbe::set_area(song, seven_tone_area());
    SongProbe::set_melody(song, {});
    SongProbe::make_tm_seq(song);
    EXPECT_TRUE(song.get_tm_seq_now().empty());
    EXPECT_EQ(draws.bounds, std::vector<int>(10, 6));
}

TEST(MakeTmSeq, NoteOutsideTheAreaIsReportedByNumber) {
    ScriptedDraws draws(std::vector<int>(6, 5));  // the sentence ends only: 61 counts as above 60
    RecordingSink sink;
    Song song(draws, sink);
    SongProbe::split_stc(song, {2, STC_END, STC_END, STC_END, STC_END});
    SongProbe::set_area(song, seven_tone_area());
    SongProbe::set_melody(song, {60, 61});
    SongProbe::make_tm_seq(song);
    EXPECT_EQ(sink.texts, (std::vector<std::string>{"61"}));
    EXPECT_EQ(song.get_tm_seq_now().size(), 2u);
    EXPECT_TRUE(draws.exhausted());
}

TEST(MakeTmSeq, UnitIsHalfABeatFromTwentyEightNotes) {
    for (const auto& [n, unit] : {std::pair{27, 120}, std::pair{28, 60}}) {
        // Repeated notes draw 7 (no shortening); the sentence ends add 2 and double.
        std::vector<int> script(static_cast<std::size_t>(n - 1), 7);
        script.insert(script.end(), 6, 5);
        ScriptedDraws draws(script);
        RecordingSink sink;
        Song song(draws, sink);
        SongProbe::split_stc(song, {n, STC_END, STC_END, STC_END, STC_END});
        SongProbe::set_area(song, seven_tone_area());
        SongProbe::set_melody(song, Sequence(static_cast<std::size_t>(n), 64));
        SongProbe::make_tm_seq(song);
        Sequence expected(static_cast<std::size_t>(n), 2 * unit);
        expected.back() = ((2 + 2 + 2) * 2 + 2 + 2) * 2 * unit;
        EXPECT_EQ(song.get_tm_seq_now(), expected) << n;
        EXPECT_TRUE(draws.exhausted());
    }
}

}  // namespace
}  // namespace quavella
