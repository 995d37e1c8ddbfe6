// Building the score: the melody laid out in bars of 4/4, each note written
// with the numbered-notation symbols for its duration and place in the bar.
//
// Writing rules, for a note (or the part of it inside one bar):
// - off the beat, it stays inside its beat: the rest is tied over the beat line;
// - on a beat, whole beats are a digit and dashes (a dash shows each added
//   beat, so no beat is hidden); one and a half beats are a dotted digit;
//   anything left over is tied to the next symbol;
// - inside a beat: an eighth (one underline), sixteenth (two), thirty-second
//   (three), each starting where such a note may start; one and a half of them
//   at the start of its group are dotted.
// Rests are written one "0" per beat, never with dashes or dots.
#include "notation/score.h"

#include <algorithm>
#include <cstddef>

#include "composer/compose_request.h"
#include "composer/song.h"
#include "lyrics/gbk_text.h"
#include "lyrics/syllables.h"

namespace quavella::notation {

// The score reads a melody's ticks as the composition file stores them.
static_assert(kTicksPerBeat == kCompositionTicksPerBeat,
              "the score and the composition file count the same ticks per beat");

namespace {

constexpr int kSmallest = kTicksPerBeat / 8;  // a thirty-second note

struct Pitch {
    int degree;
    bool sharp;
};

/// Degree of each pitch class of C major, sharps for the black keys.
constexpr Pitch kPitchClass[12] = {{1, false}, {1, true},  {2, false}, {2, true},
                                   {3, false}, {4, false}, {4, true},  {5, false},
                                   {5, true},  {6, false}, {6, true},  {7, false}};

int floor_div(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

/// Underlines of a note shorter than a beat: 60 ticks -> 1, 30 -> 2, 15 -> 3, and
/// for lengths between those, the count of the next shorter one.
int underlines_for(int ticks) {
    int lines = 0;
    for (int v = kTicksPerBeat; v > ticks; v /= 2) ++lines;
    return lines;
}

/// Lays the notes and rests of one melody into bars.
class BarWriter {
public:
    explicit BarWriter(std::vector<Bar>& bars) : bars_(bars) {}

    /// Writes one note (or, with note = -1, a rest) of `ticks` from the current position.
    void write(int note, int midi, int ticks) {
        // Where the previous piece of this note sits, to tie it to the next one.
        std::size_t tied_bar = 0;
        std::size_t tied_glyph = 0;
        bool first = true;
        while (ticks > 0) {
            const int in_bar = pos_ % kBarTicks;
            if (in_bar == 0) bars_.emplace_back();
            Glyph g = piece(note < 0, in_bar, std::min(ticks, kBarTicks - in_bar));
            g.note = note;
            if (note >= 0) {
                const Pitch p = kPitchClass[((midi % 12) + 12) % 12];
                g.degree = p.degree;
                g.sharp = p.sharp;
                g.octave = floor_div(midi - 60, 12);
                g.first = first;
                if (!first) bars_[tied_bar].glyphs[tied_glyph].tie_to_next = true;
            }
            bars_.back().glyphs.push_back(g);
            tied_bar = bars_.size() - 1;
            tied_glyph = bars_.back().glyphs.size() - 1;
            first = false;
            pos_ += g.ticks;
            ticks -= g.ticks;
        }
    }

    /// Fills the last bar with rests.
    void finish() {
        const int in_bar = pos_ % kBarTicks;
        if (in_bar != 0) write(-1, 0, kBarTicks - in_bar);
        for (Bar& bar : bars_) mark_beams(bar);
    }

private:
    /// The first symbol of a span of `len` ticks starting `at` ticks into the bar.
    static Glyph piece(bool rest, int at, int len) {
        Glyph g;
        g.start = at;
        const int in_beat = at % kTicksPerBeat;
        if (in_beat == 0 && len >= kTicksPerBeat) {
            const int beats = len / kTicksPerBeat;
            if (rest) {
                g.ticks = kTicksPerBeat;
            } else if (beats == 1 && len >= kTicksPerBeat * 3 / 2) {
                g.ticks = kTicksPerBeat * 3 / 2;
                g.dotted = true;
            } else {
                g.ticks = beats * kTicksPerBeat;
                g.dashes = beats - 1;
            }
            return g;
        }
        // Inside one beat: the longest plain value that may start here.
        const int room = std::min(len, kTicksPerBeat - in_beat);
        for (int v = kTicksPerBeat / 2; v >= kSmallest; v /= 2) {
            if (v > room || in_beat % v != 0) continue;
            g.underlines = underlines_for(v);
            if (!rest && room == v + v / 2 && v / 2 >= kSmallest && len == room) {
                g.ticks = room;
                g.dotted = true;
            } else {
                g.ticks = v;
            }
            return g;
        }
        // Finer than any written value (a hand-made melody): one symbol for the
        // rest of the beat keeps every duration exact.
        g.ticks = room;
        g.underlines = underlines_for(room);
        return g;
    }

    /// Underlines continue between neighbours of the same beat.
    static void mark_beams(Bar& bar) {
        for (std::size_t i = 0; i + 1 < bar.glyphs.size(); ++i) {
            Glyph& a = bar.glyphs[i];
            const Glyph& b = bar.glyphs[i + 1];
            a.beam_with_next = a.underlines > 0 && b.underlines > 0 &&
                               a.start / kTicksPerBeat == b.start / kTicksPerBeat;
        }
    }

    std::vector<Bar>& bars_;
    int pos_ = 0;
};

/// The first sentence's syllables, a blank between two Latin pieces.
std::string title_of(const std::vector<Lyric>& lyrics) {
    std::string title;
    for (const Lyric& l : lyrics) {
        if (l.sentence != lyrics.front().sentence) break;
        if (l.continuation || l.text.empty()) continue;
        const auto ascii_word = [](unsigned char c) { return c < 0x80 && c > ' '; };
        if (!title.empty() && ascii_word(static_cast<unsigned char>(title.back())) &&
            ascii_word(static_cast<unsigned char>(l.text.front()))) {
            title += ' ';
        }
        title += l.text;
    }
    return title;
}

}  // namespace

std::string print_title(std::string_view sentence) {
    // Where a title ends: a line break or the punctuation a lyric's sentences end with.
    static constexpr std::string_view kStops[] = {"\n", "\r", ",",  ".",  ";",  ":",  "!",  "?",
                                                  "，", "。", "、", "；", "：", "！", "？", "…"};
    std::size_t end = sentence.size();
    for (const std::string_view stop : kStops) end = std::min(end, sentence.find(stop));
    const std::string_view text = sentence.substr(0, end);
    // Width in half-width units, a character at a time; cut where the ellipsis still fits.
    constexpr int kUnits = 2 * kTitleWidth;
    int units = 0;
    std::size_t fits = 0;  // bytes that fit with room for "…" after them
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80    ? 1
                             : lead >= 0xF0 ? 4
                             : lead >= 0xE0 ? 3
                             : lead >= 0xC0 ? 2
                                            : 1;
        length = std::min(length, text.size() - i);
        const int wide = length > 1 ? 2 : 1;
        if (units + wide > kUnits) return std::string(text.substr(0, fits)) + "…";
        units += wide;
        i += length;
        if (units <= kUnits - 2) fits = i;
    }
    return std::string(text);
}

std::vector<Lyric> lyrics_of(std::span<const SyllableText> syllables, std::size_t notes) {
    GbkToUtf8 to_utf8;
    std::vector<Lyric> lyrics;
    lyrics.reserve(notes);
    for (std::size_t i = 0; i < notes; ++i) {
        Lyric l;
        if (i < syllables.size()) {
            const SyllableText& s = syllables[i];
            l.text = to_utf8(s.text);
            l.continuation = s.continuation;
            l.pause_after = s.pause_after;
            l.sentence_end = s.sentence_end;
            l.sentence = s.sentence;
        }
        lyrics.push_back(std::move(l));
    }
    return lyrics;
}

Melody melody_from(std::string_view gbk_text, const ComposeOutcome& outcome) {
    Melody m;
    m.notes.assign(outcome.nt_seq.begin(), outcome.nt_seq.end());
    m.ticks.assign(outcome.tm_seq.begin(), outcome.tm_seq.end());
    m.tempo = outcome.tempo;
    m.mode = outcome.mode;
    m.program = outcome.program;
    m.lyrics = lyrics_of(syllable_texts(gbk_text), m.notes.size());
    return m;
}

Score build_score(Melody melody) {
    Score score;
    score.melody = std::move(melody);
    const Melody& m = score.melody;
    const std::size_t n = std::min(m.notes.size(), m.ticks.size());
    score.title = m.lyrics.empty() ? std::string() : title_of(m.lyrics);
    score.note_start.reserve(n);
    score.bars.reserve(static_cast<std::size_t>(n / 2 + 1));
    BarWriter writer(score.bars);
    int start = 0;
    for (std::size_t i = 0; i < n; ++i) {
        score.note_start.push_back(start);
        const int ticks = std::clamp(m.ticks[i], 0, kMaxScoreTicks - start);
        writer.write(static_cast<int>(i), std::clamp(m.notes[i], 0, 127), ticks);
        start += ticks;
        const int rest = std::min(rest_after(m, i), kMaxScoreTicks - start);
        writer.write(-1, 0, rest);
        start += rest;
    }
    writer.finish();
    return score;
}

int note_at_tick(const Score& score, long tick) {
    const std::vector<int>& starts = score.note_start;
    const auto after =
        std::upper_bound(starts.begin(), starts.end(), tick, [](long t, int s) { return t < s; });
    if (after == starts.begin()) return -1;
    const auto i = static_cast<std::size_t>(after - starts.begin() - 1);
    if (i >= score.melody.ticks.size()) return -1;
    return tick < starts[i] + static_cast<long>(score.melody.ticks[i]) ? static_cast<int>(i) : -1;
}

}  // namespace quavella::notation
