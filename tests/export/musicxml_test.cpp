// The MusicXML export, read back with pugixml and, for whole compositions, with
// python3's xml.etree (read_musicxml.py) checking every note against the
// composition.
#include "export/musicxml.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <pugixml.hpp>
#include <random>
#include <string>
#include <vector>

#include "export/export_text.h"
#include "export_test_support.h"
#include "score_fixture.h"
#include "tests/support/env_guard.h"

namespace quavella::export_test {
namespace {

using exports::musicxml_document;

pugi::xml_document parsed(const std::string& text) {
    pugi::xml_document doc;
    const pugi::xml_parse_result result = doc.load_string(text.c_str());
    EXPECT_TRUE(result) << result.description() << " at " << result.offset;
    return doc;
}

std::string text_at(const pugi::xml_document& doc, const char* xpath) {
    return doc.select_node(xpath).node().text().as_string();
}

std::vector<std::string> texts_of(const pugi::xml_document& doc, const char* xpath) {
    std::vector<std::string> out;
    for (const auto& n : doc.select_nodes(xpath)) out.emplace_back(n.node().text().as_string());
    return out;
}

// ---- The part and the score header ----

/// The names of an element's child elements, in document order.
std::vector<std::string> child_names(pugi::xml_node node) {
    std::vector<std::string> names;
    for (auto c = node.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element) names.emplace_back(c.name());
    }
    return names;
}

/// The children of `node` that `order` names, in the order the schema's sequence
/// gives; an unexpected child is an error.
void expect_schema_order(pugi::xml_node node, const std::vector<std::string>& order) {
    std::size_t at = 0;
    for (const std::string& name : child_names(node)) {
        const auto found = std::find(order.begin(), order.end(), name);
        ASSERT_NE(found, order.end()) << "<" << name << "> in <" << node.name() << ">";
        const auto index = static_cast<std::size_t>(found - order.begin());
        EXPECT_GE(index, at) << "<" << name << "> out of order in <" << node.name() << ">";
        at = index;
    }
}

TEST(MusicXml, HeaderElementsFollowTheSchemaSequences) {
    auto score = score_of({{55, 240, "a"}, {76, 240, "b", false, true}}, 120, 72, "A & <title>");
    score.melody.mode = 3;
    const auto doc = parsed(musicxml_document(score, "2026-01-02"));
    const auto root = doc.child("score-partwise");
    expect_schema_order(root, {"work", "movement-number", "movement-title", "identification",
                               "defaults", "credit", "part-list", "part"});
    expect_schema_order(root.child("identification"),
                        {"creator", "rights", "encoding", "source", "relation", "miscellaneous"});
    const auto part = root.child("part-list").child("score-part");
    expect_schema_order(part, {"identification", "part-link", "part-name", "part-name-display",
                               "part-abbreviation", "part-abbreviation-display", "group",
                               "score-instrument", "player", "midi-device", "midi-instrument"});
    expect_schema_order(part.child("score-instrument"),
                        {"instrument-name", "instrument-abbreviation", "instrument-sound", "solo",
                         "ensemble", "virtual-instrument"});
    expect_schema_order(part.child("midi-instrument"),
                        {"midi-channel", "midi-name", "midi-bank", "midi-program"});
    // The instrument ids match, as readers pair the two by id.
    EXPECT_STREQ(part.child("score-instrument").attribute("id").value(),
                 part.child("midi-instrument").attribute("id").value());
    const auto measure = root.child("part").child("measure");
    expect_schema_order(measure, {"attributes", "direction", "note", "barline"});
    expect_schema_order(measure.child("attributes"),
                        {"divisions", "key", "time", "staves", "clef", "transpose"});
    expect_schema_order(measure.child("attributes").child("clef"),
                        {"sign", "line", "clef-octave-change"});
    expect_schema_order(measure.child("attributes").child("transpose"),
                        {"diatonic", "chromatic", "octave-change", "double"});
    for (auto d = measure.child("direction"); d; d = d.next_sibling("direction"))
        expect_schema_order(d, {"direction-type", "offset", "voice", "staff", "sound"});

    EXPECT_EQ(text_at(doc, "//work/work-title"), "A & <title>");
    EXPECT_EQ(text_at(doc, "/score-partwise/movement-title"), "A & <title>");
    EXPECT_EQ(text_at(doc, "//identification/encoding/software"), "Quavella 2.0");
    EXPECT_EQ(text_at(doc, "//identification/encoding/encoding-date"), "2026-01-02");
    EXPECT_EQ(texts_of(doc, "//direction/direction-type/words"),
              std::vector<std::string>{"调式: 七声调式"});
    // Velocity 95 as a percentage of forte (90), and a forte mark to carry it.
    EXPECT_STREQ(doc.select_node("//direction[direction-type/dynamics]/sound")
                     .node()
                     .attribute("dynamics")
                     .value(),
                 "105.56");
    EXPECT_TRUE(doc.select_node("//direction-type/dynamics/f"));
}

TEST(MusicXml, TheModeIsNamedByTheItemWhoseScaleMadeTheMelody) {
    // By mode number (the scale table): five tones, six with F, six with B, seven.
    const char* const names[] = {"五声调式", "六声调式2", "六声调式1", "七声调式"};
    for (int mode = -1; mode <= 4; ++mode) {
        auto score = score_of({{60, 480, "a"}});
        score.melody.mode = mode;
        const auto words = texts_of(parsed(musicxml_document(score, "2026-01-02")), "//words");
        if (mode < 0 || mode > 3) {
            EXPECT_TRUE(words.empty()) << mode;
        } else {
            EXPECT_EQ(words, std::vector<std::string>{std::string("调式: ") + names[mode]});
        }
    }
}

TEST(MusicXml, EncodingDateFollowsSourceDateEpochAndIgnoresNonsense) {
    const auto score = score_of({{60, 480, "a"}});
    {
        test::EnvGuard epoch("SOURCE_DATE_EPOCH", "1700000000");  // 2023-11-14 22:13:20 UTC
        EXPECT_EQ(exports::encoding_date(), "2023-11-14");
        // Same input, same bytes.
        EXPECT_EQ(musicxml_document(score), musicxml_document(score));
        EXPECT_EQ(text_at(parsed(musicxml_document(score)), "//encoding-date"), "2023-11-14");
    }
    for (const char* bad : {"", "-5", "17e8", "99999999999999999999", "12 "}) {
        test::EnvGuard epoch("SOURCE_DATE_EPOCH", std::string(bad));
        const std::string today = exports::encoding_date();
        EXPECT_EQ(today.size(), 10u) << bad;
        EXPECT_NE(today, "1970-01-01") << bad;
    }
}

TEST(MusicXml, SoundDynamicsIsTheVelocityAsAPercentageOfForte) {
    EXPECT_EQ(exports::sound_dynamics(95), "105.56");
    EXPECT_EQ(exports::sound_dynamics(90), "100.00");
    EXPECT_EQ(exports::sound_dynamics(64), "71.11");
    EXPECT_EQ(exports::sound_dynamics(0), "0.00");
}

struct TimbreRow {
    const char* name;
    int program;
    const char* instrument;
    const char* sound;
    const char* clef;   // sign, line and octave change, e.g. "G2-1"
    int octave_change;  // of the transposition, 0 for none
};

void PrintTo(const TimbreRow& row, std::ostream* out) { *out << row.name; }

class MusicXmlTimbre : public testing::TestWithParam<TimbreRow> {};

TEST_P(MusicXmlTimbre, InstrumentClefAndWrittenOctaveFitTheTimbre) {
    const TimbreRow& row = GetParam();
    // G3 and E5: the lowest and highest notes the composer's scales hold.
    const auto score = score_of({{55, 240, "a"}, {76, 240, "b", false, true}}, 150, row.program);
    const auto doc = parsed(musicxml_document(score, "2026-01-02"));
    EXPECT_EQ(text_at(doc, "//score-part/part-name"), row.instrument);
    EXPECT_EQ(text_at(doc, "//score-instrument/instrument-name"), row.instrument);
    EXPECT_EQ(text_at(doc, "//score-instrument/instrument-sound"), row.sound);
    EXPECT_EQ(text_at(doc, "//midi-instrument/midi-channel"), "2");
    EXPECT_EQ(text_at(doc, "//midi-instrument/midi-program"), std::to_string(row.program + 1));
    EXPECT_EQ(doc.select_nodes("//clef").size(), 1u);
    const std::string change = text_at(doc, "//clef/clef-octave-change");
    EXPECT_EQ(text_at(doc, "//clef/sign") + text_at(doc, "//clef/line") + change, row.clef);
    EXPECT_EQ(doc.select_node("//transpose/octave-change").node().text().as_int(),
              row.octave_change);
    if (row.octave_change != 0) {
        EXPECT_EQ(text_at(doc, "//transpose/diatonic"), "0");
        EXPECT_EQ(text_at(doc, "//transpose/chromatic"), "0");
    }
    // Written pitch + transposition is the sounding pitch.
    const auto octaves = texts_of(doc, "//note/pitch/octave");
    ASSERT_EQ(octaves.size(), 2u);
    EXPECT_EQ(octaves[0], std::to_string(3 - row.octave_change));
    EXPECT_EQ(octaves[1], std::to_string(5 - row.octave_change));
    EXPECT_EQ(doc.select_node("//direction[direction-type/metronome]/sound")
                  .node()
                  .attribute("tempo")
                  .as_int(),
              150);
}

const TimbreRow kTimbreRows[] = {
    {"Piano", 0, "Acoustic Grand Piano", "keyboard.piano", "G2", 0},
    {"MusicBox", 10, "Music Box", "pitched-percussion.music-box", "G2", 0},
    {"Organ", 16, "Drawbar Organ", "keyboard.organ.drawbar", "G2", 0},
    {"Guitar", 24, "Acoustic Guitar (nylon)", "pluck.guitar.nylon-string", "G2-1", 0},
    {"Bass", 32, "Acoustic Bass", "pluck.bass.acoustic", "F4", -1},
    {"Violin", 40, "Violin", "strings.violin", "G2", 0},
    {"Strings", 48, "String Ensemble 1", "strings.group", "G2", 0},
    {"Trumpet", 56, "Trumpet", "brass.trumpet", "G2", 0},
    {"Saxophone", 64, "Soprano Sax", "wind.reed.saxophone.soprano", "G2", 0},
    {"Piccolo", 72, "Piccolo", "wind.flutes.flute.piccolo", "G2", 1},
    {"OtherProgram", 100, "FX 5 (brightness)", "", "G2", 0},
};
INSTANTIATE_TEST_SUITE_P(Timbres, MusicXmlTimbre, testing::ValuesIn(kTimbreRows),
                         [](const auto& row) { return std::string(row.param.name); });

// ---- Durations, divisions, ties ----

struct DurationRow {
    const char* name;
    std::vector<int> ticks;  // one note each
    int divisions;
    std::vector<std::string> types;  // of every written note and rest, "." per dot
};

void PrintTo(const DurationRow& row, std::ostream* out) { *out << row.name; }

class MusicXmlDurations : public testing::TestWithParam<DurationRow> {};

TEST_P(MusicXmlDurations, DivisionsFitTheShortestNoteAndBarsAreFull) {
    const DurationRow& row = GetParam();
    std::vector<SungNote> notes;
    for (const int t : row.ticks) notes.push_back({60, t, "la"});
    const auto doc = parsed(musicxml_document(score_of(notes)));
    EXPECT_EQ(text_at(doc, "//attributes/divisions"), std::to_string(row.divisions));
    std::vector<std::string> types;
    for (const auto& n : doc.select_nodes("//note")) {
        std::string type = n.node().child("type").text().as_string();
        if (n.node().child("rest").attribute("measure")) type = "measure";
        for (auto d = n.node().child("dot"); d; d = d.next_sibling("dot")) type += ".";
        types.push_back(type);
    }
    EXPECT_EQ(types, row.types);
    for (const auto& m : doc.select_nodes("//measure")) {
        int sum = 0;
        for (auto n = m.node().child("note"); n; n = n.next_sibling("note"))
            sum += n.child("duration").text().as_int();
        EXPECT_EQ(sum, 4 * row.divisions) << "measure " << m.node().attribute("number").value();
    }
}

const DurationRow kDurationRows[] = {
    {"Quarters", {120, 120, 240}, 1, {"quarter", "quarter", "half"}},
    {"Eighths", {60, 60, 120, 240}, 2, {"eighth", "eighth", "quarter", "half"}},
    {"DottedEighthAndSixteenth", {90, 30, 360}, 4, {"eighth.", "16th", "half."}},
    {"WholeThenRest", {480, 120}, 1, {"whole", "quarter", "half."}},
    // A length no single note value has is written as tied notes.
    {"OddLengthTied", {150, 330}, 4, {"quarter", "16th", "half", "eighth."}},
};
INSTANTIATE_TEST_SUITE_P(Values, MusicXmlDurations, testing::ValuesIn(kDurationRows),
                         [](const auto& row) { return std::string(row.param.name); });

class MusicXmlRange : public ScratchDir {};

TEST_F(MusicXmlRange, ANoteOutsideTheWrittenOctavesIsRefusedByNameOthersWrittenExactly) {
    // Written octaves run from 0 to 9 (C0 = 12 to B9 = 131); the bass writes an octave
    // above its sound, the piccolo an octave below.
    const struct {
        int program;
        int key;
        const char* refusal;  // nullptr: written, at its own pitch
    } rows[] = {
        {0, 0, "note 2 (MIDI 0, C-1) lies below C0, the lowest pitch MusicXML can write"},
        {0, 11, "note 2 (MIDI 11, B-1) lies below C0"},
        {0, 12, nullptr},
        {0, 127, nullptr},
        {32, 12, nullptr},
        {32, 119, nullptr},
        {32, 120,
         "note 2 (MIDI 120, C9) is written C10 for this instrument (an octave above its "
         "sound), above B9, the highest pitch MusicXML can write"},
        {32, 125, "note 2 (MIDI 125, F9) is written F10"},
        {72, 23,
         "note 2 (MIDI 23, B0) is written B-1 for this instrument (an octave below its "
         "sound), below C0"},
        {72, 24, nullptr},
        {72, 127, nullptr},
    };
    for (const auto& row : rows) {
        const std::string name = std::to_string(row.program) + "-" + std::to_string(row.key);
        SCOPED_TRACE(name);
        const auto score =
            score_of({{60, 240, "a"}, {row.key, 240, "b", false, true}}, 120, row.program);
        const fs::path out = file(name + ".musicxml");
        const auto error = exports::write_musicxml(score, out);
        if (row.refusal != nullptr) {
            ASSERT_TRUE(error);
            EXPECT_NE(error->find(out.string()), std::string::npos) << *error;
            EXPECT_NE(error->find(row.refusal), std::string::npos) << *error;
            EXPECT_FALSE(fs::exists(out));
            EXPECT_EQ(exports::musicxml_refusal(score), error->substr(error->find("note 2")));
            continue;
        }
        ASSERT_FALSE(error) << *error;
        EXPECT_FALSE(exports::musicxml_refusal(score));
        const auto doc = parsed(read_file(out));
        const int transposition =
            12 * doc.select_node("//transpose/octave-change").node().text().as_int();
        const auto pitch = doc.select_nodes("//note/pitch")[1].node();
        const int octave = pitch.child("octave").text().as_int();
        EXPECT_GE(octave, 0);
        EXPECT_LE(octave, 9);
        static const std::map<std::string, int> steps{{"C", 0}, {"D", 2}, {"E", 4}, {"F", 5},
                                                      {"G", 7}, {"A", 9}, {"B", 11}};
        EXPECT_EQ((octave + 1) * 12 + steps.at(pitch.child_value("step")) +
                      pitch.child("alter").text().as_int() + transposition,
                  row.key);
    }
}

TEST(MusicXml, NotesCrossingBarLinesAreTiedAndSungOnce) {
    // 360 + 240: the second note crosses the bar line; 960 spans a whole bar.
    const auto score = score_of({{60, 360, "x"}, {62, 240, "y"}, {64, 960, "z", false, true}});
    const auto doc = parsed(musicxml_document(score));
    const auto notes = doc.select_nodes("//note[pitch]");
    std::vector<std::string> seen;
    for (const auto& n : notes) {
        const auto node = n.node();
        std::string ties;
        for (auto t = node.child("tie"); t; t = t.next_sibling("tie"))
            ties += std::string(t.attribute("type").value()) + "/";
        std::string tied;
        for (auto t = node.child("notations").child("tied"); t; t = t.next_sibling("tied"))
            tied += std::string(t.attribute("type").value()) + "/";
        EXPECT_EQ(ties, tied);  // sound and notation agree
        seen.push_back(std::string(node.child("pitch").child_value("step")) + ":" + ties + ":" +
                       node.child("lyric").child_value("text"));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"C::x", "D:start/:y", "D:stop/:", "E:start/:z",
                                              "E:stop/start/:", "E:stop/:"}));
    // The breath mark follows the last piece of the sentence's last note.
    const auto breaths = doc.select_nodes("//note[notations/articulations/breath-mark]");
    ASSERT_EQ(breaths.size(), 1u);
    EXPECT_EQ(breaths.first().node(), notes[notes.size() - 1].node());
}

