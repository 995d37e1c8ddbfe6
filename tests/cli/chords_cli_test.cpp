// quavella-cli compose --chords, --arrangement, --pattern and --accompaniment: the
// chords printed and in JSON, the arrangement read back by mido, the composition
// file unchanged, the refusals.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/cli_runner.h"
#include "tests/support/files.h"
#include "tests/support/tools.h"

namespace {

using namespace quavella::test;

class CliChords : public ::testing::Test {
protected:
    void SetUp() override {
        write_file(path("poem.txt"), read_file(QUAVELLA_SAMPLES_DIR "/chunxiao.txt"));
    }
    std::string path(const std::string& name) const { return dir_.file(name); }
    CliRun run(const std::vector<std::string>& args) { return run_cli(args, "", dir_.path()); }

    ScratchDir dir_;
};

/// The lines after the first (the chord lines of --chords).
std::vector<std::string> lines_after_first(const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

std::string python(const std::string& json, const std::string& expression) {
    return shell_output("printf '%s' " + shell_quoted(json) + " | /usr/bin/python3 -c " +
                        shell_quoted("import json,sys; d=json.load(sys.stdin); " + expression));
}

TEST_F(CliChords, ChordsArePrintedAndTheCompositionStaysByteForByte) {
    const CliRun plain = run({"compose", "--seed", "42", "--mode", "3", "-o", "a.mid", "poem.txt"});
    ASSERT_EQ(plain.status, 0) << plain.err;
    const CliRun chords =
        run({"compose", "--seed", "42", "--mode", "3", "-o", "b.mid", "--chords", "--arrangement",
             "arr.mid", "--pattern", "broken", "--accompaniment", "吉他", "poem.txt"});
    ASSERT_EQ(chords.status, 0) << chords.err;
    EXPECT_EQ(read_file(path("a.mid")), read_file(path("b.mid")));
    EXPECT_NE(chords.out.find("file=b.mid arrangement=arr.mid\n"), std::string::npos) << chords.out;

    const std::regex line(
        "tick=([0-9]+) chord=[A-G]#?(m|sus2|sus4|m7\\(no5\\))? root=[A-G]#? "
        "kind=(major|minor|sus2|sus4|minor7-no5) degree=[0-7]");
    const std::vector<std::string> lines = lines_after_first(chords.out);
    ASSERT_GE(lines.size(), 4u);
    long last = -1;
    for (const std::string& l : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, line)) << l;
        const long tick = std::stol(m[1]);
        EXPECT_GT(tick, last);
        EXPECT_EQ(tick % 240, 0);
        last = tick;
    }
    EXPECT_EQ(lines.front().rfind("tick=0 ", 0), 0u);
    // The same seed chooses the same chords; without --chords none are printed.
    const CliRun again =
        run({"compose", "--seed", "42", "--mode", "3", "-o", "c.mid", "--chords", "poem.txt"});
    EXPECT_EQ(lines_after_first(again.out), lines);
    EXPECT_TRUE(lines_after_first(plain.out).empty());
}

