// The sentence melody builder against a plain vector implementation of the
// same steps: identical melodies and identical draws, for short and very long
// sentences and for motifs with few distinct notes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "composer/song.h"
#include "composer_test_support.h"

namespace quavella {
namespace {

// Straightforward build of one sentence melody with a std::vector.
Sequence reference_build(DrawSource& draws, const Sequence& area, Sequence melody, int cnt2) {
    int cnt1 = static_cast<int>(melody.size());
    const int direction = draws.random(2);
    auto at = [&melody](int i) { return melody[static_cast<std::size_t>(i)]; };
    if (cnt1 < cnt2) {
        while (cnt2 - cnt1 > cnt2 / 2) {
            const int h = cnt1 / 2;
            const int take = draws.random(h) + h;
            Sequence part = direction == 1 ? Sequence(melody.begin(), melody.begin() + take)
                                           : Sequence(melody.end() - take, melody.end());
            melody.insert(direction == 1 ? melody.begin() : melody.end(), part.begin(), part.end());
            cnt1 += take;
        }
        while (cnt1 < cnt2) {
            const int k = draws.random(3);
            if (k == 0) {
                const int j = draws.random(cnt1 / 2);
                melody.insert(melody.begin() + j, at(j));
            } else if (k == 1) {
                if (direction == 1) {
                    int i = 0;
                    while (i < cnt1 && at(i) == at(0)) ++i;
                    melody.insert(melody.begin(), i < cnt1 ? at(i) : at(0));
                } else {
                    int i = cnt1 - 1;
                    while (i >= 0 && at(i) == at(cnt1 - 1)) --i;
                    melody.push_back(i >= 0 ? at(i) : at(cnt1 - 1));
                }
            } else {
                const int j = draws.random(cnt1);
                const auto found = std::find(area.begin(), area.end(), at(j));
                const std::int32_t neighbour = found == area.begin() ? area[1] : *(found - 1);
                melody.insert(melody.begin() + j + (direction == 1 ? 0 : 1), neighbour);
            }
            ++cnt1;
        }
    } else if (cnt1 > cnt2) {
        const int extra = cnt1 - cnt2;
        if (cnt2 == 0)
            melody.clear();
        else if (direction == 1)
            melody.erase(melody.begin(), melody.begin() + extra);
        else
            melody.erase(melody.end() - 1 - extra, melody.end() - 1);
    }
    return melody;
}

TEST(BuildStcReference, SameMelodiesAndDrawsAsPlainVectorBuild) {
    const std::vector<int> lengths{0, 1, 2, 3, 5, 7, 9, 14, 40, 333, 1023, 1024, 2500, 9000};
    for (std::uint64_t seed = 1; seed <= 600; ++seed) {
        Generators picks(seed);
        // Motifs of 3 to 7 notes over 1, 2 or many distinct notes of the area.
        const Sequence& area = seven_tone_area();
        const int distinct = 1 + picks.random(3) * picks.random(7);
        const int first = picks.random(static_cast<int>(area.size()) - distinct);
        Sequence motif(static_cast<std::size_t>(3 + picks.random(5)));
        for (std::int32_t& note : motif)
            note = area[static_cast<std::size_t>(first + picks.random(distinct))];
        const int cnt2 = seed % 5 == 0 ? lengths[seed / 5 % lengths.size()] : picks.random(60);
        Sequence stc{cnt2};
        if (cnt2 > 2) stc = {cnt2 / 3, STC_PAUSE, cnt2 - cnt2 / 3};

        Generators draws(seed * 7919), reference_draws(seed * 7919);
        RecordingSink sink;
        Song song(draws, sink);
        SongProbe::set_area(song, area);
        const Sequence built = SongProbe::build_stc(song, motif, stc);
        const Sequence expected = reference_build(reference_draws, area, motif, cnt2);
        ASSERT_EQ(built, expected) << "seed " << seed << " cnt2 " << cnt2;
        ASSERT_EQ(draws.random(1 << 30), reference_draws.random(1 << 30)) << "seed " << seed;
        ASSERT_TRUE(sink.texts.empty());
    }
}

}  // namespace
}  // namespace quavella
