// Measures where composed melodies end their lines, over the lyric files named and
// several seeds each: 节拍契合 (line ends on beat 1 or 3 and a beat long) of single
// compositions, after 对齐节拍, after 对齐节拍 then 修正倒字 and after the two the
// other way round; the notes 对齐节拍 changes, as a share of the melody's notes, and
// the units; the contrary pairs (✗) before and after, so that one added shows.
// scripts/measure-rhythm.sh runs it over the samples and the quatrains of the tests:
//     rhythm_figures SEEDS FILE...
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "composer/song.h"
#include "edit/beat_check.h"
#include "edit/editable_melody.h"
#include "lyrics/gbk_text.h"
#include "tests/support/files.h"

namespace {

using namespace quavella;
using namespace quavella::edit;

struct Tally {
    long aligned = 0;
    long lines = 0;
    int melodies = 0;
    int all_aligned = 0;
    long contrary = 0;       // ✗ after
    int with_contrary = 0;   // melodies left with a ✗
    double changed_sum = 0;  // share of notes changed, summed
    double changed_max = 0;
    long units = 0;

    void add(const EditableMelody& melody, double changed = 0, long unit_changes = 0) {
        const BeatCheck check = check_beats(melody.melody());
        aligned += check.aligned();
        lines += check.checked();
        ++melodies;
        all_aligned += check.aligned() == check.checked() ? 1 : 0;
        const auto left = static_cast<long>(melody.grading().contrary().size());
        contrary += left;
        with_contrary += left > 0 ? 1 : 0;
        changed_sum += changed;
        changed_max = std::max(changed_max, changed);
        units += unit_changes;
    }

    void print(const char* name, bool repaired) const {
        std::printf("%-14s 节拍契合 %6.1f%% (%ld of %ld)  all lines %6.1f%%  ✗ %4ld (in %5.1f%%)",
                    name,
                    100.0 * static_cast<double>(aligned) / static_cast<double>(std::max(lines, 1L)),
                    aligned, lines, 100.0 * all_aligned / std::max(melodies, 1), contrary,
                    100.0 * with_contrary / std::max(melodies, 1));
        if (repaired) {
            std::printf("  notes changed mean %.1f%% max %.1f%%, units %.2f a melody",
                        100.0 * changed_sum / std::max(melodies, 1), 100.0 * changed_max,
                        static_cast<double>(units) / std::max(melodies, 1));
        }
        std::printf("\n");
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: rhythm_figures SEEDS FILE...\n");
        return 2;
    }
    const int seeds = std::max(1, std::atoi(argv[1]));
    Tally single;
    Tally aligned;
    Tally aligned_fixed;
    Tally fixed_aligned;
    Tally fixed_only;
    long contrary_added = 0;  // ✗ that 对齐节拍 added, in either order
    for (int f = 2; f < argc; ++f) {
        std::string text = test::read_file(argv[f]);
        std::erase(text, '\n');
        const std::string gbk = utf8_to_gbk(text).gbk;
        for (int k = 0; k < seeds; ++k) {
            const std::uint64_t seed = 1000003ull * static_cast<std::uint64_t>(k + 1);
            const Source source{gbk, k % 3, k % 4, 0, Generators(seed).state()};

            EditableMelody melody(source);
            single.add(melody);
            const std::size_t contrary_before = melody.grading().contrary().size();
            const double notes = static_cast<double>(melody.melody().notes.size());
            const int unit = time_unit(static_cast<int>(melody.melody().notes.size()));
            const Applied rhythm = melody.apply(Edit(EditKind::fix_rhythm));
            long units = 0;
            for (const Change& change : rhythm.step.changes) {
                units += std::labs(change.to_ticks - change.from_ticks) / unit;
            }
            aligned.add(melody, static_cast<double>(rhythm.step.changes.size()) / notes, units);
            contrary_added += static_cast<long>(melody.grading().contrary().size()) -
                              static_cast<long>(contrary_before);
            melody.apply(Edit(EditKind::fix_tones));
            aligned_fixed.add(melody, static_cast<double>(rhythm.step.changes.size()) / notes,
                              units);

            EditableMelody tones_first(source);
            tones_first.apply(Edit(EditKind::fix_tones));
            fixed_only.add(tones_first);
            const std::size_t contrary_fixed = tones_first.grading().contrary().size();
            const Applied after = tones_first.apply(Edit(EditKind::fix_rhythm));
            long units_after = 0;
            for (const Change& change : after.step.changes) {
                units_after += std::labs(change.to_ticks - change.from_ticks) / unit;
            }
            fixed_aligned.add(tones_first, static_cast<double>(after.step.changes.size()) / notes,
                              units_after);
            contrary_added += static_cast<long>(tones_first.grading().contrary().size()) -
                              static_cast<long>(contrary_fixed);
        }
    }
    std::printf("%d lyrics x %d seeds = %d melodies\n", argc - 2, seeds, single.melodies);
    // beat: 对齐节拍, fix: 修正倒字, in the order applied.
    single.print("single", false);
    aligned.print("beat", true);
    aligned_fixed.print("beat, fix", true);
    fixed_only.print("fix", false);
    fixed_aligned.print("fix, beat", true);
    std::printf("✗ added by 对齐节拍: %ld\n", contrary_added);
    return 0;
}