TEST_F(CliChords, JsonListsTheSameChordsWithTheDocumentedFields) {
    if (shell_output("command -v /usr/bin/python3").empty()) GTEST_SKIP() << "python3 missing";
    const std::string fields = QUAVELLA_CLI_TESTS_DIR "/json_fields.py";
    const CliRun text = run({"compose", "--seed", "7", "-o", "t.mid", "--chords", "poem.txt"});
    const CliRun json =
        run({"compose", "--seed", "7", "-o", "j.mid", "--chords", "--json", "poem.txt"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(shell_output("printf '%s' " + shell_quoted(json.out) + " | /usr/bin/python3 " +
                           shell_quoted(fields) + " compose-chords"),
              "ok 1\n");
    std::string from_text;
    for (const std::string& l : lines_after_first(text.out)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(
            l, m, std::regex("tick=([0-9]+) chord=\\S+ root=(\\S+) kind=(\\S+) degree=([0-9])")));
        from_text += m[1].str() + " " + m[2].str() + " " + m[3].str() + " " + m[4].str() + "\n";
    }
    EXPECT_EQ(python(json.out,
                     "print(''.join('%d %s %s %d\\n' % (c['tick'], c['root'], c['kind'], "
                     "c['degree']) for c in d['chords']), end='')"),
              from_text);
    EXPECT_EQ(python(json.out, "print(d['exports']['arrangement'])"), "None\n");

    const CliRun shaped = run({"compose", "--seed", "7", "-o", "s.mid", "--edits", "1+,fix",
                               "--chords", "--json", "--arrangement", "s-arr.mid", "poem.txt"});
    ASSERT_EQ(shaped.status, 0) << shaped.err;
    EXPECT_EQ(shell_output("printf '%s' " + shell_quoted(shaped.out) + " | /usr/bin/python3 " +
                           shell_quoted(fields) + " compose-shaped-chords"),
              "ok 1\n");
    EXPECT_EQ(python(shaped.out, "print(d['exports']['arrangement'])"), "s-arr.mid\n");

    // Chord items set the chords printed: slot 1 (tick 0) set to G, slot 2 to Am.
    const CliRun set = run({"compose", "--seed", "7", "-o", "k.mid", "--edits", "k1:7:0,k2:9:1",
                            "--chords", "--json", "poem.txt"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(python(set.out, "print(d['edits'], d['chords'][0], d['chords'][1])"),
              "k1:7:0,k2:9:1 {'tick': 0, 'root': 'G', 'kind': 'major', 'degree': 5} "
              "{'tick': 240, 'root': 'A', 'kind': 'minor', 'degree': 6}\n");
}

TEST_F(CliChords, ArrangementHoldsTheCompositionsMelodyAndTheAccompaniment) {
    const std::string missing = missing_mido();
    if (!missing.empty()) FAIL() << missing;
    const CliRun r =
        run({"compose", "--seed", "3", "--timbre", "小提琴", "-o", "m.mid", "--arrangement",
             "arr.mid", "--accompaniment", "48", "--karaoke", "k.kar", "poem.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string reader = QUAVELLA_HARMONY_TESTS_DIR "/read_arrangement.py";
    const auto read = [&](const std::string& file) {
        return shell_output("/usr/bin/python3 " + shell_quoted(reader) + " " +
                            shell_quoted(path(file)));
    };
    const std::string arranged = read("arr.mid");
    const std::string melody = read("m.mid");
    EXPECT_EQ(arranged.substr(0, arranged.find('\n')), "type 1 3 120");
    EXPECT_NE(arranged.find("program 2 1 40\n"), std::string::npos) << arranged;
    EXPECT_NE(arranged.find("program 3 2 48\n"), std::string::npos) << arranged;
    // Track 2 of each file: the same notes on channel 2 (index 1).
    const auto track = [](const std::string& text, const std::string& prefix) {
        std::string out;
        std::istringstream in(text);
        for (std::string l; std::getline(in, l);)
            if (l.rfind(prefix, 0) == 0) out += l + "\n";
        return out;
    };
    EXPECT_FALSE(track(melody, "note 2 1 ").empty());
    EXPECT_EQ(track(arranged, "note 2 "), track(melody, "note 2 "));
    EXPECT_FALSE(track(arranged, "note 3 2 ").empty());
    EXPECT_TRUE(track(arranged, "note 3 ") == track(arranged, "note 3 2 "));
    // The karaoke file plays the melody on its fourth track and the same accompaniment on
    // its fifth.
    const std::string karaoke = read("k.kar");
    EXPECT_EQ(karaoke.substr(0, karaoke.find('\n')), "type 1 5 120");
    const auto untracked = [](std::string t) {  // the track number left out of each line
        for (std::size_t at = 0; (at = t.find("note ", at)) != std::string::npos; at += 5)
            t[at + 5] = 'X';
        return t;
    };
    EXPECT_EQ(untracked(track(karaoke, "note 5 ")), untracked(track(arranged, "note 3 ")));
    EXPECT_EQ(untracked(track(karaoke, "note 4 ")), untracked(track(melody, "note 2 ")));
}

TEST_F(CliChords, RefusalsAreOneLineAndWriteNothing) {
    struct Row {
        std::vector<std::string> args;
        std::string message;
    };
    const Row rows[] = {
        {{"--arrangement", "a.mid", "--pattern", "jazz"},
         "invalid pattern 'jazz' (block, broken or pad)"},
        {{"--pattern", "pad"}, "--pattern needs --arrangement FILE"},
        {{"--accompaniment", "24"}, "--accompaniment needs --arrangement FILE"},
        {{"--arrangement", "a.mid", "--accompaniment", "128"},
         "invalid value '128' for --accompaniment"},
        {{"--arrangement", "-"}, "--arrangement - : only -o writes to standard output"},
        {{"--arrangement", "out.mid"}, "-o and --arrangement name the same file"},
        {{"--chords", "--edits", "1+,k999+"},
         "--edits: item 2 \"k999+\": chord slot 999 does not exist in this melody"},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args{"compose", "--seed", "1", "-o", "out.mid", "poem.txt"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const CliRun r = run(args);
        EXPECT_EQ(r.status, 2) << row.message;
        EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_FALSE(std::filesystem::exists(path("out.mid")));
        EXPECT_FALSE(std::filesystem::exists(path("a.mid")));
    }
}

TEST_F(CliChords, AudioWithTheArrangementPlaysTheAccompanimentToo) {
    if (shell_output("command -v soxi").empty()) GTEST_SKIP() << "sox is not installed";
    const CliRun alone =
        run({"compose", "--seed", "5", "-o", "a.mid", "--audio", "a.wav", "poem.txt"});
    const CliRun both = run({"compose", "--seed", "5", "-o", "b.mid", "--arrangement", "b-arr.mid",
                             "--audio", "b.wav", "poem.txt"});
    ASSERT_EQ(alone.status, 0) << alone.err;
    ASSERT_EQ(both.status, 0) << both.err;
    const auto seconds = [&](const std::string& file) {
        return std::stod(shell_output("soxi -D " + shell_quoted(path(file))));
    };
    // The same length within the ring-out, different sound.
    EXPECT_NEAR(seconds("a.wav"), seconds("b.wav"), 3.0);
    EXPECT_NE(read_file(path("a.wav")), read_file(path("b.wav")));
    EXPECT_EQ(read_file(path("a.mid")), read_file(path("b.mid")));
}

}  // namespace
