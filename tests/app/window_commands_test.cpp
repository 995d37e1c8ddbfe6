// The window's commands without a window: start-up, compose with its refusals and
// failures, the play file rotation, stop and save as, over fakes and real files.
#include "app/commands/window_commands.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <numeric>
#include <span>

#include "app_fakes.h"
#include "tones/tone_grading.h"

namespace quavella {
namespace {

using namespace quavella::test;
namespace fs = std::filesystem;

const std::string kLyrics = "春眠不觉晓，处处闻啼鸟。夜来风雨声，花落知多少。";

/// The commands over fakes, in a scratch directory that is the current one.
class CommandsTest : public ::testing::Test, protected CommandFakes {
protected:
    CommandsTest() { commands.start_up(clock, fs::current_path().string()); }

    ComposeInput lyrics(std::vector<std::string> lines, int speed = 0, int mode = 0,
                        int timbre = 0) {
        return {std::move(lines), speed, mode, timbre};
    }
    using Buttons = std::array<bool, 6>;
    static constexpr Buttons kFresh{false, true, false, false, false, false};
    static constexpr Buttons kLoaded{false, false, true, true, true, true};
    static constexpr Buttons kStopped{false, true, false, false, true, true};

    ScratchDir dir{ScratchDir::Current::enter};
    WindowCommands commands{services(), "quavella"};
};

TEST_F(CommandsTest, StartUpSetsPlayFileAndKeepsTheCurrentDirectory) {
    EXPECT_EQ(commands.play_file(), "1.mid");
    EXPECT_EQ(commands.start_dir(), dir.path().string());
    EXPECT_TRUE(log.empty());
}

TEST_F(CommandsTest, StartUpReportsAnUnreadableDirectoryAndGoesOn) {
    WindowCommands other{services(), "quavella"};
    other.start_up(clock, std::nullopt);
    EXPECT_EQ(log, EventLog{"show:quavella:Error!"});
    EXPECT_EQ(other.start_dir(), "");
    EXPECT_EQ(other.play_file(), "1.mid");
}

TEST_F(CommandsTest, ComposeRunsTheWholeRoadInOrder) {
    commands.compose(lyrics({kLyrics}, 2, 3, 8));

    EXPECT_EQ(log, (EventLog{"write:temp.mid", "write:2.mid", "sleep:2000", "open:2.mid",
                             "show:提示:作曲完成"}));
    EXPECT_EQ(commands.play_file(), "2.mid");
    EXPECT_EQ(buttons.state, kLoaded);
    EXPECT_EQ(read_file("2.mid"), read_file("temp.mid"));
    ASSERT_NE(commands.current(), nullptr);
    EXPECT_EQ(commands.current()->midi, read_file("2.mid"));

    // Read back independently: speed "快" is 180..199 bpm, "萨克斯" is program 64.
    ASSERT_EQ(missing_midicsv(), "");
    const MidiSummary midi = summarise_midi("2.mid");
    EXPECT_TRUE(midi.header_ok);
    EXPECT_EQ(midi.program, 64);
    EXPECT_GT(midi.tempo_us, 60000000 / 200);
    EXPECT_LE(midi.tempo_us, 60000000 / 180);
    EXPECT_GE(midi.note_ons, 20);  // one note per syllable of the 20 characters
    EXPECT_EQ(midi.note_ons, midi.note_offs);
}

TEST_F(CommandsTest, LoadTakesTheRoadOfACompositionWithoutComposing) {
    // After a composition and 停止, an earlier melody is loaded: "temp.mid" gets its
    // bytes, the next play file follows, the player opens it, the buttons are Loaded.
    commands.compose(lyrics({kLyrics}));
    commands.stop();
    log.clear();
    const std::string earlier = "MThd earlier melody bytes";
    auto loaded = std::make_shared<Composition>(*commands.current());
    loaded->midi = earlier;
    commands.load(loaded);
    EXPECT_EQ(log, (EventLog{"write:temp.mid", "write:1.mid", "sleep:2000", "open:1.mid"}));
    EXPECT_EQ(commands.current(), loaded);
    EXPECT_EQ(commands.play_file(), "1.mid");
    EXPECT_EQ(buttons.state, kLoaded);
    EXPECT_EQ(read_file("temp.mid"), earlier);
    EXPECT_EQ(read_file("1.mid"), earlier);

    // An unwritable working file is reported and changes nothing.
    fs::remove("temp.mid");
    fs::create_directory("temp.mid");
    log.clear();
    commands.load(loaded);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].rfind("show:提示:无法保存旋律文件 temp.mid：", 0), 0u) << log[1];
    EXPECT_EQ(commands.play_file(), "1.mid");
}

TEST_F(CommandsTest, PlayFilesAlternateAndReplaceOldOnes) {
    write_file("1.mid", "left from an earlier run");
    write_file("2.mid", "left from an earlier run");
    const char* expected[] = {"2.mid", "1.mid", "2.mid"};
    for (const char* file : expected) {
        commands.compose(lyrics({kLyrics}));
        commands.stop();
        EXPECT_EQ(commands.play_file(), file);
        EXPECT_EQ(read_file(file), read_file("temp.mid"));
    }
}

