// quavella-cli history and compose --state as a user runs them: a history
// filled the way the window fills it (one pair of generators stepping through
// several compositions, the state taken just before each), then the real
// binary listing, showing and exporting it and making each melody again.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "composer/compose_request.h"
#include "composer/style_tables.h"
#include "history/store.h"
#include "lyrics/gbk_text.h"
#include "notation/score.h"
#include "tests/support/files.h"
#include "tests/support/tools.h"

namespace {

namespace fs = std::filesystem;
using quavella::history::Record;
using quavella::history::Status;

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

using quavella::test::read_file;
using quavella::test::shell_quoted;
using quavella::test::write_file;

class NoMessages final : public quavella::MessageSink {
public:
    void show(const std::string&) override {}
};

class HistoryCli : public testing::Test {
protected:
    void SetUp() override { data_ = dir_ / "data"; }

    fs::path history_file() const { return data_ / "quavella" / "history.sqlite3"; }

    /// Composes each entry of `lyrics` in turn as the window does and records it.
    std::vector<std::int64_t> compose_and_record(
        const std::vector<std::vector<std::string>>& lyrics) {
        quavella::history::Store store(history_file());
        quavella::Generators gens(0x5EEDF00DULL);
        NoMessages messages;
        std::vector<std::int64_t> ids;
        int n = 0;
        for (const auto& lines : lyrics) {
            Record r;
            for (const std::string& line : lines) r.lyrics += (r.lyrics.empty() ? "" : "\n") + line;
            r.gbk_text = quavella::lyric_text_from_lines(lines, quavella::LyricEncoding::utf8).gbk;
            r.speed_pos = n % 3;
            r.mode_pos = (n + 1) % 4;
            r.timbre_pos = (3 * n) % 10;
            quavella::history::fill_items(r);
            r.state = gens.state();
            const quavella::ComposeOutcome outcome = quavella::compose_melody(
                r.gbk_text, r.speed_pos, r.mode_pos, r.timbre_pos, gens, messages);
            const quavella::CompositionFile file = quavella::composition_file(
                outcome.tempo, outcome.program, outcome.nt_seq, outcome.tm_seq);
            EXPECT_EQ(file.error, "");
            r.tempo = outcome.tempo;
            r.mode = outcome.mode;
            r.program = outcome.program;
            r.notes.assign(outcome.nt_seq.begin(), outcome.nt_seq.end());
            r.ticks.assign(outcome.tm_seq.begin(), outcome.tm_seq.end());
            r.midi = file.bytes;
            // Odd entries carry their syllables, even ones leave them to the reader.
            if (n % 2 == 1)
                r.syllables = quavella::notation::melody_from(r.gbk_text, outcome).lyrics;
            r.time_ms = 1700000000000 + n * 60000;
            std::int64_t id = 0;
            EXPECT_EQ(store.record(r, id), Status::ok) << store.last_error();
            ids.push_back(id);
            records_.push_back(r);
            ++n;
        }
        return ids;
    }

    /// Runs a shell command line in the test's directory with the test's
    /// data directory and the CLI on the PATH.
    CliRun shell(const std::string& command_line) {
        const std::string cmd =
            "cd " + shell_quoted(dir_.string()) +
            " && XDG_DATA_HOME=" + shell_quoted(data_.string()) +
            " PATH=" + shell_quoted(fs::path(QUAVELLA_CLI_PATH).parent_path().string()) +
            ":\"$PATH\" sh -c " + shell_quoted(command_line) + " </dev/null >stdout 2>stderr";
        const int raw = std::system(cmd.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(dir_ / "stdout"),
                read_file(dir_ / "stderr")};
    }
    CliRun run(const std::vector<std::string>& args) {
        std::string line = "quavella-cli";
        for (const auto& a : args) line += " " + shell_quoted(a);
        return shell(line);
    }

    quavella::test::ScratchDir scratch_;
    const fs::path dir_ = scratch_.path();
    fs::path data_;
    std::vector<Record> records_;