TEST(MusicXml, MelismaDrawsAnExtensionLineAndBreathMarksEndSentences) {
    const auto score = score_of({{60, 120, "啊"},
                                 {62, 120, "", true},
                                 {64, 120, "", true},
                                 {65, 120, "呀", false, true},
                                 {67, 120, "哦"},
                                 {69, 120, "", true, true}});
    const auto doc = parsed(musicxml_document(score));
    std::vector<std::string> lyrics;
    for (const auto& n : doc.select_nodes("//note[pitch]")) {
        const auto lyric = n.node().child("lyric");
        std::string s = std::string(lyric.child_value("syllabic")) + "|" +
                        lyric.child_value("text") + "|" +
                        lyric.child("extend").attribute("type").value();
        if (n.node().select_node("notations/articulations/breath-mark")) s += "|breath";
        lyrics.push_back(s);
    }
    EXPECT_EQ(lyrics,
              (std::vector<std::string>{"single|啊|start", "||continue", "||stop",
                                        "single|呀||breath", "single|哦|start", "||stop|breath"}));
}

TEST(MusicXml, EighthsUnderOneUnderlineShareABeam) {
    auto score =
        score_of({{60, 60, "a"}, {62, 60, "b"}, {64, 60, "c"}, {65, 60, "d"}, {67, 240, "e"}});
    auto& glyphs = score.bars[0].glyphs;
    glyphs[0].beam_with_next = true;  // a-b beamed, b alone... then c-d beamed
    glyphs[2].beam_with_next = true;
    const auto doc = parsed(musicxml_document(score));
    EXPECT_EQ(texts_of(doc, "//note/beam"),
              (std::vector<std::string>{"begin", "end", "begin", "end"}));
}

