// Line ends on the beat: the check on small melodies, 对齐节拍 against an exhaustive
// search on short melodies, and the repair as an edit of composed melodies, alone
// and with 修正倒字 in either order.
#include "edit/beat_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "composer/song.h"
#include "edit/editable_melody.h"
#include "tests/support/row_name.h"
#include "tests/support/sample_lyrics.h"

namespace quavella::edit {
namespace {

/// A melody of the given durations; `ends` marks the notes that end a line (the last
/// always does), `held` the continuations; pitches all 60.
notation::Melody melody_of(std::vector<int> ticks, std::vector<int> ends,
                           std::vector<int> rests = {}, std::vector<int> held = {}) {
    notation::Melody m;
    m.ticks = std::move(ticks);
    m.notes.assign(m.ticks.size(), 60);
    m.rests = std::move(rests);
    int sentence = 0;
    for (std::size_t i = 0; i < m.ticks.size(); ++i) {
        notation::Lyric l;
        l.continuation = i < held.size() && held[i] != 0;
        l.text = l.continuation ? "" : "la";
        l.sentence = std::min(sentence, 3);
        l.sentence_end = i + 1 == m.ticks.size() || (i < ends.size() && ends[i] != 0);
        if (l.sentence_end) ++sentence;
        m.lyrics.push_back(l);
    }
    return m;
}

struct CheckRow {
    const char* name;
    notation::Melody melody;
    std::vector<int> off;  // the line ends that miss
    int checked;
};

class Check : public ::testing::TestWithParam<CheckRow> {};

TEST_P(Check, MarksTheLineEndsThatMissTheBeat) {
    const CheckRow& row = GetParam();
    const BeatCheck check = check_beats(row.melody);
    EXPECT_EQ(check.checked(), row.checked);
    EXPECT_EQ(check.off_notes(), row.off);
    EXPECT_EQ(check.aligned(), row.checked - static_cast<int>(row.off.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Check,
    ::testing::Values(
        // Ends on beat 1 and beat 3, a beat and more.
        CheckRow{"BeatsOneAndThree", melody_of({240, 240, 240, 240}, {0, 1}), {}, 2},
        // The first line ends on beat 2, the second on beat 4.
        CheckRow{"BeatsTwoAndFour", melody_of({120, 120, 120, 240}, {0, 1}), {1, 3}, 2},
        // On beat 3 but half a beat long.
        CheckRow{"ShortEnd", melody_of({240, 60, 180, 240}, {0, 1}), {1}, 2},
        // A rest after the first note puts the line end off the beat.
        CheckRow{"RestMovesIt", melody_of({240, 240, 240}, {0, 1}, {60, 180, 0}), {1}, 2},
        // The last syllable is held over a continuation: its sung note is checked, not
        // the continuation that ends the sentence.
        CheckRow{
            "Continuation", melody_of({240, 120, 120, 240}, {0, 0, 1}, {}, {0, 0, 1, 0}), {}, 2},
        CheckRow{"ContinuationOff",
                 melody_of({120, 120, 240, 240}, {0, 0, 1}, {}, {0, 0, 1, 0}),
                 {1},
                 2},
        // Lyrics not one per note: nothing is checked.
        CheckRow{"NoLyrics",
                 [] {
                     notation::Melody m = melody_of({120, 240}, {});
                     m.lyrics.pop_back();
                     return m;
                 }(),
                 {},
                 0}),
    test::RowName{});

TEST(BeatCheck, ShareIsInWholePercent) {
    // Line ends at ticks 240 (a beat long), 360 and 480: two of three.
    const BeatCheck check = check_beats(melody_of({240, 120, 120, 240}, {0, 1, 1}));
    EXPECT_EQ(check.checked(), 3);
    EXPECT_EQ(check.aligned(), 2);
    EXPECT_EQ(check.percent(), 67);
    EXPECT_EQ(BeatCheck{}.percent(), 0);
}

// --- 对齐节拍 against every choice of lengths -------------------------------------

using Cost = std::array<long, 4>;

/// The line ends of `ends` off beats 1 and 3 or shorter than a beat, counted from the
/// durations and rests (not through the repair's own bookkeeping).
long off_the_beat(const std::vector<int>& ticks, const std::vector<int>& rests,
                  const std::vector<bool>& ends) {
    long off = 0;
    long start = 0;
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        if (ends[i] && (start % 240 != 0 || ticks[i] < 120)) ++off;
        start += ticks[i] + (rests.empty() ? 0 : rests[i]);
    }
    return off;
}

std::vector<bool> end_flags(const notation::Melody& m) {
    std::vector<bool> ends(m.ticks.size(), false);
    for (const int note : line_end_notes(m)) ends[static_cast<std::size_t>(note)] = true;
    return ends;
}

/// The repair's price of a finished choice of durations.
Cost price(const notation::Melody& before, const std::vector<bool>& ends,
           const std::vector<int>& ticks, int unit) {
    Cost cost{off_the_beat(ticks, before.rests, ends), 0, 0, 0};
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        const long units = std::labs(ticks[i] - before.ticks[i]) / unit;
        cost[1] += units;
        cost[2] += units > 0 ? 1 : 0;
        if (!ends[i]) cost[3] += units;
    }
    return cost;
}

/// The order among equals: at the first note that differs, kept, then the smaller change,
/// then the longer.
std::array<long, 3> tie_key(int from, int to) {
    return {to != from ? 1 : 0, std::labs(to - from), to < from ? 1 : 0};
}

/// Every choice of lengths in whole units, none below one unit, each up to a bar and two
/// units longer; the cheapest, first in the order among equals.
std::vector<int> exhaustive_best(const notation::Melody& m, int unit) {
    const std::size_t n = m.ticks.size();
    const std::vector<bool> ends = end_flags(m);
    std::vector<std::vector<int>> choices(n);
    for (std::size_t i = 0; i < n; ++i) {
        for (int t = m.ticks[i] % unit; t <= m.ticks[i] + notation::kBarTicks + 2 * unit;
             t += unit) {
            if (t >= unit || t == m.ticks[i]) choices[i].push_back(t);
        }
    }
    std::vector<std::size_t> at(n, 0);
    std::vector<int> ticks(n);
    std::vector<int> best;
    Cost best_cost{};
    auto earlier = [&](const std::vector<int>& a, const std::vector<int>& b) {
        for (std::size_t i = 0; i < n; ++i) {
            if (a[i] != b[i]) return tie_key(m.ticks[i], a[i]) < tie_key(m.ticks[i], b[i]);
        }
        return false;
    };
    while (true) {
        for (std::size_t i = 0; i < n; ++i) ticks[i] = choices[i][at[i]];
        const Cost cost = price(m, ends, ticks, unit);
        if (best.empty() || cost < best_cost || (cost == best_cost && earlier(ticks, best))) {
            best = ticks;
            best_cost = cost;
        }
        std::size_t i = 0;
        while (i < n && ++at[i] == choices[i].size()) at[i++] = 0;
        if (i == n) break;
    }
    return best;
}

TEST(AlignBeats, IsTheExhaustiveSearchsChoiceOnShortMelodies) {
    std::mt19937_64 random(20261211);
    for (const int unit : {120, 60}) {
        for (int round = 0; round < 24; ++round) {
            const std::size_t n = 2 + random() % (unit == 120 ? 4 : 3);
            std::vector<int> ticks(n);
            std::vector<int> ends(n);
            std::vector<int> rests;
            for (std::size_t i = 0; i < n; ++i) {
                ticks[i] = unit * static_cast<int>(1 + random() % 6);
                ends[i] = random() % 3 == 0 ? 1 : 0;
            }
            if (round % 3 == 0) {
                for (std::size_t i = 0; i < n; ++i)
                    rests.push_back(unit * static_cast<int>(random() % 3));
            }
            const notation::Melody m = melody_of(ticks, ends, rests);
            const RhythmRepair repair = align_beats(m, unit);
            const std::vector<int> expected = exhaustive_best(m, unit);
            const std::string context =
                "unit " + std::to_string(unit) + " round " + std::to_string(round);
            ASSERT_EQ(repair.ticks, expected) << context;
            const Cost cost = price(m, end_flags(m), repair.ticks, unit);
            EXPECT_EQ(cost[0], 0) << context;  // whole units always reach the beat
            EXPECT_TRUE(repair.left.empty()) << context;
            EXPECT_EQ(repair.units, cost[1]) << context;
            EXPECT_EQ(static_cast<long>(repair.changed.size()), cost[2]) << context;
        }
    }
}

TEST(AlignBeats, LengthsOffTheUnitsGridLeaveWhatNoUnitCanMend) {
    // Note 0 lasts 30 ticks: every later note starts 30 ticks off whatever whole beats
    // change, so the one line end after it stays off; a note under a unit is not shortened.
    const notation::Melody m = melody_of({30, 120, 240}, {0, 1});
    const RhythmRepair repair = align_beats(m, 120);
    EXPECT_EQ(repair.ticks, exhaustive_best(m, 120));
    EXPECT_EQ(repair.left, (std::vector<int>{1, 2}));
    EXPECT_EQ(repair.units, 0);
}

TEST(AlignBeats, AddingRestsNeverNeedsFewerChangesThanLengths) {
    // Over melodies without rests, every choice of lengths and of rests added (each
    // unit of either counting one) needs as many unit changes as the repair makes.
    std::mt19937_64 random(33);
    const int unit = 120;
    for (int round = 0; round < 12; ++round) {
        const std::size_t n = 2 + random() % 2;
        std::vector<int> lengths(n);
        std::vector<int> marked(n);
        for (std::size_t i = 0; i < n; ++i) {
            lengths[i] = unit * static_cast<int>(1 + random() % 5);
            marked[i] = random() % 2 == 0 ? 1 : 0;
        }
        const notation::Melody m = melody_of(lengths, marked);
        const RhythmRepair repair = align_beats(m, unit);
        const std::vector<bool> ends = end_flags(m);
        long least = 1L << 30;
        std::vector<int> at(2 * n, 0);  // lengths in units (from 1), then rests
        std::vector<int> ticks(n);
        std::vector<int> rests(n);
        while (true) {
            long units = 0;
            for (std::size_t i = 0; i < n; ++i) {
                ticks[i] = unit * (1 + at[i]);
                rests[i] = unit * at[n + i];
                units += std::labs(ticks[i] - m.ticks[i]) / unit + at[n + i];
            }
            if (off_the_beat(ticks, rests, ends) == 0) least = std::min(least, units);
            std::size_t i = 0;
            while (i < 2 * n && ++at[i] == (i < n ? 8 : 4)) at[i++] = 0;
            if (i == 2 * n) break;
        }
        EXPECT_EQ(repair.units, least) << "round " << round;
    }
}

// --- 对齐节拍 as an edit of composed melodies --------------------------------------

Source source_of(const std::string& sample, std::uint64_t seed, int mode) {
    return Source{test::sample_gbk(sample), static_cast<int>(seed % 3), mode, 0,
                  Generators(seed).state()};
}

TEST(AlignBeatsEdit, AlignsEveryLineEndTouchingNoPitchAndUndoesExactly) {
    for (const char* sample : {"chunxiao.txt", "jingyesi.txt", "xiangsi.txt", "luzhai.txt"}) {
        for (std::uint64_t seed = 1; seed <= 4; ++seed) {
            const std::string context = std::string(sample) + " seed " + std::to_string(seed);
            EditableMelody melody(source_of(sample, seed, static_cast<int>(seed % 4)));
            const notation::Melody before = melody.melody();
            const std::string bytes = melody.file().bytes;
            const Applied applied = melody.apply(Edit{EditKind::fix_rhythm});
            ASSERT_FALSE(applied.error) << context;
            const BeatCheck check = check_beats(melody.melody());
            EXPECT_EQ(check.checked(), 4) << context;
            EXPECT_EQ(check.percent(), 100) << context;
            EXPECT_EQ(melody.melody().notes, before.notes) << context;
            EXPECT_TRUE(melody.melody().rests.empty()) << context;
            const int unit = time_unit(static_cast<int>(before.notes.size()));
            for (const Change& change : applied.step.changes) {
                EXPECT_EQ(change.from_pitch, change.to_pitch) << context;
                EXPECT_NE(change.from_ticks, change.to_ticks) << context;
                EXPECT_EQ((change.to_ticks - change.from_ticks) % unit, 0) << context;
                EXPECT_GE(change.to_ticks, unit) << context;
            }
            if (applied.step.changes.empty()) {
                EXPECT_FALSE(melody.can_undo()) << context;  // nothing to undo
                continue;
            }
            ASSERT_NE(melody.undo(), nullptr);
            EXPECT_EQ(melody.file().bytes, bytes) << context;
            // Applied again on an aligned melody it changes nothing.
            ASSERT_NE(melody.redo(), nullptr);
            EXPECT_TRUE(melody.apply(Edit{EditKind::fix_rhythm}).step.changes.empty()) << context;
        }
    }
}

TEST(AlignBeatsEdit, ComposesWithTheToneRepairInEitherOrder) {
    for (const char* sample : {"chusai.txt", "dengguanquelou.txt", "liangzhouci.txt"}) {
        for (std::uint64_t seed = 11; seed <= 14; ++seed) {
            const std::string context = std::string(sample) + " seed " + std::to_string(seed);
            const Source source = source_of(sample, seed, static_cast<int>(seed % 4));
            EditableMelody tones_only(source);
            tones_only.apply(Edit{EditKind::fix_tones});
            for (const bool rhythm_first : {true, false}) {
                EditableMelody melody(source);
                const std::size_t contrary_before = melody.grading().contrary().size();
                const EditKind order[2] = {
                    rhythm_first ? EditKind::fix_rhythm : EditKind::fix_tones,
                    rhythm_first ? EditKind::fix_tones : EditKind::fix_rhythm};
                for (const EditKind kind : order) ASSERT_FALSE(melody.apply(Edit{kind}).error);
                EXPECT_EQ(check_beats(melody.melody()).percent(), 100) << context;
                EXPECT_LE(melody.grading().contrary().size(), contrary_before) << context;
                // The same pitches as the tone repair alone makes.
                EXPECT_EQ(melody.melody().notes, tones_only.melody().notes) << context;
            }
        }
    }
}

TEST(AlignBeatsEdit, KeepsTheRestsOfTheMelodyAndCountsThem) {
    EditableMelody plain(source_of("jingyesi.txt", 3, 3));
    notation::Melody with_rests = plain.melody();
    const int unit = time_unit(static_cast<int>(with_rests.notes.size()));
    with_rests.rests.assign(with_rests.notes.size(), 0);
    with_rests.rests[0] = unit;  // every later note a unit later
    with_rests.rests[3] = 2 * unit;
    EditableMelody melody(plain.source(), with_rests);
    const Applied applied = melody.apply(Edit{EditKind::fix_rhythm});
    ASSERT_FALSE(applied.error);
    EXPECT_EQ(melody.melody().rests, with_rests.rests);
    EXPECT_EQ(check_beats(melody.melody()).percent(), 100);
    for (const Change& change : applied.step.changes) {
        const int rest = with_rests.rests[static_cast<std::size_t>(change.note)];
        EXPECT_EQ(change.from_rest, rest);
        EXPECT_EQ(change.to_rest, rest);
    }
    ASSERT_NE(melody.undo(), nullptr);
    EXPECT_EQ(melody.melody().ticks, with_rests.ticks);
    EXPECT_EQ(melody.melody().rests, with_rests.rests);
}

TEST(AlignBeatsEdit, HasItsTextForm) {
    const ParsedEdits parsed = parse_edits("3+,beat,fix");
    ASSERT_EQ(parsed.error, "");
    ASSERT_EQ(parsed.edits.size(), 3U);
    EXPECT_EQ(parsed.edits[1].kind, EditKind::fix_rhythm);
    EXPECT_EQ(edits_text(parsed.edits), "3+,beat,fix");
    EXPECT_NE(parse_edits("beats").error, "");
}

}  // namespace
}  // namespace quavella::edit