    // 春眠不觉晓，处处闻啼鸟。 / 夜来风雨声，花落知多少。
    const std::vector<std::string> poem = {
        "\xE6\x98\xA5\xE7\x9C\xA0\xE4\xB8\x8D\xE8\xA7\x89\xE6\x99\x93\xEF\xBC\x8C"
        "\xE5\xA4\x84\xE5\xA4\x84\xE9\x97\xBB\xE5\x95\xBC\xE9\xB8\x9F\xE3\x80\x82",
        "\xE5\xA4\x9C\xE6\x9D\xA5\xE9\xA3\x8E\xE9\x9B\xA8\xE5\xA3\xB0\xEF\xBC\x8C"
        "\xE8\x8A\xB1\xE8\x90\xBD\xE7\x9F\xA5\xE5\xA4\x9A\xE5\xB0\x91\xE3\x80\x82"};
};

TEST_F(HistoryCli, EachEntryIsMadeAgainByteForByte) {
    // The same poem three times gives three melodies; a Latin line with a
    // quote and a dollar sign tests the quoting of the printed command line.
    const auto ids =
        compose_and_record({poem, poem, {"It's a $HOME song, sing it,", "la la la."}, poem});
    for (std::size_t i = 0; i < ids.size(); ++i) {
        SCOPED_TRACE("entry " + std::to_string(ids[i]));
        const Record& r = records_[i];
        write_file(dir_ / "lyrics.txt", r.lyrics + "\n");
        const std::string state = quavella::history::state_text(r.state);
        const CliRun composed =
            run({"compose", "--state", state, "--speed", std::to_string(r.speed_pos), "--mode",
                 std::to_string(r.mode_pos), "--timbre", std::to_string(r.timbre_pos), "-o",
                 "again.mid", "lyrics.txt"});
        ASSERT_EQ(composed.status, 0) << composed.err;
        EXPECT_EQ(composed.out, "state=" + state + " notes=" + std::to_string(r.notes.size()) +
                                    " tempo=" + std::to_string(r.tempo) +
                                    " mode=" + std::to_string(r.mode) +
                                    " program=" + std::to_string(r.program) + " file=again.mid\n");
        EXPECT_EQ(read_file(dir_ / "again.mid"), r.midi);

        // The command line the history prints does the same when pasted into a shell.
        const CliRun pasted = shell(quavella::history::reproduce_command(r, "pasted.mid"));
        ASSERT_EQ(pasted.status, 0) << pasted.err;
        EXPECT_EQ(read_file(dir_ / "pasted.mid"), r.midi);

        const CliRun exported = run({"history", "export", std::to_string(ids[i])});
        ASSERT_EQ(exported.status, 0) << exported.err;
        const std::string name = "history-" + std::to_string(ids[i]) + ".mid";
        EXPECT_EQ(exported.out, "file=" + name + "\n");
        EXPECT_EQ(read_file(dir_ / name), r.midi);
    }
    EXPECT_NE(records_[0].midi, records_[1].midi) << "the generators did not move on";
}

TEST_F(HistoryCli, AnEntryRecordedBeforeTheModesMeantTheirNamesIsMadeAgainByItsLine) {
    // Written by quavella-cli compose --record when mode position P composed with scale
    // table P (tests/history/fixtures/README): the printed line, with the entry moved to
    // the item whose scale made it, makes its file again, shaped and best-of entries too.
    fs::create_directories(history_file().parent_path());
    fs::copy_file(fs::path(QUAVELLA_HISTORY_FIXTURES) / "schema3-history.sqlite3", history_file());
    for (int id = 1; id <= 8; ++id) {
        SCOPED_TRACE("entry " + std::to_string(id));
        const CliRun shown = run({"history", "show", "--json", std::to_string(id)});
        ASSERT_EQ(shown.status, 0) << shown.err;
        std::smatch command, mode_pos, mode;
        ASSERT_TRUE(std::regex_search(shown.out, command, std::regex("\"command\":\"([^\"]+)\"")));
        ASSERT_TRUE(std::regex_search(shown.out, mode_pos, std::regex("\"mode_pos\":(\\d+)")));
        ASSERT_TRUE(std::regex_search(shown.out, mode, std::regex("\"mode\":(\\d+)")));
        EXPECT_EQ(quavella::mode_number(std::stoi(mode_pos[1])), std::stoi(mode[1]));
        std::smatch out;
        const std::string line = command[1];
        ASSERT_TRUE(std::regex_search(line, out, std::regex(" -o (\\S+)")));
        const CliRun made = shell(line);
        ASSERT_EQ(made.status, 0) << line << ": " << made.err;
        const CliRun stored = run({"history", "export", std::to_string(id), "-o", "stored.mid"});
        ASSERT_EQ(stored.status, 0) << stored.err;
        EXPECT_EQ(read_file(dir_ / out[1].str()), read_file(dir_ / "stored.mid")) << line;
    }
}

TEST_F(HistoryCli, ExportsTheScoreAsComposeDoes) {
    // The entry's score exports are those compose writes with its state: the
    // history's syllables, notes and durations make the same score.
    const auto ids = compose_and_record({poem, {"It's a $HOME song, sing it,", "la la la."}});
    for (std::size_t i = 0; i < ids.size(); ++i) {
        SCOPED_TRACE("entry " + std::to_string(ids[i]));
        const Record& r = records_[i];
        const CliRun exported =
            run({"history", "export", std::to_string(ids[i]), "-o", "h.mid", "--musicxml", "h.xml",
                 "--lyrics-midi", "h-lyrics.mid", "--audio", "h.wav"});
        ASSERT_EQ(exported.status, 0) << exported.err;
        EXPECT_EQ(exported.out, "file=h.mid musicxml=h.xml lyrics-midi=h-lyrics.mid audio=h.wav\n");

        write_file(dir_ / "lyrics.txt", r.lyrics + "\n");
        const CliRun composed =
            run({"compose", "--state", quavella::history::state_text(r.state), "--speed",
                 std::to_string(r.speed_pos), "--mode", std::to_string(r.mode_pos), "--timbre",
                 std::to_string(r.timbre_pos), "-o", "c.mid", "--musicxml", "c.xml",
                 "--lyrics-midi", "c-lyrics.mid", "--audio", "c.wav", "lyrics.txt"});
        ASSERT_EQ(composed.status, 0) << composed.err;
        EXPECT_EQ(read_file(dir_ / "h.mid"), r.midi);
        EXPECT_EQ(read_file(dir_ / "h.xml"), read_file(dir_ / "c.xml"));
        EXPECT_EQ(read_file(dir_ / "h-lyrics.mid"), read_file(dir_ / "c-lyrics.mid"));
        const std::string wav = read_file(dir_ / "h.wav");
        ASSERT_GT(wav.size(), 44u);
        EXPECT_EQ(wav.substr(0, 4), "RIFF");
        EXPECT_EQ(wav.size(), read_file(dir_ / "c.wav").size()) << "the same length of sound";
    }
}

// A shaped melody with rests: the history keeps no column for them, its composition
// file does, and every export of the entry is the one compose wrote.
TEST_F(HistoryCli, ExportsTheRestsOfAShapedMelodyAsComposeDoes) {
    write_file(dir_ / "lyrics.txt", poem[0] + "\n" + poem[1] + "\n");
    const CliRun composed = run({"compose", "--seed", "4", "--edits", "2r+,2r+,5d+,9r+,9r-,10r+",
                                 "--record", "-o", "c.mid", "--musicxml", "c.xml", "--lyrics-midi",
                                 "c-lyrics.mid", "--audio", "c.wav", "lyrics.txt"});
    ASSERT_EQ(composed.status, 0) << composed.err;
    const std::string id = composed.out.substr(composed.out.rfind("history=") + 8);
    const CliRun exported =
        run({"history", "export", std::to_string(std::stoll(id)), "-o", "h.mid", "--musicxml",
             "h.xml", "--lyrics-midi", "h-lyrics.mid", "--audio", "h.wav"});
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(read_file(dir_ / "h.mid"), read_file(dir_ / "c.mid"));
    EXPECT_EQ(read_file(dir_ / "h.xml"), read_file(dir_ / "c.xml"));
    EXPECT_EQ(read_file(dir_ / "h-lyrics.mid"), read_file(dir_ / "c-lyrics.mid"));
    EXPECT_EQ(read_file(dir_ / "h.wav").size(), read_file(dir_ / "c.wav").size());
}

TEST_F(HistoryCli, ListsNewestFirstAndShowsAnEntry) {
    const auto ids = compose_and_record({poem, poem, poem});
    const CliRun all = run({"history", "list"});
    ASSERT_EQ(all.status, 0) << all.err;
    std::istringstream lines(all.out);
    std::vector<std::string> first_words;
    std::string line;
    while (std::getline(lines, line)) first_words.push_back(line.substr(0, line.find(' ')));
    EXPECT_EQ(first_words, (std::vector<std::string>{std::to_string(ids[2]), std::to_string(ids[1]),
                                                     std::to_string(ids[0])}));
    // The first entry: speed 0, mode 1, timbre 0, lines joined by " / ".
    EXPECT_NE(all.out.find("  \xE6\x85\xA2 \xE5\x85\xAD\xE5\xA3\xB0\xE8\xB0\x83\xE5\xBC\x8F"
                           "1 "
                           "\xE9\x92\xA2\xE7\x90\xB4  " +
                           std::to_string(records_[0].notes.size()) + " notes  " + poem[0] + " / " +
                           poem[1].substr(0, 3 * 8)),
              std::string::npos)
        << all.out;

    const CliRun one = run({"history", "list", "--limit", "1"});
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.out, all.out.substr(0, all.out.find('\n') + 1));

