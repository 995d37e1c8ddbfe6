// A composition into the history and back: stored, read again and turned into a
// value, it is the composition that was made (file bytes, melody, syllables, source,
// state, grading), and an entry stored without its syllables gets them from its lyric.
#include "history/record.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "composition/composition.h"
#include "edit/edits.h"
#include "history/store.h"
#include "lyrics/gbk_text.h"
#include "tests/support/files.h"

namespace quavella::history {
namespace {

CompositionPtr composed(std::vector<std::string> lines, std::uint64_t seed) {
    auto source = std::make_shared<CompositionSource>();
    source->lines = std::move(lines);
    for (const std::string& line : source->lines) source->gbk_text += utf8_to_gbk(line).gbk;
    source->speed_pos = 2;
    source->mode_pos = 1;
    source->timbre_pos = 7;
    Generators gens(seed);
    QuietSink quiet;
    return compose(source, gens, quiet).composition;
}

void expect_same(const Composition& back, const Composition& made) {
    EXPECT_EQ(back.midi, made.midi);
    EXPECT_EQ(back.state, made.state);
    EXPECT_EQ(back.source->lines, made.source->lines);
    EXPECT_EQ(back.source->gbk_text, made.source->gbk_text);
    EXPECT_EQ(back.source->speed_pos, made.source->speed_pos);
    EXPECT_EQ(back.source->mode_pos, made.source->mode_pos);
    EXPECT_EQ(back.source->timbre_pos, made.source->timbre_pos);
    EXPECT_EQ(back.melody.notes, made.melody.notes);
    EXPECT_EQ(back.melody.ticks, made.melody.ticks);
    EXPECT_EQ(back.melody.tempo, made.melody.tempo);
    EXPECT_EQ(back.melody.program, made.melody.program);
    ASSERT_EQ(back.melody.lyrics.size(), made.melody.lyrics.size());
    for (std::size_t i = 0; i < made.melody.lyrics.size(); ++i) {
        EXPECT_EQ(back.melody.lyrics[i].text, made.melody.lyrics[i].text) << i;
        EXPECT_EQ(back.melody.lyrics[i].sentence, made.melody.lyrics[i].sentence) << i;
        EXPECT_EQ(back.melody.lyrics[i].sentence_end, made.melody.lyrics[i].sentence_end) << i;
    }
    EXPECT_EQ(back.tones.counts, made.tones.counts);
}

TEST(CompositionRecord, StoredAndReadBackItIsTheCompositionThatWasMade) {
    test::ScratchDir dir;
    Store store(dir.path() / "history.sqlite3");
    const std::vector<std::vector<std::string>> lyrics = {
        {"春眠不觉晓，处处闻啼鸟。", "夜来风雨声，花落知多少。"},
        {"床前明月光，疑是地上霜。", "", "举头望明月，低头思故乡。"},  // an empty line kept
        {"Twinkle twinkle little star"},
    };
    for (std::size_t k = 0; k < lyrics.size(); ++k) {
        SCOPED_TRACE(k);
        const CompositionPtr made = composed(lyrics[k], 100 + k);
        const Record record = record_of(*made, 1717200000000);
        EXPECT_EQ(record.speed_item, "快");
        EXPECT_EQ(record.tone_score.has_value(), made->tones.graded() > 0);
        std::int64_t id = 0;
        ASSERT_EQ(store.record(record, id), Status::ok) << store.last_error();
        Entry entry;
        ASSERT_EQ(store.get(id, entry), Status::ok);
        expect_same(*composition_of(entry.record), *made);
    }
}

TEST(CompositionRecord, AnEditedCompositionKeepsItsEditList) {
    test::ScratchDir dir;
    Store store(dir.path() / "history.sqlite3");
    const CompositionPtr made =
        composed({"春眠不觉晓，处处闻啼鸟。", "夜来风雨声，花落知多少。"}, 9);
    notation::Melody melody = made->melody;
    melody.notes[2] += 2;
    const Composed edited = make_composition(made->source, made->state, melody,
                                             lyric_tone_check(made->source->gbk_text), "3+h,3+h");
    ASSERT_NE(edited.composition, nullptr);
    std::int64_t id = 0;
    ASSERT_EQ(store.record(record_of(*edited.composition, 1), id), Status::ok);
    Entry entry;
    ASSERT_EQ(store.get(id, entry), Status::ok);
    EXPECT_EQ(entry.record.edits, "3+h,3+h");
    EXPECT_NE(reproduce_command(entry.record).find(" --edits 3+h,3+h "), std::string::npos);
    const CompositionPtr back = composition_of(entry.record);
    EXPECT_EQ(back->edits, "3+h,3+h");
    expect_same(*back, *edited.composition);
}

// One argument holds at most 128 KiB: a long edit list is cut between items into
// several --edits, which compose joins, so that the line still runs.
TEST(CompositionRecord, ALongEditListTakesSeveralEditsOptions) {
    Record record;
    const std::string item = "s2:18446744073709551615:4294967295";
    record.edits = item;
    for (int k = 1; k < 3000; ++k) record.edits += "," + item;
    const std::string command = reproduce_command(record);
    std::vector<std::string> parts;
    for (std::size_t at = command.find(" --edits "); at != std::string::npos;
         at = command.find(" --edits ", at + 1)) {
        const std::size_t start = at + 9;
        parts.push_back(command.substr(start, command.find(' ', start) - start));
    }
    ASSERT_EQ(parts.size(), 2u) << command.substr(0, 200);
    for (const std::string& part : parts) {
        EXPECT_LE(part.size(), 65536u);
        EXPECT_EQ(part.find(item), 0u);
        EXPECT_EQ(part.size() % (item.size() + 1), item.size());
    }
    EXPECT_EQ(parts[0] + "," + parts[1], record.edits);
}

// Items of the longest new words stay whole, each in an argument of its own within the 128 KiB
// Linux takes; the items around them are not glued to them.
TEST(CompositionRecord, WordItemsOfTheLongestWordsStayWholeArguments) {
    Record record;
    const std::string words = "w:" + std::string(2 * edit::kMaxWordBytes, 'a');
    record.edits = "1+," + words + "," + words + ",2-";
    ASSERT_EQ(edit::parse_edits(record.edits).error, "");
    const std::string command = reproduce_command(record);
    std::vector<std::string> parts;
    for (std::size_t at = command.find(" --edits "); at != std::string::npos;
         at = command.find(" --edits ", at + 1)) {
        const std::size_t start = at + 9;
        parts.push_back(command.substr(start, command.find(' ', start) - start));
    }
    EXPECT_EQ(parts, (std::vector<std::string>{"1+", words, words, "2-"}));
    for (const std::string& part : parts) EXPECT_LT(part.size(), 128u * 1024u);
}

TEST(CompositionRecord, AnEntryWithoutSyllablesGetsThemFromItsLyric) {
    const CompositionPtr made =
        composed({"春眠不觉晓，处处闻啼鸟。", "夜来风雨声，花落知多少。"}, 5);
    Record old = record_of(*made, 0);
    old.syllables.clear();
    expect_same(*composition_of(old), *made);
}

}  // namespace
}  // namespace quavella::history
