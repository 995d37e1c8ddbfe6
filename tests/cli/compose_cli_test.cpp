// quavella-cli compose as a user runs it: the real binary on small lyric
// files, checked on exit status, output lines and the MIDI file it writes
// (read back with midicsv).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/cli_runner.h"
#include "tests/support/files.h"
#include "tests/support/tools.h"

namespace {

namespace fs = std::filesystem;
using namespace quavella::test;

class CliCompose : public ::testing::Test {
protected:
    void SetUp() override { write_file(path("poem.txt"), poem); }

    std::string path(const std::string& name) const { return dir_.file(name); }

    // Runs the CLI in the test's directory with `input` on standard input.
    CliRun run(const std::vector<std::string>& args, const std::string& input = "") {
        return run_cli(args, input, dir_.path());
    }

    // 春眠不觉晓，处处闻啼鸟。 / 夜来风雨声，花落知多少。 in UTF-8: 20 syllables.
    const std::string poem =
        "\xE6\x98\xA5\xE7\x9C\xA0\xE4\xB8\x8D\xE8\xA7\x89\xE6\x99\x93\xEF\xBC\x8C"
        "\xE5\xA4\x84\xE5\xA4\x84\xE9\x97\xBB\xE5\x95\xBC\xE9\xB8\x9F\xE3\x80\x82\n"
        "\xE5\xA4\x9C\xE6\x9D\xA5\xE9\xA3\x8E\xE9\x9B\xA8\xE5\xA3\xB0\xEF\xBC\x8C"
        "\xE8\x8A\xB1\xE8\x90\xBD\xE7\x9F\xA5\xE5\xA4\x9A\xE5\xB0\x91\xE3\x80\x82\n";
    ScratchDir dir_;
};

int count_of(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST_F(CliCompose, WritesTheCompositionAndReportsIt) {
    const CliRun r = run({"compose", "--seed", "42", "--speed", "2", "--mode", "2", "--timbre", "8",
                          "-o", "song.mid", "poem.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    // Seed 42 means: tempo 180 + 12 from the first draw, then this melody, worked
    // out apart from this program; a seed must make the same melody on every run.
    // 六声调式2 composes with the six tones that have F (scale table 1).
    EXPECT_EQ(r.out, "seed=42 notes=20 tempo=192 mode=1 program=64 file=song.mid\n");
    EXPECT_EQ(r.err, "");

    ASSERT_EQ(missing_midicsv(), "");
    const std::string csv = midicsv_text(path("song.mid"));
    EXPECT_NE(csv.find("0, 0, Header, 1, 2, 120"), std::string::npos) << csv;
    EXPECT_NE(csv.find("Tempo, " + std::to_string(60000000 / 192)), std::string::npos);
    EXPECT_NE(csv.find("Key_signature, 0, \"major\""), std::string::npos);
    EXPECT_NE(csv.find("Program_c, 1, 64"), std::string::npos);
    EXPECT_EQ(count_of(csv, "Note_on_c"), 20);
    const int notes[] = {65, 65, 64, 64, 62, 60, 60, 60, 64, 65,
                         57, 60, 57, 65, 60, 64, 62, 62, 64, 60};
    const int ticks[] = {240, 120, 240, 240, 360, 120, 240, 360, 240, 1200,
                         360, 120, 240, 240, 600, 240, 240, 240, 240, 960};
    std::string expected;
    int time = 0;
    for (int i = 0; i < 20; ++i) {
        const std::string key = std::to_string(notes[i]);
        expected += "2, " + std::to_string(time) + ", Note_on_c, 1, " + key + ", 95\n";
        time += ticks[i];
        expected += "2, " + std::to_string(time) + ", Note_off_c, 1, " + key + ", 95\n";
    }
    const std::size_t from = csv.find("2, 0, Note_on_c");
    ASSERT_NE(from, std::string::npos) << csv;
    EXPECT_EQ(csv.substr(from, expected.size()), expected);
}

/// Terminal columns of a UTF-8 line: CJK characters and fullwidth marks take two.
std::size_t columns(const std::string& line) {
    std::size_t cols = 0;
    for (std::size_t i = 0; i < line.size();) {
        const auto b = static_cast<unsigned char>(line[i]);
        const std::size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        unsigned cp = len == 1 ? b : b & (0x7Fu >> len);
        for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (line[i + k] & 0x3F);
        cols += (cp >= 0x3000 && cp <= 0x9FFF) || (cp >= 0xFF00 && cp <= 0xFF60) ? 2 : 1;
        i += len;
    }
    return cols;
}

TEST_F(CliCompose, ScorePrintsTheSameMelodyWithItsSyllables) {
    // 六声调式2: the melody of WritesTheCompositionAndReportsIt.
    const CliRun plain = run({"compose", "--seed", "42", "--speed", "2", "--mode", "2", "--timbre",
                              "8", "-o", "plain.mid", "poem.txt"});
    const CliRun r = run({"compose", "--seed", "42", "--speed", "2", "--mode", "2", "--timbre", "8",
                          "-o", "song.mid", "--score", "poem.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(path("song.mid")), read_file(path("plain.mid")));
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line.substr(0, line.find(" file=")), plain.out.substr(0, plain.out.find(" file=")));
    std::getline(lines, line);
    EXPECT_EQ(line, "春眠不觉晓  1=C 4/4 \u2669=192");

    // Pairs of lines after a blank one: notes, then the syllables under them.
    // A digit starts a note unless the symbol before it was tied on (~); 0 is a rest.
    std::string degrees;
    std::string sung;
    bool tied = false;
    int pairs = 0;
    while (std::getline(lines, line)) {
        ASSERT_EQ(line, "");
        std::string notes;
        std::string syllables;
        ASSERT_TRUE(std::getline(lines, notes));
        ASSERT_TRUE(std::getline(lines, syllables));
        EXPECT_LE(columns(notes), 80u) << notes;
        ++pairs;
        std::istringstream symbols(notes);
        for (std::string sym; symbols >> sym;) {
            if (sym[0] >= '1' && sym[0] <= '7' && !tied) {
                // The degree and its octave marks, without duration symbols.
                degrees += sym.substr(0, sym.find_first_not_of("1234567',")) + " ";
            }
            if (sym != "|" && sym != "V") tied = sym.back() == '~';
        }
        std::istringstream words(syllables);
        for (std::string w; words >> w;) {
            if (w.size() > 2 && w[0] >= '1' && w[0] <= '4' && w[1] == '.') w = w.substr(2);
            sung += w;
        }
    }
    EXPECT_GE(pairs, 2);
    // The notes of the composition file: 65 65 64 64 62 60 60 60 64 65 57 60 57 ...
    EXPECT_EQ(degrees, "4 4 3 3 2 1 1 1 3 4 6, 1 6, 4 1 3 2 2 3 1 ");
    EXPECT_EQ(sung, "春眠不觉晓处处闻啼鸟夜来风雨声花落知多少");
}

TEST_F(CliCompose, SameSeedSameBytesAndItemTextsEqualPositions) {
    const CliRun a = run({"compose", "--seed=7", "--speed", "1", "--mode", "3", "--timbre", "5",
                          "-o", "a.mid", "poem.txt"});
    const CliRun b = run({"compose", "--seed", "7", "--speed", "中", "--mode", "五声调式",
                          "--timbre", "小提琴", "-o", "b.mid", "-"},
                         poem);
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(a.out.substr(0, a.out.find(" file=")), b.out.substr(0, b.out.find(" file=")));
    EXPECT_EQ(read_file(path("a.mid")), read_file(path("b.mid")));
}

TEST_F(CliCompose, DefaultsAndTheLargestSeed) {
    const CliRun r = run({"compose", "--seed", "18446744073709551615", "poem.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(
        r.out, m,
        std::regex(
            R"(seed=18446744073709551615 notes=20 tempo=(1[01]\d|9\d) mode=3 program=0 file=temp\.mid\n)")))
        << r.out;
    EXPECT_TRUE(fs::exists(path("temp.mid")));
}

TEST_F(CliCompose, TextChecksRefuseWithoutWritingAFile) {
    const std::vector<std::pair<std::string, std::string>> rows{
        {"", "请输入歌词！\n"},
        {"\n\n", "请输入歌词！\n"},
        {"ab\ncde\n", "歌词太短，没感觉！\n"},
        {"\xE6\x98\xA5\xE7\x9C\xA0\xE4\xB8\x8D\xE8\xA7\x89"
         "a",
         "歌词太短，没感觉！\n"},  // 9 GBK bytes
    };
    for (const auto& [input, message] : rows) {
        const CliRun r = run({"compose", "-o", "no.mid"}, input);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, message);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(fs::exists(path("no.mid")));
    }
}

// Lyrics have a size limit, line ends included, from a file, standard input or
// --lyrics-hex alike: at the limit they compose, one byte over they are refused naming it.
// An endless stream is refused after the limit, never read to its end.
TEST_F(CliCompose, LyricsOverTheSizeLimitAreRefusedNamingIt) {
    const std::string refusal = "歌词太长：最多 65536 字节（64 KB）。\n";
    const std::string at_limit = std::string(32767, 'a') + "\n" + std::string(32768, 'b');
    const std::string over = at_limit + "\n";
    write_file(path("over.txt"), over);
    const std::string hex_over(2 * over.size(), '6');
    struct Row {
        const char* name;
        std::vector<std::string> args;
        std::string input;
        bool composed;
    };
    const Row rows[] = {
        {"at the limit", {"compose", "-o", "out.mid"}, at_limit, true},
        {"one line end over", {"compose", "-o", "out.mid"}, over, false},
        {"a file over", {"compose", "-o", "out.mid", "over.txt"}, "", false},
        {"analyze over", {"analyze"}, over, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(path("out.mid"));
        const CliRun r = run(row.args, row.input);
        if (row.composed) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(fs::exists(path("out.mid")));
        } else {
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err, refusal);
            EXPECT_EQ(r.out, "");
            EXPECT_FALSE(fs::exists(path("out.mid")));
        }
    }
    // As hex, in two arguments (one holds at most 128 KiB), from a script: a command of
    // "sh -c" would be one argument.
    write_file(path("hex.sh"), shell_quoted(QUAVELLA_CLI_PATH) +
                                   " compose -o out.mid --lyrics-hex " + hex_over.substr(0, 65536) +
                                   " --lyrics-hex " + hex_over.substr(65536) + " 2>err\necho $?\n");
    EXPECT_EQ(shell_output("cd " + shell_quoted(dir_.path().string()) + " && sh hex.sh"), "1\n");
    EXPECT_EQ(read_file(path("err")), refusal);
    EXPECT_FALSE(fs::exists(path("out.mid")));

    const std::string endless =
        "cd " + shell_quoted(dir_.path().string()) + " && yes 春眠不觉晓 | timeout 60 " +
        shell_quoted(QUAVELLA_CLI_PATH) + " compose -o out.mid 2>err; echo $?";
    EXPECT_EQ(shell_output(endless), "1\n");
    EXPECT_EQ(read_file(path("err")), refusal);
}

TEST_F(CliCompose, DroppedCharactersAreNamedAndTheRestComposedAsWithout) {
    // The poem with an emoji and a zero-width joiner in it: GBK has neither.
    std::string decorated = poem;
    decorated.insert(poem.find('\n'), "\xF0\x9F\x8E\xB5\xE2\x80\x8D");
    const CliRun with = run({"compose", "--seed", "11", "-o", "with.mid"}, decorated);
    const CliRun without = run({"compose", "--seed", "11", "-o", "without.mid", "poem.txt"});
    ASSERT_EQ(with.status, 0) << with.err;
    EXPECT_EQ(with.err, "歌词中有无法使用的字符，已略去：\xF0\x9F\x8E\xB5 (U+1F3B5)、U+200D\n");
    EXPECT_EQ(without.err, "");
    EXPECT_EQ(read_file(path("with.mid")), read_file(path("without.mid")));

    const CliRun nothing = run({"compose", "-o", "no.mid"}, "\xF0\x9F\x98\x80\n\xF0\x9F\x98\x80");
    EXPECT_EQ(nothing.status, 1);
    EXPECT_EQ(nothing.err, "歌词中没有可用于作曲的字符（无法使用：\xF0\x9F\x98\x80 (U+1F600)）\n");
    EXPECT_FALSE(fs::exists(path("no.mid")));

    const CliRun analysed = run({"analyze"}, decorated);
    EXPECT_EQ(analysed.status, 0);
    EXPECT_EQ(analysed.err, with.err);
}

TEST_F(CliCompose, LyricsWithoutASyllableAreRefusedAsEmpty) {
    for (const std::string& input :
         {std::string("          "), std::string("\t\xE3\x80\x80\n\"\" :"),
          std::string("\xEF\xBB\xBF\xE2\x80\x9C\xE2\x80\x9D\x00\x01 ", 10)}) {
        const CliRun r = run({"compose", "--seed", "3", "-o", "blank.mid"}, input);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "请输入歌词！\n");
        EXPECT_FALSE(fs::exists(path("blank.mid")));
    }
}

TEST_F(CliCompose, MarksAndBlanksGetNoNoteInEitherEncoding) {
    // Each decorated text composes the plain poem's melody byte for byte, silently.
    const std::string tab = "\t";
    const std::string ideographic_space = "\xE3\x80\x80";
    const std::string bom = "\xEF\xBB\xBF";
    const std::string left_quote = "\xE2\x80\x9C", right_quote = "\xE2\x80\x9D";
    const std::string left_title = "\xE3\x80\x8A", right_title = "\xE3\x80\x8B";
    std::string decorated_utf8 = bom + tab + left_quote + poem;
    decorated_utf8.insert(decorated_utf8.find('\n'), right_quote + ":");
    decorated_utf8 += left_title + std::string("\0\x01#", 3) + right_title + ideographic_space;

    const CliRun plain = run({"compose", "--seed", "5", "-o", "plain.mid", "poem.txt"});
    const CliRun utf8 = run({"compose", "--seed", "5", "-o", "utf8.mid"}, decorated_utf8);
    ASSERT_EQ(plain.status, 0) << plain.err;
    ASSERT_EQ(utf8.status, 0) << utf8.err;
    EXPECT_EQ(utf8.err, "");
    EXPECT_EQ(read_file(path("utf8.mid")), read_file(path("plain.mid")));

    // The same marks in GBK: A1 B0/B1 quotes, A1 B6/B7 title marks, A1 A1 space.
    const std::string gbk_poem =
        "\xB4\xBA\xC3\xDF\xB2\xBB\xBE\xF5\xCF\xFE\xA3\xAC\xB4\xA6\xB4\xA6\xCE\xC5\xCC\xE4\xC4\xF1"
        "\xA1\xA3\n"
        "\xD2\xB9\xC0\xB4\xB7\xE7\xD3\xEA\xC9\xF9\xA3\xAC\xBB\xA8\xC2\xE4\xD6\xAA\xB6\xE0\xC9\xD9"
        "\xA1\xA3\n";
    std::string decorated_gbk = "\t\xA1\xB0" + gbk_poem;
    decorated_gbk.insert(decorated_gbk.find('\n'), "\xA1\xB1:");
    decorated_gbk += std::string("\xA1\xB6\0\x01#\xA1\xB7\xA1\xA1", 9);
    const CliRun gbk =
        run({"compose", "--seed", "5", "--encoding", "gbk", "-o", "gbk.mid"}, decorated_gbk);
    ASSERT_EQ(gbk.status, 0) << gbk.err;
    EXPECT_EQ(read_file(path("gbk.mid")), read_file(path("plain.mid")));
}

/// The names in a folder, sorted: a temporary left behind shows here.
std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(CliCompose, AFailedWriteLeavesEveryOldOutputAsItWas) {
    // Files may not grow past a limit (SIGXFSZ ignored, so writes fail with "File too
    // large" as on a full disk): the output that crosses it fails, and the command
    // replaces none of its outputs, however many were complete.
    const struct {
        const char* kind;
        std::vector<std::string> outputs;  // after -o song.mid
        const char* limit;
        const char* failing;
        const char* reason;
    } rows[] = {
        {"composition", {}, "100", "song.mid", "File too large"},
        {"MusicXML", {"--musicxml", "song.musicxml"}, "1000", "song.musicxml", "File too large"},
        {"lyric MIDI",
         {"--lyrics-midi", "words.mid"},
         "300",
         "words.mid",
         "write error (maybe disk full)"},
        {"audio",
         {"--musicxml", "song.musicxml", "--audio", "song.wav"},
         "100000",
         "song.wav",
         "File too large"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.kind);
        std::vector<std::string> args{"compose", "--seed", "42", "-o", "song.mid"};
        args.insert(args.end(), row.outputs.begin(), row.outputs.end());
        args.push_back("poem.txt");
        std::vector<std::string> files{"song.mid"};
        for (std::size_t i = 1; i < row.outputs.size(); i += 2) files.push_back(row.outputs[i]);
        for (const std::string& f : files) write_file(path(f), "good old " + f);
        const std::vector<std::string> before = names_in(dir_.path());

        std::string command = "trap '' XFSZ; cd " + shell_quoted(dir_.path().string()) +
                              " && prlimit --fsize=" + row.limit + " " +
                              shell_quoted(QUAVELLA_CLI_PATH);
        for (const std::string& a : args) command += " " + shell_quoted(a);
        command += " >/dev/null 2>" + shell_quoted(path("err.txt"));
        const int raw = std::system(command.c_str());
        const std::string err = read_file(path("err.txt"));
        fs::remove(path("err.txt"));

        EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << err;
        EXPECT_EQ(err, std::string("quavella-cli: cannot write '") + row.failing +
                           "': " + row.reason + "\n");
        for (const std::string& f : files) EXPECT_EQ(read_file(path(f)), "good old " + f);
        EXPECT_EQ(names_in(dir_.path()), before);
    }
}

TEST_F(CliCompose, AKillInTheMiddleLeavesTheOldFileOrTheWholeNewOne) {
    write_file(path("song.wav"), "good old audio");
    write_file(path("song.mid"), "good old melody");
    const CliRun whole =
        run({"compose", "--seed", "7", "-o", "whole.mid", "--audio", "whole.wav", "poem.txt"});
    ASSERT_EQ(whole.status, 0) << whole.err;
    int old_kept = 0;
    for (const int delay_ms : {20, 60, 120, 200, 300, 450, 700, 1000}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::chdir(dir_.path().c_str()) != 0) ::_exit(3);
            std::freopen("/dev/null", "w", stdout);
            ::execl(QUAVELLA_CLI_PATH, QUAVELLA_CLI_PATH, "compose", "--seed", "7", "-o",
                    "song.mid", "--audio", "song.wav", "poem.txt", static_cast<char*>(nullptr));
            ::_exit(3);
        }
        ::usleep(static_cast<useconds_t>(delay_ms) * 1000);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        const std::string wav = read_file(path("song.wav"));
        const std::string mid = read_file(path("song.mid"));
        if (wav == "good old audio") {
            ++old_kept;
            EXPECT_EQ(mid, "good old melody") << "the melody replaced without its audio";
        } else {
            EXPECT_EQ(wav, read_file(path("whole.wav"))) << "after " << delay_ms << " ms";
            EXPECT_EQ(mid, read_file(path("whole.mid")));
        }
    }
    EXPECT_GT(old_kept, 0) << "no kill came before the end: the test proved nothing";
    // What the killed runs left is removed by the next write into the folder.
    ASSERT_EQ(run({"compose", "--seed", "7", "-o", "song.mid", "poem.txt"}).status, 0);
    for (const std::string& name : names_in(dir_.path())) {
        EXPECT_FALSE(name.ends_with(".tmp")) << name;
    }
}

