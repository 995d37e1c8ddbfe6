// The chords of a melody being shaped: chosen at the start, chosen again only near a
// note edit, locks kept through every edit, chord edits undone and replayed exactly.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "edit/editable_melody.h"
#include "harmony/chord_model.h"
#include "tests/support/sample_lyrics.h"

namespace quavella::edit {
namespace {

using test::sample_gbk;

Source source_of(const std::string& gbk, std::uint64_t seed, int speed, int mode) {
    return Source{gbk, speed, mode, 0, Generators(seed).state()};
}

/// What a melody's chords are at one moment: the chords and the locks.
struct ChordState {
    std::vector<harmony::Chord> chords;
    std::vector<bool> locked;
    bool operator==(const ChordState&) const = default;
};

ChordState chord_state(const EditableMelody& melody) {
    return {melody.chords().chords, melody.locked()};
}

/// The slots note `note` sounds in.
std::pair<int, int> slots_of(const notation::Melody& melody, int note) {
    int start = 0;
    for (int i = 0; i < note; ++i) start += melody.ticks[static_cast<std::size_t>(i)];
    const int end = start + melody.ticks[static_cast<std::size_t>(note)];
    return {start / harmony::kSlotTicks, (end - 1) / harmony::kSlotTicks};
}

Edit chord_edit(EditKind kind, int slot, harmony::Chord chord = {}) {
    Edit edit{kind};
    edit.slot = slot;
    edit.chord = chord;
    return edit;
}

/// A random edit: note moves, sentences (which may change lengths), repairs, and every
/// kind of chord edit.
Edit random_edit(std::mt19937_64& random, int notes, int slots) {
    const int note = static_cast<int>(random() % static_cast<std::uint64_t>(notes));
    const int slot = static_cast<int>(random() % static_cast<std::uint64_t>(slots));
    switch (random() % 10) {
        case 0:
        case 1:
            return Edit{EditKind::step, note, random() % 2 == 0 ? 1 : -1};
        case 2:
            return Edit{EditKind::semitone, note, random() % 2 == 0 ? 1 : -1};
        case 3: {
            Edit edit{EditKind::sentence};
            edit.sentence = static_cast<int>(random() % 4);
            edit.state = Generators(random()).state();
            return edit;
        }
        case 4:
            return Edit{EditKind::fix_tones};
        case 5:
        case 6:
            return chord_edit(EditKind::lock_chord, slot);
        case 7:
            return chord_edit(EditKind::unlock_chord, slot);
        case 8:
            return chord_edit(
                EditKind::set_chord, slot,
                {static_cast<int>(random() % 12), static_cast<harmony::ChordKind>(random() % 2)});
        default:
            return Edit{EditKind::regenerate_chords};
    }
}

TEST(SongChords, StartAsChosenForTheMelodyUnlocked) {
    const EditableMelody melody(source_of(sample_gbk("chunxiao.txt"), 42, 1, 3));
    const harmony::Harmony chosen = harmony::choose_chords(harmony::request_for(melody.melody()));
    EXPECT_EQ(melody.chords().chords, chosen.chords);
    EXPECT_EQ(melody.locked(), std::vector<bool>(chosen.chords.size(), false));
    EXPECT_TRUE(melody.locks().empty());
}

TEST(SongChords, ANoteEditChangesAtMostTwoUnlockedChordsUnderItAndNoLock) {
    std::mt19937_64 random(1211);
    for (const char* sample : {"chunxiao.txt", "songyuanershianxi.txt", "xiangsi.txt"}) {
        for (int mode = 0; mode < 4; ++mode) {
            EditableMelody melody(source_of(sample_gbk(sample), random(), 1, mode));
            const int slots = static_cast<int>(melody.chords().chords.size());
            for (int k = 0; k < 4; ++k) {
                melody.apply(chord_edit(EditKind::lock_chord,
                                        static_cast<int>(random() % static_cast<unsigned>(slots))));
            }
            const int notes = static_cast<int>(melody.melody().notes.size());
            for (int k = 0; k < 30; ++k) {
                const int note = static_cast<int>(random() % static_cast<unsigned>(notes));
                const ChordState before = chord_state(melody);
                const Edit edit{k % 3 == 0 ? EditKind::semitone : EditKind::step, note,
                                random() % 2 == 0 ? 1 : -1};
                const Applied applied = melody.apply(edit);
                if (applied.error || !applied.step.changed()) continue;
                const ChordState after = chord_state(melody);
                ASSERT_EQ(after.locked, before.locked);
                const auto [first, last] = slots_of(melody.melody(), note);
                int changed = 0;
                for (std::size_t s = 0; s < before.chords.size(); ++s) {
                    if (before.chords[s] == after.chords[s]) continue;
                    ++changed;
                    const int slot = static_cast<int>(s);
                    EXPECT_FALSE(before.locked[s]) << sample << " slot " << slot;
                    EXPECT_TRUE(slot >= first && slot <= last)
                        << sample << " note " << note << " slot " << slot;
                }
                EXPECT_LE(changed, 2) << sample << " note " << note;
                EXPECT_EQ(static_cast<int>(applied.step.chord_slots.size()), changed);
            }
        }
    }
}

TEST(SongChords, AnyMixOfEditsKeepsLocksUndoesExactlyAndReplaysFromItsText) {
    std::mt19937_64 random(20261211);
    for (const char* sample : {"chunxiao.txt", "fengqiaoyebo.txt", "luzhai.txt"}) {
        for (int round = 0; round < 3; ++round) {
            const Source source =
                source_of(sample_gbk(sample), random(), static_cast<int>(random() % 4),
                          static_cast<int>(random() % 4));
            const std::string context = std::string(sample) + " round " + std::to_string(round);
            EditableMelody melody(source);
            const int notes = static_cast<int>(melody.melody().notes.size());
            std::vector<ChordState> after_each{chord_state(melody)};
            std::vector<std::string> bytes{melody.file().bytes};
            for (int k = 0; k < 25; ++k) {
                const ChordState before = chord_state(melody);
                const Edit edit =
                    random_edit(random, notes, static_cast<int>(melody.chords().chords.size()));
                const Applied applied = melody.apply(edit);
                if (applied.error || !applied.step.changed()) continue;
                const ChordState now = chord_state(melody);
                after_each.push_back(now);
                bytes.push_back(melody.file().bytes);
                ASSERT_EQ(now.chords.size(), now.locked.size());
                // A lock holds its chord through every edit but its own slot's.
                const bool own =
                    edit.kind == EditKind::unlock_chord || edit.kind == EditKind::set_chord;
                for (std::size_t s = 0; s < std::min(before.chords.size(), now.chords.size());
                     ++s) {
                    if (!before.locked[s] || (own && static_cast<int>(s) == edit.slot)) continue;
                    ASSERT_TRUE(now.locked[s]) << context << " " << edit_text(edit);
                    ASSERT_EQ(now.chords[s], before.chords[s]) << context << " " << edit_text(edit);
                }
                if (edit.kind == EditKind::set_chord) {
                    EXPECT_EQ(now.chords[static_cast<std::size_t>(edit.slot)], edit.chord);
                    for (std::size_t s = 0; s < now.chords.size(); ++s) {
                        if (static_cast<int>(s) + 1 < edit.slot ||
                            static_cast<int>(s) > edit.slot + 1) {
                            ASSERT_EQ(now.chords[s], before.chords[s]) << context << " slot " << s;
                        }
                    }
                }
                // Before the first note changed, nothing changes.
                if (!applied.step.changes.empty()) {
                    const auto [first, last] =
                        slots_of(melody.melody(), applied.step.changes.front().note);
                    for (int s = 0; s < first; ++s) {
                        ASSERT_EQ(now.chords[static_cast<std::size_t>(s)],
                                  before.chords[static_cast<std::size_t>(s)])
                            << context << " " << edit_text(edit) << " slot " << s;
                    }
                }
            }

            // Made again from the text form: the same notes and the same chords.
            const ParsedEdits parsed = parse_edits(edits_text(melody.edits()));
            ASSERT_EQ(parsed.error, "");
            EditableMelody replayed(source);
            ASSERT_EQ(replayed.apply_all(parsed.edits), std::nullopt) << context;
            EXPECT_EQ(chord_state(replayed), after_each.back()) << context;
            EXPECT_EQ(replayed.chords().cost, melody.chords().cost) << context;

            for (std::size_t k = after_each.size() - 1; k-- > 0;) {
                ASSERT_NE(melody.undo(), nullptr);
                ASSERT_EQ(chord_state(melody), after_each[k]) << context << " undo " << k;
                ASSERT_EQ(melody.file().bytes, bytes[k]) << context << " undo " << k;
            }
            for (std::size_t k = 1; k < after_each.size(); ++k) {
                ASSERT_NE(melody.redo(), nullptr);
                ASSERT_EQ(chord_state(melody), after_each[k]) << context << " redo " << k;
            }
        }
    }
}

TEST(SongChords, RegenerationChoosesEveryUnlockedChordAroundTheLocks) {
    EditableMelody melody(source_of(sample_gbk("jingyesi.txt"), 9, 1, 3));
    const harmony::Chord set{7, harmony::ChordKind::major};
    ASSERT_FALSE(melody.apply(chord_edit(EditKind::set_chord, 2, set)).error);
    ASSERT_FALSE(melody.apply(chord_edit(EditKind::lock_chord, 5)).error);
    for (int k = 0; k < 12; ++k) melody.apply(Edit{EditKind::semitone, k, 1});
    melody.apply(Edit{EditKind::regenerate_chords});
    const std::vector<harmony::Lock> locks = melody.locks();
    ASSERT_EQ(locks.size(), 2u);
    EXPECT_EQ(locks[0], (harmony::Lock{2, set}));
    EXPECT_EQ(melody.chords().chords,
              harmony::choose_chords(harmony::request_for(melody.melody(), locks)).chords);
    // Regenerating again finds nothing to change: no step is kept.
    const std::size_t applied = melody.applied();
    EXPECT_FALSE(melody.apply(Edit{EditKind::regenerate_chords}).step.changed());
    EXPECT_FALSE(melody.apply(chord_edit(EditKind::lock_chord, 5)).step.changed());
    EXPECT_EQ(melody.applied(), applied);
}

TEST(SongChords, RefusesSlotsTheMelodyDoesNotHave) {
    EditableMelody melody(source_of(sample_gbk("jiangxue.txt"), 3, 1, 3));
    const int slots = static_cast<int>(melody.chords().chords.size());
    for (const Edit& edit :
         {chord_edit(EditKind::lock_chord, slots), chord_edit(EditKind::unlock_chord, -1),
          chord_edit(EditKind::set_chord, slots + 7)}) {
        const Applied applied = melody.apply(edit);
        ASSERT_TRUE(applied.error.has_value()) << edit_text(edit);
        EXPECT_NE(applied.error->find("does not exist"), std::string::npos) << *applied.error;
    }
    EXPECT_FALSE(melody.can_undo());
}

}  // namespace
}  // namespace quavella::edit
