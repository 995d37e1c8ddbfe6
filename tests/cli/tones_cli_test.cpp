// quavella-cli's tone check as a user runs it: analyze --tones, compose --tones
// against the notes of the file it writes (read back with midicsv), and
// compose --best-of against single compositions from the same seed.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

class CliTones : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("quavella-tones-cli-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    static std::string read_file(const std::string& file) {
        std::ifstream f(file, std::ios::binary);
        std::ostringstream s;
        s << f.rdbuf();
        return s.str();
    }
    static std::string quoted(const std::string& s) {
        std::string q = "'";
        for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return q + "'";
    }

    /// Runs the CLI in the test's directory on the sample quatrain.
    CliRun run(std::vector<std::string> args) {
        args.push_back(QUAVELLA_SAMPLES_DIR "/chunxiao.txt");
        std::string cmd = "cd " + quoted(dir_.string()) + " && " + quoted(QUAVELLA_CLI_PATH);
        for (const auto& a : args) cmd += " " + quoted(a);
        cmd += " >stdout 2>stderr";
        const int raw = std::system(cmd.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(path("stdout")),
                read_file(path("stderr"))};
    }

    /// The note numbers of a MIDI file in order, as midicsv reads them.
    std::vector<int> notes_of(const std::string& file) {
        const std::string csv = path("notes.csv");
        const std::string cmd = "midicsv " + quoted(file) + " " + quoted(csv);
        if (std::system(cmd.c_str()) != 0) {
            ADD_FAILURE() << "midicsv could not read " << file << " (is midicsv installed?)";
            return {};
        }
        std::vector<int> notes;
        std::istringstream lines(read_file(csv));
        const std::regex note_on(R"(^\s*2,\s*\d+,\s*Note_on_c,\s*\d+,\s*(\d+),\s*[1-9]\d*)");
        std::smatch m;
        for (std::string line; std::getline(lines, line);) {
            if (std::regex_search(line, m, note_on)) notes.push_back(std::stoi(m[1]));
        }
        return notes;
    }

    fs::path dir_;
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