// SIGINT, SIGTERM or SIGHUP while the audio renders: the temporaries go with the program,
// which ends by that signal; the old files stay as they were.
TEST_F(CliCompose, ASignalInTheMiddleLeavesNoTemporary) {
    const std::string long_poem = poem + poem + poem + poem;
    write_file(path("long.txt"), long_poem);
    int signalled = 0;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        write_file(path("k.wav"), "good old audio");
        write_file(path("k.mid"), "good old melody");
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::chdir(dir_.path().c_str()) != 0) ::_exit(3);
            std::freopen("/dev/null", "w", stdout);
            std::signal(sig, SIG_DFL);  // as a shell starts it, even one run under nohup
            ::execl(QUAVELLA_CLI_PATH, QUAVELLA_CLI_PATH, "compose", "--seed", "7", "-o", "k.mid",
                    "--audio", "k.wav", "long.txt", static_cast<char*>(nullptr));
            ::_exit(3);
        }
        // Until the audio's temporary is there: the render has begun.
        bool staged = false;
        for (int tries = 0; tries < 2000 && !staged; ++tries) {
            for (const std::string& name : names_in(dir_.path()))
                staged = staged || name.starts_with(".k.wav.");
            if (!staged) ::usleep(1000);
        }
        ::kill(child, sig);
        int wstatus = 0;
        ASSERT_EQ(::waitpid(child, &wstatus, 0), child);
        ASSERT_TRUE(staged) << "the render never began";
        if (WIFEXITED(wstatus)) {
            // Done before the signal came: everything is in place.
            EXPECT_EQ(WEXITSTATUS(wstatus), 0);
            continue;
        }
        ++signalled;
        EXPECT_TRUE(WIFSIGNALED(wstatus) && WTERMSIG(wstatus) == sig) << wstatus;
        EXPECT_EQ(read_file(path("k.wav")), "good old audio");
        EXPECT_EQ(read_file(path("k.mid")), "good old melody");
        for (const std::string& name : names_in(dir_.path())) {
            EXPECT_FALSE(name.ends_with(".tmp")) << name;
        }
    }
    EXPECT_GT(signalled, 0) << "every run ended before its signal: the test proved nothing";
}