    // Shown with the score that compose --score prints for the same melody,
    // whether the entry carries its syllables (odd) or not (even).
    for (const std::size_t i : {0u, 1u}) {
        const Record& r = records_[i];
        const CliRun shown = run({"history", "show", std::to_string(ids[i])});
        ASSERT_EQ(shown.status, 0) << shown.err;
        write_file(dir_ / "lyrics.txt", r.lyrics);
        const CliRun composed =
            run({"compose", "--state", quavella::history::state_text(r.state), "--speed",
                 std::to_string(r.speed_pos), "--mode", std::to_string(r.mode_pos), "--timbre",
                 std::to_string(r.timbre_pos), "--score", "lyrics.txt"});
        ASSERT_EQ(composed.status, 0) << composed.err;
        const std::string score = composed.out.substr(composed.out.find('\n') + 1);
        ASSERT_GT(score.size(), 100u) << composed.out;
        for (const std::string& expected :
             {"state=" + quavella::history::state_text(r.state) + "\n",
              "tempo=" + std::to_string(r.tempo) + " mode=" + std::to_string(r.mode),
              "  " + poem[0] + "\n  " + poem[1] + "\n",
              quavella::history::reproduce_command(r) + "\n" + score}) {
            EXPECT_NE(shown.out.find(expected), std::string::npos) << expected << "\nin\n"
                                                                   << shown.out;
        }
    }
}