TEST(MusicXml, ScoreWithoutBarsIsStillOneMeasure) {
    notation::Score empty;
    empty.melody.tempo = 100;
    const auto doc = parsed(musicxml_document(empty));
    EXPECT_EQ(doc.select_nodes("//measure").size(), 1u);
    EXPECT_EQ(doc.select_nodes("//note/rest[@measure='yes']").size(), 1u);
    EXPECT_FALSE(doc.select_node("//work"));
}

// ---- Bad lyric text ----

TEST(MusicXml, AwkwardSyllablesStayWellFormedText) {
    const std::vector<std::string> syllables{"&",    "<a>",     "\"'", std::string("\x01\x02x", 3),
                                             "\xB4", "\xE6\x98"};
    std::vector<SungNote> notes;
    for (const auto& s : syllables) notes.push_back({60, 120, s});
    notes.push_back({60, 120, std::string("\x03", 1)});  // nothing printable: no lyric
    const std::string text = musicxml_document(score_of(notes, 100, 0, "<&\x01>"));
    const auto doc = parsed(text);
    EXPECT_EQ(texts_of(doc, "//lyric/text"),
              (std::vector<std::string>{"&", "<a>", "\"'", "x", "\xEF\xBF\xBD",
                                        "\xEF\xBF\xBD\xEF\xBF\xBD"}));
    EXPECT_EQ(text_at(doc, "//work-title"), "<&>");
    EXPECT_EQ(text.find('\x01'), std::string::npos);
}