TEST_F(CliCompose, OutputsAndInputAreComparedByTheFileTheyLeadTo) {
    fs::create_directory(path("d"));
    write_file(path("old.mid"), "old");
    fs::create_symlink("old.mid", path("link.mid"));
    const std::string here = dir_.path().string();
    const struct {
        std::string out, musicxml, lyrics;
        std::string refused;  // the message's subject and name
    } rows[] = {
        {"x.mid", "./x.mid", "poem.txt", "-o and --musicxml name the same file './x.mid'"},
        {"x.mid", here + "/x.mid", "poem.txt",
         "-o and --musicxml name the same file '" + here + "/x.mid'"},
        {"x.mid", "d/../x.mid", "poem.txt", "-o and --musicxml name the same file 'd/../x.mid'"},
        {"old.mid", "link.mid", "poem.txt", "-o and --musicxml name the same file 'link.mid'"},
        {"d/../poem.txt", "x.musicxml", here + "/poem.txt",
         "-o and the lyric file name the same file '" + here + "/poem.txt'"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.refused);
        const CliRun r =
            run({"compose", "--seed", "1", "-o", row.out, "--musicxml", row.musicxml, row.lyrics});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "quavella-cli: " + row.refused + "; try --help\n");
        EXPECT_EQ(read_file(path("old.mid")), "old");
        EXPECT_EQ(read_file(path("poem.txt")), poem);
        EXPECT_FALSE(fs::exists(path("x.mid")));
    }
    const CliRun apart =
        run({"compose", "--seed", "1", "-o", "d/x.mid", "--musicxml", "x.mid", "poem.txt"});
    EXPECT_EQ(apart.status, 0) << apart.err;
}

