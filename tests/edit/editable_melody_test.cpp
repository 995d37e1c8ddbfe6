// Editing composed melodies: each edit, undo and redo back to the exact bytes,
// replay of the text form, whole bars after sentence splices, regeneration and
// best of N by sentence.
#include "edit/editable_melody.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <pugixml.hpp>
#include <random>
#include <string>
#include <vector>

#include "composer/compose_request.h"
#include "composer/message_sink.h"
#include "composer/style_tables.h"
#include "export/musicxml.h"
#include "lyrics/gbk_text.h"
#include "tests/edit/edit_walk.h"
#include "tests/support/files.h"
#include "tests/support/row_name.h"
#include "tests/support/sample_lyrics.h"

namespace quavella::edit {
namespace {

using test::sample_gbk;

Source source_of(const std::string& gbk, std::uint64_t seed, int speed = 1, int mode = 3,
                 int timbre = 0) {
    Generators gens(seed);
    return Source{gbk, speed, mode, timbre, gens.state()};
}

/// The file a single compose request from the source writes.
std::string composed_bytes(const Source& source) {
    Generators gens;
    gens.restore(source.state);
    QuietSink quiet;
    const ComposeOutcome outcome = compose_melody(source.gbk_text, source.speed_pos,
                                                  source.mode_pos, source.timbre_pos, gens, quiet);
    return composition_file(outcome.tempo, outcome.program, outcome.nt_seq, outcome.tm_seq).bytes;
}

/// Every bar of the score and of its MusicXML holds exactly four beats, and
/// every sung note keeps its syllable.
void expect_whole_bars(const notation::Melody& melody, const std::string& context) {
    const notation::Score score = notation::build_score(melody);
    for (const notation::Bar& bar : score.bars) {
        int ticks = 0;
        for (const notation::Glyph& glyph : bar.glyphs) ticks += glyph.ticks;
        ASSERT_EQ(ticks, notation::kBarTicks) << context;
    }
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(exports::musicxml_document(score).c_str())) << context;
    const int divisions = doc.select_node("//divisions").node().text().as_int();
    ASSERT_GT(divisions, 0);
    for (const pugi::xpath_node& measure : doc.select_nodes("//measure")) {
        int sum = 0;
        for (const pugi::xml_node note : measure.node().children("note")) {
            sum += note.child("duration").text().as_int();
        }
        ASSERT_EQ(sum, 4 * divisions)
            << context << " measure " << measure.node().attribute("number").value();
    }
    ASSERT_EQ(doc.select_nodes("//note[lyric]").size(),
              static_cast<std::size_t>(std::count_if(
                  melody.lyrics.begin(), melody.lyrics.end(),
                  [](const notation::Lyric& l) { return !l.continuation && !l.text.empty(); })))
        << context;
}

TEST(EditableMelody, StartsAsTheCompositionItself) {
    const Source source = source_of(sample_gbk("chunxiao.txt"), 42, 2, 1, 3);
    const EditableMelody melody(source);
    EXPECT_EQ(melody.file().bytes, composed_bytes(source));
    EXPECT_FALSE(melody.can_undo());
    EXPECT_EQ(melody.melody().notes.size(), melody.check().syllables().size());
}

struct MoveRow {
    std::string name;
    int mode;      // the scale table: 0 the pentatonic scale C D E G A, 3 all seven
    int pitch;     // the note before
    Edit edit;     // on note 0
    int expected;  // the note after; -1: refused
};

Edit move(EditKind kind, int amount) {
    Edit edit{kind};
    edit.amount = amount;
    return edit;
}

class Moves : public testing::TestWithParam<MoveRow> {};

TEST_P(Moves, MoveTheNoteAsSaid) {
    const MoveRow& row = GetParam();
    const Source source = source_of(sample_gbk("jingyesi.txt"), 7, 1, mode_position(row.mode), 0);
    notation::Melody composed = EditableMelody(source).composed();
    composed.notes[0] = row.pitch;
    EditableMelody melody(source, composed);
    const Applied applied = melody.apply(row.edit);
    if (row.expected < 0) {
        EXPECT_TRUE(applied.error.has_value());
        EXPECT_EQ(melody.melody().notes[0], row.pitch);
        EXPECT_FALSE(melody.can_undo());
        return;
    }
    ASSERT_FALSE(applied.error) << *applied.error;
    EXPECT_EQ(melody.melody().notes[0], row.expected);
    ASSERT_EQ(applied.step.changes.size(), 1u);
    EXPECT_EQ(applied.step.changes[0].from_pitch, row.pitch);
    melody.undo();
    EXPECT_EQ(melody.melody().notes[0], row.pitch);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Moves,
    testing::ValuesIn(std::vector<MoveRow>{
        {"StepUpPentatonic", 0, 64, move(EditKind::step, 1), 67},
        {"StepDownPentatonic", 0, 67, move(EditKind::step, -1), 64},
        {"StepUpMajor", 3, 64, move(EditKind::step, 1), 65},
        {"OutOfScaleUpGoesToTheNextScaleNote", 0, 61, move(EditKind::step, 1), 62},
        {"OutOfScaleDownGoesToTheNextScaleNote", 0, 66, move(EditKind::step, -1), 64},
        {"StepBeyondTheComposersRange", 3, 76, move(EditKind::step, 1), 77},
        {"SemitoneUp", 0, 64, move(EditKind::semitone, 1), 65},
        {"OctaveDown", 0, 64, move(EditKind::octave, -1), 52},
        {"SetPitch", 0, 64, Edit{EditKind::pitch, 0, 70}, 70},
        {"NoOctaveAbove127", 0, 120, move(EditKind::octave, 1), -1},
        {"NoSemitoneBelow0", 0, 0, move(EditKind::semitone, -1), -1},
        {"NoScaleStepAboveTheTop", 0, 127, move(EditKind::step, 1), -1},
        {"NoteThatDoesNotExist", 0, 64, Edit{EditKind::step, 999, 1}, -1},
    }),
    test::RowName{});

TEST(EditableMelody, SentenceComesWithItsRhythmAndLeavesTheRestNoteForNote) {
    const Source source = source_of(sample_gbk("fengqiaoyebo.txt"), 1234);
    EditableMelody melody(source);
    const notation::Melody before = melody.melody();
    Generators other(98765);
    Edit edit{EditKind::sentence};
    edit.sentence = 2;
    edit.state = other.state();
    ASSERT_FALSE(melody.apply(edit).error);

    Generators gens(98765);
    QuietSink quiet;
    const ComposeOutcome donor = compose_melody(source.gbk_text, source.speed_pos, source.mode_pos,
                                                source.timbre_pos, gens, quiet);
    const auto [first, end] = melody.sentence_notes(2);
    ASSERT_LT(first, end);
    for (int i = 0; i < static_cast<int>(before.notes.size()); ++i) {
        const auto k = static_cast<std::size_t>(i);
        const bool inside = i >= first && i < end;
        EXPECT_EQ(melody.melody().notes[k], inside ? donor.nt_seq[k] : before.notes[k]) << i;
        EXPECT_EQ(melody.melody().ticks[k], inside ? donor.tm_seq[k] : before.ticks[k]) << i;
        EXPECT_EQ(melody.melody().lyrics[k].text, before.lyrics[k].text);
    }
    expect_whole_bars(melody.melody(), "spliced");
}

TEST(EditableMelody, RefusesSentencesItDoesNotHave) {
    // Four short words: whatever the layout, no sentence beyond the fourth exists.
    EditableMelody melody(source_of(sample_gbk("jiangxue.txt"), 3));
    Edit edit{EditKind::sentence};
    edit.sentence = 4;
    EXPECT_TRUE(melody.apply(edit).error.has_value());
    EXPECT_TRUE(melody.regenerate_sentence(-1, 3).error.has_value());
    EXPECT_FALSE(melody.can_undo());
}

/// A random edit for a melody of `notes` notes: mostly moves, some pitches,
/// sentences from random states, repairs of tones and of line ends.
Edit random_edit(std::mt19937_64& random, int notes) {
    Edit edit;
    edit.note = static_cast<int>(random() % static_cast<std::uint64_t>(notes));
    edit.amount = random() % 2 == 0 ? 1 : -1;
    switch (random() % 10) {
        case 0:
        case 1:
        case 2:
            edit.kind = EditKind::step;
            break;
        case 3:
            edit.kind = EditKind::semitone;
            break;
        case 4:
            edit.kind = EditKind::octave;
            break;
        case 5:
            edit.kind = EditKind::pitch;
            edit.amount = 48 + static_cast<int>(random() % 36);
            break;
        case 6:
            edit.kind = EditKind::sentence;
            edit.sentence = static_cast<int>(random() % 4);
            edit.state = Generators(random()).state();
            break;
        case 7:
            edit.kind = EditKind::fix_tones;
            break;
        case 8:
            edit.kind = EditKind::fix_rhythm;
            break;
        default:
            edit.kind = EditKind::suit_tones;
            break;
    }
    return edit;
}

TEST(EditableMelody, AnyEditSequenceUndoesToTheExactBytesAndReplaysFromItsText) {
    const std::vector<std::string> samples = {"chunxiao.txt", "jingyesi.txt", "luzhai.txt",
                                              "songyuanershianxi.txt", "xiangsi.txt"};
    std::mt19937_64 random(20261211);
    for (const std::string& sample : samples) {
        const std::string gbk = sample_gbk(sample);
        for (int round = 0; round < 4; ++round) {
            const Source source = source_of(gbk, random(), static_cast<int>(random() % 4),
                                            static_cast<int>(random() % 4), 0);
            const std::string context = sample + " round " + std::to_string(round);
            EditableMelody melody(source);
            const std::string original = melody.file().bytes;
            ASSERT_EQ(original, composed_bytes(source)) << context;
            const int notes = static_cast<int>(melody.melody().notes.size());
            std::vector<std::string> after_each{original};
            for (int k = 0; k < 12; ++k) {
                const Applied applied = melody.apply(random_edit(random, notes));
                if (!applied.error && !applied.step.changes.empty()) {
                    after_each.push_back(melody.file().bytes);
                }
                ASSERT_EQ(melody.melody().notes.size(), melody.composed().notes.size());
                ASSERT_EQ(melody.melody().lyrics.size(), melody.composed().lyrics.size());
            }
            ASSERT_EQ(after_each.size(), melody.applied() + 1) << context;
            expect_whole_bars(melody.melody(), context);

            // Made again from the text form, byte for byte.
            ASSERT_NO_FATAL_FAILURE(
                edit_walk::expect_replayed(melody, source, after_each.back(), context));

            // Undo walks back through every state, redo forward again.
            ASSERT_NO_FATAL_FAILURE(edit_walk::expect_undone_to_first(melody, after_each, context));
            EXPECT_EQ(melody.undo(), nullptr);
            ASSERT_NO_FATAL_FAILURE(edit_walk::expect_redone_to_last(melody, after_each, context));
            EXPECT_EQ(melody.redo(), nullptr);
        }
    }
}

TEST(EditableMelody, AnEditAfterUndoDropsWhatWasUndone) {
    EditableMelody melody(source_of(sample_gbk("chunxiao.txt"), 5));
    ASSERT_FALSE(melody.apply(Edit{EditKind::semitone, 0, 1}).error);
    ASSERT_FALSE(melody.apply(Edit{EditKind::semitone, 1, 1}).error);
    melody.undo();
    ASSERT_FALSE(melody.apply(Edit{EditKind::octave, 2, -1}).error);
    EXPECT_FALSE(melody.can_redo());
    EXPECT_EQ(edits_text(melody.edits()), "1+h,3-o");
}

TEST(EditableMelody, RepairLeavesNoContraryPairWhereTheLimitsAllow) {
    std::mt19937_64 random(77);
    for (const std::string sample : {"chusai.txt", "dengguanquelou.txt", "liangzhouci.txt"}) {
        for (int round = 0; round < 5; ++round) {
            EditableMelody melody(
                source_of(sample_gbk(sample), random(), 1, static_cast<int>(random() % 4)));
            const Applied fixed = melody.apply(Edit{EditKind::fix_tones});
            ASSERT_FALSE(fixed.error);
            EXPECT_EQ(melody.grading().contrary().size(), fixed.step.left.size()) << sample;
            const Applied suited = melody.apply(Edit{EditKind::suit_tones});
            ASSERT_FALSE(suited.error);
            EXPECT_EQ(
                static_cast<std::size_t>(melody.grading().graded() - melody.grading().agreeing()),
                suited.step.left.size())
                << sample;
        }
    }
}

TEST(EditableMelody, RegenerationTakesTheBestSentenceOfTheNextCandidates) {
    const Source source = source_of(sample_gbk("zaofabaidicheng.txt"), 2026);
    EditableMelody melody(source);
    const notation::Melody before = melody.melody();
    constexpr int kCount = 8;
    const Applied applied = melody.regenerate_sentence(1, kCount);
    ASSERT_FALSE(applied.error);

    // The candidates: the compositions after the melody's own, in a row.
    Generators gens;
    gens.restore(source.state);
    QuietSink quiet;
    compose_melody(source.gbk_text, source.speed_pos, source.mode_pos, source.timbre_pos, gens,
                   quiet);
    SentenceGrade best;
    for (int k = 0; k < kCount; ++k) {
        const ComposeOutcome candidate = compose_melody(
            source.gbk_text, source.speed_pos, source.mode_pos, source.timbre_pos, gens, quiet);
        const SentenceGrade grade =
            sentence_grade(melody.check(), melody.check().grade(candidate.nt_seq), 1);
        if (k == 0 || grade.better_than(best)) best = grade;
    }
    const SentenceGrade got = sentence_grade(melody.check(), melody.grading(), 1);
    EXPECT_EQ(got.agreeing, best.agreeing);
    EXPECT_EQ(got.contrary, best.contrary);
    const auto [first, end] = melody.sentence_notes(1);
    for (int i = 0; i < static_cast<int>(before.notes.size()); ++i) {
        if (i >= first && i < end) continue;
        EXPECT_EQ(melody.melody().notes[static_cast<std::size_t>(i)],
                  before.notes[static_cast<std::size_t>(i)]);
    }
}

TEST(BestBySentence, EachSentenceIsTheBestOfTheCandidates) {
    const std::string gbk = sample_gbk("huixiangoushu.txt");
    const Source settings = source_of(gbk, 0, 2, 2, 1);
    const ToneCheck check(syllable_texts(gbk));
    constexpr int kCount = 20;
    Generators gens(31337);
    QuietSink said;
    const BySentence made = shape_by_sentence(settings, check, kCount, gens, said);

    // The generators went on as twenty compose requests would have taken them.
    Generators singles(31337);
    QuietSink quiet;
    std::vector<ToneGrading> gradings;
    for (int k = 0; k < kCount; ++k) {
        gradings.push_back(check.grade(compose_melody(gbk, settings.speed_pos, settings.mode_pos,
                                                      settings.timbre_pos, singles, quiet)
                                           .nt_seq));
    }
    EXPECT_EQ(gens.state(), singles.state());

    // The steps handed over are the sentence edits a melody composed from the first
    // state replays: the same notes, composed again.
    EXPECT_EQ(made.melody.source().state, Generators(31337).state());
    EditableMelody melody(made.melody.source());
    ASSERT_EQ(melody.apply_all(made.melody.edits()), std::nullopt);
    EXPECT_EQ(melody.melody().notes, made.melody.melody().notes);
    EXPECT_EQ(melody.melody().ticks, made.melody.melody().ticks);
    EXPECT_FALSE(made.melody.edits().empty());
    for (const Step& step : made.melody.steps()) {
        EXPECT_EQ(step.edit.kind, EditKind::sentence);
        EXPECT_NE(made.chosen[static_cast<std::size_t>(step.edit.sentence)], 0);
    }
    for (int s = 0; s < 4; ++s) {
        const SentenceGrade got = sentence_grade(check, melody.grading(), s);
        for (const ToneGrading& grading : gradings) {
            EXPECT_FALSE(sentence_grade(check, grading, s).better_than(got)) << s;
        }
    }
    expect_whole_bars(melody.melody(), "by sentence");
}

}  // namespace
}  // namespace quavella::edit
