// quavella-cli compose shaping its melody as a user runs it: --fix-tones changes
// exactly the notes it names (read back with midicsv), --best-of N --by-sentence
// and --edits are made again byte for byte from the printed state and edit list,
// --fix-rhythm changes only the lengths it names and puts every line end on the beat,
// and a bad list is refused by item with nothing written.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/cli_runner.h"
#include "tests/support/env_guard.h"
#include "tests/support/files.h"
#include "tests/support/row_name.h"
#include "tests/support/tools.h"

namespace quavella::test {
namespace {

const std::string kLyrics = QUAVELLA_SAMPLES_DIR "/jingyesi.txt";

/// Text as hex digits, two a byte: the new words of a word edit.
std::string hex_of(const std::string& text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : text) {
        hex += kDigits[static_cast<unsigned char>(c) >> 4];
        hex += kDigits[static_cast<unsigned char>(c) & 0x0F];
    }
    return hex;
}

/// New words for the quatrain: its second sentence one syllable longer, on two lines.
const std::string kNewWords = hex_of("床前明月光，疑是地上白霜。\n举头望明月，低头思故乡。");

/// The first group of `pattern` in `text`, or "" when it is not there.
std::string field(const std::string& text, const std::string& pattern) {
    std::smatch match;
    return std::regex_search(text, match, std::regex(pattern)) ? match[1].str() : "";
}

class CliShape : public testing::Test {
protected:
    CliRun run(std::vector<std::string> args) {
        args.push_back(kLyrics);
        return run_cli(args, "", dir_.path());
    }

    /// The note numbers of a MIDI file in order, as midicsv reads them.
    std::vector<int> notes_of(const std::string& file) {
        if (const std::string missing = missing_midicsv(); !missing.empty()) {
            ADD_FAILURE() << missing;
            return {};
        }
        std::vector<int> notes;
        for (const CsvRecord& record : midicsv_records(dir_.file(file))) {
            if (record.size() == 6 && record[2] == "Note_on_c" && record[5] != "0") {
                notes.push_back(std::stoi(record[4]));
            }
        }
        return notes;
    }

