// The text form of edit lists: what is read, what is printed back, what is refused.
#include "edit/edits.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/row_name.h"

namespace quavella::edit {
namespace {

struct ReadRow {
    std::string name;
    std::string text;
    std::vector<Edit> edits;
    std::string printed;  // the canonical form printed back
};

Edit note_edit(EditKind kind, int note, int amount) {
    Edit edit{kind};
    edit.note = note;
    edit.amount = amount;
    return edit;
}

Edit sentence_edit(int sentence, std::uint64_t s, std::uint32_t t) {
    Edit edit{EditKind::sentence};
    edit.sentence = sentence;
    edit.state = Generators::State{s, t};
    return edit;
}

Edit words_edit(const std::string& words) {
    Edit edit{EditKind::words};
    edit.words = words;
    return edit;
}

Edit chord_edit(EditKind kind, int slot, harmony::Chord chord = {}) {
    Edit edit{kind};
    edit.slot = slot;
    edit.chord = chord;
    return edit;
}

class ReadEdits : public testing::TestWithParam<ReadRow> {};

TEST_P(ReadEdits, ReadsAndPrintsBack) {
    const ReadRow& row = GetParam();
    const ParsedEdits parsed = parse_edits(row.text);
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.edits, row.edits);
    EXPECT_EQ(edits_text(parsed.edits), row.printed);
    EXPECT_EQ(parse_edits(row.printed).edits, row.edits);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReadEdits,
    testing::ValuesIn(std::vector<ReadRow>{
        {"Empty", "", {}, ""},
        {"Blank", "  ", {}, ""},
        {"EveryKind",
         "1+,2-,3+h,4-h,5+o,6-o,7:67,s2:18446744073709551615:4294967295,fix,suit",
         {note_edit(EditKind::step, 0, 1), note_edit(EditKind::step, 1, -1),
          note_edit(EditKind::semitone, 2, 1), note_edit(EditKind::semitone, 3, -1),
          note_edit(EditKind::octave, 4, 1), note_edit(EditKind::octave, 5, -1),
          note_edit(EditKind::pitch, 6, 67), sentence_edit(1, 18446744073709551615ull, 4294967295u),
          Edit{EditKind::fix_tones}, Edit{EditKind::suit_tones}},
         "1+,2-,3+h,4-h,5+o,6-o,7:67,s2:18446744073709551615:4294967295,fix,suit"},
        {"LengthsAndRests",
         "12d+,1d-,3r+,40r-,2+",
         {Edit{EditKind::lengthen, 11}, Edit{EditKind::shorten, 0}, Edit{EditKind::add_rest, 2},
          Edit{EditKind::remove_rest, 39}, note_edit(EditKind::step, 1, 1)},
         "12d+,1d-,3r+,40r-,2+"},
        // The words as hex, either case read, lowercase printed; a line feed and any byte
        // travel as digits.
        {"Words",
         "1+,w:E698A5E79CA00a4c61,w:,2-",
         {note_edit(EditKind::step, 0, 1), words_edit("\xe6\x98\xa5\xe7\x9c\xa0\nLa"),
          words_edit(""), note_edit(EditKind::step, 1, -1)},
         "1+,w:e698a5e79ca00a4c61,w:,2-"},
        {"ChordItems",
         "k5+,k12-,k1:11:4,k3:0:0,kr",
         {chord_edit(EditKind::lock_chord, 4), chord_edit(EditKind::unlock_chord, 11),
          chord_edit(EditKind::set_chord, 0, {11, harmony::ChordKind::minor7_no5}),
          chord_edit(EditKind::set_chord, 2, {0, harmony::ChordKind::major}),
          Edit{EditKind::regenerate_chords}},
         "k5+,k12-,k1:11:4,k3:0:0,kr"},
        {"SpacesAroundItems",
         " 12+ , 3:0 ",
         {note_edit(EditKind::step, 11, 1), note_edit(EditKind::pitch, 2, 0)},
         "12+,3:0"},
    }),
    test::RowName{});

struct RefusedRow {
    std::string name;
    std::string text;
    std::size_t item;    // the item the message names, from 1
    std::string reason;  // a part of the message
};

class RefusedEdits : public testing::TestWithParam<RefusedRow> {};

TEST_P(RefusedEdits, NamesTheFaultyItem) {
    const RefusedRow& row = GetParam();
    const ParsedEdits parsed = parse_edits(row.text);
    EXPECT_TRUE(parsed.edits.empty());
    EXPECT_EQ(parsed.item, row.item);
    EXPECT_NE(parsed.error.find("item " + std::to_string(row.item) + " "), std::string::npos)
        << parsed.error;
    EXPECT_NE(parsed.error.find(row.reason), std::string::npos) << parsed.error;
}

INSTANTIATE_TEST_SUITE_P(Rows, RefusedEdits,
                         testing::ValuesIn(std::vector<RefusedRow>{
                             {"UnknownUnit", "1+,2+x", 2, "\"2+x\": after + or - comes"},
                             {"NoteZero", "0+", 1, "counted from 1"},
                             {"NoDirection", "5", 1, "expected a note number"},
                             {"Word", "fix,repair", 2, "\"repair\""},
                             {"PitchTooHigh", "3:128", 1, "0 to 127"},
                             {"PitchMissing", "3:", 1, "0 to 127"},
                             {"NegativePitch", "3:-1", 1, "0 to 127"},
                             {"HugeNote", "99999999999999999999999+", 1, "expected a note number"},
                             {"EmptyItem", "1+,,2+", 2, "empty item"},
                             {"LengthWithoutSign", "1d+,2d", 2, "expected +, -, :<pitch>, d+"},
                             {"RestWithoutSign", "3r", 1, "r+ or r-"},
                             {"RestTwiceSigned", "3r++", 1, "r+ or r-"},
                             {"LengthNoteZero", "0d+", 1, "counted from 1"},
                             {"ShellRedirection", "3>", 1, "r+ or r-"},
                             {"TrailingComma", "1+,", 2, "empty item"},
                             {"SentenceFive", "s5:1:2", 1, "sentence 5 does not exist"},
                             {"SentenceZero", "s0:1:2", 1, "sentence 0 does not exist"},
                             {"SentenceWithoutState", "s2", 1, "s<sentence>:<state>"},
                             {"StateTooLarge", "s2:1:4294967296", 1, "2^32-1"},
                             {"StateSigned", "s2:-1:2", 1, "2^64-1"},
                             {"WordsWithoutColon", "1+,w", 2, "w:<the new words"},
                             {"WordsOddDigits", "w:e69", 1, "hex digits, two a byte"},
                             {"WordsNotHex", "w:zz", 1, "hex digits, two a byte"},
                             {"WordsSigned", "w:-1", 1, "hex digits, two a byte"},
                             {"ChordSlotZero", "k0+", 1, "slots are counted from 1"},
                             {"ChordWithoutSlot", "k+", 1, "k<slot>+"},
                             {"ChordSlotAlone", "1+,k5", 2, "k<slot>+"},
                             {"ChordRootPastB", "k5:12:0", 1, "from 0 (C) to 11 (B)"},
                             {"ChordKindPastTheLast", "k5:7:5", 1, "kind from 0 to 4"},
                             {"ChordWithoutKind", "k5:7", 1, "kind from 0 to 4"},
                             {"ChordNegativeRoot", "k5:-1:0", 1, "from 0 (C)"},
                             {"ChordUnknownWord", "kall", 1, "k<slot>+"},
                         }),
                         test::RowName{});

TEST(EditListLimits, RefusesALongerListThanItKeeps) {
    std::string text = "1+";
    for (std::size_t k = 1; k < kMaxEdits; ++k) text += ",1+";
    EXPECT_EQ(parse_edits(text).edits.size(), kMaxEdits);
    const ParsedEdits over = parse_edits(text + ",1-");
    EXPECT_TRUE(over.edits.empty());
    EXPECT_NE(over.error.find(std::to_string(kMaxEdits)), std::string::npos);
    // The longest items all through are taken; a list padded past the bound of bytes
    // (numbers with thousands of leading zeros) is refused as a whole.
    const std::string longest = "s4:18446744073709551615:4294967295";
    std::string widest = longest;
    for (std::size_t k = 1; k < kMaxEdits; ++k) widest += "," + longest;
    EXPECT_EQ(parse_edits(widest).edits.size(), kMaxEdits);
    const ParsedEdits padded = parse_edits("1:" + std::string(3 << 20, '0') + "67");
    EXPECT_TRUE(padded.edits.empty());
    EXPECT_NE(padded.error.find(std::to_string(kMaxEditsBytes) + " bytes"), std::string::npos);
}

TEST(EditListLimits, TakesWordItemsOfTheLongestWordsBesideTheLongestList) {
    const std::string longest = "s4:18446744073709551615:4294967295";
    std::string text = longest;
    for (std::size_t k = 1; k < kMaxEdits - 8; ++k) text += "," + longest;
    const std::string words = "w:" + std::string(2 * kMaxWordBytes, 'a');
    for (int k = 0; k < 8; ++k) text += "," + words;
    const ParsedEdits parsed = parse_edits(text);
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.edits.back().words.size(), kMaxWordBytes);
    // Words one byte longer are refused by name, without the item's bytes past its start.
    const ParsedEdits over = parse_edits("1+,w:" + std::string(2 * kMaxWordBytes + 2, 'a'));
    EXPECT_EQ(over.item, 2u);
    EXPECT_NE(over.error.find("more than 32768 bytes"), std::string::npos) << over.error;
    EXPECT_LT(over.error.size(), 200u);
}

}  // namespace
}  // namespace quavella::edit
