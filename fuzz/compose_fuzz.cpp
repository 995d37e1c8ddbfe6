// Fuzz target: the whole compose path. The first bytes choose the three list
// positions and the seed, the rest is the GBK lyric text. The composition file's
// bytes are read back by an independent strict reader and checked against the melody.
#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "composer/compose_request.h"
#include "composer/draws.h"
#include "composer/message_sink.h"
#include "composer/song.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/smf_reader.h"
#include "lyrics/gbk_text.h"
#include "lyrics/paragraph.h"
#include "lyrics/syllables.h"
#include "notation/score.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quavella;
    fuzz::FuzzInput in(data, size);
    const fuzz::ComposeInput request(in);
    if (request.too_long()) return 0;
    const auto [speed, mode, timbre, seed, gbk] = request;

    const Paragraph paragraph(gbk);
    const PhraseLayout layout = paragraph.get_layout();
    long syllables = 0;
    for (const auto v : layout) syllables += v > 0 ? v : 0;

    Generators gens(seed);
    QuietSink sink;
    const ComposeOutcome out = compose_melody(gbk, speed, mode, timbre, gens, sink);
    const CompositionFile file = composition_file(out.tempo, out.program, out.nt_seq, out.tm_seq);
    FUZZ_CHECK(file.error.empty(), "%s", file.error.c_str());
    FUZZ_CHECK(out.notes == syllables, "notes %d, syllables %ld", out.notes, syllables);
    FUZZ_CHECK(out.nt_seq.size() == static_cast<std::size_t>(out.notes) &&
                   out.tm_seq.size() == out.nt_seq.size(),
               "sequence lengths %zu %zu", out.nt_seq.size(), out.tm_seq.size());
    FUZZ_CHECK(out.tempo >= 100 && out.tempo <= 199, "tempo %d", out.tempo);

    std::string why;
    const auto smf = fuzz::read_smf(file.bytes, why);
    FUZZ_CHECK(smf.has_value(), "composition file rejected: %s", why.c_str());
    FUZZ_CHECK(smf->format == 1 && smf->ntracks == 2 && smf->division == 120,
               "format %d tracks %d division %d", smf->format, smf->ntracks, smf->division);

    // First track: key signature, tempo, program change, all at time 0.
    const auto& head = smf->tracks[0];
    FUZZ_CHECK(head.size() == 4, "first track holds %zu events", head.size());
    FUZZ_CHECK(head[0].meta == 0x59 && head[1].meta == 0x51 && head[2].status == 0xC1,
               "first track order");
    const std::uint32_t us = (std::uint32_t{head[1].data[0]} << 16) |
                             (std::uint32_t{head[1].data[1]} << 8) | head[1].data[2];
    FUZZ_CHECK(us == static_cast<std::uint32_t>(60000000 / out.tempo), "tempo %u", us);
    FUZZ_CHECK(head[2].data[0] == out.program, "program %d", head[2].data[0]);

    // Second track: note-on, note-off pairs on channel 1, back to back.
    const auto& notes = smf->tracks[1];
    FUZZ_CHECK(notes.size() == 2 * out.nt_seq.size() + 1, "melody track holds %zu events",
               notes.size());
    const int unit = out.notes >= 28 ? 60 : 120;
    std::uint32_t t = 0;
    for (std::size_t i = 0; i < out.nt_seq.size(); ++i) {
        const auto& on = notes[2 * i];
        const auto& off = notes[2 * i + 1];
        const int ticks = out.tm_seq[i];
        FUZZ_CHECK(ticks > 0 && ticks % unit == 0, "duration %d of note %zu, unit %d", ticks, i,
                   unit);
        FUZZ_CHECK(
            on.status == 0x91 && on.data[0] == out.nt_seq[i] && on.data[1] == 95 && on.tick == t,
            "note-on %zu", i);
        t += static_cast<std::uint32_t>(ticks);
        FUZZ_CHECK(off.status == 0x81 && off.data[0] == out.nt_seq[i] && off.tick == t,
                   "note-off %zu", i);
    }
    FUZZ_CHECK(notes.back().meta == 0x2F && notes.back().tick == t, "end of the melody track");

    // The score of the melody: one syllable per note, in UTF-8; each note's
    // written pieces add up to its duration, and every bar is full.
    FUZZ_CHECK(syllable_texts(gbk).size() == out.nt_seq.size(), "syllable texts %zu, notes %zu",
               syllable_texts(gbk).size(), out.nt_seq.size());
    const notation::Score score = notation::build_score(notation::melody_from(gbk, out));
    for (const notation::Lyric& lyric : score.melody.lyrics) {
        FUZZ_CHECK(!find_invalid_utf8(lyric.text), "syllable text is not UTF-8");
        FUZZ_CHECK(!lyric.continuation || lyric.text.empty(), "continuation with a text");
    }
    std::vector<long> written(out.nt_seq.size(), 0);
    for (const notation::Bar& bar : score.bars) {
        int sum = 0;
        for (const notation::Glyph& g : bar.glyphs) {
            sum += g.ticks;
            if (g.note >= 0) written[static_cast<std::size_t>(g.note)] += g.ticks;
        }
        FUZZ_CHECK(sum == notation::kBarTicks, "bar of %d ticks", sum);
    }
    for (std::size_t i = 0; i < written.size(); ++i) {
        FUZZ_CHECK(written[i] == out.tm_seq[i], "note %zu written as %ld ticks, composed %d", i,
                   written[i], out.tm_seq[i]);
    }
    return 0;
}
