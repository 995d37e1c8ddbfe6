// Chord symbols in the MusicXML export, read back by MuseScore 3: every chord where it
// starts (inside a held note too, through its offset), with its root and kind.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "export/musicxml.h"
#include "export_test_support.h"
#include "harmony/chord_model.h"
#include "score_fixture.h"

namespace quavella::export_test {
namespace {

/// MuseScore's text after the root for each kind, as it names what it imported.
std::string musescore_name(harmony::ChordKind kind) {
    switch (kind) {
        case harmony::ChordKind::major:
            return "-";
        case harmony::ChordKind::minor:
            return "m";
        case harmony::ChordKind::sus2:
            return "sus2";
        case harmony::ChordKind::sus4:
            return "sus4";
        case harmony::ChordKind::minor7_no5:
            return "m7no5";
    }
    return "?";
}

class MuseScoreHarmony : public ScratchDir {};

TEST_F(MuseScoreHarmony, ReadsEveryChordSymbolWhereItStarts) {
    QUAVELLA_REQUIRE_TOOL("mscore3");
    QUAVELLA_REQUIRE_TOOL("/usr/bin/python3");
    std::string job = "[";
    std::vector<std::string> expected;
    bool inside_a_note = false;  // some chord starts inside a held note: it needs an offset
    for (int mode = 0; mode < 4; ++mode) {
        Generators draws(42);
        QuietSink sink;
        const ComposeOutcome outcome = compose_melody(kPoemGbk, 1, mode, 0, draws, sink);
        const notation::Score score =
            notation::build_score(notation::melody_from(kPoemGbk, outcome));
        const auto changes =
            harmony::chord_changes(harmony::choose_chords(harmony::request_for(score.melody)));
        std::string lines;
        for (const auto& c : changes) {
            lines += std::to_string(c.tick) + " " + harmony::root_name(c.chord.root) + " " +
                     musescore_name(c.chord.kind) + "\n";
            inside_a_note |=
                notation::note_at_tick(score, c.tick) == notation::note_at_tick(score, c.tick - 1);
        }
        expected.push_back(lines);
        const std::string name = "mode" + std::to_string(mode);
        const auto error = exports::write_musicxml(score, file(name + ".musicxml"), {}, changes);
        ASSERT_FALSE(error) << *error;
        job += std::string(job.size() > 1 ? "," : "") + "{\"in\":\"" +
               file(name + ".musicxml").string() + "\",\"out\":\"" + file(name + ".mscx").string() +
               "\"}";
    }
    EXPECT_TRUE(inside_a_note);
    write_file(file("job.json"), job + "]");
    const CommandResult convert =
        run("cd " + quoted(dir_.string()) + " && QT_QPA_PLATFORM=offscreen mscore3 -j job.json");
    ASSERT_EQ(convert.status, 0) << convert.out;
    for (int mode = 0; mode < 4; ++mode) {
        const CommandResult read =
            run("/usr/bin/python3 " + quoted(QUAVELLA_EXPORT_TESTS_DIR "/read_mscx_harmony.py") +
                " " + quoted(file("mode" + std::to_string(mode) + ".mscx").string()));
        EXPECT_EQ(read.status, 0);
        EXPECT_EQ(read.out, expected[static_cast<std::size_t>(mode)]) << "mode " << mode;
    }
}

}  // namespace
}  // namespace quavella::export_test
