// Lengths and rests of a shaped melody: each edit's effect on the note and on where
// the notes after it start, its refusals, undo and redo back to the exact bytes, the
// composition file's rests read back by midicsv, and random sequences mixing pitch,
// length and rest edits that keep the bars whole and replay from their text.
#include <gtest/gtest.h>

#include <algorithm>
#include <pugixml.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "composer/compose_request.h"
#include "composer/message_sink.h"
#include "edit/editable_melody.h"
#include "export/musicxml.h"
#include "notation/score.h"
#include "tests/edit/edit_walk.h"
#include "tests/support/files.h"
#include "tests/support/row_name.h"
#include "tests/support/sample_lyrics.h"
#include "tests/support/tools.h"

namespace quavella::edit {
namespace {

using test::sample_gbk;

Source source_of(const std::string& gbk, std::uint64_t seed, int speed = 1, int mode = 3) {
    Generators gens(seed);
    return Source{gbk, speed, mode, 0, gens.state()};
}

/// Where each note starts: the durations and rests before it.
std::vector<int> starts_of(const notation::Melody& melody) {
    std::vector<int> starts;
    int at = 0;
    for (std::size_t i = 0; i < melody.notes.size(); ++i) {
        starts.push_back(at);
        at += melody.ticks[i] + notation::rest_after(melody, i);
    }
    return starts;
}

struct LengthRow {
    std::string name;
    std::string edits;    // applied to the melody of chunxiao.txt, note 3 two units long
    int ticks_units;      // note 3's length after them, in units
    int rest_units;       // the rest after note 3, in units
    std::string refused;  // a part of the refusal of the last item; empty when all apply
};

class LengthEdits : public testing::TestWithParam<LengthRow> {};

TEST_P(LengthEdits, ChangeTheNoteAndMoveTheNotesAfterIt) {
    const LengthRow& row = GetParam();
    const Source source = source_of(sample_gbk("chunxiao.txt"), 11);
    notation::Melody composed = EditableMelody(source).composed();
    const int unit = time_unit(static_cast<int>(composed.notes.size()));
    ASSERT_EQ(unit, 120);  // 20 notes: a beat
    composed.ticks[2] = 2 * unit;
    EditableMelody melody(source, composed);
    const std::string before = melody.file().bytes;
    const std::vector<int> starts = starts_of(composed);

    const ParsedEdits parsed = parse_edits(row.edits);
    ASSERT_EQ(parsed.error, "");
    const auto refused = melody.apply_all(parsed.edits);
    if (!row.refused.empty()) {
        ASSERT_TRUE(refused.has_value());
        EXPECT_NE(refused->find("item " + std::to_string(parsed.edits.size()) + " "),
                  std::string::npos)
            << *refused;
        EXPECT_NE(refused->find(row.refused), std::string::npos) << *refused;
    } else {
        ASSERT_EQ(refused, std::nullopt);
    }
    const notation::Melody& m = melody.melody();
    EXPECT_EQ(m.ticks[2], row.ticks_units * unit);
    EXPECT_EQ(notation::rest_after(m, 2), row.rest_units * unit);
    // No rest is an empty list, so that such a melody writes the composition's layout.
    EXPECT_EQ(m.rests.empty(), row.rest_units == 0);
    const std::vector<int> now = starts_of(m);
    const int moved = (row.ticks_units - 2 + row.rest_units) * unit;
    for (std::size_t i = 0; i < now.size(); ++i) {
        EXPECT_EQ(now[i], starts[i] + (i > 2 ? moved : 0)) << "note " << i + 1;
    }
    EXPECT_EQ(notation::build_score(m).note_start, now);
    for (std::size_t i = 0; i < m.notes.size(); ++i) {
        if (i != 2) {
            EXPECT_EQ(m.ticks[i], composed.ticks[i]) << "note " << i + 1;
        }
        EXPECT_EQ(m.notes[i], composed.notes[i]) << "note " << i + 1;
    }
    if (moved == 0) {
        EXPECT_EQ(melody.file().bytes, before);
    }
    while (melody.undo() != nullptr) {
    }
    EXPECT_EQ(melody.file().bytes, before);
    EXPECT_TRUE(melody.melody().rests.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LengthEdits,
    testing::ValuesIn(std::vector<LengthRow>{
        {"Lengthen", "3d+", 3, 0, ""},
        {"LengthenTwice", "3d+,3d+", 4, 0, ""},
        {"Shorten", "3d-", 1, 0, ""},
        {"NeverBelowOneUnit", "3d-,3d-", 1, 0, "note 3 cannot be shorter than one unit"},
        {"Rest", "3r+", 2, 1, ""},
        {"RestAndLonger", "3r+,3r+,3d+", 3, 2, ""},
        {"RestRemovedIsNoRestAtAll", "3r+,3r-", 2, 0, ""},
        {"NoRestToRemove", "3r-", 2, 0, "there is no rest after note 3"},
        {"RemovedRestCannotBeRemovedAgain", "3r+,3r-,3r-", 2, 0, "there is no rest after note 3"},
        {"NoteThatDoesNotExist", "3d+,21d+", 3, 0, "note 21 does not exist"},
        {"NoRestAfterANoteThatDoesNotExist", "99r+", 2, 0, "note 99 does not exist"},
    }),
    test::RowName{});

TEST(LengthEdits, StepByHalfABeatInALongMelody) {
    // 28 notes and more: the composition's own unit is half a beat.
    EditableMelody melody(source_of(sample_gbk("songyuanershianxi.txt"), 3));
    const notation::Melody composed = melody.melody();
    ASSERT_GE(composed.notes.size(), 28u);
    ASSERT_FALSE(melody.apply(Edit{EditKind::lengthen, 0}).error);
    ASSERT_FALSE(melody.apply(Edit{EditKind::add_rest, 5}).error);
    EXPECT_EQ(melody.melody().ticks[0], composed.ticks[0] + 60);
    EXPECT_EQ(notation::rest_after(melody.melody(), 5), 60);
    ASSERT_EQ(melody.steps().back().changes.size(), 1u);
    const Change& change = melody.steps().back().changes[0];
    EXPECT_EQ(change.from_rest, 0);
    EXPECT_EQ(change.to_rest, 60);
    EXPECT_EQ(change.from_ticks, change.to_ticks);
}

TEST(LengthEdits, APitchEditKeepsTheRestAfterItsNote) {
    EditableMelody melody(source_of(sample_gbk("chunxiao.txt"), 5));
    ASSERT_EQ(melody.apply_all(parse_edits("2r+,2+h,2+o").edits), std::nullopt);
    EXPECT_EQ(notation::rest_after(melody.melody(), 1), 120);
    melody.undo();
    melody.undo();
    EXPECT_EQ(notation::rest_after(melody.melody(), 1), 120);
    melody.undo();
    EXPECT_TRUE(melody.melody().rests.empty());
}

TEST(LengthEdits, ALongerMelodyThanAScoreHoldsIsRefused) {
    const Source source = source_of(sample_gbk("chunxiao.txt"), 5);
    notation::Melody composed = EditableMelody(source).composed();
    composed.ticks[0] = notation::kMaxScoreTicks - 1000;
    EditableMelody melody(source, composed);
    const auto lengthen = melody.apply(Edit{EditKind::lengthen, 0});
    ASSERT_TRUE(lengthen.error.has_value());
    EXPECT_NE(lengthen.error->find("would last over"), std::string::npos);
    EXPECT_TRUE(melody.apply(Edit{EditKind::add_rest, 4}).error.has_value());
    EXPECT_FALSE(melody.apply(Edit{EditKind::shorten, 0}).error.has_value());
}

// A rest is the delta time of the next note-on, or of the end of the track after the
// last note; every other byte is as a composition writes it.
TEST(CompositionFileRests, ARestIsTimeBeforeTheNextNoteOn) {
    const std::string plain = composition_file(100, 0, {60, 62}, {120, 120}).bytes;
    ASSERT_EQ(composition_file(100, 0, {60, 62}, {120, 120}, {0, 0}).bytes, plain);
    const std::string track = plain.substr(50);
    EXPECT_EQ(track, std::string("\x00\x91\x3C\x5F\x78\x81\x3C\x5F\x00\x91\x3E\x5F\x78\x81\x3E\x5F"
                                 "\x00\xFF\x2F\x00",
                                 20));
    const std::string rested = composition_file(100, 0, {60, 62}, {120, 120}, {200, 30}).bytes;
    // 200 ticks take two bytes of delta time: the track is three bytes longer.
    EXPECT_EQ(rested.substr(50), std::string("\x00\x91\x3C\x5F\x78\x81\x3C\x5F\x81\x48\x91\x3E\x5F"
                                             "\x78\x81\x3E\x5F\x1E\xFF\x2F\x00",
                                             21));
    EXPECT_EQ(rested.substr(0, 46), plain.substr(0, 46));
    EXPECT_EQ(static_cast<unsigned char>(rested[49]), static_cast<unsigned char>(plain[49]) + 1);
}

TEST(CompositionFileRests, AnEditedMelodyWithRestsReadsBackByMidicsvExactly) {
    ASSERT_EQ(test::missing_midicsv(), "");
    test::ScratchDir dir;
    EditableMelody melody(source_of(sample_gbk("chunxiao.txt"), 9));
    ASSERT_EQ(melody.apply_all(parse_edits("1r+,4d+,4r+,4r+,7d-,20r+,12+").edits), std::nullopt);
    const notation::Melody& m = melody.melody();
    const std::string file = dir.file("rests.mid");
    test::write_file(file, melody.file().bytes);
    std::istringstream csv(test::midicsv_text(file));
    std::vector<int> on, off, keys;
    int end = -1;
    for (std::string line; std::getline(csv, line);) {
        std::istringstream fields(line);
        std::string track, time, kind, channel, key;
        std::getline(fields, track, ',');
        std::getline(fields, time, ',');
        std::getline(fields, kind, ',');
        if (track != "2") continue;
        if (kind == " Note_on_c" || kind == " Note_off_c") {
            std::getline(fields, channel, ',');
            std::getline(fields, key, ',');
            (kind == " Note_on_c" ? on : off).push_back(std::stoi(time));
            if (kind == " Note_on_c") keys.push_back(std::stoi(key));
        } else if (kind == " End_track") {
            end = std::stoi(time);
        }
    }
    const std::vector<int> starts = starts_of(m);
    EXPECT_EQ(on, starts);
    EXPECT_EQ(keys, m.notes);
    ASSERT_EQ(off.size(), m.notes.size());
    for (std::size_t i = 0; i < off.size(); ++i) EXPECT_EQ(off[i], starts[i] + m.ticks[i]);
    EXPECT_EQ(end, starts.back() + m.ticks.back() + 120);  // the rest after the last note
}

/// Every bar of the score and of its MusicXML holds four beats, and every syllable
/// is sung once.
void expect_whole_bars(const notation::Melody& melody, const std::string& context) {
    const notation::Score score = notation::build_score(melody);
    int total = 0;
    for (const notation::Bar& bar : score.bars) {
        int ticks = 0;
        for (const notation::Glyph& glyph : bar.glyphs) ticks += glyph.ticks;
        ASSERT_EQ(ticks, notation::kBarTicks) << context;
        total += ticks;
    }
    const std::vector<int> starts = starts_of(melody);
    ASSERT_GE(total,
              starts.back() + melody.ticks.back() + notation::rest_after(melody, starts.size() - 1))
        << context;
    ASSERT_LT(total - starts.back() - melody.ticks.back() -
                  notation::rest_after(melody, starts.size() - 1),
              notation::kBarTicks)
        << context;
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(exports::musicxml_document(score).c_str())) << context;
    const int divisions = doc.select_node("//divisions").node().text().as_int();
    ASSERT_GT(divisions, 0);
    for (const pugi::xpath_node& measure : doc.select_nodes("//measure")) {
        int sum = 0;
        for (const pugi::xml_node note : measure.node().children("note")) {
            sum += note.child("duration").text().as_int();
        }
        ASSERT_EQ(sum, 4 * divisions) << context;
    }
    ASSERT_EQ(doc.select_nodes("//note[lyric]").size(),
              static_cast<std::size_t>(std::count_if(
                  melody.lyrics.begin(), melody.lyrics.end(),
                  [](const notation::Lyric& l) { return !l.continuation && !l.text.empty(); })))
        << context;
}

/// Mostly lengths and rests, some pitch moves.
Edit random_rhythm_edit(std::mt19937_64& random, int notes) {
    static constexpr EditKind kKinds[] = {
        EditKind::lengthen, EditKind::shorten,     EditKind::add_rest, EditKind::remove_rest,
        EditKind::add_rest, EditKind::remove_rest, EditKind::step,     EditKind::semitone};
    Edit edit{kKinds[random() % std::size(kKinds)],
              static_cast<int>(random() % static_cast<std::uint64_t>(notes))};
    if (edit.kind == EditKind::step || edit.kind == EditKind::semitone) {
        edit.amount = random() % 2 == 0 ? 1 : -1;
    }
    return edit;
}

TEST(LengthEdits, AnySequenceKeepsWholeBarsUndoesToTheExactBytesAndReplaysFromItsText) {
    std::mt19937_64 random(20261211);
    for (const std::string sample : {"chunxiao.txt", "jingyesi.txt", "songyuanershianxi.txt"}) {
        const std::string gbk = sample_gbk(sample);
        for (int round = 0; round < 4; ++round) {
            const Source source = source_of(gbk, random(), static_cast<int>(random() % 3),
                                            static_cast<int>(random() % 4));
            const std::string context = sample + " round " + std::to_string(round);
            EditableMelody melody(source);
            const notation::Melody composed = melody.melody();
            std::vector<std::string> after_each{melody.file().bytes};
            // A few notes only, so that rests pile up and are removed again.
            const int notes = std::min(static_cast<int>(composed.notes.size()), 6);
            for (int k = 0; k < 30; ++k) {
                const Applied applied = melody.apply(random_rhythm_edit(random, notes));
                if (!applied.error && !applied.step.changes.empty()) {
                    after_each.push_back(melody.file().bytes);
                }
                const notation::Melody& m = melody.melody();
                ASSERT_EQ(m.lyrics.size(), composed.lyrics.size()) << context;
                for (std::size_t i = 0; i < m.lyrics.size(); ++i) {
                    ASSERT_EQ(m.lyrics[i].text, composed.lyrics[i].text) << context;
                }
                ASSERT_TRUE(m.rests.empty() || (m.rests.size() == m.notes.size() &&
                                                std::any_of(m.rests.begin(), m.rests.end(),
                                                            [](int r) { return r > 0; })))
                    << context;
                const int unit = time_unit(static_cast<int>(m.notes.size()));
                for (const int ticks : m.ticks) ASSERT_GE(ticks, unit) << context;
                expect_whole_bars(m, context + " edit " + std::to_string(k));
            }
            ASSERT_EQ(after_each.size(), melody.applied() + 1) << context;

            ASSERT_NO_FATAL_FAILURE(
                edit_walk::expect_replayed(melody, source, after_each.back(), context));
            ASSERT_NO_FATAL_FAILURE(edit_walk::expect_undone_to_first(melody, after_each, context));
            EXPECT_TRUE(melody.melody().rests.empty());
            ASSERT_NO_FATAL_FAILURE(edit_walk::expect_redone_to_last(melody, after_each, context));
        }
    }
}

}  // namespace
}  // namespace quavella::edit