TEST_F(CommandsTest, SameClockSameMelodyOtherClockAnother) {
    commands.compose(lyrics({kLyrics}));
    const std::string first = read_file("temp.mid");

    auto compose_with_clock = [&](std::uint64_t value) {
        FakeClock other_clock{value};
        WindowCommands other{services(), "quavella"};
        other.start_up(other_clock, dir.path().string());
        other.compose(lyrics({kLyrics}));
        return read_file("temp.mid");
    };
    EXPECT_EQ(compose_with_clock(clock.value_), first);
    // Different seeds give different draws; a few seeds make a clash vanishingly unlikely.
    bool differs = false;
    for (std::uint64_t seed : {1u, 777u, 99991u}) {
        differs = differs || compose_with_clock(seed) != first;
    }
    EXPECT_TRUE(differs);
}

/// Records what the commands tell a listener, and what the log held at that moment.
struct RecordingListener : CompositionListener {
    explicit RecordingListener(const EventLog& log) : log_(log) {}
    void made(const Press& press) override {
        std::vector<CompositionPtr> batch;
        for (std::size_t k = 0; k < press.count; ++k) batch.push_back(press.make(k));
        batches.push_back(std::move(batch));
        picks.push_back(press.chosen);
        log_when_made.push_back(log_);
    }
    void composed(const CompositionPtr& c) override { chosen.push_back(c); }
    const EventLog& log_;
    std::vector<std::vector<CompositionPtr>> batches;
    std::vector<std::size_t> picks;
    std::vector<EventLog> log_when_made;
    std::vector<CompositionPtr> chosen;
};

TEST_F(CommandsTest, BySentenceIsHeardAsOnePressOfItsCandidatesAndTheMelodyMade) {
    constexpr int kCount = 12;
    const ComposeInput input =
        lyrics({"春眠不觉晓，处处闻啼鸟。", "夜来风雨声，花落知多少。"}, 1, 2, 3);
    // The same clock pressing "生成主旋律" kCount times: the candidates compared.
    RecordingListener pressed{log};
    WindowCommands presses{services(&pressed), "quavella"};
    presses.start_up(clock, dir.path().string());
    for (int i = 0; i < kCount; ++i) presses.compose(input);

    RecordingListener heard{log};
    WindowCommands by_sentence{services(&heard), "quavella"};
    by_sentence.start_up(clock, dir.path().string());
    buttons.state = kFresh;
    by_sentence.compose_by_sentence(input, kCount);
    EXPECT_EQ(buttons.state, kLoaded);
    // One batch: the candidates in the order composed, then the melody made, chosen.
    ASSERT_EQ(heard.batches.size(), 1u);
    const std::vector<CompositionPtr>& press = heard.batches[0];
    ASSERT_EQ(press.size(), std::size_t{kCount + 1});
    EXPECT_EQ(heard.picks[0], std::size_t{kCount});
    for (std::size_t k = 0; k < kCount; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(press[k]->state, pressed.chosen[k]->state);
        EXPECT_EQ(press[k]->midi, pressed.chosen[k]->midi);
        EXPECT_TRUE(press[k]->edits.empty());
    }
    // The melody made is the first candidate with sentences of others put in.
    const CompositionPtr& made = press.back();
    EXPECT_FALSE(made->edits.empty());
    EXPECT_EQ(made->state, press[0]->state);
    ASSERT_EQ(heard.chosen.size(), 1u);
    EXPECT_EQ(heard.chosen[0], made);
    EXPECT_EQ(read_file("temp.mid"), made->midi);
}

TEST_F(CommandsTest, ALoadedMelodyIsTheListenersNewMelodyButNotMadeAgain) {
    // The score window must shape what the player holds after 载入, and the history
    // must not record it twice.
    RecordingListener heard{log};
    WindowCommands told{services(&heard), "quavella"};
    told.start_up(clock, dir.path().string());
    told.compose(lyrics({kLyrics}));
    told.stop();
    auto loaded = std::make_shared<Composition>(*told.current());
    loaded->midi = "MThd earlier melody bytes";
    told.load(loaded);
    EXPECT_EQ(heard.batches.size(), 1u);
    ASSERT_EQ(heard.chosen.size(), 2u);
    EXPECT_EQ(heard.chosen[1], loaded);
}

TEST_F(CommandsTest, ACompositionIsMadeKnownBeforeItsFilesAndShownOnceAcknowledged) {
    RecordingListener heard{log};
    WindowCommands told{services(&heard), "quavella"};
    told.start_up(clock, dir.path().string());
    told.compose(lyrics({kLyrics}, 1, 2, 3));

    // Made known (recorded) as soon as it exists: before any file or message box, so
    // a file on disk always has its entry in the history.
    ASSERT_EQ(heard.batches.size(), 1u);
    EXPECT_EQ(heard.log_when_made[0], EventLog{});
    EXPECT_EQ(log.front(), "write:temp.mid");
    ASSERT_EQ(heard.chosen.size(), 1u);
    EXPECT_EQ(heard.chosen[0], heard.batches[0][0]) << "one value for every listener";
    const Composition& c = *heard.chosen[0];
    EXPECT_EQ(c.midi, read_file("temp.mid"));
    EXPECT_EQ(c.source->lines, std::vector<std::string>{kLyrics});
    EXPECT_EQ(c.source->speed_pos, 1);
    EXPECT_EQ(c.source->timbre_pos, 3);
    EXPECT_EQ(c.melody.notes.size(), c.melody.lyrics.size());
    EXPECT_EQ(c.melody.lyrics[0].text, "春");
    EXPECT_GT(c.tones.graded(), 0);
    EXPECT_TRUE(c.edits.empty());
}