TEST_F(CliCompose, UnwritableOutputIsAnErrorNamingTheFile) {
    const CliRun r = run({"compose", "--seed", "1", "-o", "missing-dir/x.mid", "poem.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("missing-dir/x.mid"), std::string::npos) << r.err;
}

TEST_F(CliCompose, ExportsAreWrittenBesideTheCompositionAndReported) {
    const CliRun plain = run({"compose", "--seed", "42", "-o", "plain.mid", "poem.txt"});
    const CliRun r =
        run({"compose", "--seed", "42", "-o", "song.mid", "--musicxml", "song.musicxml",
             "--lyrics-midi", "lyrics.mid", "--audio", "song.ogg", "poem.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "seed=42 notes=20 tempo=112 mode=3 program=0 file=song.mid "
              "musicxml=song.musicxml lyrics-midi=lyrics.mid audio=song.ogg\n");
    // The composition itself is the one written without exports.
    EXPECT_EQ(read_file(path("song.mid")), read_file(path("plain.mid")));
    const std::string xml = read_file(path("song.musicxml"));
    EXPECT_EQ(count_of(xml, "<lyric "), 20);
    EXPECT_NE(xml.find("<work-title>春眠不觉晓</work-title>"), std::string::npos);
    EXPECT_EQ(count_of(midicsv_text(path("lyrics.mid")), "Lyric_t"), 20);
    EXPECT_EQ(read_file(path("song.ogg")).compare(0, 4, "OggS"), 0);
}

TEST_F(CliCompose, AnExportThatCannotBeWrittenFailsTheCommandNamingIt) {
    const CliRun r =
        run({"compose", "--seed", "42", "-o", "song.mid", "--musicxml", "missing-dir/s.musicxml",
             "--lyrics-midi", "lyrics.mid", "--audio", "song.mp3", "poem.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");  // nothing is reported as written
    EXPECT_EQ(r.err,
              "quavella-cli: cannot write 'missing-dir/s.musicxml': No such file or directory\n"
              "quavella-cli: cannot write 'song.mp3': audio file type '.mp3' is not supported "
              "(use .wav, .flac, .ogg, .oga, .aiff, .aif, .au, .caf, .w64, .rf64)\n");
    EXPECT_FALSE(fs::exists(path("song.mp3")));
}

// File names come from users too: what a terminal would act on is printed escaped,
// on standard output and in messages, and the file is still written under its name.
TEST_F(CliCompose, NamesThatATerminalWouldActOnArePrintedEscaped) {
    const std::string name =
        "a\x1b[2J\xe2\x80\xae"
        "b.mid";
    const CliRun r = run({"compose", "--seed", "1", "-o", name, "poem.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("file=a\\x1B[2J<U+202E>b.mid"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(path(name)));

    const CliRun missing = run({"compose", "--seed", "1", "no\x1b]0;title\x07such.txt"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("no\\x1B]0;title\\x07such.txt"), std::string::npos) << missing.err;
    EXPECT_EQ(missing.err.find('\x1b'), std::string::npos);
}

// Every refused command line: one line on standard error naming what is wrong
// and "try --help", exit 2, nothing on standard output and no file written.
TEST_F(CliCompose, UsageErrorsAreOneLineAndWriteNothing) {
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"--seed", "-1"}, "invalid value '-1' for --seed (0 to 18446744073709551615)"},
        {{"--seed", "18446744073709551616"},
         "invalid value '18446744073709551616' for --seed (0 to 18446744073709551615)"},
        {{"--edits", ""}, "--edits: no edit given"},
        {{"--edits", ","},
         "--edits: item 1 \"\": empty item (two commas in a row, or a comma at an end)"},
        {{"--speed", "fast"}, "invalid value 'fast' for --speed (0 to 2, or 慢 中 快)"},
        {{"--speed", "5"}, "--speed 5 is out of range (0 to 2, or 慢 中 快)"},
        {{"--mode", "99"},
         "--mode 99 is out of range (0 to 3, or 七声调式 六声调式1 六声调式2 五声调式)"},
        {{"--timbre", "99999"},
         "--timbre 99999 is out of range (0 to 9, or 钢琴 八音盒 风琴 吉他 贝司 小提琴 弦乐组 "
         "小号 萨克斯 短笛)"},
        {{"--timbre"}, "--timbre needs a value"},
        {{"-o"}, "-o needs a file name"},
        {{"--bogus\x1b[2J"}, "unknown option '--bogus\\x1B[2J' for compose"},
        {{"poem.txt"}, "more than one FILE: 'poem.txt'"},
        {{"--score=yes"}, "--score takes no value"},
        {{"--musicxml", "temp.mid"}, "-o and --musicxml name the same file 'temp.mid'"},
        {{"--karaoke", "-", "-o", "out.mid"},
         "--karaoke - : only -o writes to standard output (name the file ./- for a file called "
         "-)"},
        {{"--json", "--score"}, "--json and --score cannot be used together"},
        {{"--audio"}, "--audio needs a file name"},
    };
    for (const auto& [options, message] : rows) {
        std::vector<std::string> args{"compose", "poem.txt"};
        args.insert(args.end(), options.begin(), options.end());
        const CliRun r = run(args);
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_EQ(r.err, "quavella-cli: " + message + "; try --help\n");
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(fs::exists(path("temp.mid"))) << message;
        EXPECT_FALSE(fs::exists(path("out.mid"))) << message;
    }
}

TEST_F(CliCompose, DashAsOutputWritesTheCompositionToStandardOutput) {
    const CliRun file = run({"compose", "--seed", "9", "--timbre", "9", "-o", "a.mid", "poem.txt"});
    ASSERT_EQ(file.status, 0) << file.err;
    const CliRun piped = run({"compose", "--seed", "9", "--timbre", "9", "-o", "-", "--best-of",
                              "1", "--karaoke", "a.kar", "poem.txt"});
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, read_file(path("a.mid")));
    // The report goes to standard error, so the bytes stay clean; no file named "-".
    EXPECT_EQ(piped.err,
              std::regex_replace(file.out, std::regex("file=a.mid"), "file=- karaoke=a.kar"));
    EXPECT_FALSE(fs::exists(path("-")));
    EXPECT_TRUE(read_file(path("a.kar")).starts_with("MThd"));

    // Best of N to standard output: the bytes of the chosen candidate's state.
    const CliRun best = run({"compose", "--seed", "9", "--best-of", "3", "-o", "-", "poem.txt"});
    ASSERT_EQ(best.status, 0) << best.err;
    std::smatch state;
    ASSERT_TRUE(
        std::regex_search(best.err, state, std::regex("file=- candidate=\\d+ state=(\\S+)")));
    const CliRun again = run({"compose", "--state", state[1].str(), "-o", "again.mid", "poem.txt"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(best.out, read_file(path("again.mid")));
}

TEST_F(CliCompose, VersionNamesTheProgramAndItsVersion) {
    const CliRun r = run({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(std::regex_match(r.out, std::regex("quavella-cli [0-9]+\\.[0-9]+\n"))) << r.out;
    EXPECT_EQ(r.err, "");
}

/// Checks JSON output against the documented fields of `kind` with python3's json.
std::string json_check(const std::string& kind, const std::string& json) {
    const std::string script = QUAVELLA_CLI_TESTS_DIR "/json_fields.py";
    return shell_output("printf '%s' " + shell_quoted(json) + " | /usr/bin/python3 " +
                        shell_quoted(script) + " " + kind);
}

/// One field of a JSON object, read by python3's json.
std::string json_field(const std::string& json, const std::string& expression) {
    return shell_output(
        "printf '%s' " + shell_quoted(json) + " | /usr/bin/python3 -c " +
        shell_quoted("import json,sys; d=json.load(sys.stdin); print(" + expression + ")"));
}

TEST_F(CliCompose, JsonOutputHasTheDocumentedFields) {
    if (shell_output("command -v /usr/bin/python3").empty()) GTEST_SKIP() << "python3 missing";
    const CliRun plain = run({"compose", "--seed", "42", "--timbre", "贝司", "poem.txt", "--json",
                              "-o", "j.mid", "--musicxml", "j.musicxml"});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(json_check("compose", plain.out), "ok 1\n");
    EXPECT_EQ(json_field(plain.out,
                         "d['seed'], d['start_state'], d['program'], d['file'], "
                         "d['exports']['musicxml'], d['exports']['audio'], "
                         "len(d['keys']), ''.join(d['syllables'])[:5]"),
              "42 42:42 32 j.mid j.musicxml None 20 春眠不觉晓\n");

    const CliRun best = run({"compose", "--state", "5:6", "--tones", "--best-of", "4", "--json",
                             "-o", "b.mid", "poem.txt"});
    ASSERT_EQ(best.status, 0) << best.err;
    EXPECT_EQ(json_check("compose-tones-best", best.out), "ok 1\n");
    // The chosen candidate is named by its place and state; its state makes the file again.
    EXPECT_EQ(json_field(best.out,
                         "d['seed'], d['start_state'], len(d['candidates']), "
                         "d['state'] == d['candidates'][d['chosen'] - 1]['state'], "
                         "d['tones']['percent'] == d['candidates'][d['chosen'] - "
                         "1]['percent'], d['tones']['graded'] == len(d['tones']['pairs'])"),
              "None 5:6 4 True True True\n");
    const std::string state = json_field(best.out, "d['state']");
    const CliRun again = run(
        {"compose", "--state", state.substr(0, state.size() - 1), "-o", "again.mid", "poem.txt"});
    ASSERT_EQ(again.status, 0);
    EXPECT_EQ(read_file(path("again.mid")), read_file(path("b.mid")));

    // analyze --json says what the text lines say.
    const CliRun analyzed = run({"analyze", "--json", "poem.txt"});
    EXPECT_EQ(json_check("analyze", analyzed.out), "ok 1\n");
    const CliRun text = run({"analyze", "poem.txt"});
    EXPECT_EQ(json_field(analyzed.out,
                         "'layout: ' + ' '.join(map(str, d['layout'])) + '\\nstc_cnt=%d "
                         "pause_cnt=%d val_sum=%d val_avg=%d' % (d['stc_cnt'], d['pause_cnt'], "
                         "d['val_sum'], d['val_avg'])"),
              text.out);
    // A syllable with escapes JSON needs: quotes, a backslash, a control character.
    write_file(path("odd.txt"), "say \"hi\" back\\slash\x07 and more words here\n");
    const CliRun tones = run({"analyze", "--json", "--tones", "odd.txt"});
    ASSERT_EQ(tones.status, 0) << tones.err;
    EXPECT_EQ(tones.out.find('\x07'), std::string::npos);
    EXPECT_EQ(json_check("analyze-tones", tones.out), "ok 1\n");
    const CliRun poem_tones = run({"analyze", "--json", "--tones", "poem.txt"});
    EXPECT_EQ(json_field(poem_tones.out,
                         "[(s['text'], s['tone'], s['sung_tone']) for s in "
                         "d['syllables']][:2]"),
              "[('春', 1, 1), ('眠', 2, 2)]\n");
    // A character with several readings names the word that read it.
    write_file(path("ground.txt"), "疑是地上霜，轻轻地走。\n");
    const CliRun words = run({"analyze", "--json", "--tones", "ground.txt"});
    EXPECT_EQ(json_check("analyze-tones", words.out), "ok 1\n");
    EXPECT_EQ(json_field(words.out,
                         "[(s['tone'], s['word']) for s in d['syllables'] if s['text'] == '地']"),
              "[(4, '地上'), (5, None)]\n");
}

}  // namespace
