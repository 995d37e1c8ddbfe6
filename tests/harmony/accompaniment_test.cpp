// The accompaniment: voices below the melody, quieter, moving to the nearest chord
// tone, in each pattern; the arrangement file read back by mido.
#include "harmony/accompaniment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "composition/composition.h"
#include "lyrics/gbk_text.h"
#include "tests/support/files.h"
#include "tests/support/tools.h"

namespace quavella::harmony {
namespace {

namespace fs = std::filesystem;

/// 春晓 composed in `mode` from `seed`.
CompositionPtr composed(int mode, std::uint64_t seed) {
    const std::string raw = test::read_file(std::string(QUAVELLA_SAMPLES_DIR) + "/chunxiao.txt");
    auto source = std::make_shared<CompositionSource>();
    source->gbk_text = lyric_text_from_input(raw, LyricEncoding::utf8).gbk;
    source->mode_pos = mode;
    source->timbre_pos = 3;
    Generators gens(seed);
    QuietSink quiet;
    return compose(source, gens, quiet).composition;
}

/// The melody note sounding at each tick span, for checking what lies under it.
int lowest_melody_note(const notation::Melody& melody, std::int64_t from, std::int64_t to) {
    int lowest = 128;
    std::int64_t start = 0;
    for (std::size_t i = 0; i < melody.notes.size(); ++i) {
        const std::int64_t end = start + melody.ticks[i];
        if (start < to && end > from) lowest = std::min(lowest, melody.notes[i]);
        start = end;
    }
    return lowest;
}

TEST(Accompaniment, EveryPatternPlaysChordTonesBelowTheMelodyAndQuieter) {
    for (int mode = 0; mode < 4; ++mode) {
        const CompositionPtr c = composed(mode, 11);
        const notation::Melody& melody = c->melody;
        const Harmony harmony = choose_chords(request_for(melody));
        for (Pattern pattern : {Pattern::block, Pattern::broken, Pattern::pad}) {
            const std::vector<AccompanimentNote> notes = accompany(melody, harmony, pattern);
            ASSERT_FALSE(notes.empty());
            for (const AccompanimentNote& n : notes) {
                const auto slot = static_cast<std::size_t>(n.start / kSlotTicks);
                ASSERT_LT(slot, harmony.chords.size());
                EXPECT_TRUE(is_chord_tone(harmony.chords[slot], n.key))
                    << pattern_name(pattern) << " at " << n.start;
                EXPECT_LT(n.velocity, 95);
                EXPECT_LT(n.key, lowest_melody_note(melody, n.start, n.start + n.ticks))
                    << pattern_name(pattern) << " at " << n.start;
                EXPECT_GT(n.ticks, 0);
            }
            // Where the pattern strikes: beats 1 and 3 (block, pad), every eighth (broken).
            for (const AccompanimentNote& n : notes) {
                const int step = pattern == Pattern::broken ? 60 : kSlotTicks;
                EXPECT_EQ(n.start % step, 0) << pattern_name(pattern);
            }
        }
    }
}

TEST(Accompaniment, VoicesMoveToTheNearestChordTones) {
    // C to F to G to C: the common tone stays, the others step.
    Harmony harmony;
    harmony.chords = {
        {0, ChordKind::major}, {5, ChordKind::major}, {7, ChordKind::major}, {0, ChordKind::major}};
    const std::vector<int> notes{72, 72, 74, 72};
    const std::vector<int> ticks{240, 240, 240, 240};
    const std::vector<Voicing> v = voice_chords(harmony, notes, ticks);
    ASSERT_EQ(v.size(), 4u);
    // The least movement between these triads: C-F keeps C (E up 1, G up 2), F-G moves
    // every voice a step, G-C keeps G (B up 1, D up 2).
    const int least[] = {0, 3, 6, 3};
    for (std::size_t k = 1; k < v.size(); ++k) {
        int moved = 0;
        for (std::size_t i = 0; i < 3; ++i) moved += std::abs(v[k].voices[i] - v[k - 1].voices[i]);
        EXPECT_EQ(moved, least[k]) << "slot " << k;
        EXPECT_LT(v[k].bass, v[k].voices[0]);
        EXPECT_EQ(v[k].bass % 12, harmony.chords[k].root);
    }
}

struct ReadBack {
    std::string type;
    std::map<int, std::string> names;
    std::vector<std::string> programs;
    std::map<int, std::vector<std::string>>
        notes;  ///< by track: "channel tick key velocity length"
};

ReadBack read_back(const fs::path& file) {
    const std::string text = test::shell_output(
        "/usr/bin/python3 " +
        test::shell_quoted(std::string(QUAVELLA_HARMONY_TESTS_DIR) + "/read_arrangement.py") + " " +
        test::shell_quoted(file.string()));
    ReadBack r;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream in(line);
        std::string what;
        int track = 0;
        in >> what;
        if (what == "type") {
            r.type = line;
            continue;
        }
        in >> track;
        std::string rest;
        std::getline(in, rest);
        if (what == "name") r.names[track] = rest.substr(1);
        if (what == "program") r.programs.push_back(std::to_string(track) + rest);
        if (what == "note") r.notes[track].push_back(rest.substr(1));
    }
    return r;
}

TEST(Arrangement, MidoReadsMelodyAndAccompanimentOnTheirOwnTracksAndChannels) {
    const std::string missing = test::missing_mido();
    if (!missing.empty()) FAIL() << missing;
    const fs::path dir =
        fs::temp_directory_path() / ("quavella-arrangement-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const CompositionPtr c = composed(3, 42);
    const Harmony harmony = choose_chords(request_for(c->melody));
    for (Pattern pattern : {Pattern::block, Pattern::broken, Pattern::pad}) {
        const ArrangementFile made = arrangement_file(c->melody, harmony, {pattern, 48});
        ASSERT_TRUE(made.error.empty()) << made.error;
        test::write_file(dir / "arrangement.mid", made.bytes);
        test::write_file(dir / "composition.mid", c->midi);
        const ReadBack arranged = read_back(dir / "arrangement.mid");
        const ReadBack melody = read_back(dir / "composition.mid");
        EXPECT_EQ(arranged.type, "type 1 3 120");
        EXPECT_EQ(arranged.names.at(2), "Melody");
        EXPECT_EQ(arranged.names.at(3), "Accompaniment");
        const std::vector<std::string> programs{"2 1 24", "3 2 48"};
        EXPECT_EQ(arranged.programs, programs);
        // The melody track holds exactly the composition file's notes.
        ASSERT_FALSE(melody.notes.at(2).empty());
        EXPECT_EQ(arranged.notes.at(2), melody.notes.at(2));
        // The accompaniment as accompany() made it, all on the third channel.
        std::vector<std::string> expected;
        for (const AccompanimentNote& n : accompany(c->melody, harmony, pattern)) {
            expected.push_back("2 " + std::to_string(n.start) + " " + std::to_string(n.key) + " " +
                               std::to_string(n.velocity) + " " + std::to_string(n.ticks));
        }
        std::sort(expected.begin(), expected.end());
        std::vector<std::string> got = arranged.notes.at(3);
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, expected) << pattern_name(pattern);
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace quavella::harmony