TEST_F(CommandsTest, BestOfComposesAsThatManyPressesAndLoadsTheBest) {
    constexpr int kCount = 6;
    const ComposeInput input =
        lyrics({"春眠不觉晓，处处闻啼鸟。", "夜来风雨声，花落知多少。"}, 1, 2, 3);

    // The same clock pressing "生成主旋律" kCount + 1 times: the reference melodies.
    RecordingListener pressed{log};
    WindowCommands presses{services(&pressed), "quavella"};
    presses.start_up(clock, dir.path().string());
    std::vector<std::string> melodies;
    for (int i = 0; i <= kCount; ++i) {
        presses.compose(input);
        melodies.push_back(read_file("temp.mid"));
    }
    // The best: the highest tone score, the first of equals.
    std::size_t expected = 0;
    for (std::size_t k = 1; k < kCount; ++k) {
        if (scores_higher(pressed.chosen[k]->tones, pressed.chosen[expected]->tones)) expected = k;
    }

    RecordingListener heard{log};
    WindowCommands best{services(&heard), "quavella"};
    best.start_up(clock, dir.path().string());
    buttons.state = kFresh;
    log.clear();
    best.compose_best_of(input, kCount);

    // Loaded like a composition.
    EXPECT_EQ(log, (EventLog{"write:temp.mid", "write:2.mid", "sleep:2000", "open:2.mid",
                             "show:提示:作曲完成"}));
    EXPECT_EQ(buttons.state, kLoaded);
    EXPECT_EQ(best.play_file(), "2.mid");

    // Every candidate made known at once, in order, before the chosen one is written;
    // each is the composition of the press with its number.
    ASSERT_EQ(heard.batches.size(), 1u);
    EXPECT_EQ(heard.log_when_made[0], EventLog{});
    const std::vector<CompositionPtr>& candidates = heard.batches[0];
    ASSERT_EQ(candidates.size(), std::size_t{kCount});
    for (std::size_t k = 0; k < candidates.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(candidates[k]->state, pressed.chosen[k]->state);
        EXPECT_EQ(candidates[k]->melody.notes, pressed.chosen[k]->melody.notes);
        EXPECT_EQ(candidates[k]->midi, melodies[k]);
        EXPECT_EQ(candidates[k]->source->lines, input.lines);
    }
    ASSERT_EQ(heard.picks[0], expected);
    ASSERT_EQ(heard.chosen.size(), 1u);
    EXPECT_EQ(heard.chosen[0], candidates[expected]);
    EXPECT_EQ(read_file("2.mid"), melodies[expected]);
    EXPECT_EQ(read_file("temp.mid"), melodies[expected]);

    // The generators stand where kCount presses leave them: the next press is the next melody.
    buttons.state = kStopped;
    best.compose(input);
    EXPECT_EQ(read_file("temp.mid"), melodies[kCount]);

#ifdef QUAVELLA_CLI_PATH
    // The command line makes the same file again from the chosen state.
    const Generators::State state = heard.chosen[0]->state;
    write_file("lyrics.txt", input.lines[0] + "\n" + input.lines[1] + "\n");
    const std::string command = std::string(QUAVELLA_CLI_PATH) +
                                " compose --speed 1 --mode 2 --timbre 3 --state " +
                                std::to_string(state.s) + ":" + std::to_string(state.t) +
                                " -o cli.mid lyrics.txt >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(read_file("cli.mid"), melodies[expected]);
#endif
}

/// Runs the work in place, marking in the log where it starts and ends: whatever the
/// commands do off the window's thread lies between the marks.
struct MarkingRunner : WorkRunner {
    explicit MarkingRunner(EventLog& log) : log_(log) {}
    void run(const std::function<void()>& work) override {
        log_.push_back("work{");
        work();
        log_.push_back("}");
    }
    EventLog& log_;
};

