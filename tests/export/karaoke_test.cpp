// Karaoke lines and the Soft Karaoke file: the words and line marks of each
// syllable, the .kar file read back by mido, and both lyric files shown line
// by line by TiMidity++'s lyric display.
#include "export/karaoke.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "export/lyrics_midi.h"
#include "export_test_support.h"
#include "score_fixture.h"

namespace quavella::export_test {
namespace {

using exports::karaoke_syllables;

struct LineRow {
    const char* name;
    std::vector<SungNote> notes;
    std::vector<std::string> lyric_events;  // lyric_event_text of each syllable
    std::vector<std::string> kar_events;    // kar_text of each syllable
};

void PrintTo(const LineRow& row, std::ostream* out) { *out << row.name; }

class KaraokeLines : public testing::TestWithParam<LineRow> {};

TEST_P(KaraokeLines, WordsEndWithASpaceAndSentencesWithALineMark) {
    const LineRow& row = GetParam();
    const auto score = score_of(row.notes);
    std::vector<std::string> lyric_events, kar_events;
    for (const auto& s : karaoke_syllables(score.melody)) {
        lyric_events.push_back(exports::lyric_event_text(s));
        kar_events.push_back(exports::kar_text(s));
    }
    EXPECT_EQ(lyric_events, row.lyric_events);
    EXPECT_EQ(kar_events, row.kar_events);
}

const LineRow kLineRows[] = {
    {"ChineseFourSentences",
     {{60, 120, "春"},
      {62, 120, "眠", false, true},
      {64, 120, "处"},
      {65, 120, "处", false, true},
      {67, 120, "夜", false, true},
      {69, 120, "花", false, true}},
     {"春", "眠\r", "处", "处\n", "夜\r", "花\n"},
     {"\\春", "眠", "/处", "处", "\\夜", "/花"}},
    {"LatinWordsAndAMelismaEndingTheSentence",
     {{60, 120, "Amazing"},
      {62, 120, "grace"},
      {64, 120, "", true},
      {65, 120, "", true, true},
      {67, 120, "That"},
      {69, 120, "saved", false, true}},
     {"Amazing ", "grace \r", "That ", "saved \n"},
     {"\\Amazing ", "grace ", "/That ", "saved "}},
    {"LatinBesideChinese",
     {{60, 120, "我"}, {62, 120, "love"}, {64, 120, "you", false, true}, {65, 120, "爱"}},
     {"我", "love ", "you \r", "爱\n"},
     {"\\我", "love ", "you ", "/爱"}},
    {"ReservedCharactersCannotBreakLinesOrReadAsTags",
     {{60, 120, "a/b"}, {62, 120, "\\"}, {64, 120, "@T"}, {65, 120, "x@", false, true}},
     {"a/b ", "\\ ", "@T ", "x@ \n"},
     {"\\a\xEF\xBC\x8F"
      "b ",
      "\xEF\xBC\xBC ", "\xEF\xBC\xA0T ", "x@ "}},
    {"NothingSungBeforeASentenceEnd",
     {{60, 120, "", true, true}, {62, 120, "la"}},
     {"la \n"},
     {"\\la "}},
    {"NoSyllables", {{60, 120, "", true}}, {}, {}},
};
INSTANTIATE_TEST_SUITE_P(Rows, KaraokeLines, testing::ValuesIn(kLineRows),
                         [](const auto& row) { return std::string(row.param.name); });

std::string hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (const unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out.empty() ? "-" : out;
}

/// The lines TiMidity++'s dumb interface shows for the lyrics of `file`: what it
/// prints after the last header line, cut at line feeds and carriage returns,
/// blanks at the ends and empty lines left out.
std::vector<std::string> timidity_lines(const fs::path& file) {
    const CommandResult r = run("timidity -id -Ow -o /dev/null " + quoted(file.string()));
    EXPECT_EQ(r.status, 0) << r.out;
    std::string shown = r.out;
    const std::size_t end = shown.find("Playing time:");
    EXPECT_NE(end, std::string::npos) << r.out;
    shown = shown.substr(0, end);
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(shown);
    while (std::getline(in, line)) {
        std::istringstream pieces(line);
        std::string piece;
        while (std::getline(pieces, piece, '\r')) {
            const auto first = piece.find_first_not_of(' ');
            if (first == std::string::npos) continue;
            lines.push_back(piece.substr(first, piece.find_last_not_of(' ') - first + 1));
        }
    }
    // The header: "Playing", file, format, track names, texts and titles.
    std::size_t header = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        for (const char* start : {"Playing ", "MIDI file:", "Format:", "Sequence:", "Track name:",
                                  "Text:", "Title:", "Language:"}) {
            if (lines[i].starts_with(start)) header = i + 1;
        }
    }
    return {lines.begin() + static_cast<std::ptrdiff_t>(header), lines.end()};
}

class KaraokeFile : public ScratchDir {};

TEST_F(KaraokeFile, MidoReadsTheSoftKaraokeLayout) {
    QUAVELLA_REQUIRE_TOOL("/usr/bin/python3");
    const auto score = score_of({{60, 120, "Sing"},
                                 {62, 120, "", true},
                                 {64, 240, "春", false, true},
                                 {65, 480, "a/b", false, true}},
                                100, 72, "Sing 春");
    ASSERT_FALSE(exports::write_karaoke(score, file("song.kar")));
    const CommandResult r =
        run("/usr/bin/python3 " + quoted(QUAVELLA_EXPORT_TESTS_DIR "/read_lyrics_midi.py") + " " +
            quoted(file("song.kar").string()));
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string expected = "name 1 " + hex("Sing 春") + "\n" +                     //
                                 "name 2 " + hex("Soft Karaoke") + "\n" +                //
                                 "text 2 " + hex("@KMIDI KARAOKE FILE") + "\n" +         //
                                 "text 2 " + hex("@V0100") + "\n" +                      //
                                 "text 2 " + hex("@IQuavella 2.0") + "\n" +              //
                                 "text 2 " + hex(exports::kLyricsEncodingText) + "\n" +  //
                                 "name 3 " + hex("Words") + "\n" +                       //
                                 "text 3 " + hex("@TSing 春") + "\n" +                   //
                                 "text 3 " + hex("@TQuavella") + "\n" +                  //
                                 "text 3 " + hex("\\Sing ") + "\n" +                     //
                                 "text 3 " + hex("春") + "\n" +                          //
                                 "text 3 " +
                                 hex("/a\xEF\xBC\x8F"
                                     "b ") +
                                 "\n" +  //
                                 "program 4 0 72\n"
                                 "note 4 0 60\nnote 4 120 62\nnote 4 240 64\nnote 4 480 65\n";
    EXPECT_EQ(r.out, expected);
    // The words sit at their notes' times: mido's own times, checked apart.
    const CommandResult times =
        run("/usr/bin/python3 -c " +
            quoted("import mido,sys\n"
                   "t=0\n"
                   "for m in mido.MidiFile(sys.argv[1],charset='utf-8').tracks[2]:\n"
                   "  t+=m.time\n"
                   "  if m.type=='text' and not m.text.startswith('@'): print(t)\n") +
            " " + quoted(file("song.kar").string()));
    EXPECT_EQ(times.out, "0\n240\n480\n");
}

// Rests after notes: each note and each word starts after the rests before it.
TEST_F(KaraokeFile, NotesAndWordsStartAfterTheRestsBeforeThem) {
    QUAVELLA_REQUIRE_TOOL("/usr/bin/python3");
    auto score = score_of({{60, 120, "Sing"},
                           {62, 120, "", true},
                           {64, 240, "春", false, true},
                           {65, 480, "a/b", false, true}},
                          100, 72, "Sing 春");
    score.melody.rests = {60, 0, 120, 0};
    score = notation::build_score(score.melody);
    ASSERT_FALSE(exports::write_karaoke(score, file("song.kar")));
    const CommandResult r =
        run("/usr/bin/python3 -c " +
            quoted("import mido,sys\n"
                   "f=mido.MidiFile(sys.argv[1],charset='utf-8')\n"
                   "for k in (2,3):\n"
                   "  t=0\n"
                   "  for m in f.tracks[k]:\n"
                   "    t+=m.time\n"
                   "    if m.type=='text' and not m.text.startswith('@'): print('word',t)\n"
                   "    if m.type=='note_on': print('on',t,m.note)\n"
                   "    if m.type=='note_off': print('off',t,m.note)\n") +
            " " + quoted(file("song.kar").string()));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out,
              "word 0\nword 300\nword 660\n"
              "on 0 60\noff 120 60\non 180 62\noff 300 62\non 300 64\noff 540 64\n"
              "on 660 65\noff 1140 65\n");
}

