// quavella-cli's tone check as a user runs it: analyze --tones, compose --tones
// against the notes of the file it writes (read back with midicsv), and
// compose --best-of against single compositions from the same seed.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/support/cli_runner.h"
#include "tests/support/files.h"
#include "tests/support/tools.h"

namespace quavella::test {
namespace {

class CliTones : public testing::Test {
protected:
    /// Runs the CLI in the scratch directory on the sample quatrain.
    CliRun run(std::vector<std::string> args) {
        args.push_back(QUAVELLA_SAMPLES_DIR "/chunxiao.txt");
        return run_cli(args, "", dir_.path());
    }

    /// The note numbers of a MIDI file in order, as midicsv reads them.
    std::vector<int> notes_of(const std::string& file) {
        if (const std::string missing = missing_midicsv(); !missing.empty()) {
            ADD_FAILURE() << missing;
            return {};
        }
        std::vector<int> notes;
        for (const CsvRecord& record : midicsv_records(file)) {
            if (record.size() == 6 && record[2] == "Note_on_c" && record[5] != "0") {
                notes.push_back(std::stoi(record[4]));
            }
        }
        return notes;
    }

    std::string path(const std::string& name) const { return dir_.file(name); }

    ScratchDir dir_;
};

/// Every match of `pattern`'s first group in `text`, in order.
std::vector<std::string> all_of(const std::string& text, const std::string& pattern) {
    std::vector<std::string> found;
    const std::regex re(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator();
         ++it) {
        found.push_back((*it)[1]);
    }
    return found;
}

TEST_F(CliTones, AnalyzePrintsTheTonesOfEachSentence) {
    const CliRun r = run({"analyze", "--tones"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "layout: 5 -1 5 -1 5 -1 5 -1\n"
              "stc_cnt=4 pause_cnt=0 val_sum=16 val_avg=4\n"
              "sentence 1: 春1 眠2 不4 觉2 晓3\n"
              "sentence 2: 处4 处4 闻2 啼2 鸟3\n"
              "sentence 3: 夜4 来2 风1 雨3 声1\n"
              "sentence 4: 花1 落4 知1 多1 少3\n");
}

TEST_F(CliTones, AnalyzeReadsACharacterByItsWord) {
    // 地 is dì in 地上, not de, its customary reading.
    const CliRun r =
        run_cli({"analyze", "--tones", QUAVELLA_SAMPLES_DIR "/jingyesi.txt"}, "", dir_.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("sentence 2: 疑2 是4 地4 上4 霜1\n"), std::string::npos) << r.out;
}

TEST_F(CliTones, ComposeGradesTheIntervalsOfTheWrittenMelody) {
    const CliRun r = run({"compose", "--seed", "42", "--tones", "-o", "song.mid"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<int> notes = notes_of(path("song.mid"));
    ASSERT_EQ(notes.size(), 20u);

    // Four pairs in each five-syllable sentence, none across a sentence end.
    std::vector<std::string> expected;
    for (int s = 0; s < 4; ++s) {
        for (int k = 0; k < 4; ++k) {
            const int interval = notes[s * 5 + k + 1] - notes[s * 5 + k];
            expected.push_back((interval > 0 ? "+" : "") + std::to_string(interval));
        }
    }
    EXPECT_EQ(all_of(r.out, R"(\S\S ([+-]?\d+) (?:good|fair|acceptable|contrary))"), expected);

    const auto agreeing = all_of(r.out, R"(tone score: \d+% \((\d+) of 16 pairs good or fair)");
    ASSERT_EQ(agreeing.size(), 1u) << r.out;
    const auto good_or_fair = all_of(r.out, R"(\S\S [+-]?\d+ (good|fair)\b)");
    EXPECT_EQ(std::stoul(agreeing[0]), good_or_fair.size());
}

TEST_F(CliTones, BestOfPrintsEveryCandidateAndKeepsTheFirstHighest) {
    const CliRun r =
        run({"compose", "--seed", "42", "--best-of", "8", "--tones", "-o", "best.mid"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto states = all_of(r.out, R"((?:^|\n)candidate=\d+ state=(\d+:\d+) tones=)");
    const auto agreeing =
        all_of(r.out, R"((?:^|\n)candidate=\d+ state=\S+ tones=\d+% \((\d+) of 16\))");
    ASSERT_EQ(states.size(), 8u) << r.out;
    ASSERT_EQ(agreeing.size(), 8u) << r.out;
    EXPECT_EQ(states[0], "42:42");  // the seed's state: the first press

    std::size_t best = 0;
    for (std::size_t k = 1; k < agreeing.size(); ++k) {
        if (std::stoi(agreeing[k]) > std::stoi(agreeing[best])) best = k;
    }
    const auto chosen = all_of(r.out, R"(file=best\.mid candidate=(\d+) state=)");
    ASSERT_EQ(chosen.size(), 1u) << r.out;
    EXPECT_EQ(std::stoul(chosen[0]), best + 1);
    EXPECT_EQ(all_of(r.out, R"(file=best\.mid candidate=\d+ state=(\d+:\d+))")[0], states[best]);
    EXPECT_EQ(all_of(r.out, R"(tone score: \d+% \((\d+) of 16)"),
              std::vector<std::string>{agreeing[best]});

    // The first candidate is the melody a single composition from the seed makes.
    const CliRun single = run({"compose", "--seed", "42", "--tones", "-o", "single.mid"});
    ASSERT_EQ(single.status, 0) << single.err;
    EXPECT_EQ(all_of(single.out, R"(tone score: \d+% \((\d+) of 16)"),
              std::vector<std::string>{agreeing[0]});
    if (best == 0) {
        EXPECT_EQ(read_file(path("best.mid")), read_file(path("single.mid")));
    } else {
        EXPECT_NE(read_file(path("best.mid")), read_file(path("single.mid")));
    }
}

TEST_F(CliTones, BestOfToAnUnwritableFileReportsNothingAsWritten) {
    const CliRun r = run({"compose", "--seed", "1", "--best-of", "3", "-o", "no/such/dir.mid"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("cannot write 'no/such/dir.mid'"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace quavella::test