TEST_F(CommandsTest, ComposingAndRecordingGoThroughTheRunnerTouchingNoService) {
    // The candidates are composed, and the listener told of them, off the window's thread:
    // no message box, file or player is used there, and the order of the rest is as for
    // one composition.
    MarkingRunner runner{log};
    RecordingListener heard{log};
    CommandServices with_runner = services(&heard);
    with_runner.runner = &runner;
    WindowCommands best{with_runner, "quavella"};
    best.start_up(clock, dir.path().string());
    best.compose_best_of(lyrics({"春眠不觉晓，处处闻啼鸟。", "夜来风雨声，花落知多少。"}), 5);
    EXPECT_EQ(log, (EventLog{"work{", "}", "work{", "}", "write:temp.mid", "write:2.mid",
                             "sleep:2000", "open:2.mid", "show:提示:作曲完成"}));
    ASSERT_EQ(heard.log_when_made.size(), 1u);
    EXPECT_EQ(heard.log_when_made[0], (EventLog{"work{", "}", "work{"}));
    EXPECT_EQ(heard.batches[0].size(), 5u);

    // One composition likewise: composed, and the listener told, off the window's thread.
    buttons.state = kStopped;
    log.clear();
    best.compose(lyrics({"春眠不觉晓，处处闻啼鸟。"}));
    EXPECT_EQ(log, (EventLog{"work{", "}", "work{", "}", "write:temp.mid", "write:1.mid",
                             "sleep:2000", "open:1.mid", "show:提示:作曲完成"}));
}

TEST_F(CommandsTest, BestOfRefusesAShortTextLikeACompositionAndLeavesTheGenerators) {
    RecordingListener heard{log};
    WindowCommands best{services(&heard), "quavella"};
    best.start_up(clock, dir.path().string());
    best.compose_best_of(lyrics({"春眠"}), 20);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].starts_with("show:提示:")) << log[0];
    EXPECT_EQ(buttons.state, kFresh);
    EXPECT_TRUE(heard.chosen.empty() && heard.batches.empty());

    // Nothing was drawn: a composition now is the first one the clock gives.
    RecordingListener first{log};
    WindowCommands fresh{services(&first), "quavella"};
    fresh.start_up(clock, dir.path().string());
    fresh.compose(lyrics({kLyrics}));
    best.compose(lyrics({kLyrics}));
    EXPECT_EQ(heard.chosen.at(0)->state, first.chosen.at(0)->state);
}

struct RefusalRow {
    const char* name;
    std::vector<std::string> lines;
    const char* message;  // nullptr: the text is composed
    const char* notice;   // the note about left-out characters shown first, if any
};

void PrintTo(const RefusalRow& row, std::ostream* out) { *out << row.name; }

class RefusalTest : public CommandsTest, public ::testing::WithParamInterface<RefusalRow> {};

TEST_P(RefusalTest, ChecksTheJoinedGbkLength) {
    const RefusalRow& row = GetParam();
    commands.compose(lyrics(row.lines));
    EventLog told;
    if (row.notice != nullptr) told.push_back(std::string("show:提示:") + row.notice);
    if (row.message == nullptr) {
        // Composed: the notice does not stop it.
        ASSERT_GE(log.size(), told.size() + 1);
        EXPECT_EQ(EventLog(log.begin(), log.begin() + std::ptrdiff_t(told.size())), told);
        EXPECT_EQ(log.back(), "show:提示:作曲完成");
        return;
    }
    // Refused: only the messages, nothing built, copied, waited for or changed.
    told.push_back(std::string("show:提示:") + row.message);
    EXPECT_EQ(log, told);
    EXPECT_FALSE(fs::exists("temp.mid"));
    EXPECT_EQ(commands.play_file(), "1.mid");
    EXPECT_EQ(buttons.state, kFresh);
}

const RefusalRow kRefusalRows[] = {
    {"NoLines", {}, "请输入歌词！", nullptr},
    {"OnlyEmptyLines", {"", "", ""}, "请输入歌词！", nullptr},
    {"LinesJoinedWithoutSeparator", {"ab", "cde"}, "歌词太短，没感觉！", nullptr},
    {"NineBytes", {"春眠不觉a"}, "歌词太短，没感觉！", nullptr},
    {"CharactersGbkLacksAreDroppedAndNamed",
     {"春眠不觉a\U0001F600"},
     "歌词太短，没感觉！",
     "歌词中有无法使用的字符，已略去：\U0001F600 (U+1F600)"},
    {"OnlyUnencodableCharacters",
     {"\U0001F600", "\U0001F601\U0001F600"},
     "歌词中没有可用于作曲的字符（无法使用：\U0001F600 (U+1F600)、\U0001F601 (U+1F601)）",
     nullptr},
    {"DroppedCharactersDoNotStopTheComposition",
     {"春眠不觉晓\U0001F600\u200D\U00020000"},
     nullptr,
     "歌词中有无法使用的字符，已略去：\U0001F600 (U+1F600)、U+200D、\U00020000 (U+20000)"},
    {"TenBytesOfChinese", {"春眠不觉晓"}, nullptr, nullptr},
    {"TenBlanks", {"          "}, "请输入歌词！", nullptr},
    {"BlanksMarksAndControlsOnly",
     {"\t\u3000\u00A0“”《》", std::string("\0\x01:#\"' ", 8), "\uFEFF（）「」，。"},
     "请输入歌词！",
     nullptr},
    {"TenLettersOverTwoLines", {"abcde", "fghij"}, nullptr, nullptr},
    // The size limit counts the bytes typed, line ends included.
    {"AtTheSizeLimit", {std::string(32767, 'a'), std::string(32768, 'b')}, nullptr, nullptr},
    {"OneLineEndOverTheSizeLimit",
     {std::string(32768, 'a'), std::string(32768, 'b')},
     "歌词太长：最多 65536 字节（64 KB）。",
     nullptr},
};

