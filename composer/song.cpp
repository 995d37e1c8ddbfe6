// The composing stages of a Song, run in order by compose_melody().
#include "composer/song.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <utility>

#include "base/qassert.h"
#include "composer/note_rope.h"

namespace quavella {

namespace {

// Scale tables of the four modes, all built on C from G3 (55) to E5 (76).
const std::array<Sequence, 4> scale_tables{{
    {55, 57, 60, 62, 64, 67, 69, 72, 74, 76},
    {55, 57, 60, 62, 64, 65, 67, 69, 72, 74, 76},
    {55, 57, 59, 60, 62, 64, 67, 69, 71, 72, 74, 76},
    {55, 57, 59, 60, 62, 64, 65, 67, 69, 71, 72, 74, 76},
}};

constexpr int series_length = 28;

// Syllables of one sentence: the sum of its segment counts (pauses add 0).
int syllable_count(const Sequence& stc) {
    int sum = 0;
    for (std::int32_t e : stc)
        if (e > 0) sum += e;
    return sum;
}

// Position of `value` in `list`, or list.size() when absent.
std::size_t position_of(const Sequence& list, std::int32_t value) {
    return static_cast<std::size_t>(std::find(list.begin(), list.end(), value) - list.begin());
}

}  // namespace

std::span<const std::int32_t> mode_scale(int mode) {
    if (mode < 0 || mode > 3) return {};
    return scale_tables[static_cast<std::size_t>(mode)];
}

Song::Song(DrawSource& draws, MessageSink& messages) : draws_(draws), messages_(messages) {}

void Song::set_program(int value) { program = value; }
void Song::set_tempo(int value) { tempo_bpm = value; }
void Song::set_mode(int value) { mode = value; }

void Song::compose_melody(PhraseLayout a) {
    split_stc(a);
    mk_nt_area();
    if (nt_area.empty()) {
        // Without a note area there is no pitch to choose from: the melody
        // stays empty (and an empty composition is written).
        nt_seq_now.clear();
        tm_seq_now.clear();
        nt_cnt = 0;
        return;
    }
    make_nt_seq();
    build_all();
    smooth_leaps();
    nt_cnt = static_cast<int>(nt_seq_now.size());
    make_tm_seq();
}

void Song::split_stc(const PhraseLayout& a) {
    // The failure report quotes the expression exactly as written.
    QV_ASSERT_TEXT("song", std::count(a.begin(), a.end(), STC_END) == 4,
                   "count( a.begin(),a.end(),STC_END) == 4");
    std::size_t index = 0;
    for (std::int32_t value : a) {
        if (value == STC_END)
            ++index;
        else if (index < stc_seq.size())
            stc_seq[index].push_back(value);
    }
}

void Song::mk_nt_area() {
    if (mode < 0 || mode > 3) {
        messages_.show("mk_nt_area() error");
        return;
    }
    nt_area = scale_tables[static_cast<std::size_t>(mode)];
    const int n = static_cast<int>(nt_area.size());
    const int r = draws_.random(n / 3);
    first_nt = nt_area[static_cast<std::size_t>(r)];
    const int c = n - 2 - r;
    nt_range = draws_.random(c / 3) + (2 * c) / 3;
    if (nt_range == 8) nt_range = 9;
}

Sequence Song::make_series() {
    const int R = nt_range;
    Sequence series;
    series.reserve(series_length);
    for (;;) {
        const std::int32_t seed_a = draws_.random(R) + 1;
        const std::int32_t seed_b = draws_.random(R) + 1;
        series.assign({seed_a, seed_b});
        std::int32_t a = seed_a;
        std::int32_t b = seed_b;
        for (int i = 0; i < series_length - 2; ++i) {
            std::int32_t x = R > 0 ? (a + b) % R : 0;
            if (x == 0) x = draws_.random(R) + 1;
            series.push_back(x);
            a = R > 0 ? b % R : 0;
            b = R > 0 ? x % R : 0;
        }
        int p = series_length;
        for (int i = 2; i + 1 < series_length; ++i) {
            if (series[static_cast<std::size_t>(i)] == seed_a &&
                series[static_cast<std::size_t>(i) + 1] == seed_b) {
                p = i;
                break;
            }
        }
        if (p <= 11) continue;
        series.resize(static_cast<std::size_t>(p));
        break;
    }
    if (draws_.random(2) != 0) std::reverse(series.begin(), series.end());
    return series;
}

void Song::make_nt_seq() {
    Sequence series = make_series();

    // Distinct values (they lie in 0..12) and how often each occurs.
    std::array<std::int32_t, 13> occurrences{};
    for (std::int32_t v : series)
        if (v >= 0 && v <= 12) ++occurrences[static_cast<std::size_t>(v)];
    Sequence value_tally;
    Sequence value_count;
    for (std::int32_t v = 0; v <= 12; ++v) {
        if (occurrences[static_cast<std::size_t>(v)] > 0) {
            value_tally.push_back(v);
            value_count.push_back(occurrences[static_cast<std::size_t>(v)]);
        }
    }
    if (value_tally.size() != value_count.size()) messages_.show(" make_nt_seq1 error ! ");
    nt_range = static_cast<int>(value_tally.size());

    Sequence nt_pool;
    const std::size_t start = position_of(nt_area, first_nt);
    if (start < nt_area.size()) {
        for (std::size_t i = start;
             i < nt_area.size() && static_cast<int>(nt_pool.size()) < nt_range; ++i)
            nt_pool.push_back(nt_area[i]);
    } else {
        messages_.show(" make_nt_seq2 error ! ");
    }

    Sequence nt_slot(static_cast<std::size_t>(nt_range), 0);
    auto take_lowest = [&nt_pool](std::int32_t& slot) {
        if (nt_pool.empty()) return;
        slot = nt_pool.front();
        nt_pool.erase(nt_pool.begin());
    };
    // The first unassigned value that follows an occurrence of `value` gets
    // the lowest pool note.
    auto assign_follower = [&](std::int32_t value) {
        for (std::size_t i = 0; i + 1 < series.size(); ++i) {
            if (series[i] != value) continue;
            const std::size_t k = position_of(value_tally, series[i + 1]);
            if (k < nt_slot.size() && nt_slot[k] == 0) {
                take_lowest(nt_slot[k]);
                return;
            }
        }
    };

    if (!value_count.empty()) {
        // The rarest value gets the lowest note, its follower the next one.
        const auto i1 = static_cast<std::size_t>(
            std::min_element(value_count.begin(), value_count.end()) - value_count.begin());
        std::int32_t m = value_count[i1];
        take_lowest(nt_slot[i1]);
        assign_follower(value_tally[i1]);

        // The next-rarest value gets the highest note.
        std::size_t i2 = value_count.size();
        for (std::size_t i = i1 + 1; i < value_count.size(); ++i) {
            if (value_count[i] == m) {
                i2 = i;
                break;
            }
        }
        const std::int32_t most = *std::max_element(value_count.begin(), value_count.end());
        while (i2 == value_count.size() && m < most) {
            ++m;
            i2 = position_of(value_count, m);
        }
        if (i2 < value_count.size()) {
            if (nt_slot[i2] == 0 && !nt_pool.empty()) {
                nt_slot[i2] = nt_pool.back();
                nt_pool.pop_back();
            }
            if (nt_range > 7) assign_follower(value_tally[i2]);
        }
    }

    const auto unassigned = static_cast<std::size_t>(std::count(nt_slot.begin(), nt_slot.end(), 0));
    if (unassigned != nt_pool.size()) {
        messages_.show("error!");
        show_seq(nt_slot);
        show_seq(nt_pool);
    }

    for (std::size_t i = 1; i < nt_pool.size(); ++i) {
        const std::size_t k = draws_.shuffle() % (i + 1);
        std::swap(nt_pool[i], nt_pool[k]);
    }

    // Free slots, by ascending value, take the shuffled pool from its end.
    for (std::size_t z = unassigned; z > 0; --z) {
        const auto slot = std::find(nt_slot.begin(), nt_slot.end(), 0);
        if (slot == nt_slot.end() || z - 1 >= nt_pool.size()) break;
        *slot = nt_pool[z - 1];
    }

    std::array<std::int32_t, 13> note_of{};
    for (std::size_t k = 0; k < value_tally.size(); ++k)
        note_of[static_cast<std::size_t>(value_tally[k])] = nt_slot[k];
    for (std::int32_t& v : series) v = note_of[static_cast<std::size_t>(v)];

    nt_seq_now = std::move(series);
    cut_motifs();
}

void Song::cut_motifs() {
    const std::size_t q = nt_seq_now.size() / 4;
    for (std::size_t i = 0; i < 4; ++i) {
        const auto from = nt_seq_now.begin() + static_cast<std::ptrdiff_t>(i * q);
        nt_motif[i].assign(from, from + static_cast<std::ptrdiff_t>(q));
    }
}

void Song::show_seq(const Sequence& list) {
    std::string text;
    for (std::int32_t v : list) {
        text += std::to_string(v);
        text += ' ';
    }
    messages_.show(text);
}

void Song::build_all() {
    nt_seq_now.clear();
    for (std::size_t i = 0; i < 4; ++i) {
        const Sequence melody = build_stc(nt_motif[i], stc_seq[i]);
        nt_seq_now.insert(nt_seq_now.end(), melody.begin(), melody.end());
    }
}

Sequence Song::build_stc(Sequence motif, Sequence stc) {
    Sequence melody = std::move(motif);
    int cnt1 = static_cast<int>(melody.size());
    const int cnt2 = syllable_count(stc);
    const int direction = draws_.random(2);

    if (cnt1 < cnt2) {
        // Whole repeats: copy a front or back part of the melody.
        while (cnt2 - cnt1 > cnt2 / 2) {
            const int h = cnt1 / 2;
            const int take = draws_.random(h) + h;
            if (take <= 0) break;
            const auto n = static_cast<std::ptrdiff_t>(take);
            Sequence grown;
            grown.reserve(melody.size() + static_cast<std::size_t>(take));
            if (direction == 1) {
                grown.assign(melody.begin(), melody.begin() + n);
                grown.insert(grown.end(), melody.begin(), melody.end());
            } else {
                grown = melody;
                grown.insert(grown.end(), melody.end() - n, melody.end());
            }
            melody = std::move(grown);
            cnt1 += take;
        }

        // Single notes, one per step.
        if (cnt1 < cnt2 && !melody.empty()) {
            NoteRope rope(melody);
            while (cnt1 < cnt2) {
                const std::size_t size = rope.size();
                const int k = draws_.random(3);
                if (k == 0) {
                    const auto j = static_cast<std::size_t>(draws_.random(cnt1 / 2));
                    rope.insert(j, rope.at(j));
                } else if (k == 1) {
                    if (direction == 1)
                        rope.insert(0, rope.first_differing_from_front().value_or(rope.at(0)));
                    else
                        rope.insert(size,
                                    rope.last_differing_from_back().value_or(rope.at(size - 1)));
                } else if (k == 2) {
                    const auto j = static_cast<std::size_t>(draws_.random(cnt1));
                    const std::int32_t v = rope.at(j);
                    const std::size_t index = position_of(nt_area, v);
                    std::int32_t neighbour = 0;
                    if (index == nt_area.size()) {
                        messages_.show("build1 error!");
                        neighbour = nt_area.empty() ? v : nt_area.back();
                    } else if (index > 0) {
                        neighbour = nt_area[index - 1];
                    } else {
                        neighbour = nt_area.size() > 1 ? nt_area[1] : v;
                    }
                    rope.insert(direction == 1 ? j : j + 1, neighbour);
                } else {
                    messages_.show("build2 error!");
                }
                cnt1 = cnt1 + 1;
            }
            melody = rope.to_vector();
        }
    } else if (cnt1 > cnt2) {
        const int extra = cnt1 - cnt2;
        if (cnt2 == 0) {
            melody.clear();
        } else if (direction == 1) {
            melody.erase(melody.begin(), melody.begin() + extra);
        } else {
            melody.erase(melody.end() - 1 - extra, melody.end() - 1);
        }
        cnt1 = cnt2;
    }

    // The failure report quotes the expression exactly as written.
    QV_ASSERT_TEXT("song", cnt1 == cnt2, "cnt1==cnt2");
    return melody;
}

void Song::smooth_leaps() {
    for (std::size_t i = 1; i + 1 < nt_seq_now.size(); ++i) {
        const std::int32_t before = nt_seq_now[i - 1];
        const std::int32_t note = nt_seq_now[i];
        if (std::abs(note - before) > 5 && std::abs(note - nt_seq_now[i + 1]) > 5)
            nt_seq_now[i] = before;
    }
}

int Song::nt_area_index(std::int32_t note) {
    const std::size_t index = position_of(nt_area, note);
    if (index == nt_area.size()) messages_.show(std::to_string(note));
    return static_cast<int>(index);
}

void Song::make_tm_seq() {
    const int n = nt_cnt;
    const int unit = time_unit(n);
    Sequence d(static_cast<std::size_t>(std::max(n, 0)), 2);

    // Contour: turns of the line and repeated notes.
    bool rising = true;
    for (int k = 1; k < n; ++k) {
        const auto uk = static_cast<std::size_t>(k);
        const int p = nt_area_index(nt_seq_now[uk - 1]);
        const int c = nt_area_index(nt_seq_now[uk]);
        if (c == p) {
            // The second note repeating the first has no note before the pair.
            if (draws_.random(8) < 2 && k >= 2) d[uk - 2] -= 1;
        } else if (c > p) {
            if (!rising && draws_.random(5) < 2) d[uk - 1] += 1;
            rising = true;
        } else {
            if (rising && draws_.random(5) < 2) d[uk - 1] -= 1;
            rising = false;
        }
    }
    for (std::int32_t& units : d) units = std::max(units, 1);

    // Lyric structure: pauses and sentence ends lengthen the note reached.
    // A melody without notes still makes every draw but lengthens nothing.
    std::size_t cursor = 0;
    int counter = 0;
    auto lengthen = [&](std::int32_t by) {
        if (cursor < d.size()) d[cursor] += by;
    };
    for (int s = 0; s < 4; ++s) {
        for (std::int32_t e : stc_seq[static_cast<std::size_t>(s)]) {
            if (e == STC_PAUSE) {
                lengthen(draws_.random(6) < 3 ? 2 : 1);
            } else if (e > 0) {
                counter += e;
                cursor = static_cast<std::size_t>(counter - 1);
            }
        }
        lengthen(draws_.random(6) < 2 ? 3 : 2);
        if (s == 1 || s == 3) {
            if (draws_.random(6) < 2)
                lengthen(4);
            else if (cursor < d.size())
                d[cursor] *= 2;
        }
    }

    tm_seq_now.clear();
    tm_seq_now.reserve(d.size());
    for (std::int32_t units : d) tm_seq_now.push_back(units * unit);
}

}  // namespace quavella