TEST(MusicXml, RandomLyricBytesAlwaysGiveAValidDocumentWithOneLyricPerSungNote) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> byte(0, 255), length(0, 6), count(1, 40), tick(1, 8);
    std::vector<std::string> files;
    for (int round = 0; round < 300; ++round) {
        std::vector<SungNote> notes;
        int sung = 0;
        const int n = count(random);
        for (int i = 0; i < n; ++i) {
            std::string text;
            for (int k = length(random); k > 0; --k) text += static_cast<char>(byte(random));
            const bool continuation = i > 0 && byte(random) < 40;
            notes.push_back(
                {48 + byte(random) % 40, 30 * tick(random), text, continuation, byte(random) < 30});
            if (!exports::sung_text({text, continuation}).empty()) ++sung;
        }
        const std::string text = musicxml_document(
            score_of(notes, 60 + byte(random), byte(random) % 128, notes[0].text));
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_string(text.c_str())) << "round " << round;
        EXPECT_EQ(doc.select_nodes("//lyric[text]").size(), static_cast<std::size_t>(sung))
            << "round " << round;
    }
}

// ---- Writing the file ----

class MusicXmlFile : public ScratchDir {};

TEST_F(MusicXmlFile, FailuresNameTheFileAndTheReason) {
    const auto score = score_of({{60, 480, "a"}});
    struct Row {
        fs::path file;
        std::string reason;
    };
    const Row rows[] = {{file("missing/x.musicxml"), "No such file or directory"},
                        {dir_, "Is a directory"},
                        {"/dev/full", "No space left on device"},
                        {file("x.mxl"), "compressed MusicXML (.mxl) is not written"}};
    for (const Row& row : rows) {
        const auto error = exports::write_musicxml(score, row.file);
        ASSERT_TRUE(error.has_value()) << row.file;
        EXPECT_NE(error->find("cannot write '" + row.file.string() + "': " + row.reason),
                  std::string::npos)
            << *error;
    }
    EXPECT_FALSE(fs::exists(file("x.mxl")));
}