// Lyrics are untrusted: an escape sequence or a bidi override in them is shown, never
// sent, by list and show.
TEST_F(HistoryCli, WhatATerminalWouldActOnIsShownEscaped) {
    const std::string hostile = "\x1b[2J\xe2\x80\xae" + poem[0];
    const auto ids = compose_and_record({{hostile, poem[1]}});
    const CliRun listed = run({"history", "list"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("\\x1B[2J<U+202E>" + poem[0]), std::string::npos) << listed.out;
    const CliRun shown = run({"history", "show", std::to_string(ids[0])});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_NE(shown.out.find("  \\x1B[2J<U+202E>" + poem[0] + "\n"), std::string::npos);
    for (const CliRun* run : {&listed, &shown}) {
        EXPECT_EQ(run->out.find('\x1b'), std::string::npos);
        EXPECT_EQ(run->out.find("\xe2\x80\xae"), std::string::npos);
    }
}

// A best-of press is one line, its chosen melody's, marked with the count; --all puts the
// candidates passed over under it, indented; --candidates lists one press's candidates.
TEST_F(HistoryCli, ABestOfPressIsOneLineItsCandidatesListedOnRequest) {
    const auto plain = compose_and_record({poem, poem, poem, poem});
    // The last three again, recorded as the window records one press: the chosen one last.
    std::vector<Record> press(records_.begin() + 1, records_.end());
    press[0].lyrics = "\x1b[2J" + press[0].lyrics;
    std::vector<std::int64_t> ids;
    {
        quavella::history::Store store(history_file());
        ASSERT_EQ(store.record(press, ids), Status::ok) << store.last_error();
    }
    const std::string chosen = std::to_string(ids[2]);
    const auto line_ids = [](const std::string& out) {
        std::vector<std::string> found;
        std::istringstream lines(out);
        std::string line;
        while (std::getline(lines, line)) found.push_back(line.substr(0, line.find("  2023")));
        return found;
    };

    const CliRun listed = run({"history", "list"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(line_ids(listed.out),
              (std::vector<std::string>{chosen, std::to_string(plain[3]), std::to_string(plain[2]),
                                        std::to_string(plain[1]), std::to_string(plain[0])}));
    EXPECT_NE(listed.out.find(" notes  best of 3  " + poem[0]), std::string::npos) << listed.out;

    const CliRun all = run({"history", "list", "--all", "--limit", "2"});
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(line_ids(all.out),
              (std::vector<std::string>{chosen, "  " + std::to_string(ids[1]),
                                        "  " + std::to_string(ids[0]), std::to_string(plain[3])}));
    EXPECT_NE(all.out.find(" notes  candidate of " + chosen + "  \\x1B[2J" + poem[0]),
              std::string::npos)
        << all.out;
    EXPECT_EQ(all.out.find('\x1b'), std::string::npos);

    const CliRun candidates = run({"history", "list", "--candidates", chosen});
    ASSERT_EQ(candidates.status, 0) << candidates.err;
    EXPECT_EQ(line_ids(candidates.out),
              (std::vector<std::string>{chosen, std::to_string(ids[1]), std::to_string(ids[0])}));
    EXPECT_EQ(candidates.out.substr(0, candidates.out.find('\n')),
              listed.out.substr(0, listed.out.find('\n')));
    const CliRun two = run({"history", "list", "--candidates", chosen, "--limit", "2"});
    EXPECT_EQ(line_ids(two.out), (std::vector<std::string>{chosen, std::to_string(ids[1])}));

    const CliRun shown = run({"history", "show", std::to_string(ids[0])});
    EXPECT_NE(shown.out.find("best of: a candidate passed over for entry " + chosen + "\n"),
              std::string::npos)
        << shown.out;

    struct Refused {
        std::vector<std::string> args;
        int status;
        const char* err;
    };
    const Refused refused[] = {
        {{"history", "list", "--candidates", std::to_string(plain[0])},
         0,
         "was not chosen from candidates"},
        {{"history", "list", "--candidates", "999"}, 1, "no entry 999 in the history"},
        {{"history", "list", "--candidates", "0"}, 2, "invalid ID '0' for --candidates"},
        {{"history", "list", "--all", "--candidates", chosen}, 2, "cannot be given together"},
    };
    for (const Refused& row : refused) {
        const CliRun r = run(row.args);
        EXPECT_EQ(r.status, row.status) << row.err;
        EXPECT_EQ(r.out, "") << row.err;
        EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
    }

    const std::string fields = QUAVELLA_CLI_TESTS_DIR "/json_fields.py";
    const CliRun json = shell("quavella-cli history list --all --json | /usr/bin/python3 " +
                              shell_quoted(fields) + " history-list");
    EXPECT_EQ(json.out, "ok 7\n") << json.err;
    const CliRun marks = shell(
        "quavella-cli history list --all --json | /usr/bin/python3 -c 'import json,sys\n"
        "for line in sys.stdin: o = json.loads(line); print(o[\"id\"], o[\"chosen\"], "
        "o[\"candidates\"])'");
    EXPECT_EQ(marks.out, chosen + " " + chosen + " 3\n" + std::to_string(ids[1]) + " " + chosen +
                             " 0\n" + std::to_string(ids[0]) + " " + chosen + " 0\n" +
                             std::to_string(plain[3]) + " None 0\n" + std::to_string(plain[2]) +
                             " None 0\n" + std::to_string(plain[1]) + " None 0\n" +
                             std::to_string(plain[0]) + " None 0\n")
        << marks.err;
    const CliRun show_json = shell("quavella-cli history show --json " + std::to_string(ids[1]) +
                                   " | /usr/bin/python3 " + shell_quoted(fields) + " history-show");
    EXPECT_EQ(show_json.out, "ok 1\n") << show_json.err;
}

// The "make it again" line that history show prints, pasted into each common shell,
// writes the entry's very bytes whatever the lyrics hold: every ASCII control
// character, quotes, a backslash ending a line (fish reads \' inside single quotes),
// $( ), backticks, an escape sequence that moves the cursor back over what is shown,
// bidi overrides. None of the commands hidden in the lyrics runs.
TEST_F(HistoryCli, TheLineToMakeItAgainMeansTheSameInEveryShell) {
    std::string controls;
    for (int c = 0; c < 0x20; ++c) {
        if (c != '\n') controls += static_cast<char>(c);
    }
    controls += '\x7f';
    const std::vector<std::vector<std::string>> lyrics = {
        {controls + poem[0], poem[1]},
        {"It's \"quoted\" X'\\", "'; touch pwned-quote #", poem[0] + "\\",
         "; touch pwned-backslash #", poem[1]},
        {"$(touch pwned-dollar) `touch pwned-backtick` ${HOME} $HOME !! %s" + poem[0],
         "X'\x1b[3D; touch pwned-escape #\x1b]0;title\x07\x1b[2J" + poem[1]},
        {"\xe2\x80\xae\xe2\x81\xa6\xe2\x80\x8f" + poem[0] + "\xe2\x80\xac\xe2\x81\xa9", "\\",
         poem[1] + "\\"},
    };
    const auto ids = compose_and_record(lyrics);
    std::vector<std::pair<std::int64_t, std::string>> entries;
    for (std::size_t i = 0; i < ids.size(); ++i) entries.emplace_back(ids[i], records_[i].midi);
    // A shaped melody: its line carries the edit list too.
    const CliRun edited =
        run({"compose", "--seed", "3", "--edits", "1+,2-h,3:60,fix", "--record", "-o", "edited.mid",
             "--lyrics-hex", quavella::history::lyrics_hex(lyrics[1][1] + "\n" + lyrics[1][2])});
    ASSERT_EQ(edited.status, 0) << edited.err;
    entries.emplace_back(std::stoll(edited.out.substr(edited.out.rfind("history=") + 8)),
                         read_file(dir_ / "edited.mid"));
    // Lengths and rests: the list is as literal to every shell as the pitch edits.
    const CliRun rhythm = run({"compose", "--seed", "4", "--edits", "1d+,2d-,3r+,3r+,4r+,4r-",
                               "--record", "-o", "rhythm.mid", "--lyrics-hex",
                               quavella::history::lyrics_hex(poem[0] + "\n" + poem[1])});
    ASSERT_EQ(rhythm.status, 0) << rhythm.err;
    entries.emplace_back(std::stoll(rhythm.out.substr(rhythm.out.rfind("history=") + 8)),
                         read_file(dir_ / "rhythm.mid"));
    // New words of a shaped melody travel as hex digits in its edit list, whatever they hold.
    const CliRun reworded = run(
        {"compose", "--seed", "3", "--record", "-o", "reworded.mid", "--edits",
         "1+,w:" + quavella::history::lyrics_hex(lyrics[2][0] + "\n" + lyrics[1][1] + "\\") + ",2-",
         "--lyrics-hex", quavella::history::lyrics_hex(lyrics[0][0] + "\n" + lyrics[0][1])});
    ASSERT_EQ(reworded.status, 0) << reworded.err;
    entries.emplace_back(std::stoll(reworded.out.substr(reworded.out.rfind("history=") + 8)),
                         read_file(dir_ / "reworded.mid"));
    fs::create_directories(dir_ / "home");
    for (const auto& [id, midi] : entries) {
        SCOPED_TRACE("entry " + std::to_string(id));
        const CliRun shown = run({"history", "show", std::to_string(id)});
        ASSERT_EQ(shown.status, 0) << shown.err;
        const std::string head = "make it again:\n  ";
        const std::size_t at = shown.out.find(head);
        ASSERT_NE(at, std::string::npos) << shown.out;
        const std::string line = shown.out.substr(
            at + head.size(), shown.out.find('\n', at + head.size()) - at - head.size());
        EXPECT_EQ(line.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                         "0123456789 -:._/=+,"),
                  std::string::npos)
            << line;
        write_file(dir_ / "pasted", line + "\n");
        write_file(dir_ / "expected.mid", midi);
        for (const std::string shell_name : {"dash", "bash", "zsh", "fish"}) {
            SCOPED_TRACE(shell_name);
            fs::remove(dir_ / "song.mid");
            // As typed: the shell reads the line from its input, without its start files.
            const std::string options = shell_name == "zsh"    ? " -f"
                                        : shell_name == "fish" ? " --no-config"
                                        : shell_name == "bash" ? " --norc --noprofile"
                                                               : "";
            const CliRun pasted =
                shell("HOME=\"$PWD/home\" exec " + shell_name + options + " <pasted");
            ASSERT_EQ(pasted.status, 0) << pasted.err;
            const CliRun compared = shell("cmp song.mid expected.mid");
            EXPECT_EQ(compared.status, 0) << compared.out << compared.err;
        }
    }
    for (const auto& entry : fs::directory_iterator(dir_)) {
        EXPECT_NE(entry.path().filename().string().rfind("pwned", 0), 0u) << entry.path();
    }
}

TEST_F(HistoryCli, FailuresAreReportedWithTheirStatus) {
    compose_and_record({poem});
    struct Row {
        const char* name;
        std::string command;
        int status;
        std::string err;
    };
    write_file(dir_ / "file", "not a directory");
    const Row rows[] = {
        {"missing entry", "quavella-cli history show 99", 1, "no entry 99 in the history"},
        {"missing entry to export", "quavella-cli history export 99 -o x.mid", 1,
         "no entry 99 in the history"},
        {"unwritable export", "quavella-cli history export 1 -o no/such/dir/x.mid", 1,
         "cannot write 'no/such/dir/x.mid'"},
        {"history under a file", "XDG_DATA_HOME=$PWD/file quavella-cli history list", 1,
         "Not a directory"},
        {"no home at all", "env -u HOME -u XDG_DATA_HOME quavella-cli history list", 1,
         "neither XDG_DATA_HOME nor HOME"},
        {"unwritable score export", "quavella-cli history export 1 --musicxml no/such/dir/x.xml", 1,
         "no/such/dir/x.xml"},
        {"export over the composition file",
         "quavella-cli history export 1 --lyrics-midi ./history-1.mid", 2,
         "-o and --lyrics-midi name the same file './history-1.mid'"},
        {"bad id", "quavella-cli history show 0", 2, "invalid ID '0'"},
        {"bad state", "quavella-cli compose --state 1", 2, "invalid value '1' for --state"},
    };
    for (const Row& row : rows) {
        const CliRun r = shell(row.command);
        EXPECT_EQ(r.status, row.status) << row.name << ": " << r.err;
        EXPECT_NE(r.err.find(row.err), std::string::npos) << row.name << ": " << r.err;
        EXPECT_EQ(r.out, "") << row.name;
    }
}

TEST_F(HistoryCli, AReadOnlyHistoryIsStillListedShownAndExported) {
    // Read-only media: a small tmpfs remounted read-only (root ignores permission bits).
    if (::geteuid() != 0) GTEST_SKIP() << "making read-only media needs root";
    const fs::path place = history_file().parent_path();
    fs::create_directories(place);
    ASSERT_EQ(::mount("tmpfs", place.c_str(), "tmpfs", 0, "size=4m"), 0) << std::strerror(errno);
    struct Unmount {
        fs::path dir;
        ~Unmount() { ::umount2(dir.c_str(), MNT_DETACH); }
    } unmount{place};
    const auto ids =
        compose_and_record({{"春眠不觉晓，处处闻啼鸟。"}, {"夜来风雨声，花落知多少。"}});
    ASSERT_EQ(ids.size(), 2u);
    ASSERT_EQ(::mount(nullptr, place.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=4m"), 0);

    const CliRun list = run({"history", "list"});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 2) << list.out;
    const CliRun show = run({"history", "show", "1"});
    EXPECT_EQ(show.status, 0) << show.err;
    EXPECT_NE(show.out.find("春眠不觉晓"), std::string::npos) << show.out;
    const CliRun exported = run({"history", "export", "2", "-o", "two.mid"});
    EXPECT_EQ(exported.status, 0) << exported.err;
    EXPECT_TRUE(read_file(dir_ / "two.mid") == records_[1].midi);
}

TEST_F(HistoryCli, ADamagedStoredMelodyIsNotExported) {
    compose_and_record({{"春眠不觉晓，处处闻啼鸟。"}});
    Record broken = records_[0];
    broken.midi = records_[0].midi.substr(0, records_[0].midi.size() / 2);  // cut short
    {
        quavella::history::Store store(history_file());
        std::int64_t id = 0;
        ASSERT_EQ(store.record(broken, id), Status::ok);
        ASSERT_EQ(id, 2);
    }
    const CliRun r = run({"history", "export", "2", "-o", "broken.mid", "--musicxml", "b.xml"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("entry 2 of the history holds a damaged melody, not exported: "),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "broken.mid"));
    EXPECT_FALSE(fs::exists(dir_ / "b.xml"));
    EXPECT_EQ(run({"history", "export", "1", "-o", "good.mid"}).status, 0);
}

TEST_F(HistoryCli, ReadingCommandsReportADamagedHistoryAndLeaveIt) {
    fs::create_directories(history_file().parent_path());
    const std::string junk(5000, 'x');
    write_file(history_file(), junk);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"history", "list"}, {"history", "show", "1"}, {"history", "export", "1"}}) {
        const CliRun r = run(args);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("is damaged and cannot be read"), std::string::npos) << r.err;
    }
    EXPECT_TRUE(read_file(history_file()) == junk);
    for (const auto& e : fs::directory_iterator(history_file().parent_path())) {
        EXPECT_EQ(e.path().filename().string().find(".damaged-"), std::string::npos) << e.path();
    }
}

