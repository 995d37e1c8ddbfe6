// The exports opened by the real client: MuseScore 3 converts the MusicXML and
// the lyric MIDI file to PDF in one batch run, says nothing about them, and the
// PDFs, read back by pdftotext, show every syllable in order.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "export/export_text.h"
#include "export/lyrics_midi.h"
#include "export/musicxml.h"
#include "export_test_support.h"
#include "score_fixture.h"

namespace quavella::export_test {
namespace {

std::string hex_lines(const std::vector<std::string>& texts) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (const std::string& t : texts) {
        for (const unsigned char b : t) {
            out += digits[b >> 4];
            out += digits[b & 15];
        }
        out += '\n';
    }
    return out;
}

std::vector<std::string> sung(const notation::Score& score) {
    std::vector<std::string> out;
    for (const auto& lyric : score.melody.lyrics) {
        const std::string text = exports::sung_text(lyric);
        if (!text.empty()) out.push_back(text);
    }
    return out;
}

/// MuseScore's own chatter on a clean conversion; any other line is a complaint.
bool is_chatter(const std::string& line) {
    return line.empty() || line.starts_with("QStandardPaths:") || line.starts_with("convert <") ||
           line.starts_with("\tto <") || line == "... success!";
}

class MuseScore : public ScratchDir {};

TEST_F(MuseScore, ImportsBothExportsSilentlyAndShowsEverySyllableInOrder) {
    QUAVELLA_REQUIRE_TOOL("mscore3");
    QUAVELLA_REQUIRE_TOOL("pdftotext");
    QUAVELLA_REQUIRE_TOOL("/usr/bin/python3");
    // A real composition, and a hand-made one with a melisma, notes tied over
    // bar lines, low notes, and syllables XML has to escape.
    const auto poem = composed_poem(42, 0, 0, file("temp.mid"));
    const auto awkward = score_of({{55, 360, "A&B"},
                                   {57, 240, "<x>"},
                                   {59, 120, "", true},
                                   {60, 600, "\"'", false, true},
                                   {62, 180, "春"},
                                   {64, 60, "", true, true}},
                                  150, 24, "A&B <x>");
    struct Case {
        std::string name;
        const notation::Score* score;
        bool midi;
    };
    const Case cases[] = {
        {"poem-xml", &poem, false}, {"poem-midi", &poem, true}, {"awkward-xml", &awkward, false}};
    std::string job = "[";
    for (const Case& c : cases) {
        const fs::path in = file(c.name + (c.midi ? ".mid" : ".musicxml"));
        const auto error = c.midi ? exports::write_lyrics_midi(*c.score, in)
                                  : exports::write_musicxml(*c.score, in);
        ASSERT_FALSE(error) << *error;
        job += std::string(job.size() > 1 ? "," : "") + "{\"in\":\"" + in.string() +
               "\",\"out\":\"" + file(c.name + ".pdf").string() + "\"}";
    }
    write_file(file("job.json"), job + "]");

    const CommandResult convert =
        run("cd " + quoted(dir_.string()) + " && QT_QPA_PLATFORM=offscreen mscore3 -j job.json");
    ASSERT_EQ(convert.status, 0) << convert.out;
    std::istringstream lines(convert.out);
    std::string line;
    while (std::getline(lines, line)) EXPECT_TRUE(is_chatter(line)) << "MuseScore says: " << line;

    for (const Case& c : cases) {
        write_file(file(c.name + ".txt"), hex_lines(sung(*c.score)));
        // MuseScore titles the MusicXML import with the work title; the MIDI import has none.
        const std::string title = c.midi ? "" : exports::export_text(c.score->title);
        const CommandResult check =
            run("/usr/bin/python3 " + quoted(QUAVELLA_EXPORT_TESTS_DIR "/pdf_syllables.py") + " " +
                quoted(file(c.name + ".pdf").string()) + " " +
                quoted(file(c.name + ".txt").string()) + " " + quoted(title));
        EXPECT_EQ(check.status, 0) << c.name << ": " << check.out;
    }
}

// Each of the ten timbres, opened by MuseScore: it takes the instrument, the
// clef and the octave from the MusicXML export, plays the melody at its own
// pitches and velocity, and writes them back.
TEST_F(MuseScore, OpensEveryTimbreWithItsInstrumentClefPitchesAndVelocity) {
    QUAVELLA_REQUIRE_TOOL("mscore3");
    QUAVELLA_REQUIRE_TOOL("/usr/bin/python3");
    struct Timbre {
        int position;
        int program;
        // As MuseScore writes it back: clef sign, line, octave change; written octave.
        const char* clef;
    };
    // An octave transposition is 7 steps and 12 semitones: without <diatonic> MuseScore
    // took the bass's as 14 steps and 12 semitones.
    const Timbre timbres[] = {
        {0, 0, "G 2 0 transpose=0 interval=0,0"},      {1, 10, "G 2 0 transpose=0 interval=0,0"},
        {2, 16, "G 2 0 transpose=0 interval=0,0"},     {3, 24, "G 2 -1 transpose=0 interval=0,0"},
        {4, 32, "F 4 0 transpose=-1 interval=-7,-12"}, {5, 40, "G 2 0 transpose=0 interval=0,0"},
        {6, 48, "G 2 0 transpose=0 interval=0,0"},     {7, 56, "G 2 0 transpose=0 interval=0,0"},
        {8, 64, "G 2 0 transpose=0 interval=0,0"},     {9, 72, "G 2 0 transpose=1 interval=7,12"}};
    std::string job = "[";
    std::vector<notation::Score> scores;
    for (const Timbre& t : timbres) {
        scores.push_back(composed_poem(7, 1, t.position, file("temp.mid")));
        ASSERT_EQ(scores.back().melody.program, t.program);
        const std::string name = "timbre" + std::to_string(t.position);
        ASSERT_FALSE(exports::write_musicxml(scores.back(), file(name + ".musicxml")));
        for (const char* out : {".mid", ".out.musicxml", ".mscx"}) {
            job += std::string(job.size() > 1 ? "," : "") + "{\"in\":\"" +
                   file(name + ".musicxml").string() + "\",\"out\":\"" + file(name + out).string() +
                   "\"}";
        }
    }
    write_file(file("job.json"), job + "]");
    const CommandResult convert =
        run("cd " + quoted(dir_.string()) + " && QT_QPA_PLATFORM=offscreen mscore3 -j job.json");
    ASSERT_EQ(convert.status, 0) << convert.out;

    for (std::size_t i = 0; i < std::size(timbres); ++i) {
        const Timbre& t = timbres[i];
        const std::string name = "timbre" + std::to_string(t.position);
        std::string keys;
        for (const int key : scores[i].melody.notes)
            keys += (keys.empty() ? "" : ",") + std::to_string(key);
        const CommandResult read = run(
            "/usr/bin/python3 " + quoted(QUAVELLA_EXPORT_TESTS_DIR "/musescore_instruments.py") +
            " " + quoted(file(name + ".mid").string()) + " " +
            quoted(file(name + ".out.musicxml").string()) + " " +
            quoted(file(name + ".mscx").string()));
        ASSERT_EQ(read.status, 0) << read.out;
        EXPECT_EQ(read.out, "program=" + std::to_string(t.program) + " velocities=95 keys=" + keys +
                                " clef=" + t.clef + "\n")
            << name;
    }
}

// Rests after notes, opened by MuseScore from the MusicXML: each note starts where the
// score puts it (after the rests before it), and the last bar is whole.
TEST_F(MuseScore, PlacesEveryNoteAfterTheRestsBeforeIt) {
    QUAVELLA_REQUIRE_TOOL("mscore3");
    QUAVELLA_REQUIRE_TOOL("/usr/bin/python3");
    notation::Score shaped = score_of({{60, 120, "春"},
                                       {62, 60, "眠"},
                                       {64, 180, "不"},
                                       {65, 240, "觉"},
                                       {67, 120, "晓", false, true}},
                                      100, 0, "春眠不觉晓");
    shaped.melody.rests = {0, 60, 120, 300, 60};  // off the beat, a beat, over a bar line
    shaped = notation::build_score(shaped.melody);
    ASSERT_FALSE(exports::write_musicxml(shaped, file("rests.musicxml")));
    write_file(file("job.json"), "[{\"in\":\"" + file("rests.musicxml").string() + "\",\"out\":\"" +
                                     file("rests.mid").string() + "\"}]");
    const CommandResult convert =
        run("cd " + quoted(dir_.string()) + " && QT_QPA_PLATFORM=offscreen mscore3 -j job.json");
    ASSERT_EQ(convert.status, 0) << convert.out;
    const CommandResult read =
        run("/usr/bin/python3 -c 'import sys, mido\n"
            "m = mido.MidiFile(sys.argv[1])\n"
            "for t in m.tracks:\n"
            "    at = 0\n"
            "    for e in t:\n"
            "        at += e.time\n"
            "        if e.type == \"note_on\" and e.velocity > 0:\n"
            "            print(at * 120 // m.ticks_per_beat, e.note)\n' " +
            quoted(file("rests.mid").string()));
    ASSERT_EQ(read.status, 0) << read.out;
    std::string expected;
    for (std::size_t i = 0; i < shaped.melody.notes.size(); ++i) {
        expected += std::to_string(shaped.note_start[i]) + " " +
                    std::to_string(shaped.melody.notes[i]) + "\n";
    }
    EXPECT_EQ(read.out, expected);
}

}  // namespace
}  // namespace quavella::export_test
