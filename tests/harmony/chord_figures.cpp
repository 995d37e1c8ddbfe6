// Measures the chords chosen under composed melodies, for each mode over the lyric
// files named and several seeds each, in the terms of the melody-harmonisation
// literature: strong-beat chord-tone ratio, clash rate, CTnCTR and PCS in sixteenth
// frames, chord-histogram entropy, changes per bar, the longest chord, the final
// chord on the final note, and locks kept. Prints one line per mode and one for all.
// scripts/measure-chords.sh runs it over the samples and the quatrains of the tests:
//     chord_figures SEEDS [WEIGHT=VALUE...] FILE...
// where a WEIGHT (a field of ChordWeights: clash=40, hold=5, ...) tries another value.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "composition/composition.h"
#include "harmony/chord_model.h"
#include "lyrics/gbk_text.h"
#include "tests/support/files.h"

namespace {

using namespace quavella;
using namespace quavella::harmony;

struct Tally {
    long strong = 0, strong_tones = 0, strong_clashes = 0;
    long frames = 0, chord_frames = 0, other_frames = 0, proper_frames = 0;
    double pcs_sum = 0;
    double entropy_sum = 0, changes_per_bar_sum = 0;
    int songs = 0, final_on_note = 0;
    double longest_bars = 0;
    long locks = 0, locks_kept = 0;