TEST_F(KaraokeFile, TimidityShowsBothLyricFilesLineByLine) {
    QUAVELLA_REQUIRE_TOOL("timidity");
    std::vector<SungNote> latin;
    const std::vector<std::vector<std::string>> sentences{{"Amazing", "grace", "how", "sweet"},
                                                          {"That", "saved", "a", "wretch"},
                                                          {"I", "once", "was", "lost"},
                                                          {"Was", "blind", "but", "now"}};
    for (const auto& sentence : sentences) {
        for (std::size_t w = 0; w < sentence.size(); ++w)
            latin.push_back({60, 60, sentence[w], false, w + 1 == sentence.size()});
    }
    const auto latin_score = score_of(latin, 240);
    const auto poem = composed_poem(42, 2, 0, file("temp.mid"));
    struct Case {
        const char* name;
        const notation::Score* score;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"latin",
         &latin_score,
         {"Amazing grace how sweet", "That saved a wretch", "I once was lost",
          "Was blind but now"}},
        {"poem", &poem, {"春眠不觉晓", "处处闻啼鸟", "夜来风雨声", "花落知多少"}}};
    for (const Case& c : cases) {
        const fs::path kar = file(std::string(c.name) + ".kar");
        const fs::path mid = file(std::string(c.name) + ".mid");
        ASSERT_FALSE(exports::write_karaoke(*c.score, kar));
        ASSERT_FALSE(exports::write_lyrics_midi(*c.score, mid));
        EXPECT_EQ(timidity_lines(kar), c.lines) << c.name << ".kar";
        EXPECT_EQ(timidity_lines(mid), c.lines) << c.name << ".mid";
    }
}

TEST_F(KaraokeFile, FailuresNameTheFileAndTheReasonAndLeaveNothing) {
    const auto score = score_of({{60, 480, "a"}});
    const struct {
        fs::path file;
        std::string reason;
    } rows[] = {{file("missing/x.kar"), "No such file or directory"},
                {"/dev/full", "No space left on device"}};
    for (const auto& row : rows) {
        const auto error = exports::write_karaoke(score, row.file);
        ASSERT_TRUE(error.has_value()) << row.file;
        EXPECT_EQ(*error, "cannot write '" + row.file.string() + "': " + row.reason);
    }
    EXPECT_FALSE(fs::exists(file("missing")));
}

}  // namespace
}  // namespace quavella::export_test
