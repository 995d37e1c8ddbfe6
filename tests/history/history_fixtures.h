// Shared by the history tests, the crash-writer helper and the benchmarks:
// compositions made up from a number or a random generator, and a
// field-by-field comparison of records.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "composer/style_tables.h"
#include "history/record.h"

namespace quavella::test {

using history::fill_items;
using history::Record;

/// A typical composition, different for every `n`, with `midi_bytes` of file.
inline Record sample_record(std::int64_t n, std::size_t midi_bytes = 400) {
    Record r;
    r.time_ms = 1700000000000 + n * 1000;
    // 春眠不觉晓，处处闻啼鸟。 then the number, on a second line.
    r.lyrics =
        "\xE6\x98\xA5\xE7\x9C\xA0\xE4\xB8\x8D\xE8\xA7\x89\xE6\x99\x93\xEF\xBC\x8C"
        "\xE5\xA4\x84\xE5\xA4\x84\xE9\x97\xBB\xE5\x95\xBC\xE9\xB8\x9F\xE3\x80\x82\n" +
        std::to_string(n);
    r.gbk_text = "\xB4\xBA\xC3\xDF\xB2\xBB\xBE\xF5\xCF\xFE\xA3\xAC" + std::to_string(n);
    r.speed_pos = static_cast<int>(n % 3);
    r.mode_pos = static_cast<int>(n % 4);
    r.timbre_pos = static_cast<int>(n % 10);
    fill_items(r);
    r.tempo = 100 + static_cast<int>(n % 100);
    r.mode = mode_number(r.mode_pos);
    r.program = 8 * r.timbre_pos;
    r.state = {0x9E3779B97F4A7C15ULL * static_cast<std::uint64_t>(n + 1),
               static_cast<std::uint32_t>(n * 2654435761U)};
    for (int k = 0; k < 28; ++k) {
        r.notes.push_back(55 + static_cast<int>((n + k * 7) % 24));
        r.ticks.push_back(60 * (1 + static_cast<int>((n + k) % 4)));
        notation::Lyric lyric;
        lyric.text = "\xE5\xA3\xB0";  // 声
        lyric.sentence = k / 7;
        lyric.sentence_end = k % 7 == 6;
        r.syllables.push_back(lyric);
    }
    r.midi.assign(midi_bytes, '\0');
    for (std::size_t i = 0; i < midi_bytes; ++i) {
        r.midi[i] = static_cast<char>((i * 31 + static_cast<std::size_t>(n)) & 0xFF);
    }
    if (n % 2 == 0) r.tone_score = 0.5 + static_cast<double>(n % 7) / 16;
    return r;
}

/// A composition with random contents, edge values included: empty lyrics and
/// files, quotes and tabs, out-of-list positions, the extreme generator states.
inline Record random_record(std::mt19937_64& rng) {
    const auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    static const std::string pieces[] = {"\xE6\x98\xA5",     "'",  "\t", "\n", "a",
                                         "\xF0\x9F\x8E\xB5", "\"", "\\", " ",  "\xEF\xBC\x8C"};
    Record r;
    r.time_ms = static_cast<std::int64_t>(rng() >> 20);
    for (int i = pick(30); i > 0; --i) r.lyrics += pieces[pick(10)];
    for (int i = pick(30); i > 0; --i) r.gbk_text += static_cast<char>(rng());
    r.speed_pos = pick(5) - 1;
    r.mode_pos = pick(6) - 1;
    r.timbre_pos = pick(12) - 1;
    fill_items(r);
    r.tempo = 100 + pick(100);
    r.mode = pick(4);
    r.program = pick(128);
    switch (pick(3)) {
        case 0:
            r.state = {~std::uint64_t{0}, ~std::uint32_t{0}};
            break;
        case 1:
            r.state = {0, 0};
            break;
        default:
            r.state = {rng(), static_cast<std::uint32_t>(rng())};
    }
    const int notes = pick(40);
    const bool with_syllables = pick(2) == 0;
    for (int k = 0; k < notes; ++k) {
        r.notes.push_back(pick(128));
        r.ticks.push_back(pick(2000));
        if (with_syllables) {
            notation::Lyric lyric;
            for (int i = pick(3); i > 0; --i) lyric.text += pieces[pick(10)];
            lyric.continuation = pick(2) == 0;
            lyric.pause_after = pick(2) == 0;
            lyric.sentence_end = pick(2) == 0;
            lyric.sentence = pick(4);
            r.syllables.push_back(lyric);
        }
    }
    for (int i = pick(3) == 0 ? 0 : pick(5000); i > 0; --i) r.midi += static_cast<char>(rng());
    if (pick(2) == 0) r.tone_score = static_cast<double>(pick(1000)) / 999;
    if (pick(3) == 0) {
        static const std::string edits[] = {"fix", "1+,2-h,s3:1:2,suit", "12:67"};
        r.edits = edits[pick(3)];
        // An earlier entry, usually; sometimes a number no earlier entry has.
        if (pick(2) == 0) r.origin = pick(4) == 0 ? static_cast<std::int64_t>(rng() >> 1) : 1;
    }
    return r;
}

/// `r` as the history gives it back as entry `id`: an origin that is not an earlier
/// entry's number names nothing and is read as none.
inline Record as_read(Record r, std::int64_t id) {
    if (r.origin && (*r.origin <= 0 || *r.origin >= id)) r.origin.reset();
    return r;
}

/// Compares two records field by field, naming the fields that differ.
inline ::testing::AssertionResult same_record(const Record& a, const Record& b) {
    std::string diff;
    const auto check = [&diff](bool equal, const char* field) {
        if (!equal) diff += std::string(" ") + field;
    };
    check(a.time_ms == b.time_ms, "time_ms");
    check(a.lyrics == b.lyrics, "lyrics");
    check(a.gbk_text == b.gbk_text, "gbk_text");
    check(a.edits == b.edits, "edits");
    check(a.origin == b.origin, "origin");
    check(a.speed_pos == b.speed_pos && a.mode_pos == b.mode_pos && a.timbre_pos == b.timbre_pos,
          "positions");
    check(a.speed_item == b.speed_item && a.mode_item == b.mode_item &&
              a.timbre_item == b.timbre_item,
          "items");
    check(a.tempo == b.tempo && a.mode == b.mode && a.program == b.program, "tempo/mode/program");
    check(a.state == b.state, "state");
    check(a.notes == b.notes, "notes");
    check(a.ticks == b.ticks, "ticks");
    bool syllables_equal = a.syllables.size() == b.syllables.size();
    for (std::size_t k = 0; syllables_equal && k < a.syllables.size(); ++k) {
        const notation::Lyric& x = a.syllables[k];
        const notation::Lyric& y = b.syllables[k];
        syllables_equal = x.text == y.text && x.continuation == y.continuation &&
                          x.pause_after == y.pause_after && x.sentence_end == y.sentence_end &&
                          x.sentence == y.sentence;
    }
    check(syllables_equal, "syllables");
    check(a.midi == b.midi, "midi");
    check(a.tone_score == b.tone_score, "tone_score");
    if (diff.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "records differ in" << diff;
}

}  // namespace quavella::test
