// The chord model: the chords each scale offers, the Viterbi choice against an
// exhaustive search over every sequence, locks, determinism, the final chord and the
// limits on composed melodies, and a re-choice after an edit.
#include "harmony/chord_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "composition/composition.h"
#include "lyrics/gbk_text.h"
#include "tests/support/files.h"
#include "tests/support/row_name.h"

namespace quavella::harmony {
namespace {

std::string names(const std::vector<Chord>& chords) {
    std::string text;
    for (const Chord& c : chords) text += (text.empty() ? "" : " ") + chord_name(c);
    return text;
}

struct VocabularyRow {
    std::string name;
    int mode;
    std::string chords;
};

class Vocabulary : public testing::TestWithParam<VocabularyRow> {};

TEST_P(Vocabulary, EveryChordLiesInsideTheScale) {
    const VocabularyRow& row = GetParam();
    const Scale scale = mode_pitch_classes(row.mode);
    const std::vector<Chord> chords = chord_vocabulary(scale);
    EXPECT_EQ(names(chords), row.chords);
    for (const Chord& c : chords) {
        for (int pc : chord_tones(c)) EXPECT_TRUE(scale.contains(pc)) << chord_name(c);
        // No tone of the scale lies a semitone from a chord tone unless the scale
        // itself has that semitone.
        for (int pc = 0; pc < 12; ++pc) {
            if (scale.contains(pc) && clash_class(c, pc) == 1) {
                EXPECT_GT(scale.size(), 5) << chord_name(c) << " clashes with " << pc;
            }
        }
    }
}

// The scales by their tables (mode numbers), whichever list item names them.
INSTANTIATE_TEST_SUITE_P(Scales, Vocabulary,
                         testing::ValuesIn(std::vector<VocabularyRow>{
                             {"FiveTones", 0, "C Dsus2 Dsus4 Em7(no5) Gsus2 Gsus4 Am"},
                             {"SixTonesWithF", 1, "C Dm Em7(no5) F Gsus2 Gsus4 Am"},
                             {"SixTonesWithB", 2, "C Dsus2 Dsus4 Em G Am Bm7(no5)"},
                             {"SevenTones", 3, "C Dm Em F G Am Bm7(no5)"},
                         }),
                         test::RowName{});

/// A melody of random scale notes (now and then one a semitone off the scale) and
/// durations of one to four eighths, about `slots` half bars long.
struct Tune {
    std::vector<int> notes;
    std::vector<int> ticks;
};
Tune random_tune(std::mt19937& rng, Scale scale, int slots) {
    std::vector<int> pool;
    for (int key = 55; key <= 76; ++key)
        if (scale.contains(key)) pool.push_back(key);
    Tune tune;
    int total = 0;
    while (total < slots * kSlotTicks - 60) {
        int key = pool[rng() % pool.size()];
        if (rng() % 10 == 0) key += 1;
        const int ticks = 60 * static_cast<int>(1 + rng() % 4);
        tune.notes.push_back(key);
        tune.ticks.push_back(ticks);
        total += ticks;
    }
    return tune;
}

/// The least sequence_cost over every sequence of slot candidates.
std::int64_t exhaustive_best(const ChordRequest& request) {
    const int slots = slot_count(request);
    std::vector<std::vector<Chord>> options;
    for (int k = 0; k < slots; ++k) options.push_back(slot_candidates(request, k));
    std::vector<std::size_t> pick(static_cast<std::size_t>(slots), 0);
    std::vector<Chord> chords(static_cast<std::size_t>(slots));
    std::int64_t best = INT64_MAX;
    for (;;) {
        for (std::size_t k = 0; k < pick.size(); ++k) chords[k] = options[k][pick[k]];
        best = std::min(best, sequence_cost(request, chords));
        std::size_t k = 0;
        while (k < pick.size() && ++pick[k] == options[k].size()) pick[k++] = 0;
        if (k == pick.size()) return best;
    }
}

struct SearchRow {
    std::string name;
    Scale scale;
    int slots;
    int tunes;
    bool locked;
};

class AgainstExhaustiveSearch : public testing::TestWithParam<SearchRow> {};

TEST_P(AgainstExhaustiveSearch, FindsTheLeastCost) {
    const SearchRow& row = GetParam();
    std::mt19937 rng(1234);
    for (int t = 0; t < row.tunes; ++t) {
        const Tune tune = random_tune(rng, row.scale, row.slots);
        std::vector<Lock> locks;
        ChordRequest request;
        request.notes = tune.notes;
        request.ticks = tune.ticks;
        request.scale = row.scale;
        if (row.locked) {
            const std::vector<Chord> vocabulary = chord_vocabulary(row.scale);
            locks.push_back({static_cast<int>(rng() % 3), vocabulary[rng() % vocabulary.size()]});
            locks.push_back({slot_count(request) - 1, vocabulary[rng() % vocabulary.size()]});
        }
        request.locks = locks;
        const Harmony chosen = choose_chords(request);
        ASSERT_EQ(static_cast<int>(chosen.chords.size()), slot_count(request));
        EXPECT_EQ(chosen.cost, sequence_cost(request, chosen.chords)) << "tune " << t;
        EXPECT_EQ(chosen.cost, exhaustive_best(request)) << "tune " << t;
        for (const Lock& lock : locks)
            EXPECT_EQ(chosen.chords[static_cast<std::size_t>(lock.slot)], lock.chord)
                << "tune " << t;
    }
}

// Two chords (C and Am over C E G A) over twelve slots reach past the four-bar run.
INSTANTIATE_TEST_SUITE_P(Melodies, AgainstExhaustiveSearch,
                         testing::ValuesIn(std::vector<SearchRow>{
                             {"FiveTones", mode_pitch_classes(0), 5, 6, false},
                             {"SevenTones", mode_pitch_classes(3), 5, 6, false},
                             {"SixTonesLocked", mode_pitch_classes(1), 5, 8, true},
                             {"TwoChordsLongRuns",
                              Scale::of_notes(std::vector<int>{60, 64, 67, 69}), 12, 6, false},
                         }),
                         test::RowName{});

TEST(ChordModel, TheSameRequestGivesTheSameChords) {
    std::mt19937 rng(99);
    const Tune tune = random_tune(rng, mode_pitch_classes(3), 40);
    const Tune copy = tune;
    ChordRequest a;
    a.notes = tune.notes;
    a.ticks = tune.ticks;
    a.scale = mode_pitch_classes(3);
    ChordRequest b = a;
    b.notes = copy.notes;
    b.ticks = copy.ticks;
    const Harmony first = choose_chords(a);
    EXPECT_EQ(first.chords, choose_chords(b).chords);
    EXPECT_EQ(first.chords, choose_chords(a).chords);
}

TEST(ChordModel, EmptyMelodyOrScaleHasNoChords) {
    ChordRequest request;
    request.scale = mode_pitch_classes(0);
    EXPECT_TRUE(choose_chords(request).chords.empty());
    const std::vector<int> notes{60};
    const std::vector<int> ticks{480};
    request.notes = notes;
    request.ticks = ticks;
    request.scale = Scale{};
    EXPECT_TRUE(choose_chords(request).chords.empty());
}

TEST(ChordModel, LastChordStandsOnTheFinalNoteUnlessItLeftTheScale) {
    const std::vector<int> ticks{240, 240, 480};
    for (int final_key : {60, 62, 64, 67, 69}) {
        const std::vector<int> notes{64, 67, final_key};
        ChordRequest request;
        request.notes = notes;
        request.ticks = ticks;
        request.scale = mode_pitch_classes(0);
        const Harmony chosen = choose_chords(request);
        EXPECT_EQ(chosen.chords.back().root, final_key % 12) << chord_name(chosen.chords.back());
    }
    // F# is in no chord of the scale: the last slot takes any chord then.
    const std::vector<int> notes{64, 67, 66};
    ChordRequest request;
    request.notes = notes;
    request.ticks = ticks;
    request.scale = mode_pitch_classes(3);
    EXPECT_EQ(choose_chords(request).chords.size(), 4u);
}

// Rests after notes move the notes after them into later half bars.
TEST(ChordModel, ARestMovesTheNotesAfterItIntoLaterSlots) {
    notation::Melody melody;
    melody.notes = {60, 67};
    melody.ticks = {480, 480};
    melody.mode = 3;
    EXPECT_EQ(slot_count(request_for(melody)), 4);
    melody.rests = {480, 0};
    const ChordRequest request = request_for(melody);
    EXPECT_EQ(slot_count(request), 6);
    const Harmony chosen = choose_chords(request);
    ASSERT_EQ(chosen.chords.size(), 6u);
    EXPECT_TRUE(is_chord_tone(chosen.chords[0], 0)) << chord_name(chosen.chords[0]);
    EXPECT_TRUE(is_chord_tone(chosen.chords[4], 7)) << chord_name(chosen.chords[4]);
    EXPECT_EQ(chosen.chords[5].root, 7) << chord_name(chosen.chords[5]);
}

TEST(ChordModel, AnEditChangesAtMostTwoChordsNearIt) {
    std::mt19937 rng(7);
    const Scale scale = mode_pitch_classes(3);
    Tune tune = random_tune(rng, scale, 32);
    ChordRequest request;
    request.notes = tune.notes;
    request.ticks = tune.ticks;
    request.scale = scale;
    const Harmony before = choose_chords(request);
    // Move note 10 by a fifth and choose again near it.
    std::int64_t from = 0;
    for (int i = 0; i < 10; ++i) from += tune.ticks[static_cast<std::size_t>(i)];
    tune.notes[10] += 7;
    const Harmony after = choose_chords_near(request, before, from, from + tune.ticks[10]);
    ASSERT_EQ(after.chords.size(), before.chords.size());
    int changed = 0;
    for (std::size_t k = 0; k < after.chords.size(); ++k) {
        if (after.chords[k] == before.chords[k]) continue;
        ++changed;
        EXPECT_GE(static_cast<std::int64_t>(k), from / kSlotTicks);
        EXPECT_LE(static_cast<std::int64_t>(k), from / kSlotTicks + 1);
    }
    EXPECT_LE(changed, 2);
}

TEST(ChordModel, MenuOffersEveryChordWithTheFittingOneFirst) {
    // Slot 1 sings A C E, its neighbours C E G under C major.
    const std::vector<int> notes{60, 64, 69, 72, 76, 67, 64, 60};
    const std::vector<int> ticks{120, 120, 60, 60, 120, 120, 120, 240};
    ChordRequest request;
    request.notes = notes;
    request.ticks = ticks;
    request.scale = mode_pitch_classes(3);
    Harmony current;
    current.chords.assign(4, Chord{0, ChordKind::major});
    const std::vector<Chord> menu = chord_choices(request, current, 1);
    ASSERT_EQ(menu.size(), chord_vocabulary(request.scale).size());
    EXPECT_EQ(chord_name(menu[0]), "Am");
    for (const Chord& c : chord_vocabulary(request.scale))
        EXPECT_EQ(std::count(menu.begin(), menu.end(), c), 1) << chord_name(c);
    EXPECT_TRUE(chord_choices(request, current, 4).empty());
}

TEST(ChordModel, ChangesListEachChordWhereItStarts) {
    Harmony h;
    h.chords = {{0, ChordKind::major},
                {0, ChordKind::major},
                {9, ChordKind::minor},
                {7, ChordKind::major},
                {7, ChordKind::major}};
    const std::vector<ChordChange> changes = chord_changes(h);
    const std::vector<ChordChange> expected{
        {0, {0, ChordKind::major}}, {480, {9, ChordKind::minor}}, {720, {7, ChordKind::major}}};
    EXPECT_EQ(changes, expected);
}

/// Composed melodies of the sample lyrics in every mode: the last chord stands on the
/// final note, no chord holds longer than four bars, every chord is in the scale.
TEST(ChordModel, ComposedSamplesKeepTheRules) {
    const std::vector<std::string> samples{"chunxiao.txt", "jingyesi.txt", "xiangsi.txt"};
    for (const std::string& name : samples) {
        const std::string raw = test::read_file(std::string(QUAVELLA_SAMPLES_DIR) + "/" + name);
        const GbkConversion text = lyric_text_from_input(raw, LyricEncoding::utf8);
        ASSERT_TRUE(text.ok);
        for (int mode = 0; mode < 4; ++mode) {
            for (std::uint64_t seed : {1u, 2u, 3u}) {
                auto source = std::make_shared<CompositionSource>();
                source->gbk_text = text.gbk;
                source->mode_pos = mode;
                Generators gens(seed);
                QuietSink quiet;
                const Composed made = compose(source, gens, quiet);
                ASSERT_TRUE(made.error.empty());
                const notation::Melody& melody = made.composition->melody;
                const ChordRequest request = request_for(melody);
                const Harmony chosen = choose_chords(request);
                ASSERT_FALSE(chosen.chords.empty());
                EXPECT_EQ(chosen.chords.back().root, melody.notes.back() % 12) << name;
                int run = 0;
                for (std::size_t k = 0; k < chosen.chords.size(); ++k) {
                    run = k > 0 && chosen.chords[k] == chosen.chords[k - 1] ? run + 1 : 1;
                    EXPECT_LE(run, kMaxRunSlots) << name << " mode " << mode << " seed " << seed;
                    for (int pc : chord_tones(chosen.chords[k]))
                        EXPECT_TRUE(request.scale.contains(pc));
                }
            }
        }
    }
}

}  // namespace
}  // namespace quavella::harmony
