// Awkward lyrics through the whole road (composer, syllable texts, score, the
// three exports): every file stays valid for its readers, and the MusicXML
// carries one lyric per sung note.
#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <random>
#include <string>

#include "export/audio_render.h"
#include "export/export_text.h"
#include "export/lyrics_midi.h"
#include "export/musicxml.h"
#include "export_test_support.h"
#include "score_fixture.h"

namespace quavella::export_test {
namespace {

std::size_t sung_notes(const notation::Score& score) {
    std::size_t n = 0;
    for (const auto& lyric : score.melody.lyrics) n += exports::sung_text(lyric).empty() ? 0 : 1;
    return n;
}

std::size_t lyric_elements(const std::string& musicxml) {
    pugi::xml_document doc;
    const auto parsed = doc.load_string(musicxml.c_str());
    EXPECT_TRUE(parsed) << parsed.description();
    return doc.select_nodes("//lyric[text]").size();
}

struct LyricRow {
    const char* name;
    std::string gbk;
};

void PrintTo(const LyricRow& row, std::ostream* out) { *out << row.name; }

std::string repeated(const std::string& unit, std::size_t bytes) {
    std::string out;
    while (out.size() < bytes) out += unit;
    return out;
}

// 春 眠 in GBK, and the full-width comma and stop.
const std::string kChun = "\xB4\xBA", kMian = "\xC3\xDF", kComma = "\xA3\xAC", kStop = "\xA1\xA3";

const LyricRow kLyricRows[] = {
    {"XmlSpecials", "a&b <c> \"d\" 'e'" + kComma + kChun + "&<" + kMian + kStop},
    {"ControlBytes", std::string("\x01\x02\x1b[0m\x7f", 7) + kChun + std::string("\x00\x08", 2) +
                         kMian + kComma + "\t\r" + kChun + kStop},
    // Byte pairs GBK has no character for: 0x80 and 0xFF leads, a trail byte of 0x7F.
    {"NotGbk", "\x80\x41\xFF\xFE\x81\x7F" + kChun + kMian + kComma + "\xFF" + kChun + kStop},
    {"LoneHighByte", kChun + kMian + kChun + kMian + kComma + kChun + "\xB4"},
    {"FiveThousandCharacters", repeated(kChun + kMian + kChun + kMian + kChun + kComma, 10000)},
};

class BadLyrics : public ScratchDir, public testing::WithParamInterface<LyricRow> {};

TEST_P(BadLyrics, EveryExportStaysValid) {
    QUAVELLA_REQUIRE_TOOL("midicsv");
    QUAVELLA_REQUIRE_TOOL("/usr/bin/python3");
    const auto score = composed_score(GetParam().gbk, 3, 2, 4, file("temp.mid"));
    ASSERT_FALSE(score.melody.notes.empty());

    ASSERT_FALSE(exports::write_musicxml(score, file("song.musicxml")));
    EXPECT_EQ(lyric_elements(read_file(file("song.musicxml"))), sung_notes(score));
    // Expat, stricter than pugixml about characters XML does not allow.
    const CommandResult expat =
        run("/usr/bin/python3 -c 'import sys, xml.etree.ElementTree as E; "
            "E.parse(sys.argv[1])' " +
            quoted(file("song.musicxml").string()));
    EXPECT_EQ(expat.status, 0) << expat.out;

    ASSERT_FALSE(exports::write_lyrics_midi(score, file("lyrics.mid")));
    const CommandResult csv =
        run("midicsv " + quoted(file("lyrics.mid").string()) + " | grep -c Lyric_t");
    EXPECT_EQ(csv.out, std::to_string(sung_notes(score)) + "\n");

    // The long row would render for many seconds; its audio is no different in kind.
    if (score.melody.notes.size() < 200) {
        ASSERT_FALSE(exports::render_audio(score, file("song.wav")));
        EXPECT_GT(fs::file_size(file("song.wav")), 44u);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, BadLyrics, testing::ValuesIn(kLyricRows),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(BadLyricsProperty, RandomLyricBytesGiveValidMusicXmlWithOneLyricPerSungNote) {
    // Bytes drawn mostly from the ones the lyric scanner treats specially.
    const std::string alphabet =
        std::string("aZ9 ,.;?!&<>\"'\x01\x7f", 17) + "\xA1\xA3\xAC\xB4\xBA\x80\xFF\x81\x40";
    std::mt19937 random(77);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1), length(10, 120);
    std::uniform_int_distribution<int> any(0, 255);
    const auto midi =
        fs::temp_directory_path() / ("quavella-bad-lyrics-" + std::to_string(::getpid()) + ".mid");
    for (int round = 0; round < 200; ++round) {
        std::string text;
        for (std::size_t k = length(random); k > 0; --k)
            text += any(random) < 32 ? static_cast<char>(any(random)) : alphabet[pick(random)];
        const auto score =
            composed_score(text, static_cast<std::uint64_t>(round), round % 3, round % 10, midi);
        EXPECT_EQ(lyric_elements(exports::musicxml_document(score)), sung_notes(score))
            << "round " << round;
    }
    fs::remove(midi);
}

}  // namespace
}  // namespace quavella::export_test
