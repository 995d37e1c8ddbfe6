// The MIDI export with lyrics, read back by midicsv and by python3-mido, and
// compared with the composition file the composer wrote for the same melody.
#include "export/lyrics_midi.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "export/export_text.h"
#include "export_test_support.h"
#include "score_fixture.h"

namespace quavella::export_test {
namespace {

/// Undoes midicsv's string quoting: "" for a quote, \\ for a backslash, \ooo for other bytes.
std::string midicsv_string(const std::string& quoted_text) {
    std::string out;
    for (std::size_t i = 1; i + 1 < quoted_text.size(); ++i) {
        const char c = quoted_text[i];
        if (c == '"') {
            out += '"';
            ++i;
        } else if (c == '\\' && quoted_text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (c == '\\') {
            out += static_cast<char>(std::stoi(quoted_text.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += c;
        }
    }
    return out;
}

/// One line of midicsv: track, time, type and the rest of the line.
struct CsvLine {
    int track;
    long time;
    std::string type;
    std::string rest;
};

std::vector<CsvLine> midicsv(const fs::path& file) {
    const CommandResult r = run("midicsv " + quoted(file.string()));
    EXPECT_EQ(r.status, 0) << r.out;
    std::vector<CsvLine> lines;
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) {
        CsvLine l;
        std::istringstream fields(line);
        std::string field;
        std::getline(fields, field, ',');
        l.track = std::stoi(field);
        std::getline(fields, field, ',');
        l.time = std::stol(field);
        std::getline(fields, field, ',');
        l.type = field.substr(1);
        std::getline(fields, l.rest);
        if (!l.rest.empty()) l.rest = l.rest.substr(1);
        lines.push_back(l);
    }
    return lines;
}

std::string hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (const unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out.empty() ? "-" : out;
}

/// The syllables the export should write, one per sung note, in order.
std::vector<std::string> sung_syllables(const notation::Score& score) {
    std::vector<std::string> out;
    for (const auto& lyric : score.melody.lyrics) {
        const std::string text = exports::sung_text(lyric);
        if (!text.empty()) out.push_back(text);
    }
    return out;
}

class LyricsMidi : public ScratchDir {};

TEST_F(LyricsMidi, MidicsvSeesTheCompositionPlusOneLyricPerSungNoteAtItsNoteOn) {
    QUAVELLA_REQUIRE_TOOL("midicsv");
    for (const std::uint64_t seed : {42u, 7u}) {
        const auto score = composed_poem(seed, static_cast<int>(seed % 3), 4, file("temp.mid"));
        ASSERT_FALSE(exports::write_lyrics_midi(score, file("lyrics.mid")));
        const auto composition = midicsv(file("temp.mid"));
        const auto exported = midicsv(file("lyrics.mid"));

        std::vector<std::string> lyrics, rest;
        std::string title, text;
        for (std::size_t i = 0; i < exported.size(); ++i) {
            const CsvLine& l = exported[i];
            if (l.type == "Lyric_t") {
                lyrics.push_back(midicsv_string(l.rest));
                ASSERT_LT(i + 1, exported.size());
                EXPECT_EQ(exported[i + 1].type, "Note_on_c");
                EXPECT_EQ(exported[i + 1].time, l.time);
            } else if (l.type == "Title_t") {
                title = midicsv_string(l.rest);
            } else if (l.type == "Text_t") {
                text = midicsv_string(l.rest);
            } else if (l.track == 2 && l.time == 0 && l.type == "Program_c") {
                EXPECT_EQ(l.rest, "1, " + std::to_string(score.melody.program));
            } else {
                rest.push_back(std::to_string(l.track) + "," + std::to_string(l.time) + "," +
                               l.type + "," + l.rest);
            }
        }
        // Taking the additions away leaves the composition file, event for event.
        std::vector<std::string> original;
        for (const CsvLine& l : composition)
            original.push_back(std::to_string(l.track) + "," + std::to_string(l.time) + "," +
                               l.type + "," + l.rest);
        EXPECT_EQ(rest, original) << "seed " << seed;
        // A line mark ends each sentence: a carriage return, a line feed after every second.
        std::vector<std::string> marked = kPoemSyllables;
        for (std::size_t end = 4; end < marked.size(); end += 5)
            marked[end] += end % 10 == 4 ? "\r" : "\n";
        EXPECT_EQ(lyrics, marked);
        EXPECT_EQ(title, "春眠不觉晓");
        EXPECT_EQ(text, exports::kLyricsEncodingText);
    }
}

TEST_F(LyricsMidi, MidoReadsTheSameLyricsAsUtf8WithTheProgramInTheMelodyTrack) {
    QUAVELLA_REQUIRE_TOOL("/usr/bin/python3");
    // A melisma, a syllable with nothing printable, XML and CSV specials (a Latin
    // word: a space follows), a lone high byte ending the song (a line feed follows).
    const auto score = score_of({{60, 120, "春"},
                                 {62, 120, "", true},
                                 {64, 240, std::string("\x02", 1)},
                                 {65, 240, "a\"b,\\"},
                                 {67, 480, "\xB4", false, true}},
                                90, 56, "春");
    ASSERT_FALSE(exports::write_lyrics_midi(score, file("lyrics.mid")));
    const CommandResult r =
        run("/usr/bin/python3 " + quoted(QUAVELLA_EXPORT_TESTS_DIR "/read_lyrics_midi.py") + " " +
            quoted(file("lyrics.mid").string()));
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string expected = "name 1 " + hex("春") + "\n" + "text 1 " +
                                 hex(exports::kLyricsEncodingText) + "\n" +
                                 "program 1 0 56\n"
                                 "program 2 0 56\n"
                                 "lyric 2 0 " +
                                 hex("春") + "\n" + "note 2 0 60\n" +
                                 "note 2 120 62\n"
                                 "note 2 240 64\n"
                                 "lyric 2 480 " +
                                 hex("a\"b,\\ ") + "\n" + "note 2 480 65\n" + "lyric 2 720 " +
                                 hex("\xEF\xBF\xBD\n") + "\n" + "note 2 720 67\n";
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(sung_syllables(score).size(), 3u);
}

TEST_F(LyricsMidi, FailuresNameTheFileAndTheReason) {
    const auto score = score_of({{60, 480, "a"}});
    const struct {
        fs::path file;
        std::string reason;
    } rows[] = {{file("missing/x.mid"), "No such file or directory"},
                {"/dev/full", "write error (maybe disk full)"}};
    for (const auto& row : rows) {
        const auto error = exports::write_lyrics_midi(score, row.file);
        ASSERT_TRUE(error.has_value()) << row.file;
        EXPECT_EQ(*error, "cannot write '" + row.file.string() + "': " + row.reason);
    }
}

}  // namespace
}  // namespace quavella::export_test