INSTANTIATE_TEST_SUITE_P(Lyrics, RefusalTest, ::testing::ValuesIn(kRefusalRows),
                         [](const auto& row_info) { return std::string(row_info.param.name); });

/// Lyrics with characters that are no sung word, and the same lyrics without them.
struct TidyRow {
    const char* name;
    std::vector<std::string> decorated;
    std::vector<std::string> plain;
};

void PrintTo(const TidyRow& row, std::ostream* out) { *out << row.name; }

const TidyRow kTidyRows[] = {
    {"LeadingTab", {"\t春眠不觉晓，处处闻啼鸟。"}, {"春眠不觉晓，处处闻啼鸟。"}},
    {"FullWidthAndOtherSpaces",
     {"春眠不觉晓\u3000处处闻啼鸟\u00A0夜来风雨声\t花落知多少。"},
     {"春眠不觉晓 处处闻啼鸟 夜来风雨声 花落知多少。"}},
    {"ControlCharacters",
     {std::string("春眠\0不觉\x01晓，处处\x7F闻啼\u0085鸟。", 41)},
     {"春眠不觉晓，处处闻啼 鸟。"}},
    {"QuotationMarksAndBrackets",
     {"“春眠不觉晓”，《处处闻啼鸟》。", "「夜来」『风雨声』，（花落）知多少。"},
     {"春眠不觉晓，处处闻啼鸟。", "夜来风雨声，花落知多少。"}},
    {"AsciiMarksThatEndNoSentence",
     {"春眠:不觉晓，\"处处\"闻#啼鸟。", "(夜来)[风雨声]，'花落'知多少。"},
     {"春眠不觉晓，处处闻啼鸟。", "夜来风雨声，花落知多少。"}},
    {"ByteOrderMark", {"\uFEFF春眠不觉晓，处处闻啼鸟。"}, {"春眠不觉晓，处处闻啼鸟。"}},
    {"LatinWords", {"\"Don't stop\": rock/roll (all night)."}, {"Don't stop rock roll all night."}},
};

class TidyTest : public CommandsTest, public ::testing::WithParamInterface<TidyRow> {};

TEST_P(TidyTest, MarksAndBlanksGetNoNoteAndNoNotice) {
    // Same clock, same draws: the decorated lyrics make the plain lyrics' melody
    // byte for byte, and nothing is named as unusable.
    commands.compose(lyrics(GetParam().decorated));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "show:提示:作曲完成");
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& e) { return e.find("已略去") != e.npos; }),
              0);
    const std::string decorated = read_file("temp.mid");
    WindowCommands other{services(), "quavella"};
    other.start_up(clock, dir.path().string());
    other.compose(lyrics(GetParam().plain));
    EXPECT_EQ(decorated, read_file("temp.mid"));
}

INSTANTIATE_TEST_SUITE_P(Lyrics, TidyTest, ::testing::ValuesIn(kTidyRows),
                         [](const auto& row_info) { return std::string(row_info.param.name); });

TEST_F(CommandsTest, UnwritableTempFileIsReportedAndChangesNothing) {
    // One "temp.mid" that cannot be replaced, not even by root (a directory holds its
    // name), and one whose write fails as on a full disk.
    const std::pair<const char*, void (*)(CommandFakes&)> rows[] = {
        {"directory", [](CommandFakes&) { fs::create_directory("temp.mid"); }},
        {"full disk",
         [](CommandFakes& f) { f.copier.failing["temp.mid"] = "No space left on device"; }},
    };
    RecordingListener heard{log};
    WindowCommands told{services(&heard), "quavella"};
    told.start_up(clock, dir.path().string());
    std::size_t made = 0;
    for (const auto& [name, make_unwritable] : rows) {
        SCOPED_TRACE(name);
        write_file("2.mid", "an older melody");
        make_unwritable(*this);
        log.clear();
        told.compose(lyrics({kLyrics}));

        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[1].rfind("show:提示:无法保存旋律文件 temp.mid：", 0), 0u) << log[1];
        EXPECT_EQ(told.play_file(), "1.mid");
        EXPECT_EQ(told.current(), nullptr);
        EXPECT_EQ(buttons.state, kFresh);
        EXPECT_EQ(read_file("2.mid"), "an older melody");
        // Recorded before any file is written: the history keeps it for 载入.
        EXPECT_EQ(heard.batches.size(), ++made);
        EXPECT_TRUE(heard.chosen.empty()) << "not in the player, so not in the score";
        fs::remove("temp.mid");
        copier.failing.clear();
    }
    // Nothing but the three working files: no temporary file is left behind.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(".")) names.push_back(e.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"2.mid"});
}

