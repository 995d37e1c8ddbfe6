// Fuzz target: edit lists and edit sequences. The first byte picks the speed
// and mode, the next eight seed the composition, one byte gives the length of an
// edit list's text that follows, one byte the number of random edits (three
// bytes each) that follow it; the rest is the lyric, GBK. Checks that a list
// reads back from its own text, that any sequence keeps the notes' count, their
// syllables and whole bars, that undo gives back the exact bytes and chords and redo
// the edited ones, and that the edit list (chord items included) replays byte for byte
// and chord for chord.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "composer/compose_request.h"
#include "composer/draws.h"
#include "edit/editable_melody.h"
#include "edit/edits.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_input.h"
#include "harmony/chords.h"
#include "notation/score.h"

namespace {

using namespace quavella;

/// An edit from three bytes: a kind, a note (or sentence), a direction or pitch.
edit::Edit edit_from(fuzz::FuzzInput& in, int notes, std::uint64_t seed) {
    const int kind = in.below(7);
    edit::Edit e(static_cast<edit::EditKind>(kind), in.byte() % (notes + 2) - 1,
                 in.byte() % 2 == 0 ? 1 : -1);
    if (e.kind == edit::EditKind::pitch) e.amount = (e.note * 37 + 11) & 127;
    if (e.kind == edit::EditKind::sentence) {
        e.sentence = (e.note + 8) % 6 - 1;  // -1 and 4 do not exist
        e.state = Generators(seed + static_cast<std::uint64_t>(e.note)).state();
    }
    return e;
}

void check_bars(const notation::Melody& melody) {
    const notation::Score score = notation::build_score(melody);
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
    while (!edits_in.empty()) (void)melody.apply(edit_from(edits_in, notes, seed));

    const notation::Melody& edited = melody.melody();
    FUZZ_CHECK(edited.notes.size() == composed.notes.size() &&
                   edited.ticks.size() == composed.ticks.size(),
               "the note count changed");
    for (std::size_t i = 0; i < edited.notes.size(); ++i) {
        FUZZ_CHECK(edited.notes[i] >= 0 && edited.notes[i] <= 127, "note %zu is %d", i,
                   edited.notes[i]);
        FUZZ_CHECK(edited.ticks[i] > 0, "note %zu lasts %d", i, edited.ticks[i]);
        FUZZ_CHECK(edited.lyrics[i].text == composed.lyrics[i].text &&
                       edited.lyrics[i].sentence == composed.lyrics[i].sentence,
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

    while (melody.undo() != nullptr) {
    }
    FUZZ_CHECK(melody.file().bytes == original, "undo did not give back the composition");
    FUZZ_CHECK(melody.chords().chords == original_chords && melody.locks().empty(),
               "undo did not give back the chords as chosen, unlocked");
    while (melody.redo() != nullptr) {
    }
    FUZZ_CHECK(melody.file().bytes == final_bytes, "redo did not give back the edits");
    FUZZ_CHECK(melody.chords().chords == final_chords && melody.locked() == final_locks,
               "redo did not give back the chords");
    return 0;
}
