// Fuzz target: edit lists and edit sequences. The first byte picks the speed
// and mode, the next eight seed the composition, one byte gives the length of an
// edit list's text that follows, one byte the number of random edits (three
// bytes each) that follow it; the rest is the lyric, GBK. Checks that a list
// reads back from its own text, that any sequence (lengths, rests and new words among
// its edits) keeps one note per syllable of the words sung (the first words, or a word
// edit's), those syllables, lengths of at least one unit, rests that are none or one
// per note, and whole bars, that undo gives back the exact bytes, words and chords and
// redo the edited ones, and that the edit list (chord items included) replays byte for
// byte and chord for chord.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "composer/compose_request.h"
#include "composer/draws.h"
#include "edit/beat_check.h"
#include "edit/editable_melody.h"
#include "edit/edits.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_input.h"
#include "harmony/chords.h"
#include "notation/score.h"

namespace {

using namespace quavella;

/// New words from two bytes: up to 63 pieces (characters, Latin words, marks, line
/// ends) drawn from a small set, so that sentences keep or change their syllable count.
std::string words_from(int count_byte, int pattern_byte) {
    static constexpr const char* kPieces[] = {
        "春", "眠",   "不", "觉", "晓", "，", "。",
        "\n", "love", "me", " ",  "la", "？", "\xF0\x9F\x98\x80"};
    std::string words;
    std::uint32_t state = static_cast<std::uint32_t>(pattern_byte) * 2654435761u + 1;
    for (int k = 0; k < count_byte % 64; ++k) {
        state = state * 1103515245u + 12345u;
        words += kPieces[(state >> 16) % std::size(kPieces)];
    }
    return words;
}

/// An edit from three bytes: a kind, a note (or sentence), a direction or pitch.
edit::Edit edit_from(fuzz::FuzzInput& in, int notes, std::uint64_t seed) {
    const int kind = in.below(static_cast<int>(edit::EditKind::regenerate_chords) + 1);
    if (static_cast<edit::EditKind>(kind) == edit::EditKind::words) {
        edit::Edit e(edit::EditKind::words);
        const int count = in.byte();
        e.words = words_from(count, in.byte());
        return e;
    }
    edit::Edit e(static_cast<edit::EditKind>(kind), in.byte() % (notes + 2) - 1,
                 in.byte() % 2 == 0 ? 1 : -1);
    if (kind >= static_cast<int>(edit::EditKind::lengthen)) e.amount = 0;
    if (e.kind == edit::EditKind::pitch) e.amount = (e.note * 37 + 11) & 127;
    if (e.kind == edit::EditKind::sentence) {
        e.sentence = (e.note + 8) % 6 - 1;  // -1 and 4 do not exist
        e.state = Generators(seed + static_cast<std::uint64_t>(e.note)).state();
    }
    if (e.kind == edit::EditKind::lock_chord || e.kind == edit::EditKind::unlock_chord ||
        e.kind == edit::EditKind::set_chord) {
        e.slot = e.note;  // -1 and past the last slot do not exist
        e.note = 0;
        const int pick = e.slot < 0 ? 0 : e.slot;
        e.chord = harmony::Chord{(pick * 7 + 2) % 12, static_cast<harmony::ChordKind>(pick % 5)};
    }
    return e;
}

void check_bars(const notation::Melody& melody) {
    const notation::Score score = notation::build_score(melody);
    long start = 0;
    for (std::size_t i = 0; i < melody.notes.size(); ++i) {
        FUZZ_CHECK(score.note_start[i] == start, "note %zu starts at %d, not %ld", i,
                   score.note_start[i], start);
        start += melody.ticks[i] + notation::rest_after(melody, i);
    }
    for (std::size_t b = 0; b < score.bars.size(); ++b) {
        int ticks = 0;
        for (const notation::Glyph& glyph : score.bars[b].glyphs) ticks += glyph.ticks;
        FUZZ_CHECK(ticks == notation::kBarTicks, "bar %zu holds %d ticks", b, ticks);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput in(data, size);
    const int flags = in.byte();
    const std::uint64_t seed = in.number(8);
    const std::size_t text_size = in.byte();
    std::string list_text;
    for (std::size_t k = 0; k < text_size && !in.empty(); ++k) {
        list_text += static_cast<char>(in.byte());
    }

    // The text form: what is read prints back to a text that reads the same.
    const edit::ParsedEdits parsed = edit::parse_edits(list_text);
    if (parsed.error.empty()) {
        const edit::ParsedEdits again = edit::parse_edits(edit::edits_text(parsed.edits));
        FUZZ_CHECK(again.error.empty() && again.edits == parsed.edits,
                   "the list does not read back from its own text: %s", again.error.c_str());
    } else {
        FUZZ_CHECK(parsed.edits.empty(), "a refused list kept edits");
    }

    const int random_edits = in.byte() % 17;
    std::vector<std::uint8_t> edit_bytes;
    for (int k = 0; k < 3 * random_edits && !in.empty(); ++k) edit_bytes.push_back(in.byte());
    const std::string gbk(in.rest());
    if (gbk.size() > 1024 || lyric_refusal(gbk)) return 0;

    const edit::Source source{gbk, flags % 3, (flags >> 2) % 4, (flags >> 4) % 10,
                              Generators(seed).state()};
    edit::EditableMelody melody(source);
    const std::string original = melody.file().bytes;
    const std::vector<harmony::Chord> original_chords = melody.chords().chords;
    const notation::Melody composed = melody.composed();
    const int notes = static_cast<int>(composed.notes.size());
    if (notes == 0) return 0;

    (void)melody.apply_all(parsed.edits);
    fuzz::FuzzInput edits_in(edit_bytes.data(), edit_bytes.size());
    while (!edits_in.empty()) {
        const edit::Edit e = edit_from(edits_in, notes, seed);
        // New words may leave lengths or rests off the grid of the new unit (half a beat
        // becomes a beat below 28 notes): a line end no change of units can mend stays.
        const std::size_t unmendable =
            e.kind == edit::EditKind::fix_rhythm
                ? edit::align_beats(melody.melody(),
                                    time_unit(static_cast<int>(melody.melody().notes.size())))
                      .left.size()
                : 0;
        const edit::Applied applied = melody.apply(e);
        if (e.kind != edit::EditKind::fix_rhythm || applied.error) continue;
        // 对齐节拍 leaves every line end it can mend on the beat, and no pitch changed.
        FUZZ_CHECK(edit::check_beats(melody.melody()).off_notes().size() == unmendable,
                   "对齐节拍 left %zu line ends off the beat, not %zu",
                   edit::check_beats(melody.melody()).off_notes().size(), unmendable);
        for (const edit::Change& change : applied.step.changes) {
            FUZZ_CHECK(change.from_pitch == change.to_pitch, "对齐节拍 moved note %d", change.note);
        }
    }

    const notation::Melody& edited = melody.melody();
    bool any_rest = edited.rests.empty();
    for (const int rest : edited.rests) {
        FUZZ_CHECK(rest >= 0, "a rest of %d ticks", rest);
        any_rest = any_rest || rest > 0;
    }
    FUZZ_CHECK(any_rest, "rests kept when there is none");
    // The words sung: the first ones, whose composition may not match them, or those
    // of a word edit, which sing one note a syllable.
    const bool reworded = melody.words() != nullptr;
    const std::vector<notation::Lyric> sung =
        reworded
            ? notation::lyrics_of(melody.check().syllables(), melody.check().syllables().size())
            : composed.lyrics;
    FUZZ_CHECK(edited.notes.size() == sung.size() && edited.ticks.size() == sung.size() &&
                   edited.lyrics.size() == sung.size(),
               "%zu notes sing %zu syllables", edited.notes.size(), sung.size());
    FUZZ_CHECK(edited.rests.empty() || edited.rests.size() == edited.notes.size(),
               "%zu rests for %zu notes", edited.rests.size(), edited.notes.size());
    const int unit = time_unit(notes);
    for (std::size_t i = 0; i < edited.notes.size(); ++i) {
        FUZZ_CHECK(edited.notes[i] >= 0 && edited.notes[i] <= 127, "note %zu is %d", i,
                   edited.notes[i]);
        FUZZ_CHECK(edited.ticks[i] > 0, "note %zu lasts %d", i, edited.ticks[i]);
        // New words may change the unit (28 notes and more take half a beat).
        FUZZ_CHECK(reworded || edited.ticks[i] >= std::min(unit, composed.ticks[i]),
                   "note %zu shortened below a unit: %d", i, edited.ticks[i]);
        FUZZ_CHECK(
            edited.lyrics[i].text == sung[i].text && edited.lyrics[i].sentence == sung[i].sentence,
            "note %zu lost its syllable", i);
    }
    check_bars(edited);

    const std::string final_bytes = melody.file().bytes;
    edit::EditableMelody replayed(source);
    const auto refused = replayed.apply_all(melody.edits());
    FUZZ_CHECK(!refused, "the edit list does not replay: %s", refused->c_str());
    FUZZ_CHECK(replayed.file().bytes == final_bytes, "the replay made other bytes");
    const std::vector<harmony::Chord> final_chords = melody.chords().chords;
    const std::vector<bool> final_locks = melody.locked();
    FUZZ_CHECK(replayed.chords().chords == final_chords && replayed.locked() == final_locks,
               "the replay made other chords");
    FUZZ_CHECK(final_chords.size() == final_locks.size(), "%zu chords but %zu locks",
               final_chords.size(), final_locks.size());

    const std::string final_words = melody.source().gbk_text;
    while (melody.undo() != nullptr) {
    }
    FUZZ_CHECK(melody.file().bytes == original, "undo did not give back the composition");
    FUZZ_CHECK(melody.melody().rests.empty(), "undo left rests");
    FUZZ_CHECK(melody.source().gbk_text == gbk, "undo did not give back the first words");
    FUZZ_CHECK(melody.chords().chords == original_chords && melody.locks().empty(),
               "undo did not give back the chords as chosen, unlocked");
    while (melody.redo() != nullptr) {
    }
    FUZZ_CHECK(melody.file().bytes == final_bytes, "redo did not give back the edits");
    FUZZ_CHECK(melody.source().gbk_text == final_words, "redo did not give back the words");
    FUZZ_CHECK(melody.chords().chords == final_chords && melody.locked() == final_locks,
               "redo did not give back the chords");
    return 0;
}