TEST_F(CommandsTest, FailedWriteOfThePlayFileIsReportedAndChangesNothing) {
    fs::create_directory("2.mid");
    commands.compose(lyrics({kLyrics}));

    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1], "write:2.mid");
    EXPECT_EQ(log[2].rfind("show:提示:无法保存旋律文件 2.mid：", 0), 0u) << log[2];
    EXPECT_EQ(commands.play_file(), "1.mid");
    EXPECT_EQ(buttons.state, kFresh);
}

TEST_F(CommandsTest, FailedOpenEndsTheCommandWithItsError) {
    player.fail_open = true;
    EXPECT_THROW(commands.compose(lyrics({kLyrics})), CommandError);
    EXPECT_EQ(log.back(), "open:2.mid");  // no "作曲完成"
    EXPECT_EQ(commands.play_file(), "2.mid");
    EXPECT_EQ(buttons.state, kFresh);
}

TEST_F(CommandsTest, StopWaitsAndLeavesStopAndSaveEnabled) {
    commands.compose(lyrics({kLyrics}));
    log.clear();
    commands.stop();
    EXPECT_EQ(log, (EventLog{"stop", "sleep:2000"}));
    EXPECT_EQ(buttons.state, kStopped);

    commands.stop();  // again in Stopped: the same once more
    EXPECT_EQ(buttons.state, kStopped);
    EXPECT_EQ(commands.play_file(), "2.mid");
}

TEST_F(CommandsTest, StopWithoutAnOpenFileNeitherWaitsNorChangesButtons) {
    buttons.state = kStopped;
    EXPECT_THROW(commands.stop(), CommandError);
    EXPECT_EQ(log, EventLog{"stop"});
    EXPECT_EQ(buttons.state, kStopped);
}

TEST_F(CommandsTest, PlayAndPauseGoToThePlayer) {
    EXPECT_THROW(commands.play(), CommandError);
    commands.compose(lyrics({kLyrics}));
    log.clear();
    commands.play();
    commands.pause();
    commands.pause();
    EXPECT_EQ(log, (EventLog{"play", "pause", "pause"}));
    EXPECT_EQ(buttons.state, kLoaded);
}

TEST_F(CommandsTest, PlayAfterAStopElsewhereStartsFromTheStart) {
    commands.compose(lyrics({kLyrics}));
    commands.play();
    player.position = 960;
    // The score window's 停止: the player keeps its place, reports none, and 播放 starts over.
    player.stop();
    player.position.reset();
    commands.stopped_elsewhere();
    log.clear();
    commands.play();
    commands.pause();
    commands.play();
    EXPECT_EQ(log, (EventLog{"play_from:0", "pause", "play"}));

    // Played again there meanwhile (试听), it goes on.
    commands.stopped_elsewhere();
    player.position = 480;
    log.clear();
    commands.play();
    EXPECT_EQ(log, (EventLog{"play"}));

    // A melody opened afresh starts at its start anyway.
    commands.stopped_elsewhere();
    player.position.reset();
    commands.compose(lyrics({kLyrics}));
    log.clear();
    commands.play();
    EXPECT_EQ(log, (EventLog{"play"}));
}

TEST(SaveTargetTest, AppendsMidUnlessTheNameHasIt) {
    const std::pair<const char*, const char*> rows[] = {
        {"/home/u/song", "/home/u/song.mid"},
        {"/home/u/song.mid", "/home/u/song.mid"},
        {"/home/u/song.MID", "/home/u/song.MID"},
        {"/home/u/song.Mid", "/home/u/song.Mid"},
        {"/home/u/song.midi", "/home/u/song.midi.mid"},
        {"/home/u/song.txt", "/home/u/song.txt.mid"},
        {"mid", "mid.mid"},
        {".mid", ".mid"},
    };
    for (const auto& [chosen, target] : rows) {
        EXPECT_EQ(save_target(chosen), target) << chosen;
    }
}

TEST_F(CommandsTest, SaveAsWritesTheMelodyInThePlayer) {
    commands.compose(lyrics({kLyrics}));
    commands.stop();
    fs::create_directory("out");
    fs::create_directory("elsewhere");
    fs::current_path("elsewhere");  // a dialog may change the current directory
    log.clear();
    dialog.answers = {(dir.path() / "out/song").string(), std::nullopt};

    commands.save_as();
    commands.save_as();  // cancelled

    EXPECT_EQ(log, EventLog{"write:" + (dir.path() / "out/song.mid").string()});
    EXPECT_EQ(read_file(dir.path() / "out/song.mid"), read_file(dir.path() / "2.mid"));
}

TEST_F(CommandsTest, SaveAsKeepsItsMelodyWhenAnotherWindowRewritesThePlayFiles) {
    // Two windows working in one folder: the second one's composition rewrites
    // "temp.mid" and "2.mid" while the first one still plays its own.
    commands.compose(lyrics({kLyrics}));
    const std::string mine = read_file("2.mid");
    FakeClock other_clock{777};
    WindowCommands other{services(), "quavella"};
    other.start_up(other_clock, dir.path().string());
    other.compose(lyrics({kLyrics}));
    ASSERT_NE(read_file("2.mid"), mine);

    dialog.answers = {(dir.path() / "mine").string()};
    commands.save_as();
    EXPECT_EQ(read_file("mine.mid"), mine);
}

