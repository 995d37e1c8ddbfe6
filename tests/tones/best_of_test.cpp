// Best of N against N single compose requests in a row from the same seed.
#include "tones/best_of.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "composer/compose_request.h"
#include "composer/message_sink.h"
#include "tone_test_support.h"

namespace quavella {
namespace {

std::string file_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class BestOfTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::path(testing::TempDir()) /
               ("best_of_" +
                std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::create_directories(dir_);
        gbk_ = utf8_to_gbk("春眠不觉晓，处处闻啼鸟。夜来风雨声，花落知多少。").gbk;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::filesystem::path dir_;
    std::string gbk_;
    const ToneCheck check_{
        test::syllables_of({"春眠不觉晓", "处处闻啼鸟", "夜来风雨声", "花落知多少"})};
    QuietSink quiet_;
};

TEST_F(BestOfTest, CandidatesAreTheCompositionsOfConsecutiveRequests) {
    constexpr int kCount = 12;
    Generators singles(20240611);
    std::vector<Generators::State> states;
    std::vector<ToneGrading> gradings;
    std::vector<ComposeOutcome> outcomes;
    for (int i = 0; i < kCount; ++i) {
        states.push_back(singles.state());
        outcomes.push_back(
            compose_lyrics(gbk_, 1, 2, 3, singles, quiet_, (dir_ / "single.mid").string()));
        gradings.push_back(check_.grade(outcomes.back().nt_seq));
    }

    Generators gens(20240611);
    const std::string out = (dir_ / "best.mid").string();
    const BestOf best = compose_best_of(gbk_, check_, kCount, 1, 2, 3, gens, quiet_, out);

    ASSERT_EQ(best.candidates.size(), static_cast<std::size_t>(kCount));
    std::size_t expected_best = 0;
    for (std::size_t i = 0; i < best.candidates.size(); ++i) {
        EXPECT_EQ(best.candidates[i].state, states[i]) << i;
        EXPECT_EQ(best.candidates[i].outcome.nt_seq, outcomes[i].nt_seq) << i;
        EXPECT_EQ(best.candidates[i].outcome.tm_seq, outcomes[i].tm_seq) << i;
        EXPECT_EQ(best.candidates[i].outcome.tempo, outcomes[i].tempo) << i;
        EXPECT_EQ(best.candidates[i].grading.agreeing(), gradings[i].agreeing()) << i;
        if (gradings[i].agreeing() > gradings[expected_best].agreeing()) expected_best = i;
    }
    EXPECT_EQ(best.best, expected_best);
    // The melodies differ, so the choice means something.
    EXPECT_NE(gradings.front().agreeing(), gradings[best.best].agreeing());
    // The generators stand where twelve requests leave them.
    EXPECT_EQ(gens.state(), singles.state());

    // The file is the one a single request from the best state writes.
    EXPECT_TRUE(best.midi_error.empty());
    Generators again(0);
    again.restore(best.candidates[best.best].state);
    const std::string single = (dir_ / "again.mid").string();
    compose_lyrics(gbk_, 1, 2, 3, again, quiet_, single);
    EXPECT_EQ(file_bytes(out), file_bytes(single));
    EXPECT_FALSE(file_bytes(out).empty());

    // Without a file name nothing is written, and the same choice is made from the
    // same candidates; the generators stand where they would with a file.
    Generators unwritten(20240611);
    const BestOf same = compose_best_of(gbk_, check_, kCount, 1, 2, 3, unwritten, quiet_, "");
    EXPECT_EQ(same.best, best.best);
    EXPECT_TRUE(same.midi_error.empty());
    EXPECT_EQ(same.candidates[same.best].outcome.nt_seq, best.candidates[best.best].outcome.nt_seq);
    EXPECT_EQ(unwritten.state(), gens.state());
}

TEST_F(BestOfTest, OneCandidateAtLeastAndAnUnwritableFileReported) {
    Generators gens(7);
    const BestOf best = compose_best_of(gbk_, check_, 0, 0, 0, 0, gens, quiet_,
                                        (dir_ / "no" / "such" / "dir.mid").string());
    ASSERT_EQ(best.candidates.size(), 1u);
    EXPECT_EQ(best.best, 0u);
    EXPECT_FALSE(best.midi_error.empty());
    EXPECT_EQ(best.candidates[0].outcome.midi_error, best.midi_error);
}

}  // namespace
}  // namespace quavella
