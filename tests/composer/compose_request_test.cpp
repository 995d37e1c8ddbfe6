// The compose request: text checks, the order of the draws, the settings
// mapping and the composition written, from GBK lyric text to file.
#include "composer/compose_request.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <vector>

#include "composer_test_support.h"
#include "lyrics/paragraph.h"
#include "tests/support/files.h"

namespace quavella {
namespace {

namespace fs = std::filesystem;

// "我爱北京天安门，" and "天安门上太阳升。" in GBK.
const std::string lyric_line1 = "\xCE\xD2\xB0\xAE\xB1\xB1\xBE\xA9\xCC\xEC\xB0\xB2\xC3\xC5\xA3\xAC";
const std::string lyric_line2 = "\xCC\xEC\xB0\xB2\xC3\xC5\xC9\xCF\xCC\xAB\xD1\xF4\xC9\xFD\xA1\xA3";

TEST(LyricRefusal, EmptyAndShortTextsAreTurnedAway) {
    const std::string too_short =
        "\xCE\xD2\xB0\xAE\xB1\xB1\xBE\xA9"
        "a";  // four characters and a letter
    EXPECT_EQ(lyric_refusal(""), "请输入歌词！");
    EXPECT_EQ(lyric_refusal("abcde"), "歌词太短，没感觉！");
    EXPECT_EQ(lyric_refusal(too_short), "歌词太短，没感觉！");
    EXPECT_EQ(lyric_refusal(too_short + "b"), std::nullopt);
    // Spaces and marks only: nothing to sing, as empty.
    EXPECT_EQ(lyric_refusal("          "), "请输入歌词！");
    EXPECT_EQ(lyric_refusal("\xA3\xAC\xA1\xA3 , . ; ? !\xA1\xA2\xA3\xAD"), "请输入歌词！");
}

class ComposeLyrics : public testing::Test {
protected:
    /// The composition file of an outcome, as the composition makes it.
    static std::string bytes_of(const ComposeOutcome& outcome) {
        const CompositionFile made =
            composition_file(outcome.tempo, outcome.program, outcome.nt_seq, outcome.tm_seq);
        EXPECT_EQ(made.error, "");
        return made.bytes;
    }
};

int syllables_of(const std::string& text) {
    const PhraseLayout layout = Paragraph(text).get_layout();
    return std::accumulate(layout.begin(), layout.end(), 0,
                           [](int s, std::int32_t e) { return e > 0 ? s + e : s; });
}

struct SettingsRow {
    int speed_pos, mode_pos, timbre_pos;
    int tempo_low, mode, program;
};

TEST_F(ComposeLyrics, TempoIsDrawnFirstThenTheSongDrawsWithMappedSettings) {
    const std::string text = lyric_line1 + lyric_line2 + lyric_line1 + lyric_line2;
    const std::vector<SettingsRow> rows{
        {0, 0, 0, 100, 3, 0},
        {2, 3, 8, 180, 0, 64},
        {1, 1, 9, 140, 2, 72},
        {-1, 7, 42, 140, 3, 0},
    };
    for (const SettingsRow& row : rows) {
        for (std::uint64_t seed : {1u, 2u, 3u}) {
            Generators inner(seed);
            RecordingDraws draws(inner);
            RecordingSink sink;
            const ComposeOutcome outcome =
                compose_melody(text, row.speed_pos, row.mode_pos, row.timbre_pos, draws, sink);
            ASSERT_GE(draws.bounds.size(), 3u);
            EXPECT_EQ(draws.bounds[0], 20);                    // the tempo
            EXPECT_EQ(draws.bounds[1], row.mode < 2 ? 3 : 4);  // the note area
            EXPECT_GE(outcome.tempo, row.tempo_low);
            EXPECT_LT(outcome.tempo, row.tempo_low + 20);
            EXPECT_EQ(outcome.mode, row.mode);
            EXPECT_EQ(outcome.program, row.program);
            EXPECT_EQ(outcome.notes, syllables_of(text));
            EXPECT_TRUE(sink.texts.empty());
            EXPECT_GT(bytes_of(outcome).size(), 54u);
        }
    }
}

TEST_F(ComposeLyrics, TextWithoutSyllablesGivesAnEmptyComposition) {
    // Ten blanks, and blanks with full-width commas: nothing to sing.
    const std::string comma = "\xA3\xAC";
    for (const std::string& text :
         {std::string(10, ' '), std::string(12, ' ') + comma + comma,
          "a" + comma + "b" + comma + "c" + comma + "d" + comma + "e" + comma}) {
        Generators draws(5);
        RecordingSink sink;
        const ComposeOutcome outcome = compose_melody(text, 0, 0, 0, draws, sink);
        EXPECT_EQ(outcome.notes, 0);
        EXPECT_EQ(bytes_of(outcome).size(), 54u);
        EXPECT_TRUE(sink.texts.empty());
    }
}

TEST_F(ComposeLyrics, SameSeedSameFile) {
    const std::string text = lyric_line1 + lyric_line2;
    auto bytes_for = [&](std::uint64_t seed) {
        Generators draws(seed);
        RecordingSink sink;
        return bytes_of(compose_melody(text, 1, 2, 3, draws, sink));
    };
    EXPECT_EQ(bytes_for(9), bytes_for(9));
    EXPECT_NE(bytes_for(9), bytes_for(10));
}

}  // namespace
}  // namespace quavella