TEST_F(CommandsTest, DroppedCharactersLeaveTheMelodyOfTheRestUnchanged) {
    commands.compose(
        lyrics({"春眠不觉晓，\U0001F3B5处处闻啼鸟。", "夜来风雨声，花落知多少。\U0001F600"}));
    const std::string with_emoji = read_file("temp.mid");
    auto plain = [&] {
        WindowCommands other{services(), "quavella"};
        other.start_up(clock, dir.path().string());
        other.compose(lyrics({"春眠不觉晓，处处闻啼鸟。", "夜来风雨声，花落知多少。"}));
        return read_file("temp.mid");
    };
    EXPECT_EQ(with_emoji, plain());
    // The list is long enough to be useful and short enough to read.
    std::vector<std::string> many;
    for (char32_t c = 0x1F600; c < 0x1F60C; ++c) {
        many.push_back(std::string("\xF0\x9F\x98") + char(0x80 + int(c - 0x1F600)));
    }
    many.push_back("春眠不觉晓");
    log.clear();
    commands.stop();
    commands.compose(lyrics(many));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[2],
              "show:提示:歌词中有无法使用的字符，已略去：😀 (U+1F600)、😁 (U+1F601)、😂 (U+1F602)、😃 "
              "(U+1F603)、"
              "😄 (U+1F604)、😅 (U+1F605)、😆 (U+1F606)、😇 (U+1F607)、😈 (U+1F608)、😉 (U+1F609) 等 12 "
              "个字符");
}

TEST_F(CommandsTest, SaveAsNeverReplacesAndSaysWhyNothingWasSaved) {
    commands.compose(lyrics({kLyrics}));
    write_file("keep.mid", "precious");
    log.clear();
    dialog.answers = {(dir.path() / "keep").string(), (dir.path() / "no/such/dir/x").string()};

    commands.save_as();
    commands.save_as();

    ASSERT_EQ(log.size(), 4u);
    const std::string keep = (dir.path() / "keep.mid").string();
    EXPECT_EQ(log[1], "show:提示:主旋律没有保存到 " + keep + "：文件已存在");
    EXPECT_EQ(
        log[3].rfind(
            "show:提示:主旋律没有保存到 " + (dir.path() / "no/such/dir/x.mid").string() + "：", 0),
        0u)
        << log[3];
    EXPECT_EQ(read_file("keep.mid"), "precious");
    EXPECT_EQ(dialog.failures, 2);  // so the dialog does not reopen in those folders
}

TEST_F(CommandsTest, WorkingFilesNeverFollowALink) {
    // A link in the place of temp.mid or of the next play file is refused with a
    // message naming the file; the file it points to is untouched, a dangling one
    // never created.
    write_file("victim.txt", "someone else's file");
    const struct {
        const char* link;
        const char* to;
    } rows[] = {{"temp.mid", "victim.txt"}, {"2.mid", "victim.txt"}, {"2.mid", "created.txt"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.link) + " -> " + row.to);
        fs::create_symlink(row.to, row.link);
        log.clear();
        commands.compose(lyrics({kLyrics}));
        ASSERT_FALSE(log.empty());
        EXPECT_NE(log.back().find(std::string("无法保存旋律文件 ") + row.link + "："),
                  std::string::npos)
            << log.back();
        EXPECT_NE(log.back().find("symbolic link"), std::string::npos) << log.back();
        EXPECT_EQ(read_file("victim.txt"), "someone else's file");
        EXPECT_FALSE(fs::exists("created.txt"));
        EXPECT_EQ(commands.play_file(), "1.mid");
        fs::remove(row.link);
    }
}