// compose --record: the entry is what the window would have recorded, history
// list and show find it (as text and as JSON with the documented fields), and
// its command line makes the same file again.
TEST_F(HistoryCli, ComposeRecordAddsAnEntryThatListShowAndJsonFind) {
    write_file(dir_ / "poem.txt", poem[0] + "\n" + poem[1] + "\n");
    const CliRun composed = run({"compose", "--seed", "77", "--timbre", "7", "--mode", "3",
                                 "--record", "-o", "rec.mid", "poem.txt"});
    ASSERT_EQ(composed.status, 0) << composed.err;
    EXPECT_TRUE(composed.out.ends_with(" history=1\n")) << composed.out;

    quavella::history::Entry entry;
    quavella::history::Store store(history_file());
    ASSERT_EQ(store.get(1, entry), Status::ok) << store.last_error();
    const Record& r = entry.record;
    EXPECT_EQ(r.midi, read_file(dir_ / "rec.mid"));
    EXPECT_EQ(r.timbre_pos, 7);
    EXPECT_EQ(r.mode_pos, 3);
    EXPECT_EQ(r.timbre_item, "小号");
    EXPECT_EQ(quavella::history::state_text(r.state), "77:77");
    EXPECT_EQ(r.syllables.size(), r.notes.size());
    EXPECT_TRUE(r.tone_score.has_value());

    const CliRun listed = run({"history", "list"});
    EXPECT_NE(listed.out.find("小号"), std::string::npos) << listed.out;
    const CliRun shown = run({"history", "show", "1"});
    EXPECT_NE(shown.out.find("--state 77:77"), std::string::npos) << shown.out;

    const std::string fields = QUAVELLA_CLI_TESTS_DIR "/json_fields.py";
    const CliRun list_json = shell("quavella-cli history list --json | /usr/bin/python3 " +
                                   shell_quoted(fields) + " history-list");
    EXPECT_EQ(list_json.out, "ok 1\n") << list_json.err;
    const CliRun show_json = shell("quavella-cli history show 1 --json | /usr/bin/python3 " +
                                   shell_quoted(fields) + " history-show");
    EXPECT_EQ(show_json.out, "ok 1\n") << show_json.err;
    // The JSON's command line, run as it stands, makes the same file.
    const CliRun again = shell(
        "quavella-cli history show 1 --json | /usr/bin/python3 -c "
        "'import json,sys; print(json.load(sys.stdin)[\"command\"])' > again.sh && sh again.sh");
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(read_file(dir_ / "song.mid"), r.midi);

    // history export -o -: the file's bytes on standard output, the report on standard error.
    const CliRun piped = run({"history", "export", "1", "-o", "-"});
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, r.midi);
    EXPECT_EQ(piped.err, "file=-\n");

    // --json and --record together: the entry's number in the object.
    const CliRun both = shell(
        "quavella-cli compose --seed 78 --record --json -o r2.mid poem.txt | "
        "/usr/bin/python3 " +
        shell_quoted(fields) + " compose-record");
    EXPECT_EQ(both.out, "ok 1\n") << both.err;
    EXPECT_EQ(run({"history", "list", "--json"}).out.find("\"id\":2"), 1u);
}

