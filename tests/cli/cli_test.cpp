// quavella-cli as a user runs it: the real binary on small input files and
// standard input, checked on its exit status, stdout and stderr.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "export/audio_render.h"
#include "tests/support/cli_runner.h"
#include "tests/support/files.h"

namespace {

using quavella::test::CliRun;
using quavella::test::run_cli;
using quavella::test::ScratchDir;
using quavella::test::write_file;

// A four-line poem in UTF-8 (春眠不觉晓，处处闻啼鸟。 / 夜来风雨声，花落知多少。) and the
// same text in GBK.
const std::string kPoemUtf8 =
    "\xE6\x98\xA5\xE7\x9C\xA0\xE4\xB8\x8D\xE8\xA7\x89\xE6\x99\x93\xEF\xBC\x8C"
    "\xE5\xA4\x84\xE5\xA4\x84\xE9\x97\xBB\xE5\x95\xBC\xE9\xB8\x9F\xE3\x80\x82\n"
    "\xE5\xA4\x9C\xE6\x9D\xA5\xE9\xA3\x8E\xE9\x9B\xA8\xE5\xA3\xB0\xEF\xBC\x8C"
    "\xE8\x8A\xB1\xE8\x90\xBD\xE7\x9F\xA5\xE5\xA4\x9A\xE5\xB0\x91\xE3\x80\x82\n";
const std::string kPoemGbk =
    "\xB4\xBA\xC3\xDF\xB2\xBB\xBE\xF5\xCF\xFE\xA3\xAC"
    "\xB4\xA6\xB4\xA6\xCE\xC5\xCC\xE4\xC4\xF1\xA1\xA3\n"
    "\xD2\xB9\xC0\xB4\xB7\xE7\xD3\xEA\xC9\xF9\xA3\xAC"
    "\xBB\xA8\xC2\xE4\xD6\xAA\xB6\xE0\xC9\xD9\xA1\xA3\n";
const std::string kPoemAnalysis =
    "layout: 5 -1 5 -1 5 -1 5 -1\n"
    "stc_cnt=4 pause_cnt=0 val_sum=16 val_avg=4\n";

TEST(CliAnalyze, SameResultFromEveryInputForm) {
    const ScratchDir dir;
    const std::string utf8 = dir.file("poem_utf8.txt"), gbk = dir.file("poem_gbk.txt");
    const std::string crlf = dir.file("poem_crlf.txt");
    write_file(utf8, kPoemUtf8);
    write_file(gbk, kPoemGbk);
    std::string crlf_text;
    for (const char c : kPoemUtf8) crlf_text += c == '\n' ? std::string("\r\n") : std::string(1, c);
    write_file(crlf, crlf_text);

    struct Form {
        const char* name;
        std::vector<std::string> args;
        std::string input;
    };
    const std::vector<Form> forms = {
        {"utf-8 file", {"analyze", utf8}, ""},
        {"sample file", {"analyze", QUAVELLA_SAMPLES_DIR "/chunxiao.txt"}, ""},
        {"gbk file", {"analyze", "--encoding", "gbk", gbk}, ""},
        {"gbk file, option after FILE", {"analyze", gbk, "--encoding=GBK"}, ""},
        {"crlf lines", {"analyze", crlf}, ""},
        {"stdin, no FILE", {"analyze"}, kPoemUtf8},
        {"stdin as -", {"analyze", "-"}, kPoemUtf8},
        {"stdin as - after --", {"analyze", "--", "-"}, kPoemUtf8},
        {"gbk on stdin", {"analyze", "--encoding", "gbk", "-"}, kPoemGbk},
    };
    for (const Form& f : forms) {
        const CliRun r = run_cli(f.args, f.input);
        EXPECT_EQ(r.status, 0) << f.name << ": " << r.err;
        EXPECT_EQ(r.out, kPoemAnalysis) << f.name;
        EXPECT_EQ(r.err, "") << f.name;
    }
}

TEST(CliAnalyze, LinesJoinAndEmptyTextIsAnalysed) {
    // Two lines of three characters with no mark between them make one word of six.
    const CliRun joined = run_cli({"analyze", "--encoding", "gbk"},
                                  "\xB4\xBA\xC3\xDF\xB2\xBB\n"
                                  "\xBE\xF5\xCF\xFE\xB4\xA6\n");
    EXPECT_EQ(joined.out,
              "layout: 1 -1 2 -1 1 -1 2 -1\nstc_cnt=4 pause_cnt=0 val_sum=2 val_avg=0\n");
    const CliRun empty = run_cli({"analyze"}, "");
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out,
              "layout: 0 -1 0 -1 0 -1 -1\nstc_cnt=4 pause_cnt=0 val_sum=-4 val_avg=-1\n");
}

TEST(CliAnalyze, InvalidUtf8NamesTheOffsetInTheFileAsGiven) {
    // Offset 7: after "ab\r\ncd\n"; the lines are joined only after the check.
    const CliRun r = run_cli({"analyze"}, "ab\r\ncd\n\xE6\x98 ef");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("invalid UTF-8"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("byte offset 7"), std::string::npos) << r.err;
    // The same bytes are fine as GBK.
    EXPECT_EQ(run_cli({"analyze", "--encoding", "gbk"}, "ab\r\ncd\n\xE6\x98 ef").status, 0);
}