TEST_F(MusicXmlFile, PythonReaderFindsEveryNoteOfTheComposition) {
    QUAVELLA_REQUIRE_TOOL("/usr/bin/python3");
    // Slow, middle and fast tempo with different timbres; the fast one has eighths.
    const struct {
        std::uint64_t seed;
        int speed, timbre;
    } compositions[] = {{42, 0, 0}, {7, 1, 3}, {2024, 2, 9}};
    for (const auto& c : compositions) {
        const auto score = composed_poem(c.seed, c.speed, c.timbre, file("temp.mid"));
        ASSERT_FALSE(exports::write_musicxml(score, file("song.musicxml")));
        std::string expected;
        const auto& m = score.melody;
        for (std::size_t i = 0; i < m.notes.size(); ++i) {
            const std::string text = exports::sung_text(m.lyrics[i]);
            std::string hex;
            for (const unsigned char b : text) {
                static const char* digits = "0123456789abcdef";
                hex += digits[b >> 4];
                hex += digits[b & 15];
            }
            expected += std::to_string(m.notes[i]) + " " + std::to_string(m.ticks[i]) + " " +
                        (hex.empty() ? "-" : hex) + "\n";
        }
        write_file(file("expected.txt"), expected);
        const CommandResult check = run(
            "/usr/bin/python3 " + quoted(QUAVELLA_EXPORT_TESTS_DIR "/read_musicxml.py") + " " +
            quoted(file("song.musicxml").string()) + " " + quoted(file("expected.txt").string()));
        EXPECT_EQ(check.status, 0) << "seed " << c.seed << ":\n" << check.out;
    }
}

}  // namespace
}  // namespace quavella::export_test