    ScratchDir dir_;
};

TEST_F(CliShape, FixTonesChangesExactlyTheNotesItNames) {
    for (const std::string seed : {"5", "11", "2026"}) {
        const CliRun plain = run({"compose", "--seed", seed, "-o", "plain.mid"});
        ASSERT_EQ(plain.status, 0) << plain.err;
        for (const std::string option : {"--fix-tones", "--fix-tones=suit"}) {
            const CliRun fixed = run({"compose", "--seed", seed, option, "-o", "fixed.mid"});
            ASSERT_EQ(fixed.status, 0) << fixed.err;
            const std::vector<int> before = notes_of("plain.mid");
            const std::vector<int> after = notes_of("fixed.mid");
            ASSERT_EQ(before.size(), after.size());
            std::string expected;
            for (std::size_t i = 0; i < before.size(); ++i) {
                if (before[i] == after[i]) continue;
                expected += std::to_string(i + 1) + " ";
            }
            std::string named;
            const std::regex change(R"((\d+) \([^)]*\) (\d+)->(\d+))");
            const std::string changes = field(fixed.out, "notes changed:([^\\n]*)");
            for (auto it = std::sregex_iterator(changes.begin(), changes.end(), change);
                 it != std::sregex_iterator(); ++it) {
                const auto note = static_cast<std::size_t>(std::stoi((*it)[1]) - 1);
                ASSERT_LT(note, before.size());
                EXPECT_EQ(std::to_string(before[note]), (*it)[2].str());
                EXPECT_EQ(std::to_string(after[note]), (*it)[3].str());
                named += (*it)[1].str() + " ";
            }
            EXPECT_EQ(named, expected) << seed << " " << option << "\n" << fixed.out;
        }
    }
}

TEST_F(CliShape, FixRhythmChangesExactlyTheLengthsItNamesAndNoPitch) {
    if (const std::string missing = missing_midicsv(); !missing.empty()) GTEST_FAIL() << missing;
    // Each note's pitch and its length in ticks, as midicsv reads the file.
    auto notes_and_lengths = [this](const std::string& file) {
        std::vector<std::pair<int, long>> notes;
        long on = 0;
        for (const CsvRecord& record : midicsv_records(dir_.file(file))) {
            if (record.size() != 6) continue;
            const bool off =
                record[2] == "Note_off_c" || (record[2] == "Note_on_c" && record[5] == "0");
            if (record[2] == "Note_on_c" && !off) on = std::stol(record[1]);
            if (off) notes.emplace_back(std::stoi(record[4]), std::stol(record[1]) - on);
        }
        return notes;
    };
    for (const std::string seed : {"5", "11", "2026"}) {
        const CliRun plain = run({"compose", "--seed", seed, "-o", "plain.mid"});
        ASSERT_EQ(plain.status, 0) << plain.err;
        const CliRun fixed = run({"compose", "--seed", seed, "--fix-rhythm", "-o", "fixed.mid"});
        ASSERT_EQ(fixed.status, 0) << fixed.err;
        const auto before = notes_and_lengths("plain.mid");
        const auto after = notes_and_lengths("fixed.mid");
        ASSERT_EQ(before.size(), after.size());
        std::string expected;
        for (std::size_t i = 0; i < before.size(); ++i) {
            EXPECT_EQ(before[i].first, after[i].first) << seed << " note " << i + 1;
            if (before[i].second != after[i].second) expected += std::to_string(i + 1) + " ";
        }
        std::string named;
        const std::regex change(R"((\d+) \([^)]*\) (\d+)->(\d+))");
        const std::string changes =
            field(fixed.out, "fix-rhythm: \\d+ of \\d+ notes changed:([^\n]*)");
        for (auto it = std::sregex_iterator(changes.begin(), changes.end(), change);
             it != std::sregex_iterator(); ++it) {
            const auto note = static_cast<std::size_t>(std::stoi((*it)[1]) - 1);
            ASSERT_LT(note, before.size());
            EXPECT_EQ(std::to_string(before[note].second), (*it)[2].str());
            EXPECT_EQ(std::to_string(after[note].second), (*it)[3].str());
            named += (*it)[1].str() + " ";
        }
        EXPECT_EQ(named, expected) << seed << "\n" << fixed.out;
        // An edit that changed nothing is not kept: seed 2026 ends its lines on the beat.
        EXPECT_NE(fixed.out.find(expected.empty() ? " beats=100% (4 of 4) edits=\n"
                                                  : " beats=100% (4 of 4) edits=beat\n"),
                  std::string::npos)
            << fixed.out;
    }
}

TEST_F(CliShape, PrintedStateAndEditsMakeTheSameFileAgain) {
    const std::vector<std::vector<std::string>> requests = {
        {"--best-of", "20", "--by-sentence"},
        {"--best-of", "20", "--by-sentence", "--fix-tones"},
        {"--best-of", "7", "--edits", "1+,2-h,3+o,4:60,fix"},
        {"--edits", "2+,s3:12345:678,suit"},
        // The two repairs in the order given, after the edits.
        {"--fix-rhythm", "--fix-tones", "--edits", "5-"},
        {"--fix-tones", "--fix-rhythm"},
        {"--edits", "beat,3+o,beat"},
        {"--edits", "2+,s2:12345:678,w:" + kNewWords + ",3-h,fix"},
        {"--best-of", "7", "--by-sentence", "--edits", "w:" + kNewWords + ",1+"},
    };
    for (const auto& request : requests) {
        std::vector<std::string> args = {"compose", "--seed", "424242", "-o", "first.mid"};
        args.insert(args.end(), request.begin(), request.end());
        const CliRun first = run(args);
        ASSERT_EQ(first.status, 0) << first.err;
        std::string state = field(first.out, "state=(\\d+:\\d+)");
        if (state.empty()) state = "424242:" + std::to_string(424242u);
        const std::string edits = field(first.out, "edits=(\\S*)");
        const CliRun again =
            run({"compose", "--state", state, "--edits", edits, "-o", "again.mid"});
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(read_file(dir_.file("again.mid")), read_file(dir_.file("first.mid")))
            << request.back() << "\n"
            << first.out;
        EXPECT_EQ(field(again.out, "edits=(\\S*)"), edits);
        if (request[0] == "--fix-rhythm") {
            EXPECT_EQ(edits, "5-,beat,fix");
        } else if (request[0] == "--fix-tones") {
            EXPECT_EQ(edits, "fix,beat");
        }
    }
}

// Lengths and rests: the state and the edit list make every output again, byte for byte;
// the rests are in the MIDI files (midicsv) and the MusicXML.
TEST_F(CliShape, LengthsAndRestsAreMadeAgainInEveryOutput) {
    const std::vector<std::string> outputs = {
        "-o",         "song.mid",  "--musicxml", "song.musicxml", "--lyrics-midi",
        "lyrics.mid", "--karaoke", "song.kar"};
    std::vector<std::string> args = {"compose", "--seed",  "424242",
                                     "--score", "--edits", "1d+,3r+,3r+,5d-,3r-,2+,20r+,4r+,1d-"};
    args.insert(args.end(), outputs.begin(), outputs.end());
    const CliRun first = run(args);
    ASSERT_EQ(first.status, 0) << first.err;
    const std::string edits = field(first.out, "edits=(\\S*)");
    ASSERT_EQ(edits, "1d+,3r+,3r+,5d-,3r-,2+,20r+,4r+,1d-");
    std::vector<std::string> made;
    for (std::size_t k = 1; k < outputs.size(); k += 2) {
        made.push_back(read_file(dir_.file(outputs[k])));
        ASSERT_FALSE(made.back().empty()) << outputs[k];
    }
    // Notes 3, 4 and 20 are followed by rests: a note-on after a pause, in both MIDI files.
    for (const std::string file : {"song.mid", "lyrics.mid"}) {
        std::vector<long> on, off;
        for (const CsvRecord& record : midicsv_records(dir_.file(file))) {
            if (record.size() == 6 && record[2] == "Note_on_c" && record[5] != "0") {
                on.push_back(std::stol(record[1]));
            } else if (record.size() == 6 &&
                       (record[2] == "Note_off_c" || record[2] == "Note_on_c")) {
                off.push_back(std::stol(record[1]));
            }
        }
        ASSERT_EQ(on.size(), off.size()) << file;
        ASSERT_GE(on.size(), 20u) << file;
        for (std::size_t i = 0; i + 1 < on.size(); ++i) {
            const bool rest = i == 2 || i == 3 || i == 19;
            EXPECT_EQ(on[i + 1] > off[i], rest) << file << " after note " << i + 1;
        }
    }

    std::vector<std::string> again_args = {"compose", "--state", "424242:424242",
                                           "--score", "--edits", edits};
    for (std::size_t k = 0; k < outputs.size(); k += 2) {
        again_args.push_back(outputs[k]);
        again_args.push_back("again-" + outputs[k + 1]);
    }
    const CliRun again = run(again_args);
    ASSERT_EQ(again.status, 0) << again.err;
    // The score printed and the summary line, but for the file names.
    EXPECT_EQ(std::regex_replace(again.out, std::regex("again-"), ""),
              std::regex_replace(first.out, std::regex("^seed=424242"), "state=424242:424242"));
    for (std::size_t k = 1; k < outputs.size(); k += 2) {
        EXPECT_EQ(read_file(dir_.file("again-" + outputs[k])), made[k / 2]) << outputs[k];
    }
}

// --json for a shaped melody: the documented fields, and its state and edits make
// the same file again.
TEST_F(CliShape, JsonStateAndEditsMakeTheSameFileAgain) {
    if (shell_output("command -v /usr/bin/python3").empty()) GTEST_SKIP() << "python3 missing";
    for (const auto& request : std::vector<std::vector<std::string>>{
             {"--best-of", "7", "--edits", "1+,fix"}, {"--edits", "2+,3-h"}, {"--fix-rhythm"}}) {
        std::vector<std::string> args = {"compose", "--seed", "99", "--json", "-o", "first.mid"};
        args.insert(args.end(), request.begin(), request.end());
        const CliRun first = run(args);
        ASSERT_EQ(first.status, 0) << first.err;
        write_file(dir_.file("first.json"), first.out);
        const std::string json = shell_quoted(dir_.file("first.json"));
        EXPECT_EQ(shell_output("/usr/bin/python3 " +
                               shell_quoted(QUAVELLA_CLI_TESTS_DIR "/json_fields.py") +
                               " compose-shaped < " + json),
                  "ok 1\n");
        const std::string state_edits = shell_output(
            "/usr/bin/python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); "
            "print(d[\"state\"], d[\"edits\"])' " +
            json);
        const std::size_t blank = state_edits.find(' ');
        ASSERT_NE(blank, std::string::npos) << state_edits;
        const CliRun again =
            run({"compose", "--state", state_edits.substr(0, blank), "--edits",
                 state_edits.substr(blank + 1, state_edits.size() - blank - 2), "-o", "again.mid"});
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(read_file(dir_.file("again.mid")), read_file(dir_.file("first.mid")))
            << request.back();
        if (request.back() == "--fix-rhythm") {
            EXPECT_EQ(shell_output("/usr/bin/python3 -c 'import json,sys; "
                                   "b=json.load(open(sys.argv[1]))[\"beats\"]; "
                                   "print(b[\"percent\"], b[\"aligned\"], b[\"lines\"], "
                                   "b[\"off\"])' " +
                                   json),
                      "100 4 4 []\n");
        }
    }
}

TEST_F(CliShape, ARecordedShapedMelodyIsMadeAgainFromHistoryShow) {
    const EnvGuard data("XDG_DATA_HOME", dir_.file("data"));
    // Seed 78 sings two pairs of the quatrain contrary to their tones, and two lines end
    // off the beat.
    const CliRun made =
        run({"compose", "--seed", "78", "--fix-tones", "--fix-rhythm", "--record", "-o", "a.mid"});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string id = field(made.out, "history=(\\d+)");
    const std::string edits = field(made.out, "edits=(\\S*)");
    ASSERT_FALSE(id.empty()) << made.out;
    ASSERT_EQ(edits, "fix,beat");

    const CliRun list = run_cli({"history", "list"}, "", dir_.path());
    EXPECT_NE(list.out.find(id + "  "), std::string::npos) << list.out;
    const CliRun show = run_cli({"history", "show", id}, "", dir_.path());
    ASSERT_EQ(show.status, 0) << show.err;
    EXPECT_NE(show.out.find("edits=fix,beat\n"), std::string::npos) << show.out;
    // The printed command line, run by a shell, writes the same file.
    std::string command = field(show.out, "make it again:\n  ([^\n]*)");
    ASSERT_NE(command.find("--edits fix,beat"), std::string::npos) << command;
    const std::string cli = QUAVELLA_CLI_PATH;
    command.replace(command.find("quavella-cli"), std::string("quavella-cli").size(),
                    shell_quoted(cli));
    const std::string script =
        "cd " + shell_quoted(dir_.path().string()) + " && " + command + " >/dev/null";
    ASSERT_EQ(std::system(script.c_str()), 0) << script;
    EXPECT_EQ(read_file(dir_.file("song.mid")), read_file(dir_.file("a.mid")));
}

struct RefusedRow {
    std::string name;
    std::vector<std::string> args;
    std::string message;  // a part of the one-line message
};

class CliShapeRefused : public testing::TestWithParam<RefusedRow> {};

TEST_P(CliShapeRefused, SaysWhichItemAndWritesNothing) {
    const RefusedRow& row = GetParam();
    const ScratchDir dir;
    std::vector<std::string> args = {"compose", "--seed",     "1",           "-o",
                                     "out.mid", "--musicxml", "out.musicxml"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    args.push_back(kLyrics);
    const CliRun r = run_cli(args, "", dir.path());
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.mid")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.musicxml")));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliShapeRefused,
    testing::ValuesIn(std::vector<RefusedRow>{
        {"Syntax", {"--edits", "1+,2*"}, "--edits: item 2 \"2*\""},
        {"NoteOutOfRange", {"--edits", "1+,999-"}, "item 2 \"999-\": note 999 does not exist"},
        {"SentenceOutOfRange", {"--edits", "s9:1:1"}, "item 1 \"s9:1:1\": sentence 9"},
        {"PitchOutOfRange", {"--edits", "3:200"}, "item 1 \"3:200\""},
        {"NoteBeyondTheTop", {"--edits", "1:127,1+o"}, "item 2 \"1+o\": note 1 cannot go higher"},
        {"WordsTooShort", {"--edits", "1+,w:e5ba8a"}, "item 2 \"w:e5ba8a\": 歌词太短，没感觉！"},
        {"WordsNotUtf8", {"--edits", "w:ff00"}, "item 1 \"w:ff00\": invalid UTF-8"},
        {"RepairOfAnotherName", {"--fix-tones=all"}, "--fix-tones"},
        {"RhythmWithAValue", {"--fix-rhythm=all"}, "--fix-rhythm takes no value"},
        {"BySentenceAlone", {"--by-sentence"}, "--by-sentence needs --best-of N"},
        // Counted as typed: the sentences best of N took are not items of the list.
        {"EditsAfterBySentence",
         {"--best-of", "20", "--by-sentence", "--edits", "1+,999-"},
         "--edits: item 2 \"999-\": note 999 does not exist"},
    }),
    RowName{});

}  // namespace
}  // namespace quavella::test
