// Word edits: new words for a shaped melody, each sentence whose syllable count is
// unchanged keeping its notes, the others composed anew from their generator state;
// refused words; undo and redo to the exact bytes, words and grading, mixed with pitch
// edits; replay from the text form.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "composer/compose_request.h"
#include "composer/message_sink.h"
#include "edit/editable_melody.h"
#include "edit/edits.h"
#include "lyrics/gbk_text.h"
#include "lyrics/syllables.h"
#include "tests/support/row_name.h"

namespace quavella::edit {
namespace {

const std::string kSpring = "春眠不觉晓，处处闻啼鸟。\n夜来风雨声，花落知多少。";
const std::string kRow =
    "Row row row your boat, gently down the stream.\nMerrily merrily merrily "
    "merrily, life is but a dream.";

Source source_of(const std::string& utf8, std::uint64_t seed) {
    std::string joined = utf8;
    std::erase(joined, '\n');
    return Source{utf8_to_gbk(joined).gbk, 1, 3, 0, Generators(seed).state()};
}

Edit words_edit(const std::string& words) {
    Edit edit{EditKind::words};
    edit.words = words;
    return edit;
}

/// The notes and durations the composer makes of `gbk` from `state`.
ComposeOutcome composed_from(const Source& source, const std::string& gbk,
                             const Generators::State& state) {
    Generators gens;
    gens.restore(state);
    QuietSink quiet;
    return compose_melody(gbk, source.speed_pos, source.mode_pos, source.timbre_pos, gens, quiet);
}

/// A grading as values that compare: each pair's notes, interval and grade.
std::vector<std::array<int, 4>> graded(const ToneGrading& grading) {
    std::vector<std::array<int, 4>> pairs;
    for (const TonePair& pair : grading.pairs) {
        pairs.push_back({static_cast<int>(pair.first), static_cast<int>(pair.second), pair.interval,
                         static_cast<int>(pair.grade)});
    }
    return pairs;
}

/// Index of the first note of each sentence and one past its last.
std::array<std::array<int, 2>, 4> runs(const notation::Melody& melody) {
    std::array<std::array<int, 2>, 4> found{};
    for (std::size_t i = 0; i < melody.lyrics.size(); ++i) {
        auto& run = found[static_cast<std::size_t>(melody.lyrics[i].sentence)];
        if (run[0] == run[1]) run[0] = static_cast<int>(i);
        run[1] = static_cast<int>(i) + 1;
    }
    return found;
}

struct WordsRow {
    std::string name;
    std::string origin;        // UTF-8, lines joined by "\n"
    std::string words;         // the new words
    std::array<bool, 4> kept;  // the sentences that keep their notes
};

class WordEdits : public testing::TestWithParam<WordsRow> {};

// A pitch edit first, so that a kept sentence must keep the edited note, not the composed
// one; the new words then sing the kept notes, and their tones grade them.
TEST_P(WordEdits, KeepSentencesOfUnchangedCountNoteForNote) {
    const WordsRow& row = GetParam();
    const Source source = source_of(row.origin, 77);
    EditableMelody melody(source);
    ASSERT_FALSE(melody.apply(Edit{EditKind::octave, 0, 1}).error);
    const notation::Melody before = melody.melody();
    const std::string before_bytes = melody.file().bytes;

    const Applied applied = melody.apply(words_edit(row.words));
    ASSERT_FALSE(applied.error) << *applied.error;
    ASSERT_TRUE(applied.step.changed());
    const notation::Melody& after = melody.melody();
    std::string joined = row.words;
    std::erase(joined, '\n');
    const std::string gbk = utf8_to_gbk(joined).gbk;
    EXPECT_EQ(melody.source().gbk_text, gbk);
    const std::vector<SyllableText> syllables = syllable_texts(gbk);
    ASSERT_EQ(after.notes.size(), syllables.size());
    ASSERT_EQ(after.lyrics.size(), syllables.size());
    EXPECT_EQ(after.tempo, before.tempo);
    EXPECT_TRUE(after.rests.empty());
    const ComposeOutcome fresh = composed_from(source, gbk, source.state);
    const auto old_runs = runs(before);
    const auto new_runs = runs(after);
    for (std::size_t s = 0; s < 4; ++s) {
        const auto [first, end] = new_runs[s];
        const bool same_count = end - first == old_runs[s][1] - old_runs[s][0];
        EXPECT_EQ(same_count, row.kept[s]) << "sentence " << s + 1;
        for (int i = first; i < end; ++i) {
            const auto k = static_cast<std::size_t>(i);
            const auto was = static_cast<std::size_t>(old_runs[s][0] + i - first);
            EXPECT_EQ(after.notes[k], same_count ? before.notes[was] : fresh.nt_seq[k]) << i;
            EXPECT_EQ(after.ticks[k], same_count ? before.ticks[was] : fresh.tm_seq[k]) << i;
            EXPECT_EQ(after.lyrics[k].sentence, static_cast<int>(s));
        }
    }
    EXPECT_EQ(graded(melody.grading()), graded(melody.check().grade(after.notes)));
    EXPECT_EQ(melody.check().syllables().size(), syllables.size());

    // One step: undo gives back the melody, its words and its grading exactly.
    const std::string after_bytes = melody.file().bytes;
    ASSERT_NE(melody.undo(), nullptr);
    EXPECT_EQ(melody.file().bytes, before_bytes);
    EXPECT_EQ(melody.source().gbk_text, source.gbk_text);
    EXPECT_EQ(melody.melody().lyrics.size(), before.lyrics.size());
    EXPECT_EQ(graded(melody.grading()), graded(melody.check().grade(before.notes)));
    ASSERT_NE(melody.redo(), nullptr);
    EXPECT_EQ(melody.file().bytes, after_bytes);
    EXPECT_EQ(melody.source().gbk_text, gbk);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WordEdits,
    testing::ValuesIn(std::vector<WordsRow>{
        {"OneCharacterEachSentence",
         kSpring,
         "秋眠不觉晓，处处闻啼燕。\n夜来风雪声，叶落知多少。",
         {true, true, true, true}},
        {"ThirdSentenceLonger",
         kSpring,
         "春眠不觉晓，处处闻啼鸟。\n夜来风雨声声急，花落知多少。",
         {true, true, false, true}},
        {"FirstAndLastShorter",
         kSpring,
         "春眠不觉，处处闻啼鸟。\n夜来风雨声，花落多少。",
         {false, true, true, false}},
        {"LatinWords",
         kRow,
         "Row row row your ship, softly down the long stream.\nMerrily merrily merrily merrily, "
         "life is but a dream.",
         {true, false, true, true}},
    }),
    test::RowName{});

TEST(WordEdit, ASentenceComposedAnewComesFromTheStateItsNotesCameFrom) {
    const Source source = source_of(kSpring, 5);
    EditableMelody melody(source);
    Edit sentence{EditKind::sentence};
    sentence.sentence = 2;
    sentence.state = Generators(991).state();
    ASSERT_FALSE(melody.apply(sentence).error);
    const std::string words = "春眠不觉晓，处处闻啼鸟。\n夜来风雨声声急，花落知多少。";
    ASSERT_FALSE(melody.apply(words_edit(words)).error);
    std::string joined = words;
    std::erase(joined, '\n');
    const std::string gbk = utf8_to_gbk(joined).gbk;
    const ComposeOutcome donor = composed_from(source, gbk, sentence.state);
    const auto [first, end] = melody.sentence_notes(2);
    ASSERT_LT(first, end);
    for (int i = first; i < end; ++i) {
        EXPECT_EQ(melody.melody().notes[static_cast<std::size_t>(i)],
                  donor.nt_seq[static_cast<std::size_t>(i)]);
    }

    // Later sentence edits compose the new words.
    Edit later{EditKind::sentence};
    later.sentence = 0;
    later.state = Generators(4242).state();
    ASSERT_FALSE(melody.apply(later).error);
    const ComposeOutcome other = composed_from(source, gbk, later.state);
    const auto [head, head_end] = melody.sentence_notes(0);
    for (int i = head; i < head_end; ++i) {
        EXPECT_EQ(melody.melody().notes[static_cast<std::size_t>(i)],
                  other.nt_seq[static_cast<std::size_t>(i)]);
    }
}

TEST(WordEdit, RefusesWordsThatCannotBeSungAndKeepsTheSameWordsAsNoStep) {
    struct Row {
        const char* name;
        std::string words;
        std::string reason;
    };
    const Row rows[] = {
        {"Empty", "", "请输入歌词！"},
        {"MarksOnly", "，。\n！", "请输入歌词！"},
        {"TooShort", "春眠", "歌词太短，没感觉！"},
        {"NothingGbkHas", "\xF0\x9F\x98\x80\xF0\x9F\x98\x81\xF0\x9F\x98\x82",
         "没有可用于作曲的字符"},
        {"InvalidUtf8", "春眠不觉晓\n处处\xFF闻啼鸟",
         "invalid UTF-8 in the new words at byte offset 22"},
        {"TooLong", std::string(kMaxWordBytes + 1, 'a'), "more than 32768 bytes"},
    };
    EditableMelody melody(source_of(kSpring, 9));
    const std::string bytes = melody.file().bytes;
    for (const Row& row : rows) {
        const Applied applied = melody.apply(words_edit(row.words));
        ASSERT_TRUE(applied.error) << row.name;
        EXPECT_NE(applied.error->find(row.reason), std::string::npos)
            << row.name << ": " << *applied.error;
        EXPECT_FALSE(melody.can_undo()) << row.name;
        EXPECT_EQ(melody.file().bytes, bytes) << row.name;
    }
    // The same words in other lines make the same text: nothing changes, nothing to undo.
    const Applied same =
        melody.apply(words_edit("春眠不觉晓，\n处处闻啼鸟。夜来风雨声，花落知多少。"));
    EXPECT_FALSE(same.error);
    EXPECT_FALSE(same.step.changed());
    EXPECT_FALSE(melody.can_undo());

    // A refusal while replaying names the item by its start, whatever its length.
    const auto refused =
        EditableMelody(source_of(kSpring, 9))
            .apply_all({Edit{EditKind::step, 0, 1}, words_edit(std::string(200, 'x') + "\xff")});
    ASSERT_TRUE(refused);
    EXPECT_NE(refused->find("item 2 \"w:78787878"), std::string::npos) << *refused;
    EXPECT_LT(refused->size(), 200u);
}

/// Words for the spring lyric: each sentence as it is or with a syllable more or less.
std::string random_words(std::mt19937_64& random) {
    const std::array<std::array<const char*, 3>, 4> sentences = {{
        {"春眠不觉晓，", "春眠不觉，", "秋眠不觉晓时，"},
        {"处处闻啼鸟。", "处处闻啼燕。", "处处闻鸟。"},
        {"夜来风雨声，", "夜来风雨声声急，", "昨夜风雪声，"},
        {"花落知多少。", "叶落知多少。", "花落知多少啊。"},
    }};
    std::string words;
    for (std::size_t s = 0; s < 4; ++s) {
        words += sentences[s][random() % 3];
        if (s == 1) words += "\n";
    }
    return words;
}

TEST(WordEdit, PitchAndWordEditsUndoToTheExactBytesAndReplayFromTheirText) {
    std::mt19937_64 random(20261211);
    for (int round = 0; round < 6; ++round) {
        const Source source = source_of(kSpring, random());
        EditableMelody melody(source);
        struct State {
            std::string bytes;
            std::string text;
            std::vector<std::array<int, 4>> pairs;
        };
        auto state_now = [&melody] {
            return State{melody.file().bytes, melody.source().gbk_text, graded(melody.grading())};
        };
        std::vector<State> after_each{state_now()};
        for (int k = 0; k < 14; ++k) {
            const int notes = static_cast<int>(melody.melody().notes.size());
            Edit edit;
            if (random() % 3 == 0) {
                edit = words_edit(random_words(random));
            } else if (random() % 2 == 0) {
                edit = Edit{EditKind::pitch, static_cast<int>(random() % notes),
                            48 + static_cast<int>(random() % 36)};
            } else {
                edit = Edit{EditKind::step, static_cast<int>(random() % notes),
                            random() % 2 == 0 ? 1 : -1};
            }
            const Applied applied = melody.apply(edit);
            ASSERT_FALSE(applied.error) << *applied.error;
            if (applied.step.changed()) after_each.push_back(state_now());
            // One note a syllable of the words sung, graded by their tones.
            ASSERT_EQ(melody.melody().notes.size(), melody.check().syllables().size());
            ASSERT_EQ(melody.melody().lyrics.size(), melody.melody().notes.size());
            ASSERT_EQ(graded(melody.grading()),
                      graded(melody.check().grade(melody.melody().notes)));
        }
        ASSERT_EQ(after_each.size(), melody.applied() + 1);

        const ParsedEdits parsed = parse_edits(edits_text(melody.edits()));
        ASSERT_EQ(parsed.error, "");
        EditableMelody replayed(source);
        ASSERT_EQ(replayed.apply_all(parsed.edits), std::nullopt);
        EXPECT_EQ(replayed.file().bytes, after_each.back().bytes);

        for (std::size_t k = after_each.size() - 1; k-- > 0;) {
            ASSERT_NE(melody.undo(), nullptr);
            const State now = state_now();
            ASSERT_EQ(now.bytes, after_each[k].bytes) << "undo " << k;
            ASSERT_EQ(now.text, after_each[k].text) << "undo " << k;
            ASSERT_EQ(now.pairs, after_each[k].pairs) << "undo " << k;
        }
        for (std::size_t k = 1; k < after_each.size(); ++k) {
            ASSERT_NE(melody.redo(), nullptr);
            ASSERT_EQ(melody.file().bytes, after_each[k].bytes) << "redo " << k;
            ASSERT_EQ(melody.source().gbk_text, after_each[k].text) << "redo " << k;
        }
    }
}

}  // namespace
}  // namespace quavella::edit
