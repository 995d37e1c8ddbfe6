// Measures how well melodies sing their words, over the sample lyrics and several
// seeds each: single compositions, best of 20, best of 20 and 200 by sentence,
// and the two repairs. Prints one line per way of making a melody: the average
// tone score, the share of melodies left with a contrary pair, and for the
// repairs the notes changed. Built with -DQUAVELLA_BUILD_BENCHMARKS=ON; run by hand
// (it takes a few seconds): build/tests/edit/tone_figures [SEEDS]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "composer/compose_request.h"
#include "composer/message_sink.h"
#include "edit/editable_melody.h"
#include "lyrics/gbk_text.h"
#include "tests/support/files.h"

namespace {

using namespace quavella;
using namespace quavella::edit;

struct Tally {
    double score_sum = 0;
    int melodies = 0;
    int with_contrary = 0;
    int agreeing = 0;
    int graded = 0;
    double changed_sum = 0;  // share of notes changed, summed
    double changed_max = 0;

    void add(const ToneGrading& grading, double changed = 0) {
        score_sum += grading.score();
        ++melodies;
        with_contrary += grading.contrary().empty() ? 0 : 1;
        agreeing += grading.agreeing();
        graded += grading.graded();
        changed_sum += changed;
        changed_max = std::max(changed_max, changed);
    }
};

ToneGrading by_sentence(const Source& source, const ToneCheck& check, int count) {
    Generators gens;
    gens.restore(source.state);
    QuietSink quiet;
    return shape_by_sentence(source, check, count, gens, quiet).melody.grading();
}

}  // namespace

int main(int argc, char** argv) {
    const int seeds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    std::vector<std::filesystem::path> samples;
    for (const auto& entry : std::filesystem::directory_iterator(QUAVELLA_SAMPLES_DIR)) {
        samples.push_back(entry.path());
    }
    std::sort(samples.begin(), samples.end());

    std::map<std::string, Tally> tallies;
    const char* order[] = {"single",          "best of 20", "by sentence 20",
                           "by sentence 200", "修正倒字",   "全部契合"};
    QuietSink quiet;
    for (const auto& path : samples) {
        std::string text = test::read_file(path);
        std::erase(text, '\n');
        const std::string gbk = utf8_to_gbk(text).gbk;
        const ToneCheck check(syllable_texts(gbk));
        for (int k = 0; k < seeds; ++k) {
            const std::uint64_t seed = 1000003ull * static_cast<std::uint64_t>(k + 1);
            const Source source{gbk, k % 3, k % 4, 0, Generators(seed).state()};

            EditableMelody single(source);
            tallies["single"].add(single.grading());

            Generators gens(seed);
            std::optional<ToneGrading> best;
            for (int c = 0; c < 20; ++c) {
                ToneGrading g = check.grade(
                    compose_melody(gbk, source.speed_pos, source.mode_pos, 0, gens, quiet).nt_seq);
                if (!best || scores_higher(g, *best)) best = g;
            }
            tallies["best of 20"].add(*best);
            tallies["by sentence 20"].add(by_sentence(source, check, 20));
            tallies["by sentence 200"].add(by_sentence(source, check, 200));

            const double notes = static_cast<double>(single.melody().notes.size());
            for (const auto& [name, kind] : {std::pair{"修正倒字", EditKind::fix_tones},
                                             std::pair{"全部契合", EditKind::suit_tones}}) {
                EditableMelody repaired(source);
                const Applied applied = repaired.apply(Edit(kind));
                tallies[name].add(repaired.grading(),
                                  static_cast<double>(applied.step.changes.size()) / notes);
            }
        }
    }

    std::printf("%zu lyrics x %d seeds\n", samples.size(), seeds);
    std::printf("%-18s %10s %14s %14s %22s\n", "melody", "avg score", "pairs g/f", "with a ✗",
                "notes changed mean/max");
    for (const char* name : order) {
        const Tally& t = tallies[name];
        std::printf("%-18s %9.1f%% %13.1f%% %13.1f%%", name, 100.0 * t.score_sum / t.melodies,
                    100.0 * t.agreeing / std::max(t.graded, 1),
                    100.0 * t.with_contrary / t.melodies);
        if (t.changed_max > 0) {
            std::printf(" %10.1f%% / %5.1f%%", 100.0 * t.changed_sum / t.melodies,
                        100.0 * t.changed_max);
        }
        std::printf("\n");
    }
    return 0;
}
