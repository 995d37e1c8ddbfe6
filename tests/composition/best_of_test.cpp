// Best of N against N single compositions in a row from the same seed.
#include "composition/best_of.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "composer/message_sink.h"
#include "lyrics/gbk_text.h"

namespace quavella {
namespace {

class BestOfTest : public testing::Test {
protected:
    BestOfTest() {
        auto s = std::make_shared<CompositionSource>();
        s->lines = {"春眠不觉晓，处处闻啼鸟。", "夜来风雨声，花落知多少。"};
        s->gbk_text = utf8_to_gbk(s->lines[0] + s->lines[1]).gbk;
        s->speed_pos = 1;
        s->mode_pos = 2;
        s->timbre_pos = 3;
        source_ = std::move(s);
    }

    std::shared_ptr<const CompositionSource> source_;
    QuietSink quiet_;
};

TEST_F(BestOfTest, CandidatesAreTheCompositionsOfConsecutiveRequests) {
    constexpr int kCount = 12;
    Generators singles(20240611);
    std::vector<CompositionPtr> expected;
    for (int i = 0; i < kCount; ++i)
        expected.push_back(compose(source_, singles, quiet_).composition);

    Generators gens(20240611);
    std::vector<CompositionPtr> heard;
    const BestOf best = compose_best_of(source_, kCount, gens, quiet_,
                                        [&](std::size_t index, const CompositionPtr& c) {
                                            EXPECT_EQ(index, heard.size());
                                            heard.push_back(c);
                                        });
    ASSERT_EQ(best.error, "");
    ASSERT_EQ(best.candidates.size(), std::size_t{kCount});
    ASSERT_EQ(heard.size(), std::size_t{kCount});
    std::size_t expected_best = 0;
    for (std::size_t i = 0; i < kCount; ++i) {
        SCOPED_TRACE(i);
        const ToneGrading& tones = expected[i]->tones;
        EXPECT_EQ(best.candidates[i].state, expected[i]->state);
        EXPECT_EQ(best.candidates[i].agreeing, tones.agreeing());
        EXPECT_EQ(best.candidates[i].graded, tones.graded());
        EXPECT_EQ(best.candidates[i].percent, tones.percent());
        EXPECT_EQ(heard[i]->midi, expected[i]->midi) << "the bytes of a single request";
        EXPECT_EQ(heard[i]->source, source_);
        if (scores_higher(tones, expected[expected_best]->tones)) expected_best = i;
    }
    EXPECT_EQ(best.best_index, expected_best);
    EXPECT_EQ(best.best, heard[expected_best]);
    // The melodies differ, so the choice means something.
    EXPECT_NE(expected.front()->tones.agreeing(), expected[expected_best]->tones.agreeing());
    // The generators stand where twelve requests leave them.
    EXPECT_EQ(gens.state(), singles.state());

    // Without a listener only the kept candidate is made whole: the same choice,
    // the same value.
    Generators quiet_gens(20240611);
    const BestOf alone = compose_best_of(source_, kCount, quiet_gens, quiet_);
    ASSERT_EQ(alone.error, "");
    EXPECT_EQ(alone.best_index, expected_best);
    for (std::size_t i = 0; i < kCount; ++i) {
        EXPECT_EQ(alone.candidates[i].state, best.candidates[i].state) << i;
        EXPECT_EQ(alone.candidates[i].agreeing, best.candidates[i].agreeing) << i;
        EXPECT_EQ(alone.candidates[i].graded, best.candidates[i].graded) << i;
    }
    const Composition& kept = *alone.best;
    EXPECT_EQ(kept.midi, expected[expected_best]->midi);
    EXPECT_EQ(kept.state, expected[expected_best]->state);
    EXPECT_EQ(kept.tones.counts, expected[expected_best]->tones.counts);
    ASSERT_EQ(kept.melody.lyrics.size(), expected[expected_best]->melody.lyrics.size());
    EXPECT_EQ(kept.melody.lyrics[0].text, "春");
    EXPECT_EQ(quiet_gens.state(), singles.state());
}

TEST_F(BestOfTest, KeepsOnlyTheBestHoweverManyCandidates) {
    // Memory does not grow with N: once told, a candidate is let go unless it leads.
    Generators gens(7);
    std::vector<std::weak_ptr<const Composition>> seen;
    const BestOf best =
        compose_best_of(source_, 40, gens, quiet_,
                        [&](std::size_t, const CompositionPtr& c) { seen.emplace_back(c); });
    ASSERT_EQ(seen.size(), 40u);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].expired(), i != best.best_index) << i;
    }
}

TEST_F(BestOfTest, OneCandidateAtLeast) {
    Generators gens(7);
    Generators single(7);
    const BestOf best = compose_best_of(source_, 0, gens, quiet_);
    ASSERT_EQ(best.candidates.size(), 1u);
    EXPECT_EQ(best.best_index, 0u);
    ASSERT_NE(best.best, nullptr);
    EXPECT_EQ(best.best->midi, compose(source_, single, quiet_).composition->midi);
}

}  // namespace
}  // namespace quavella