// --record keeps the lyrics as typed, lines and all, not as the input's mend left them
// (joined, characters dropped): history show prints what was typed, safely, and its
// line to make it again makes the very bytes compose wrote, shaped or not.
TEST_F(HistoryCli, ComposeRecordKeepsTheLyricsAsTyped) {
    const std::string typed = poem[0] + "\n; touch ~/PWNED #\n" + poem[1];
    write_file(dir_ / "poem.txt", typed);
    for (const std::vector<std::string>& shaping :
         {std::vector<std::string>{}, std::vector<std::string>{"--edits", "1+,fix"}}) {
        std::vector<std::string> args = {"compose", "--seed", "9", "--record", "-o", "rec.mid"};
        args.insert(args.end(), shaping.begin(), shaping.end());
        args.push_back("poem.txt");
        const CliRun composed = run(args);
        ASSERT_EQ(composed.status, 0) << composed.err;
        const std::string id = composed.out.substr(composed.out.rfind("history=") + 8);
        quavella::history::Entry entry;
        quavella::history::Store store(history_file());
        ASSERT_EQ(store.get(std::stoll(id), entry), Status::ok) << store.last_error();
        EXPECT_EQ(entry.record.lyrics, typed);

        const CliRun shown = run({"history", "show", id.substr(0, id.size() - 1)});
        ASSERT_EQ(shown.status, 0) << shown.err;
        EXPECT_NE(shown.out.find("\n  ; touch ~/PWNED #\n"), std::string::npos) << shown.out;
        const std::string head = "make it again:\n  ";
        const std::size_t at = shown.out.find(head) + head.size();
        write_file(dir_ / "again.sh", shown.out.substr(at, shown.out.find('\n', at) - at));
        fs::remove(dir_ / "song.mid");
        const CliRun again = shell("sh again.sh");
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(read_file(dir_ / "song.mid"), read_file(dir_ / "rec.mid"));
    }
    EXPECT_FALSE(fs::exists(dir_ / "PWNED"));
}

