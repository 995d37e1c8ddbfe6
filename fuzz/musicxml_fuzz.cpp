// Fuzz target: the MusicXML export of a composition. The first bytes choose the
// three list positions and the seed, the rest is the GBK lyric text. The melody
// is composed without a file, built into a score and written as MusicXML; the
// document is parsed back with pugixml and every sung note, its syllable and
// every measure's length are checked against the composition.
#include <cstdint>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "composer/compose_request.h"
#include "composer/draws.h"
#include "composer/message_sink.h"
#include "export/export_text.h"
#include "export/musicxml.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_input.h"
#include "lyrics/gbk_text.h"
#include "notation/score.h"

namespace {

/// A text as the exports promise it: valid UTF-8 without C0, DEL or C1 control
/// characters, not empty and without blanks at its ends.
bool printable(std::string_view text) {
    if (text.empty() || quavella::find_invalid_utf8(text)) return false;
    if (text.front() == ' ' || text.back() == ' ') return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 || b == 0x7F) return false;
        // C1 controls, U+0080..U+009F, are C2 80..C2 9F in UTF-8.
        if (b == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0)
            return false;
    }
    return true;
}

/// The MIDI key of a <pitch>, read as a notation program would.
int key_of(pugi::xml_node pitch) {
    static constexpr int steps[] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    const std::string_view step = pitch.child_value("step");
    if (step.size() != 1 || step[0] < 'A' || step[0] > 'G') return -1000;
    return (pitch.child("octave").text().as_int() + 1) * 12 + steps[step[0] - 'A'] +
           pitch.child("alter").text().as_int();
}

bool has_tie(pugi::xml_node note, std::string_view type) {
    for (auto t = note.child("tie"); t; t = t.next_sibling("tie")) {
        if (type == t.attribute("type").value()) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quavella;
    fuzz::FuzzInput in(data, size);
    const fuzz::ComposeInput request(in);
    if (request.too_long()) return 0;
    const auto [speed, mode, timbre, seed, gbk] = request;

    Generators gens(seed);
    QuietSink sink;
    const ComposeOutcome out = compose_melody(gbk, speed, mode, timbre, gens, sink);
    const notation::Score score = notation::build_score(notation::melody_from(gbk, out));
    const notation::Melody& melody = score.melody;
    FUZZ_CHECK(
        melody.notes.size() == out.nt_seq.size() && melody.lyrics.size() == out.nt_seq.size(),
        "melody of %zu notes, %zu lyrics; composed %zu", melody.notes.size(), melody.lyrics.size(),
        out.nt_seq.size());

    const std::string text = exports::musicxml_document(score);
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size());
    FUZZ_CHECK(parsed, "document does not parse: %s at %td", parsed.description(), parsed.offset);
    const pugi::xml_node root = doc.child("score-partwise");
    FUZZ_CHECK(root && std::string_view(root.attribute("version").value()) == "4.0",
               "root element");
    FUZZ_CHECK(root.select_nodes("part").size() == 1, "%zu parts",
               root.select_nodes("part").size());
    FUZZ_CHECK(root.select_nodes(".//clef").size() == 1, "one clef");
    FUZZ_CHECK(root.select_node(".//metronome/per-minute").node().text().as_int() == out.tempo,
               "tempo mark");
    if (const auto title = root.child("work").child("work-title")) {
        FUZZ_CHECK(printable(title.text().get()), "work title '%s'", title.text().get());
    }
    const int divisions = root.select_node(".//attributes/divisions").node().text().as_int();
    FUZZ_CHECK(divisions > 0 && notation::kTicksPerBeat % divisions == 0, "divisions %d",
               divisions);
    const int ticks_per_division = notation::kTicksPerBeat / divisions;
    // Written pitch + the part's transposition = the sounding, composed key.
    const pugi::xml_node transpose = root.select_node(".//attributes/transpose").node();
    const int transposition = transpose.child("chromatic").text().as_int() +
                              12 * transpose.child("octave-change").text().as_int();

    // The sung notes: a pitched note that does not stop a tie starts one; tied
    // pieces add to it. Each is the composed key and duration; its syllable, if
    // any, is the text the exports give that note.
    struct Sung {
        int key;
        long ticks;
        bool has_text;
        std::string text;
    };
    std::vector<Sung> sung;
    bool tied = false;
    std::size_t measures = 0;
    for (auto measure = root.child("part").child("measure"); measure;
         measure = measure.next_sibling("measure")) {
        ++measures;
        FUZZ_CHECK(measure.attribute("number").as_ullong() == measures, "measure %zu numbered %s",
                   measures, measure.attribute("number").value());
        long total = 0;
        for (auto note = measure.child("note"); note; note = note.next_sibling("note")) {
            const int duration = note.child("duration").text().as_int();
            FUZZ_CHECK(duration > 0, "measure %zu: duration %d", measures, duration);
            total += duration;
            const auto lyric_text = note.child("lyric").child("text");
            if (!note.child("pitch")) {
                FUZZ_CHECK(note.child("rest") && !note.child("lyric") && !has_tie(note, "stop"),
                           "measure %zu: rest with a tie or a lyric", measures);
                tied = false;
                continue;
            }
            const int key = key_of(note.child("pitch")) + transposition;
            if (tied) {
                FUZZ_CHECK(has_tie(note, "stop"), "measure %zu: tie not stopped", measures);
                FUZZ_CHECK(!sung.empty() && key == sung.back().key && !lyric_text,
                           "measure %zu: tied piece differs from its note", measures);
                sung.back().ticks += long{duration} * ticks_per_division;
            } else {
                FUZZ_CHECK(!has_tie(note, "stop"), "measure %zu: tie stop without start", measures);
                sung.push_back({key, long{duration} * ticks_per_division, bool(lyric_text),
                                lyric_text.text().get()});
            }
            tied = has_tie(note, "start");
            if (lyric_text) {
                FUZZ_CHECK(printable(lyric_text.text().get()), "measure %zu: lyric text '%s'",
                           measures, lyric_text.text().get());
            }
        }
        FUZZ_CHECK(total == 4L * divisions, "measure %zu lasts %ld divisions, not %d", measures,
                   total, 4 * divisions);
    }
    FUZZ_CHECK(!tied, "the last note is tied to nothing");
    FUZZ_CHECK(measures == std::max<std::size_t>(score.bars.size(), 1), "%zu measures for %zu bars",
               measures, score.bars.size());

    FUZZ_CHECK(sung.size() == out.nt_seq.size(), "%zu sung notes written, %zu composed",
               sung.size(), out.nt_seq.size());
    std::size_t texts = 0;
    for (std::size_t i = 0; i < sung.size(); ++i) {
        FUZZ_CHECK(sung[i].key == out.nt_seq[i] && sung[i].ticks == out.tm_seq[i],
                   "note %zu written as %d for %ld ticks; composed %d for %d", i, sung[i].key,
                   sung[i].ticks, out.nt_seq[i], out.tm_seq[i]);
        const std::string expected = exports::sung_text(melody.lyrics[i]);
        FUZZ_CHECK(sung[i].has_text == !expected.empty() && sung[i].text == expected,
                   "note %zu sings '%s', the exports give '%s'", i, sung[i].text.c_str(),
                   expected.c_str());
        FUZZ_CHECK(!melody.lyrics[i].continuation || !sung[i].has_text,
                   "continuation %zu carries a syllable", i);
        texts += sung[i].has_text ? 1 : 0;
    }
    FUZZ_CHECK(root.select_nodes(".//lyric[text]").size() == texts,
               "%zu lyrics with text, %zu sung", root.select_nodes(".//lyric[text]").size(), texts);
    return 0;
}
