// Scores built by hand for the export tests: a melody with its syllables cut
// into bars of 480 ticks, notes that cross a bar line split into tied glyphs,
// the last bar filled with rests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "composer/compose_request.h"
#include "composer/message_sink.h"
#include "composer/song.h"
#include "notation/score.h"

namespace quavella::export_test {

/// One sung note: MIDI key, ticks and the syllable (empty text and
/// `continuation` for a melisma).
struct SungNote {
    int key;
    int ticks;
    std::string text;
    bool continuation = false;
    bool sentence_end = false;
};

/// Cuts the notes into bars, more simply than build_score. Glyph lengths are whatever the bar lines
/// leave; the exports write lengths no single note value has as tied notes.
inline notation::Score score_of(const std::vector<SungNote>& notes, int tempo = 120,
                                int program = 0, std::string title = "") {
    notation::Score score;
    score.title = std::move(title);
    notation::Melody& m = score.melody;
    m.tempo = tempo;
    m.program = program;
    int sentence = 0;
    for (const SungNote& n : notes) {
        m.notes.push_back(n.key);
        m.ticks.push_back(n.ticks);
        notation::Lyric lyric;
        lyric.text = n.text;
        lyric.continuation = n.continuation;
        lyric.sentence_end = n.sentence_end;
        lyric.sentence = sentence;
        if (n.sentence_end && sentence < 3) ++sentence;
        m.lyrics.push_back(lyric);
    }
    long tick = 0;
    auto bar_at = [&](long t) -> notation::Bar& {
        const auto index = static_cast<std::size_t>(t / notation::kBarTicks);
        while (score.bars.size() <= index) score.bars.emplace_back();
        return score.bars[index];
    };
    for (std::size_t i = 0; i < notes.size(); ++i) {
        score.note_start.push_back(static_cast<int>(tick));
        long left = notes[i].ticks;
        bool first = true;
        while (left > 0) {
            const long in_bar = tick % notation::kBarTicks;
            const long take = std::min(left, notation::kBarTicks - in_bar);
            notation::Glyph g;
            g.note = static_cast<int>(i);
            g.start = static_cast<int>(in_bar);
            g.ticks = static_cast<int>(take);
            g.first = first;
            g.tie_to_next = take < left;
            g.underlines = take == 60 ? 1 : take == 30 ? 2 : 0;
            bar_at(tick).glyphs.push_back(g);
            first = false;
            tick += take;
            left -= take;
        }
    }
    if (tick % notation::kBarTicks != 0) {
        notation::Glyph rest;
        rest.start = static_cast<int>(tick % notation::kBarTicks);
        rest.ticks = notation::kBarTicks - rest.start;
        bar_at(tick).glyphs.push_back(rest);
    }
    return score;
}

/// The poem of the composition tests: 春眠不觉晓，处处闻啼鸟。夜来风雨声，花落知多少。
/// in GBK, one syllable per character, a sentence ending after every fifth.
inline const std::string kPoemGbk =
    "\xB4\xBA\xC3\xDF\xB2\xBB\xBE\xF5\xCF\xFE\xA3\xAC\xB4\xA6\xB4\xA6\xCE\xC5\xCC\xE4\xC4\xF1\xA1"
    "\xA3"
    "\xD2\xB9\xC0\xB4\xB7\xE7\xD3\xEA\xC9\xF9\xA3\xAC\xBB\xA8\xC2\xE4\xD6\xAA\xB6\xE0\xC9\xD9\xA1"
    "\xA3";
inline const std::vector<std::string> kPoemSyllables{"春", "眠", "不", "觉", "晓", "处", "处",
                                                     "闻", "啼", "鸟", "夜", "来", "风", "雨",
                                                     "声", "花", "落", "知", "多", "少"};

/// Composes `gbk_text` as the command line does and builds its score as the
/// command line and the score window do.
/// @param midi_file where the composition file's bytes are written, as the window does
inline notation::Score composed_score(const std::string& gbk_text, std::uint64_t seed, int speed,
                                      int timbre, const std::filesystem::path& midi_file) {
    Generators draws(seed);
    QuietSink sink;
    const ComposeOutcome outcome = compose_melody(gbk_text, speed, 0, timbre, draws, sink);
    std::ofstream(midi_file, std::ios::binary)
        << composition_file(outcome.tempo, outcome.program, outcome.nt_seq, outcome.tm_seq).bytes;
    return notation::build_score(notation::melody_from(gbk_text, outcome));
}

/// The poem composed (see composed_score).
inline notation::Score composed_poem(std::uint64_t seed, int speed, int timbre,
                                     const std::filesystem::path& midi_file) {
    return composed_score(kPoemGbk, seed, speed, timbre, midi_file);
}

}  // namespace quavella::export_test