// Rows another program wrote are shown only as they are: an origin that is no earlier
// entry is not named, and an edit list that compose would refuse (one that does not
// parse, or longer than compose takes) makes the entry invalid, left out of the list
// and refused by show, instead of a line to make it again that does not.
TEST_F(HistoryCli, RowsAreShownOnlyAsTheyAre) {
    const auto ids = compose_and_record({poem});
    Record shaped = records_[0];
    shaped.edits = "1+";
    struct Row {
        const char* name;
        std::string edits;
        std::optional<std::int64_t> origin;
        const char* listed;  // what the list says of it; null when left out
    };
    std::string huge = "1+";
    while (huge.size() < (3u << 20)) huge += ",1+";
    const Row rows[] = {
        {"an origin of -7", "1+", -7, "edited  "},
        {"an origin later than itself", "1+", 99, "edited  "},
        {"its real origin", "1+", ids[0], "edited from 1  "},
        {"no origin", "1+,fix", std::nullopt, "edited  "},
        {"a sentence that does not exist", "s9:1:1", std::nullopt, nullptr},
        {"a comma at the end", "fix,", std::nullopt, nullptr},
        {"three megabytes of edits", huge, std::nullopt, nullptr},
    };
    quavella::history::Store store(history_file());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        shaped.edits = row.edits;
        shaped.origin = row.origin;
        std::int64_t id = 0;
        ASSERT_EQ(store.record(shaped, id), Status::ok) << store.last_error();
        const std::string number = std::to_string(id);
        const CliRun listed = run({"history", "list", "--limit", "1"});
        ASSERT_EQ(listed.status, 0) << listed.err;
        const CliRun shown = run({"history", "show", number});
        if (row.listed == nullptr) {
            EXPECT_EQ(listed.out.rfind(number + "  ", 0), std::string::npos) << listed.out;
            EXPECT_NE(listed.err.find("entry " + number + " of the history is not valid"),
                      std::string::npos)
                << listed.err;
            EXPECT_NE(shown.status, 0);
            EXPECT_NE(shown.err.find("is not valid"), std::string::npos) << shown.err;
            EXPECT_LT(shown.err.size(), 1000u);
            EXPECT_EQ(shown.out, "");
            continue;
        }
        EXPECT_EQ(listed.out.rfind(number + "  ", 0), 0u) << listed.out;
        EXPECT_NE(listed.out.find(row.listed), std::string::npos) << listed.out;
        ASSERT_EQ(shown.status, 0) << shown.err;
        EXPECT_EQ(shown.out.find("shaped from entry -7"), std::string::npos) << shown.out;
        EXPECT_EQ(shown.out.find("shaped from entry 99"), std::string::npos) << shown.out;
        const CliRun json = shell("quavella-cli history show --json " + number);
        EXPECT_NE(json.out.find(row.origin == ids[0] ? "\"origin\":1" : "\"origin\":null"),
                  std::string::npos)
            << json.out;
    }
}

