// The composition value against the composer's own road: the same melody, the
// same messages, the file Song writes byte for byte, the same syllables and grading.
#include "composition/composition.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "composer/compose_request.h"
#include "edit/editable_melody.h"
#include "edit/edits.h"
#include "lyrics/gbk_text.h"
#include "notation/score.h"
#include "tests/support/files.h"
#include "tests/support/row_name.h"

namespace quavella {
namespace {

namespace fs = std::filesystem;

/// Keeps every message.
struct KeptMessages : MessageSink {
    void show(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

std::shared_ptr<const CompositionSource> source_of(const std::string& utf8, int speed, int mode,
                                                   int timbre) {
    auto source = std::make_shared<CompositionSource>();
    source->lines = {utf8};
    source->gbk_text = utf8_to_gbk(utf8).gbk;
    source->speed_pos = speed;
    source->mode_pos = mode;
    source->timbre_pos = timbre;
    return source;
}

struct ComposeRow {
    const char* name;
    const char* lyrics;
    int speed, mode, timbre;
    std::uint64_t seed;
};

const ComposeRow kRows[] = {
    {"Quatrain", "春眠不觉晓，处处闻啼鸟。夜来风雨声，花落知多少。", 0, 0, 0, 1},
    {"FastSevenTonesSax", "床前明月光，疑是地上霜。举头望明月，低头思故乡。", 2, 3, 8, 20240611},
    {"LatinWords", "Twinkle twinkle little star, how I wonder what you are", 1, 1, 5, 77},
    {"OutOfListPositions", "白日依山尽，黄河入海流。欲穷千里目，更上一层楼。", -1, 9, 42, 3},
    {"OneLongSentence", "一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十", 1, 2, 3, 9},
    {"BlanksOnly", "          ", 0, 0, 0, 5},
};

class ComposeTest : public testing::TestWithParam<ComposeRow> {};

TEST_P(ComposeTest, IsTheComposersMelodyWithItsFile) {
    const ComposeRow& row = GetParam();
    const auto source = source_of(row.lyrics, row.speed, row.mode, row.timbre);

    // The composer's own road: the Song's melody, then its file.
    Generators singles(row.seed);
    KeptMessages told_song;
    const ComposeOutcome outcome =
        compose_melody(source->gbk_text, row.speed, row.mode, row.timbre, singles, told_song);
    const CompositionFile file =
        composition_file(outcome.tempo, outcome.program, outcome.nt_seq, outcome.tm_seq);
    ASSERT_EQ(file.error, "");

    Generators gens(row.seed);
    const Generators::State before = gens.state();
    KeptMessages told;
    const Composed made = compose(source, gens, told);
    ASSERT_EQ(made.error, "");
    ASSERT_NE(made.composition, nullptr);
    const Composition& c = *made.composition;

    EXPECT_EQ(c.source, source) << "shared, not copied";
    EXPECT_EQ(c.state, before);
    EXPECT_EQ(gens.state(), singles.state()) << "the same draws";
    EXPECT_EQ(told.texts, told_song.texts);
    EXPECT_EQ(c.midi, file.bytes);
    EXPECT_EQ(c.melody.notes, std::vector<int>(outcome.nt_seq.begin(), outcome.nt_seq.end()));
    EXPECT_EQ(c.melody.ticks, std::vector<int>(outcome.tm_seq.begin(), outcome.tm_seq.end()));
    EXPECT_EQ(c.melody.tempo, outcome.tempo);
    EXPECT_EQ(c.melody.mode, outcome.mode);
    EXPECT_EQ(c.melody.program, outcome.program);

    // The syllables and the grading as the score and the history made them apart.
    const notation::Melody apart = notation::melody_from(source->gbk_text, outcome);
    ASSERT_EQ(c.melody.lyrics.size(), apart.lyrics.size());
    for (std::size_t i = 0; i < apart.lyrics.size(); ++i) {
        EXPECT_EQ(c.melody.lyrics[i].text, apart.lyrics[i].text) << i;
        EXPECT_EQ(c.melody.lyrics[i].sentence, apart.lyrics[i].sentence) << i;
        EXPECT_EQ(c.melody.lyrics[i].continuation, apart.lyrics[i].continuation) << i;
        EXPECT_EQ(c.melody.lyrics[i].sentence_end, apart.lyrics[i].sentence_end) << i;
    }
    const ToneGrading graded = grade_melody(source->gbk_text, outcome.nt_seq);
    EXPECT_EQ(c.tones.counts, graded.counts);
    EXPECT_EQ(c.tones.graded(), graded.graded());
    EXPECT_TRUE(c.edits.empty());
}

INSTANTIATE_TEST_SUITE_P(Lyrics, ComposeTest, testing::ValuesIn(kRows),
                         [](const auto& row_info) { return std::string(row_info.param.name); });

TEST(MakeComposition, AnEditedMelodyGetsItsOwnBytesAndGrading) {
    const auto source = source_of("春眠不觉晓，处处闻啼鸟。夜来风雨声，花落知多少。", 0, 0, 0);
    Generators gens(11);
    QuietSink quiet;
    const CompositionPtr composed = compose(source, gens, quiet).composition;
    const ToneCheck check = lyric_tone_check(source->gbk_text);

    // One note raised by a fourth: new bytes, a new grading, the same source and state.
    notation::Melody edited = composed->melody;
    edited.notes[3] += 5;
    const Composed made = make_composition(source, composed->state, edited, check, "3:+5");
    ASSERT_EQ(made.error, "");
    const Composition& c = *made.composition;
    const CompositionFile file =
        composition_file(edited.tempo, edited.program, edited.notes, edited.ticks);
    EXPECT_EQ(c.midi, file.bytes);
    EXPECT_NE(c.midi, composed->midi);
    EXPECT_EQ(c.tones.counts, check.grade(edited.notes).counts);
    EXPECT_EQ(c.edits, "3:+5");
    EXPECT_EQ(c.source, composed->source);

    // A melody whose notes no longer match the syllables has nothing graded.
    edited.notes.pop_back();
    edited.ticks.pop_back();
    edited.lyrics.pop_back();
    const Composed shorter = make_composition(source, composed->state, edited, check);
    ASSERT_NE(shorter.composition, nullptr);
    EXPECT_EQ(shorter.composition->tones.graded(), 0);
}

TEST(MakeComposition, TheEditUnitsMelodyBecomesAValueWithTheBytesItWrites) {
    // From a composition to the edit unit and back: the edited value holds the bytes
    // and the grading the edit unit makes, and the edit list in its text form.
    const auto source = source_of("床前明月光，疑是地上霜。举头望明月，低头思故乡。", 1, 3, 5);
    Generators gens(2024);
    QuietSink quiet;
    const CompositionPtr composed = compose(source, gens, quiet).composition;
    edit::EditableMelody melody(edit::Source{source->gbk_text, source->speed_pos, source->mode_pos,
                                             source->timbre_pos, composed->state},
                                composed->melody);
    EXPECT_EQ(melody.file().bytes, composed->midi) << "unedited: the composition's bytes";
    const edit::ParsedEdits edits = edit::parse_edits("3+,5-o,fix");
    ASSERT_EQ(edits.error, "");
    ASSERT_EQ(melody.apply_all(edits.edits), std::nullopt);

    const Composed edited = make_composition(source, composed->state, melody.melody(),
                                             melody.check(), edit::edits_text(melody.edits()));
    ASSERT_EQ(edited.error, "");
    EXPECT_EQ(edited.composition->midi, melody.file().bytes);
    EXPECT_NE(edited.composition->midi, composed->midi);
    EXPECT_EQ(edited.composition->tones.counts, melody.grading().counts);
    EXPECT_EQ(edited.composition->edits, "3+,5-o,fix");
}

}  // namespace
}  // namespace quavella
