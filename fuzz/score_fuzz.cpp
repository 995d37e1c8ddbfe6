// Fuzz target: history rows into the score and onto the terminal. A row made of fuzz
// values (mostly sound, now and then extreme) is checked as the history checks what it
// reads; a row it trusts becomes the score the window and `history show` draw, whose bars
// are full and whose notes keep their durations; any melody at all, trusted or not, is
// written as a score within bounds; the text printed never holds a control character.
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "base/terminal_text.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_input.h"
#include "history/record.h"
#include "notation/score.h"

namespace {

using quavella::fuzz::FuzzInput;
using namespace quavella;

constexpr int kMaxNotes = 64;

/// Values from 0 to `usual` - 1; in an extreme row (one in 32, as a score of the longest
/// melody takes a while to write), now and then any 32-bit number.
int value(FuzzInput& in, int usual, bool extreme) {
    return extreme && in.below(8) == 0 ? static_cast<int>(static_cast<std::uint32_t>(in.number(4)))
                                       : in.below(usual);
}

std::string text(FuzzInput& in, int max) {
    std::string s(static_cast<std::size_t>(in.below(max + 1)), '\0');
    for (char& c : s) c = static_cast<char>(in.byte());
    return s;
}

/// Every byte the terminal would act on was turned into a visible escape.
void check_printable(const std::string& shown) {
    for (const char c : shown) {
        const auto b = static_cast<unsigned char>(c);
        FUZZ_CHECK(b == '\n' || (b >= 0x20 && b != 0x7F), "byte %02x reaches the terminal", b);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const bool extreme = in.below(32) == 0;
    const auto value = [&in, extreme](int usual) { return ::value(in, usual, extreme); };
    history::Record r;
    r.tempo = in.below(8) == 0 ? value(1200) : 100 + in.below(120);
    r.mode = value(4);
    r.program = value(128);
    const int notes = in.below(kMaxNotes + 1);
    for (int k = 0; k < notes; ++k) {
        r.notes.push_back(value(128));
        r.ticks.push_back(value(1000));
    }
    if (in.below(4) != 0) {
        for (int k = 0; k < notes; ++k) {
            notation::Lyric lyric;
            const int flags = in.byte();
            lyric.continuation = (flags & 1) != 0;
            lyric.pause_after = (flags & 2) != 0;
            lyric.sentence_end = (flags & 4) != 0;
            lyric.sentence = value(4);
            lyric.text = text(in, 6);
            r.syllables.push_back(std::move(lyric));
        }
    }
    const int width = in.below(200);
    r.gbk_text = std::string(in.rest());

    // Whatever the melody, trusted or not: a score within bounds, text safe to print.
    notation::Melody raw;
    raw.notes = r.notes;
    raw.ticks = r.ticks;
    raw.lyrics = r.syllables;
    raw.tempo = r.tempo;
    const notation::Score any = notation::build_score(raw);
    FUZZ_CHECK(any.bars.size() <= notation::kMaxScoreTicks / notation::kBarTicks + 1, "%zu bars",
               any.bars.size());
    check_printable(terminal_text(notation::score_text(any, width), true));

    if (history::record_fault(r)) return 0;  // the history reports and skips it
    const notation::Score score = notation::build_score(history::melody_of(r));
    FUZZ_CHECK(score.note_start.size() == r.notes.size(), "%zu note starts for %zu notes",
               score.note_start.size(), r.notes.size());
    std::vector<long> written(r.notes.size(), 0);
    for (const notation::Bar& bar : score.bars) {
        int filled = 0;
        for (const notation::Glyph& g : bar.glyphs) {
            filled += g.ticks;
            if (g.note >= 0) written[static_cast<std::size_t>(g.note)] += g.ticks;
        }
        FUZZ_CHECK(filled == notation::kBarTicks, "a bar of %d ticks", filled);
    }
    for (std::size_t k = 0; k < r.notes.size(); ++k) {
        FUZZ_CHECK(written[k] == r.ticks[k], "note %zu lasts %d ticks, written %ld", k, r.ticks[k],
                   written[k]);
    }
    check_printable(terminal_text(notation::score_text(score, width), true));
    return 0;
}