// compose --best-of N --record records the press as the window does: all N in one
// transaction, the candidates passed over first as composed, the melody written last,
// listed as one line; history=ID names the melody written.
TEST_F(HistoryCli, ComposeBestOfRecordKeepsThePressTogether) {
    write_file(dir_ / "poem.txt", poem[0] + "\n" + poem[1] + "\n");
    const CliRun composed =
        run({"compose", "--seed", "5", "--best-of", "4", "--record", "-o", "b.mid", "poem.txt"});
    ASSERT_EQ(composed.status, 0) << composed.err;
    EXPECT_TRUE(composed.out.ends_with(" history=4\n")) << composed.out;
    std::vector<std::string> states;  // candidate=K state=S:T, in the order composed
    std::string chosen_state;
    std::istringstream lines(composed.out);
    for (std::string line; std::getline(lines, line);) {
        const auto at = line.find(" state=");
        if (line.starts_with("candidate=")) {
            states.push_back(line.substr(at + 7, line.find(' ', at + 1) - at - 7));
        } else if (const auto written = line.find(" candidate="); written != std::string::npos) {
            const auto state = line.find(" state=", written);
            chosen_state = line.substr(state + 7, line.find(' ', state + 1) - state - 7);
        }
    }
    ASSERT_EQ(states.size(), 4u) << composed.out;
    const auto chosen_at = std::find(states.begin(), states.end(), chosen_state);
    ASSERT_NE(chosen_at, states.end()) << composed.out;
    std::vector<std::string> expected = states;
    expected.erase(expected.begin() + (chosen_at - states.begin()));
    expected.push_back(chosen_state);

    quavella::history::Store store(history_file());
    for (std::int64_t id = 1; id <= 4; ++id) {
        quavella::history::Entry entry;
        ASSERT_EQ(store.get(id, entry), Status::ok) << store.last_error();
        EXPECT_EQ(quavella::history::state_text(entry.record.state), expected[id - 1]) << id;
        EXPECT_EQ(entry.chosen, 4) << id;
        // Each entry holds the melody its state makes: the one written, and those passed
        // over (made again when they were recorded).
        const std::string again = "state" + std::to_string(id) + ".mid";
        ASSERT_EQ(run({"compose", "--state", expected[id - 1], "-o", again, "poem.txt"}).status, 0);
        EXPECT_EQ(entry.record.midi, read_file(dir_ / again)) << id;
        if (id == 4) {
            EXPECT_EQ(entry.record.midi, read_file(dir_ / "b.mid"));
        }
    }
    const CliRun listed = run({"history", "list"});
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 1) << listed.out;
    EXPECT_NE(listed.out.find(" best of 4  "), std::string::npos) << listed.out;
}

}  // namespace