TEST(CliAnalyze, UnreadableFileExitsOne) {
    const ScratchDir dir;
    const CliRun r = run_cli({"analyze", dir.file("does_not_exist.txt")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("does_not_exist.txt"), std::string::npos) << r.err;
}

TEST(CliUsage, BadCommandLinesAreOneLineAndExitTwo) {
    const std::vector<std::vector<std::string>> lines = {
        {},
        {"analyse"},
        {"analyze", "--bogus"},
        {"analyze", "--encoding"},
        {"analyze", "--encoding", "latin1"},
        {"analyze", "--encoding="},
        {"analyze", "a.txt", "b.txt"},
        {"-x"},
        {"analyze", "--json=yes"},
        {"history", "list", "--score"},
        {"history", "export", "1", "--json"},
        {"history", "export", "1", "--audio", "-"},
    };
    for (const auto& args : lines) {
        std::string shown;
        for (const auto& a : args) shown += " " + a;
        const CliRun r = run_cli(args);
        EXPECT_EQ(r.status, 2) << shown;
        EXPECT_EQ(r.out, "") << shown;
        EXPECT_TRUE(r.err.starts_with("quavella-cli: ")) << shown << ": " << r.err;
        EXPECT_TRUE(r.err.ends_with("; try --help\n")) << shown << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << shown << ": " << r.err;
    }
}

/// Columns a line takes on a terminal: East Asian wide characters two, others one.
int columns(const std::string& line) {
    int width = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto b = static_cast<unsigned char>(line[i]);
        if ((b & 0xC0) == 0x80) continue;  // a continuation byte
        // Three-byte sequences from U+1100 up hold the wide characters the help uses
        // (CJK, full-width forms); the help has no other three-byte character.
        width += b >= 0xE1 && b < 0xF0 ? 2 : 1;
    }
    return width;
}

TEST(CliUsage, HelpGoesToStdoutWithinEightyColumns) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"analyze", "--help"}}) {
        const CliRun r = run_cli(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_NE(r.out.find("quavella-cli analyze [--encoding E] "), std::string::npos);
        EXPECT_NE(r.out.find("quavella-cli compose [--speed P] [--mode P] [--timbre P] "),
                  std::string::npos);
        EXPECT_NE(r.out.find("quavella-cli history list [--limit N]"), std::string::npos);
        std::istringstream lines(r.out);
        std::string line;
        while (std::getline(lines, line)) EXPECT_LE(columns(line), 80) << line;
    }
}

TEST(CliUsage, HelpNamesEveryOptionOutputAndAudioType) {
    const CliRun r = run_cli({"--help"});
    const std::string synopsis = r.out.substr(0, r.out.find("\n\n"));
    for (const char* option : {"--speed P",
                               "--mode P",
                               "--timbre P",
                               "--seed S",
                               "--state S:T",
                               "--encoding E",
                               "-o OUT",
                               "--score",
                               "--musicxml FILE",
                               "--lyrics-midi FILE",
                               "--karaoke FILE",
                               "--audio FILE",
                               "--tones",
                               "--best-of N",
                               "--by-sentence",
                               "--edits LIST",
                               "--fix-tones[=suit]",
                               "--json",
                               "--record",
                               "--lyrics-hex HEX | FILE",
                               "--limit N",
                               "--candidates ID",
                               "--version"}) {
        EXPECT_NE(synopsis.find(option), std::string::npos) << option;
    }
    const std::string prints = r.out.substr(r.out.find("compose prints"));
    for (const char* field : {"musicxml=FILE", "lyrics-midi=FILE", "karaoke=FILE", "audio=FILE",
                              "candidate=K", "edits=LIST", "history=ID"}) {
        EXPECT_NE(prints.find(field), std::string::npos) << field;
    }
    // Each extension the audio export takes, as a word of its own (".aif" is not ".aiff").
    const std::string audio = r.out.substr(r.out.find("--audio FILE   "));
    for (const std::string& extension : quavella::exports::audio_extensions()) {
        bool listed = false;
        for (auto at = audio.find(extension); at != std::string::npos && !listed;
             at = audio.find(extension, at + 1)) {
            const char next = audio[at + extension.size()];
            listed = next == ',' || next == ' ' || next == ';';
        }
        EXPECT_TRUE(listed) << extension;
    }
}

TEST(CliUsage, VersionTakesNoOtherArgument) {
    const CliRun version = run_cli({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.starts_with("quavella-cli ")) << version.out;
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--version", "extra"}, {"compose", "--version"}, {"--version", "--version"}}) {
        const CliRun r = run_cli(args);
        EXPECT_EQ(r.status, 2) << args[0] << " " << args[1];
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "quavella-cli: --version takes no other argument; try --help\n");
    }
}

}  // namespace
