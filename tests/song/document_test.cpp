// The song document: edits, undo and redo tell every listener and leave a current
// composition graded once; a melody made by edits starts with them fixed; a shaped
// melody is settled once per pause; and the score, the history record and the exports
// of a shaped melody are what quavella-cli compose --state S:T --edits LIST makes.
#include "song/document.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "composer/message_sink.h"
#include "edit/edits.h"
#include "export/arrangement.h"
#include "export/karaoke.h"
#include "export/lyrics_midi.h"
#include "export/musicxml.h"
#include "history/record.h"
#include "lyrics/gbk_text.h"
#include "notation/score.h"
#include "tests/support/cli_runner.h"
#include "tests/support/files.h"

namespace quavella::song {
namespace {

const std::string kLyrics = "春眠不觉晓，处处闻啼鸟。夜来风雨声，花落知多少。";

CompositionPtr composed(std::uint64_t seed) {
    auto source = std::make_shared<CompositionSource>();
    source->lines = {kLyrics};
    source->gbk_text = utf8_to_gbk(kLyrics).gbk;
    source->speed_pos = 1;
    source->mode_pos = 2;
    source->timbre_pos = 3;
    Generators gens(seed);
    QuietSink quiet;
    return compose(source, gens, quiet).composition;
}

/// Writes down what it is told, with the edit list the document holds then.
struct Told : Listener {
    void changed(const Document& document, Event event) override {
        events.push_back(event);
        edits.push_back(document.current()->edits);
    }
    std::vector<Event> events;
    std::vector<std::string> edits;
};

TEST(SongDocument, EditsUndoAndRedoTellTheListenersAndRemakeTheCompositionOnce) {
    const CompositionPtr origin = composed(7);
    Document document;
    Told told;
    document.add_listener(told);
    document.start(origin);
    EXPECT_EQ(document.current(), origin);  // unedited, the origin itself
    EXPECT_FALSE(document.can_undo());

    ASSERT_FALSE(document.apply(edit::Edit(edit::EditKind::octave, 2, 1)).error);
    ASSERT_FALSE(document.apply(edit::Edit(edit::EditKind::semitone, 4, -1)).error);
    const CompositionPtr shaped = document.current();
    EXPECT_EQ(shaped->source, origin->source);
    EXPECT_EQ(shaped->state, origin->state);
    EXPECT_EQ(shaped->edits, "3+o,5-h");
    // The composition a melody of these notes makes, graded as the melody was edited.
    const Composed remade =
        make_composition(origin->source, origin->state, shaped->melody,
                         lyric_tone_check(origin->source->gbk_text), shaped->edits);
    EXPECT_EQ(shaped->midi, remade.composition->midi);
    EXPECT_EQ(shaped->tones.agreeing(), remade.composition->tones.agreeing());
    EXPECT_EQ(shaped->tones.contrary().size(), remade.composition->tones.contrary().size());
    EXPECT_EQ(shaped->tones.graded(), remade.composition->tones.graded());

    // A refused edit and an edit that changes nothing tell nobody.
    EXPECT_TRUE(document.apply(edit::Edit(edit::EditKind::pitch, 999, 60)).error);
    const int first = shaped->melody.notes[0];
    EXPECT_TRUE(document.apply(edit::Edit(edit::EditKind::pitch, 0, first)).step.changes.empty());
    EXPECT_EQ(document.current(), shaped);
    EXPECT_EQ(told.events, (std::vector<Event>{Event::started, Event::edited, Event::edited}));

    ASSERT_NE(document.undo_step(), nullptr);
    EXPECT_EQ(document.undo_step()->edit.kind, edit::EditKind::semitone);
    ASSERT_TRUE(document.undo());
    ASSERT_TRUE(document.undo());
    EXPECT_FALSE(document.undo());
    EXPECT_EQ(document.current()->midi, origin->midi);
    EXPECT_EQ(document.redo_step()->edit.kind, edit::EditKind::octave);
    ASSERT_TRUE(document.redo());
    // A new edit drops what was undone.
    ASSERT_FALSE(document.apply(edit::Edit(edit::EditKind::step, 0, -1)).error);
    EXPECT_FALSE(document.can_redo());
    EXPECT_EQ(document.current()->edits, "3+o,1-");
    EXPECT_EQ(told.events,
              (std::vector<Event>{Event::started, Event::edited, Event::edited, Event::undone,
                                  Event::undone, Event::redone, Event::edited}));
}

TEST(SongDocument, AMelodyMadeByEditsStartsWithThemFixed) {
    const CompositionPtr origin = composed(11);
    Document shaping;
    shaping.start(origin);
    shaping.apply(edit::Edit(edit::EditKind::semitone, 4, 1));
    shaping.apply(edit::Edit(edit::EditKind::suit_tones));
    const CompositionPtr made = shaping.current();

    // As an entry of the history brings it back: composed again, its edits replayed.
    Document loaded;
    loaded.start(history::composition_of(history::record_of(*made, 0)));
    EXPECT_EQ(loaded.current()->midi, made->midi);
    EXPECT_EQ(loaded.current()->edits, made->edits);
    EXPECT_FALSE(loaded.can_undo());
    ASSERT_FALSE(loaded.apply(edit::Edit(edit::EditKind::octave, 0, 1)).error);
    EXPECT_EQ(loaded.current()->edits, made->edits + ",1+o");
    ASSERT_TRUE(loaded.undo());
    EXPECT_FALSE(loaded.undo());
    EXPECT_EQ(loaded.current()->midi, made->midi);
}

TEST(SongDocument, AShapedMelodyIsSettledOncePerPauseAndBeforeTheNextSong) {
    Document document;
    Told told;
    document.add_listener(told);
    document.start(composed(3));
    document.settle();  // the origin is in the history already
    EXPECT_TRUE(document.recorded());

    document.apply(edit::Edit(edit::EditKind::step, 1, 1));
    EXPECT_FALSE(document.recorded());
    document.settle();
    document.settle();
    EXPECT_TRUE(document.recorded());
    // Back to the origin, and forward again to what was settled: nothing new to record.
    document.undo();
    document.settle();
    document.redo();
    document.settle();
    // Shaped further, then replaced: what was shaped is settled first.
    document.apply(edit::Edit(edit::EditKind::step, 2, 1));
    document.start(composed(4));
    EXPECT_EQ(told.events,
              (std::vector<Event>{Event::started, Event::edited, Event::settled, Event::undone,
                                  Event::redone, Event::edited, Event::settled, Event::started}));
    EXPECT_EQ(told.edits[2], "2+");
    EXPECT_EQ(told.edits[6], "2+,3+");
}

TEST(SongDocument, ChordEditsAreEditsOfTheSongAndItsHistoryReplaysThem) {
    const CompositionPtr origin = composed(31);
    Document document;
    Told told;
    document.add_listener(told);
    document.start(origin);
    EXPECT_EQ(origin->chords.chords,
              harmony::choose_chords(harmony::request_for(origin->melody)).chords);

    // Slot 2 set to a chord the model would not take there: locked, and the song's.
    const harmony::Chord set{2, harmony::ChordKind::sus4};
    edit::Edit chord{edit::EditKind::set_chord};
    chord.slot = 1;
    chord.chord = set;
    ASSERT_FALSE(document.apply(chord).error);
    EXPECT_EQ(document.current()->chords.chords[1], set);
    EXPECT_EQ(document.current()->locks, (std::vector<harmony::Lock>{{1, set}}));
    EXPECT_EQ(document.current()->midi, origin->midi);  // the melody is as it was
    // A note under it moves: the lock holds.
    ASSERT_FALSE(document.apply(edit::Edit(edit::EditKind::octave, 1, 1)).error);
    ASSERT_FALSE(document.apply(edit::Edit(edit::EditKind::semitone, 2, 1)).error);
    EXPECT_EQ(document.current()->chords.chords[1], set);
    const CompositionPtr shaped = document.current();
    EXPECT_EQ(shaped->edits, "k2:2:3,2+o,3+h");

    // Undone, the chords are back as chosen at the start, unlocked.
    ASSERT_TRUE(document.undo());
    ASSERT_TRUE(document.undo());
    EXPECT_EQ(document.undo_step()->edit.kind, edit::EditKind::set_chord);
    ASSERT_TRUE(document.undo());
    EXPECT_EQ(document.current()->chords.chords, origin->chords.chords);
    EXPECT_TRUE(document.current()->locks.empty());
    EXPECT_EQ(told.events.back(), Event::undone);

    // An entry of the history keeps no chords; started, its edits make them again.
    Document loaded;
    loaded.start(history::composition_of(history::record_of(*shaped, 0)));
    EXPECT_EQ(loaded.current()->chords.chords, shaped->chords.chords);
    EXPECT_EQ(loaded.current()->locks, shaped->locks);
    EXPECT_EQ(loaded.current()->midi, shaped->midi);
}

TEST(SongDocument, AShapedMelodyIsWhatTheCommandLineMakesFromItsStateAndEdits) {
    const CompositionPtr origin = composed(2024);
    Document document;
    document.start(origin);
    // Chord edits among the note edits: the exports follow the chords the edits leave.
    for (const edit::Edit& edit : edit::parse_edits("1+,k3:7:0,6-o,k5+,10:64,fix").edits) {
        ASSERT_FALSE(document.apply(edit).error) << edit::edit_text(edit);
    }
    const Composition& shaped = *document.current();
    ASSERT_EQ(shaped.edits, "1+,k3:7:0,6-o,k5+,10:64,fix");
    EXPECT_EQ(shaped.chords.chords, document.melody().chords().chords);
    EXPECT_EQ(shaped.locks, document.melody().locks());
    const test::ScratchDir dir;
    const notation::Score score = notation::build_score(shaped.melody);
    const std::vector<harmony::ChordChange> changes = harmony::chord_changes(shaped.chords);
    ASSERT_EQ(exports::write_musicxml(score, dir.file("doc.musicxml"), {}, changes), std::nullopt);
    ASSERT_EQ(exports::write_arrangement(shaped.melody, shaped.chords, {}, dir.file("doc-arr.mid")),
              std::nullopt);
    ASSERT_EQ(exports::write_lyrics_midi(score, dir.file("doc-lyrics.mid")), std::nullopt);
    // With the arrangement, the karaoke file carries its accompaniment on the song's chords.
    const exports::KaraokeAccompaniment accompaniment{
        harmony::accompany(shaped.melody, shaped.chords, harmony::Pattern::block), 0};
    ASSERT_EQ(exports::write_karaoke(score, dir.file("doc.kar"), &accompaniment), std::nullopt);

    const test::CliRun run = test::run_cli({"compose",
                                            "--state",
                                            state_text(origin->state),
                                            "--speed",
                                            "1",
                                            "--mode",
                                            "2",
                                            "--timbre",
                                            "3",
                                            "--edits",
                                            shaped.edits,
                                            "--score",
                                            "-o",
                                            "cli.mid",
                                            "--musicxml",
                                            "cli.musicxml",
                                            "--lyrics-midi",
                                            "cli-lyrics.mid",
                                            "--karaoke",
                                            "cli.kar",
                                            "--chords",
                                            "--arrangement",
                                            "cli-arr.mid"},
                                           kLyrics + "\n", dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(test::read_file(dir.file("cli.mid")), shaped.midi);
    EXPECT_EQ(test::read_file(dir.file("cli.musicxml")), test::read_file(dir.file("doc.musicxml")));
    EXPECT_EQ(test::read_file(dir.file("cli-lyrics.mid")),
              test::read_file(dir.file("doc-lyrics.mid")));
    EXPECT_EQ(test::read_file(dir.file("cli.kar")), test::read_file(dir.file("doc.kar")));
    EXPECT_EQ(test::read_file(dir.file("cli-arr.mid")), test::read_file(dir.file("doc-arr.mid")));
    std::string chord_lines;
    for (const harmony::ChordChange& change : changes)
        chord_lines += "tick=" + std::to_string(change.tick) +
                       " chord=" + harmony::chord_name(change.chord) + " ";
    std::string printed;  // the tick= and chord= fields of the lines printed
    for (std::size_t at = run.out.find("tick="); at != std::string::npos;
         at = run.out.find("tick=", at + 1)) {
        const std::size_t root = run.out.find(" root=", at);
        printed += run.out.substr(at, root - at) + " ";
    }
    EXPECT_EQ(printed, chord_lines);
    // The score it prints is the score of these notes.
    EXPECT_NE(run.out.find(notation::score_text(score, 80).substr(0, 40)), std::string::npos);

    // The history's record: the same bytes and edits, and its command line makes them.
    const history::Record record = history::record_of(shaped, 0);
    EXPECT_EQ(record.midi, shaped.midi);
    EXPECT_EQ(record.edits, shaped.edits);
    std::string command = history::reproduce_command(record, "again.mid");
    command.replace(0, std::string("quavella-cli").size(), "");
    std::vector<std::string> args;
    for (std::size_t at = 1, end = 0; at < command.size(); at = end + 1) {
        end = command.find(' ', at);
        if (end == std::string::npos) end = command.size();
        args.push_back(command.substr(at, end - at));
    }
    args.push_back("--arrangement");
    args.push_back("again-arr.mid");
    const test::CliRun again = test::run_cli(args, "", dir.path());
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(test::read_file(dir.file("again.mid")), shaped.midi);
    EXPECT_EQ(test::read_file(dir.file("again-arr.mid")), test::read_file(dir.file("doc-arr.mid")));
    EXPECT_EQ(history::composition_of(record)->melody.notes, shaped.melody.notes);
}

/// The bytes the history's command line for `record` writes, run from `dir`.
std::string remade_by_command_line(const history::Record& record, const test::ScratchDir& dir) {
    std::string command = history::reproduce_command(record, "again.mid");
    command.replace(0, std::string("quavella-cli").size(), "");
    std::vector<std::string> args;
    for (std::size_t at = 1, end = 0; at < command.size(); at = end + 1) {
        end = command.find(' ', at);
        if (end == std::string::npos) end = command.size();
        args.push_back(command.substr(at, end - at));
    }
    const test::CliRun again = test::run_cli(args, "", dir.path());
    if (again.status != 0) return "failed: " + again.err;
    return test::read_file(dir.file("again.mid"));
}

// New words are the song's: the score, the tone marks and the exports sing them, while the
// history entry stays derived from the origin (its state and lyric, the word item among
// its edits), so that its command line and the entry's score make the same again.
TEST(SongDocument, NewWordsAreTheSongsAndItsEntryStaysDerivedFromItsOrigin) {
    const CompositionPtr origin = composed(2024);
    Document document;
    document.start(origin);
    const std::string words = "春眠不觉晓，处处闻啼燕。\n夜来风雨声声急，花落知多少。";
    edit::Edit revise(edit::EditKind::words);
    revise.words = words;
    for (const edit::Edit& edit : {edit::Edit(edit::EditKind::step, 0, 1), revise,
                                   edit::Edit(edit::EditKind::pitch, 2, 64)}) {
        ASSERT_FALSE(document.apply(edit).error);
    }
    const Composition& shaped = *document.current();
    const std::string gbk = utf8_to_gbk("春眠不觉晓，处处闻啼燕。夜来风雨声声急，花落知多少。").gbk;
    EXPECT_EQ(shaped.source->lines, (std::vector<std::string>{"春眠不觉晓，处处闻啼燕。",
                                                              "夜来风雨声声急，花落知多少。"}));
    EXPECT_EQ(shaped.source->gbk_text, gbk);
    EXPECT_EQ(shaped.source->speed_pos, origin->source->speed_pos);
    EXPECT_EQ(shaped.composed_source(), origin->source);
    const ToneCheck check = lyric_tone_check(gbk);
    ASSERT_EQ(shaped.melody.notes.size(), check.syllables().size());
    EXPECT_EQ(shaped.tones.graded(), check.grade(shaped.melody.notes).graded());
    EXPECT_EQ(shaped.tones.agreeing(), check.grade(shaped.melody.notes).agreeing());
    EXPECT_EQ(shaped.melody.lyrics[9].text, "燕");

    // quavella-cli makes the same file and exports from the origin's state and lyric.
    const test::ScratchDir dir;
    const notation::Score score = notation::build_score(shaped.melody);
    ASSERT_EQ(exports::write_musicxml(score, dir.file("doc.musicxml")), std::nullopt);
    const test::CliRun run = test::run_cli(
        {"compose", "--state", state_text(origin->state), "--speed", "1", "--mode", "2", "--timbre",
         "3", "--edits", shaped.edits, "-o", "cli.mid", "--musicxml", "cli.musicxml"},
        kLyrics + "\n", dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(test::read_file(dir.file("cli.mid")), shaped.midi);
    EXPECT_EQ(test::read_file(dir.file("cli.musicxml")), test::read_file(dir.file("doc.musicxml")));

    const history::Record record = history::record_of(shaped, 0);
    EXPECT_EQ(record.lyrics, kLyrics);
    EXPECT_EQ(record.gbk_text, origin->source->gbk_text);
    EXPECT_EQ(record.edits, shaped.edits);
    EXPECT_EQ(record.syllables[9].text, "燕");
    EXPECT_EQ(remade_by_command_line(record, dir), shaped.midi);
    // The entry turned back sings the new words, graded as the song was; started again it
    // replays its edits from its origin's lyric to the same bytes.
    const CompositionPtr entry = history::composition_of(record);
    EXPECT_EQ(entry->source->gbk_text, gbk);
    EXPECT_EQ(entry->source->lines, shaped.source->lines);
    EXPECT_EQ(entry->composed_source()->gbk_text, origin->source->gbk_text);
    EXPECT_EQ(entry->tones.agreeing(), shaped.tones.agreeing());
    Document again;
    again.start(entry);
    EXPECT_EQ(again.melody().file().bytes, shaped.midi);
    EXPECT_FALSE(again.can_undo());
    ASSERT_FALSE(again.apply(edit::Edit(edit::EditKind::step, 1, 1)).error);
    EXPECT_EQ(again.current()->source->gbk_text, gbk);
    EXPECT_EQ(again.current()->composed_source()->gbk_text, origin->source->gbk_text);

    // Undoing the word edit gives the song its first words back.
    ASSERT_TRUE(document.undo());
    ASSERT_TRUE(document.undo());
    EXPECT_EQ(document.current()->source, origin->source);
    EXPECT_EQ(document.current()->composed_from, nullptr);
    EXPECT_EQ(document.current()->tones.agreeing(), lyric_tone_check(origin->source->gbk_text)
                                                        .grade(document.current()->melody.notes)
                                                        .agreeing());
}

}  // namespace
}  // namespace quavella::song