    void print(const char* name) const {
        std::printf(
            "%-22s songs=%4d strong-ct=%.3f clash=%.2f%% ctnctr=%.3f pcs=%.3f entropy=%.2f "
            "changes/bar=%.2f longest=%.1f bars final=%.0f%% locks=%.0f%%\n",
            name, songs,
            static_cast<double>(strong_tones) / static_cast<double>(std::max(strong, 1L)),
            100.0 * static_cast<double>(strong_clashes) / static_cast<double>(std::max(strong, 1L)),
            static_cast<double>(chord_frames + proper_frames) /
                static_cast<double>(std::max(chord_frames + other_frames, 1L)),
            pcs_sum / static_cast<double>(std::max(frames, 1L)), entropy_sum / std::max(songs, 1),
            changes_per_bar_sum / std::max(songs, 1), longest_bars,
            100.0 * final_on_note / std::max(songs, 1),
            100.0 * static_cast<double>(locks_kept) / static_cast<double>(std::max(locks, 1L)));
    }
    void add(const Tally& t) {
        strong += t.strong, strong_tones += t.strong_tones, strong_clashes += t.strong_clashes;
        frames += t.frames, chord_frames += t.chord_frames, other_frames += t.other_frames;
        proper_frames += t.proper_frames, pcs_sum += t.pcs_sum;
        entropy_sum += t.entropy_sum, changes_per_bar_sum += t.changes_per_bar_sum;
        songs += t.songs, final_on_note += t.final_on_note;
        longest_bars = std::max(longest_bars, t.longest_bars);
        locks += t.locks, locks_kept += t.locks_kept;
    }
};

/// Pitch consonance of a melody pitch over a chord tone below it: unison, thirds,
/// fifth and sixths +1, the fourth 0, the rest -1.
int consonance(int melody, int chord_pc) {
    switch (((melody - chord_pc) % 12 + 12) % 12) {
        case 0:
        case 3:
        case 4:
        case 7:
        case 8:
        case 9:
            return 1;
        case 5:
            return 0;
        default:
            return -1;
    }
}

/// The weights a command line may set, by name.
struct NamedWeight {
    const char* name;
    int ChordWeights::*field;
};
constexpr NamedWeight kWeights[] = {
    {"strong_beat", &ChordWeights::strong_beat},
    {"on_beat", &ChordWeights::on_beat},
    {"chord_tone", &ChordWeights::chord_tone},
    {"clash", &ChordWeights::clash},
    {"other_tone", &ChordWeights::other_tone},
    {"stepping_tone", &ChordWeights::stepping_tone},
    {"consonance", &ChordWeights::consonance},
    {"change", &ChordWeights::change},
    {"mid_bar_change", &ChordWeights::mid_bar_change},
    {"hold_after", &ChordWeights::hold_after},
    {"hold", &ChordWeights::hold},
    {"secondary_root", &ChordWeights::secondary_root},
    {"suspended", &ChordWeights::suspended},
    {"seventh_no_fifth", &ChordWeights::seventh_no_fifth},
    {"fifth_down", &ChordWeights::fifth_down},
    {"retrogression", &ChordWeights::retrogression},
    {"to_dominant", &ChordWeights::to_dominant},
    {"back_to_tonic", &ChordWeights::back_to_tonic},
    {"same_function", &ChordWeights::same_function},
};

/// Sets a weight from "NAME=VALUE"; false when it names none.
bool set_weight(const std::string& arg, ChordWeights& weights) {
    const std::size_t eq = arg.find('=');
    if (eq == std::string::npos) return false;
    for (const NamedWeight& w : kWeights) {
        if (arg.compare(0, eq, w.name) == 0 && eq == std::strlen(w.name)) {
            weights.*w.field = std::atoi(arg.c_str() + eq + 1);
            return true;
        }
    }
    return false;
}

ChordWeights weights_in_use;

void measure(const notation::Melody& melody, const Harmony& harmony, Tally& t) {
    const std::size_t n = melody.notes.size();
    std::vector<std::int64_t> start(n + 1, 0);
    for (std::size_t i = 0; i < n; ++i) start[i + 1] = start[i] + melody.ticks[i];
    const std::int64_t total = start[n];
    const auto chord_at = [&](std::int64_t tick) {
        return harmony.chords[static_cast<std::size_t>(tick / kSlotTicks)];
    };
    std::size_t note = 0;
    for (std::int64_t tick = 0; tick < total; tick += 30) {
        while (start[note + 1] <= tick) ++note;
        const int pitch = melody.notes[note];
        const Chord chord = chord_at(tick);
        if (tick % kSlotTicks == 0) {
            ++t.strong;
            const int c = clash_class(chord, pitch);
            t.strong_tones += c == 0;
            t.strong_clashes += c == 1;
        }
        ++t.frames;
        double pcs = 0;
        for (int pc : chord_tones(chord)) pcs += consonance(pitch, pc);
        t.pcs_sum += pcs / 3;
        if (is_chord_tone(chord, pitch)) {
            ++t.chord_frames;
        } else {
            ++t.other_frames;
            if (note + 1 < n && std::abs(melody.notes[note + 1] - pitch) <= 2 &&
                is_chord_tone(chord_at(start[note + 1]), melody.notes[note + 1]))
                ++t.proper_frames;
        }
    }
    // Variety: the histogram of chords over the slots, changes, the longest run.
    std::map<std::pair<int, int>, int> histogram;
    int changes = 0, run = 0, longest = 0;
    for (std::size_t k = 0; k < harmony.chords.size(); ++k) {
        const Chord c = harmony.chords[k];
        ++histogram[{c.root, static_cast<int>(c.kind)}];
        run = k > 0 && harmony.chords[k - 1] == c ? run + 1 : 1;
        if (run == 1 && k > 0) ++changes;
        longest = std::max(longest, run);
    }
    double entropy = 0;
    for (const auto& [chord, count] : histogram) {
        const double p = count / static_cast<double>(harmony.chords.size());
        entropy -= p * std::log(p);
    }
    const double bars = static_cast<double>(harmony.chords.size()) / 2;
    t.entropy_sum += entropy;
    t.changes_per_bar_sum += changes / bars;
    t.longest_bars = std::max(t.longest_bars, longest / 2.0);
    ++t.songs;
    t.final_on_note += harmony.chords.back().root == melody.notes.back() % 12;
}

/// Locks at three slots drawn from `rng`, each a chord of the scale: all kept?
void measure_locks(const notation::Melody& melody, std::mt19937& rng, Tally& t) {
    ChordRequest request = request_for(melody);
    request.weights = weights_in_use;
    const std::vector<Chord> vocabulary = chord_vocabulary(request.scale);
    const int slots = slot_count(request);
    std::vector<Lock> locks;
    for (int i = 0; i < 3; ++i)
        locks.push_back({static_cast<int>(rng() % static_cast<unsigned>(slots)),
                         vocabulary[rng() % vocabulary.size()]});
    request.locks = locks;
    const Harmony chosen = choose_chords(request);
    for (std::size_t i = 0; i < locks.size(); ++i) {
        // A later lock at the same slot wins.
        bool overridden = false;
        for (std::size_t j = i + 1; j < locks.size(); ++j)
            overridden |= locks[j].slot == locks[i].slot;
        if (overridden) continue;
        ++t.locks;
        t.locks_kept += chosen.chords[static_cast<std::size_t>(locks[i].slot)] == locks[i].chord;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: chord_figures SEEDS [WEIGHT=VALUE...] FILE...\n");
        return 2;
    }
    const int seeds = std::atoi(argv[1]);
    std::vector<std::string> lyrics;
    int first_file = 2;
    while (first_file < argc && set_weight(argv[first_file], weights_in_use)) ++first_file;
    for (int i = first_file; i < argc; ++i) {
        const GbkConversion text =
            lyric_text_from_input(test::read_file(argv[i]), LyricEncoding::utf8);
        if (!text.ok || text.gbk.size() < 10) {
            std::fprintf(stderr, "chord_figures: cannot use %s\n", argv[i]);
            return 1;
        }
        lyrics.push_back(text.gbk);
    }
    Tally all;
    std::mt19937 rng(2024);
    for (int mode = 0; mode < 4; ++mode) {
        Tally t;
        for (const std::string& gbk : lyrics) {
            for (int seed = 1; seed <= seeds; ++seed) {
                auto source = std::make_shared<CompositionSource>();
                source->gbk_text = gbk;
                source->mode_pos = mode;
                Generators gens(static_cast<std::uint64_t>(seed));
                QuietSink quiet;
                const Composed made = compose(source, gens, quiet);
                if (!made.error.empty()) continue;
                const notation::Melody& melody = made.composition->melody;
                ChordRequest request = request_for(melody);
                request.weights = weights_in_use;
                measure(melody, choose_chords(request), t);
                measure_locks(melody, rng, t);
            }
        }
        const std::string name = "mode " + std::to_string(mode) + " (" +
                                 std::to_string(mode_pitch_classes(mode).size()) + " tones)";
        t.print(name.c_str());
        all.add(t);
    }
    all.print("all");
    return 0;
}