TEST_F(CommandsTest, AFailedSaveAsLeavesNoFileBehind) {
    commands.compose(lyrics({kLyrics}));
    ASSERT_GT(fs::file_size("2.mid"), 100u);
    const fs::path saved = dir.path() / "saved.mid";
    dialog.answers = {saved.string()};
    log.clear();
    // Save as in a child process whose files may not grow past 100 bytes: the
    // write fails with "File too large" as on a full disk.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{100, 100};
        ::setrlimit(RLIMIT_FSIZE, &small);
        commands.save_as();
        const bool told = !log.empty() && log.back() == "show:提示:主旋律没有保存到 " +
                                                            saved.string() + "：File too large";
        if (!told) std::fprintf(stderr, "told: %s\n", log.empty() ? "" : log.back().c_str());
        ::_exit(told && dialog.failures == 1 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(fs::exists(saved));
    for (const auto& e : fs::directory_iterator(dir.path())) {
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
    }
    // The retry is not blocked by a partial file.
    commands.save_as();
    EXPECT_EQ(read_file(saved), read_file("2.mid"));
}

TEST_F(CommandsTest, SaveAsBeforeAnyCompositionSaysSo) {
    dialog.answers = {(dir.path() / "x").string()};
    commands.save_as();
    EXPECT_EQ(log, EventLog{"show:提示:主旋律没有保存到 " + (dir.path() / "x.mid").string() +
                            "：还没有作曲"});
    EXPECT_FALSE(fs::exists("x.mid"));
    EXPECT_EQ(dialog.failures, 1);
}

TEST_F(CommandsTest, TheSongsEditsReachThePlayerFromMemoryAndTheWorkingFiles) {
    song::Document document;
    CommandServices with_song = services();
    with_song.document = &document;
    WindowCommands shaping{with_song, "quavella"};
    shaping.start_up(clock, dir.path().string());
    document.add_listener(shaping);
    shaping.compose(lyrics({kLyrics}));
    ASSERT_TRUE(document.started());
    EXPECT_EQ(document.origin(), shaping.current());  // started with the melody in the player
    // The player plays the arrangement on the song's chords; the working files hold the melody.
    const auto arrangement = [&] {
        return harmony::arrangement_file(document.current()->melody, document.current()->chords, {})
            .bytes;
    };
    EXPECT_EQ(player.melody, arrangement());
    EXPECT_EQ(read_file("temp.mid"), document.current()->midi);
    const std::string composed = document.current()->midi;
    const std::string composed_heard = player.melody;

    // An edit: the song goes to the player as it is heard, "temp.mid" and the next play
    // file get its melody whole, and nothing is read back.
    log.clear();
    ASSERT_FALSE(document.apply(edit::Edit(edit::EditKind::octave, 3, 1)).error);
    EXPECT_EQ(log, (EventLog{"write:temp.mid", "write:1.mid", "open:1.mid"}));
    EXPECT_EQ(player.files_read, 0);
    EXPECT_EQ(player.melody, arrangement());
    EXPECT_NE(player.melody, composed_heard);
    EXPECT_EQ(read_file("temp.mid"), document.current()->midi);
    EXPECT_EQ(read_file("1.mid"), document.current()->midi);
    EXPECT_EQ(shaping.current(), document.current());  // 主旋律另存为 saves it

    // A chord edit changes what is heard, not the melody's files.
    edit::Edit chord{edit::EditKind::set_chord};
    chord.slot = 0;
    chord.chord = {2, harmony::ChordKind::sus2};
    const std::string before_chord = player.melody;
    ASSERT_FALSE(document.apply(chord).error);
    EXPECT_EQ(player.melody, arrangement());
    EXPECT_NE(player.melody, before_chord);
    EXPECT_EQ(read_file("temp.mid"), document.current()->midi);
    EXPECT_EQ(read_file("2.mid"), document.current()->midi);

    // 只听旋律: the melody alone, opened again at once, no file written; and back.
    log.clear();
    shaping.set_hearing(Hearing{true, {}});
    EXPECT_EQ(log, (EventLog{"open:2.mid"}));
    EXPECT_EQ(player.melody, document.current()->midi);
    shaping.set_hearing(Hearing{false, {harmony::Pattern::broken, 24}});
    EXPECT_EQ(player.melody,
              harmony::arrangement_file(document.current()->melody, document.current()->chords,
                                        {harmony::Pattern::broken, 24})
                  .bytes);
    shaping.set_hearing(Hearing{true, {}});

    // Undo brings the composed melody back to the player; a redo the edited one.
    ASSERT_TRUE(document.undo());
    ASSERT_TRUE(document.undo());
    EXPECT_EQ(player.melody, composed);
    ASSERT_TRUE(document.redo());
    EXPECT_EQ(player.melody, document.current()->midi);
    EXPECT_EQ(player.files_read, 0);
}

TEST_F(CommandsTest, BestBySentenceHandsItsStepsToTheSong) {
    song::Document document;
    CommandServices with_song = services();
    with_song.document = &document;
    WindowCommands shaping{with_song, "quavella"};
    shaping.start_up(clock, dir.path().string());
    shaping.compose_by_sentence(lyrics({kLyrics}), 12);
    ASSERT_TRUE(document.started());
    const CompositionPtr made = shaping.current();
    EXPECT_EQ(document.origin(), made);
    EXPECT_EQ(document.current(), made);  // with the chords its sentence steps left
    EXPECT_EQ(player.melody, heard_bytes(*made, {}));
    // The sentences it took are part of the melody, not steps to undo.
    EXPECT_FALSE(made->edits.empty());
    EXPECT_FALSE(document.can_undo());
    EXPECT_EQ(edit::edits_text(document.melody().edits()), made->edits);
    // Graded once, as the melody it holds.
    EXPECT_EQ(made->tones.agreeing(), document.melody().grading().agreeing());

#ifdef QUAVELLA_CLI_PATH
    // The command line's --by-sentence makes the same melody, edits and bytes.
    Generators start;
    start.seed(clock.now());
    write_file("lyrics.txt", kLyrics + "\n");
    const std::string command = std::string(QUAVELLA_CLI_PATH) +
                                " compose --best-of 12 --by-sentence --state " +
                                state_text(start.state()) + " -o cli.mid lyrics.txt >cli.txt";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(read_file("cli.mid"), made->midi);
    EXPECT_NE(read_file("cli.txt").find("edits=" + made->edits), std::string::npos);
#endif
}

}  // namespace
}  // namespace quavella
