// The window's compositions in the history: the compose command over fakes tells
// the recorder, the real quavella-cli makes every entry again byte for byte, and
// a history that cannot be kept leaves composing as it was with one notice.
#include "app/history/history_recorder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <utility>

#include "app/commands/window_commands.h"
#include "app_fakes.h"
#include "tests/support/cli_runner.h"
#include "tests/support/env_guard.h"
#include "tests/support/history_locker.h"

namespace quavella {
namespace {

using namespace quavella::test;
namespace fs = std::filesystem;

const std::vector<std::string> kPoem{"春眠不觉晓，处处闻啼鸟。", "夜来风雨声，花落知多少。"};

/// The window waits for the worker's whole first try however slow the machine: the
/// notices then reach the log (in place, from the worker) before the command goes on.
constexpr RecorderTimes kPatient{60000};

/// Counts the compositions it is told of.
struct CountingListener : CompositionListener {
    void composed(const CompositionPtr&) override { ++told; }
    int told = 0;
};

/// The compose command over fakes, in a scratch directory, with the recorder and
/// a second listener (as the score window is) behind one fan-out.
class RecorderTest : public ::testing::Test, protected CommandFakes {
protected:
    /// Composes three times with the recorder of `file`, and ends it (all recorded).
    void compose_three(const std::optional<fs::path>& file) {
        HistoryRecorder recorder(
            file, box, in_place, [] { return std::int64_t{1717200000000}; }, {}, {}, kPatient);
        ListenerFanOut both{&recorder, &other};
        WindowCommands commands(services(&both), "quavella");
        commands.start_up(clock, fs::current_path().string());
        const ComposeInput inputs[] = {{kPoem, 0, 0, 0}, {kPoem, 2, 1, 3}, {kPoem, 1, 3, 7}};
        for (const ComposeInput& input : inputs) {
            commands.compose(input);
            played.push_back(read_file(commands.play_file()));
        }
    }
    /// The log without the history's notices.
    EventLog composing_log() const {
        EventLog kept;
        for (const std::string& e : log) {
            if (e.rfind("show:提示:作品记录", 0) != 0) kept.push_back(e);
        }
        return kept;
    }

    ScratchDir dir{ScratchDir::Current::enter};
    InPlacePoster in_place;
    CountingListener other;
    std::vector<std::string> played;
};

TEST_F(RecorderTest, ThreeCompositionsAreThreeEntriesTheCliMakesAgain) {
    history::Store store(dir.file("data/quavella/history.sqlite3"));
    compose_three(store.file());
    EXPECT_EQ(other.told, 3);
    EXPECT_EQ(composing_log(), log) << "no notice when the history works";

    std::vector<history::Summary> page;
    ASSERT_EQ(store.list(page, 0), history::Status::ok);
    ASSERT_EQ(page.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
        history::Entry entry;
        ASSERT_EQ(store.get(page[2 - k].id, entry), history::Status::ok);  // newest first
        const history::Record& r = entry.record;
        SCOPED_TRACE("composition " + std::to_string(k));
        EXPECT_EQ(r.midi, played[k]);
        EXPECT_EQ(r.lyrics, kPoem[0] + "\n" + kPoem[1]);
        EXPECT_EQ(r.notes.size(), r.syllables.size());
        EXPECT_FALSE(r.speed_item.empty());

        write_file(dir.file("lyrics.txt"), r.lyrics + "\n");
        const CliRun again =
            run_cli({"compose", "--state", history::state_text(r.state), "--speed",
                     std::to_string(r.speed_pos), "--mode", std::to_string(r.mode_pos), "--timbre",
                     std::to_string(r.timbre_pos), "-o", "again.mid", "lyrics.txt"},
                    "", dir.path());
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(read_file(dir.file("again.mid")), played[k]);
    }
}

TEST_F(RecorderTest, AHistoryThatCannotBeKeptChangesNothingAndIsToldOnce) {
    // Composing without any history is the reference.
    compose_three(std::nullopt);
    const EventLog reference = composing_log();
    const std::vector<std::string> reference_files = played;
    ASSERT_EQ(log.size(), reference.size() + 1) << "no place for a history: told once";

    // A data directory that is a file: the history cannot be opened.
    log.clear();
    played.clear();
    other.told = 0;
    write_file(dir.file("not-a-dir"), "x");
    const EnvGuard data_home("XDG_DATA_HOME", dir.file("not-a-dir"));
    const auto path = history::default_path([](const char* n) { return ::getenv(n); });
    ASSERT_TRUE(path);
    compose_three(*path);
    EXPECT_EQ(composing_log(), reference);
    EXPECT_EQ(played, reference_files);
    EXPECT_EQ(other.told, 3);
    ASSERT_EQ(log.size(), reference.size() + 1) << "told once";
    const auto notice = std::find_if(log.begin(), log.end(), [](const std::string& e) {
        return e.rfind("show:提示:作品记录无法保存", 0) == 0;
    });
    ASSERT_NE(notice, log.end());
    EXPECT_NE(notice->find(dir.file("not-a-dir")), std::string::npos) << *notice;
    EXPECT_GT(std::find(log.begin(), log.end(), "show:提示:作曲完成"), notice)
        << "told when recording, before the composition is reported";
}

/// A message box that counts the history's entries when "作曲完成" is shown.
struct CountingBox : MessageBox {
    CountingBox(history::Store& store, EventLog& log) : store_(store), log_(log) {}
    void show(const std::string& text, const std::string& caption) override {
        log_.push_back("show:" + caption + ":" + text);
        std::int64_t n = -1;
        if (text == "作曲完成" && store_.count(n) == history::Status::ok) entries.push_back(n);
    }
    void error(const std::string& text, const std::string& caption) override {
        log_.push_back("error:" + caption + ":" + text);
    }
    history::Store& store_;
    EventLog& log_;
    std::vector<std::int64_t> entries;  ///< the count at each "作曲完成"
};

TEST_F(RecorderTest, ACompositionIsInTheHistoryBeforeTheUserIsToldItIsDone) {
    // The window could be killed while "作曲完成" waits for its OK: the composition
    // the user is hearing is recorded by then, and so is every best-of candidate.
    history::Store store(dir.file("history.sqlite3"));
    CountingBox counting(store, log);
    HistoryRecorder recorder(
        store.file(), counting, in_place, [] { return std::int64_t{1717200000000}; }, {}, {},
        kPatient);
    WindowCommands commands({counting, copier, sleeper, dialog, buttons, player, &recorder},
                            "quavella");
    commands.start_up(clock, fs::current_path().string());
    commands.compose({kPoem, 0, 0, 0});
    commands.stop();
    commands.compose_best_of({kPoem, 1, 1, 1}, 4);
    EXPECT_EQ(counting.entries, (std::vector<std::int64_t>{1, 5}));
}

/// A message box that runs `on_done` once, while "作曲完成" waits for its OK.
struct WaitingBox : FakeBox {
    using FakeBox::FakeBox;
    void show(const std::string& text, const std::string& caption) override {
        FakeBox::show(text, caption);
        if (text == "作曲完成" && on_done) std::exchange(on_done, nullptr)();
    }
    std::function<void()> on_done;
};

TEST_F(RecorderTest, TwoWindowsInOneFolderEachKeepTheirOwnMelody) {
    // Two windows of one folder write the same working files. The second composes
    // while the first one's "作曲完成" still waits for its OK: the first still records
    // and saves the melody it composed, not what the second wrote to "2.mid".
    history::Store store(dir.file("history.sqlite3"));
    HistoryRecorder recorder(
        store.file(), box, in_place, [] { return std::int64_t{1717200000000}; }, {}, {}, kPatient);
    WaitingBox waiting(log);
    FakeClock other_clock{4242};
    WindowCommands first({waiting, copier, sleeper, dialog, buttons, player, &recorder},
                         "quavella");
    WindowCommands second(services(&recorder), "quavella");
    first.start_up(clock, fs::current_path().string());
    second.start_up(other_clock, fs::current_path().string());

    std::string firsts, seconds;
    waiting.on_done = [&] {
        firsts = read_file("2.mid");
        second.compose({kPoem, 0, 0, 0});
        seconds = read_file("2.mid");
    };
    first.compose({kPoem, 0, 0, 0});
    ASSERT_NE(firsts, seconds);
    ASSERT_EQ(read_file("2.mid"), seconds);

    dialog.answers = {dir.file("first"), dir.file("second")};
    first.save_as();
    second.save_as();
    EXPECT_EQ(read_file(dir.file("first.mid")), firsts);
    EXPECT_EQ(read_file(dir.file("second.mid")), seconds);
    recorder.finish();
    std::vector<history::Summary> page;
    ASSERT_EQ(store.list(page, 0), history::Status::ok);
    ASSERT_EQ(page.size(), 2u);
    history::Entry entry;
    ASSERT_EQ(store.get(page[1].id, entry), history::Status::ok);
    EXPECT_EQ(entry.record.midi, firsts);
    ASSERT_EQ(store.get(page[0].id, entry), history::Status::ok);
    EXPECT_EQ(entry.record.midi, seconds);
}

TEST_F(RecorderTest, ADamagedHistoryIsMovedAsideNamedOnceAndRecordsGoOn) {
    const fs::path file = dir.file("history.sqlite3");
    write_file(file, std::string(4096, 'x'));
    compose_three(file);
    history::Store store(file);
    std::int64_t n = 0;
    ASSERT_EQ(store.count(n), history::Status::ok);
    EXPECT_EQ(n, 3);
    fs::path moved;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("history.sqlite3.damaged-", 0) == 0 &&
            name.find("-wal") == std::string::npos && name.find("-shm") == std::string::npos)
            moved = entry.path();
    }
    ASSERT_FALSE(moved.empty());
    EXPECT_EQ(read_file(moved), std::string(4096, 'x')) << "never deleted";
    const EventLog notices = [&] {
        EventLog found;
        for (const std::string& e : log)
            if (e.rfind("show:提示:作品记录", 0) == 0) found.push_back(e);
        return found;
    }();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find(moved.string()), std::string::npos) << notices[0];
}

/// Collects the recorder's calls for the test's thread, as the window's event loop would.
struct CollectingPoster : Poster {
    void post(std::function<void()> call) override {
        const std::lock_guard lock(mutex);
        calls.push_back(std::move(call));
    }
    /// Runs what was posted so far, in order.
    void run() {
        std::vector<std::function<void()>> now;
        {
            const std::lock_guard lock(mutex);
            now.swap(calls);
        }
        for (const auto& call : now) call();
    }
    std::mutex mutex;
    std::vector<std::function<void()>> calls;
};

TEST_F(RecorderTest, CallsPostedByARecorderThatHasGoneDoNothing) {
    // The window's event loop may run what the worker posted after the recorder has gone
    // (the window closing): each call carries the recorder's lifeline and does nothing then.
    CollectingPoster posted;
    int recorded = 0;
    int opened = 0;
    {
        HistoryRecorder recorder(
            dir.file("data/history.sqlite3"), box, posted,
            [] { return std::int64_t{1717200000000}; }, [&](std::int64_t) { ++recorded; },
            [&](const HistoryOpened&) { ++opened; }, kPatient);
        WindowCommands commands(services(&recorder), "quavella");
        commands.start_up(clock, fs::current_path().string());
        commands.compose({kPoem, 0, 0, 0});
        ASSERT_TRUE(recorder.wait_idle(60000));
    }
    {
        const std::lock_guard lock(posted.mutex);
        EXPECT_EQ(posted.calls.size(), 2u) << "opened, and the entry recorded";
    }
    posted.run();
    EXPECT_EQ(recorded, 0);
    EXPECT_EQ(opened, 0);

    // While the recorder lasts, the same calls are made.
    {
        HistoryRecorder recorder(
            dir.file("data/history.sqlite3"), box, posted,
            [] { return std::int64_t{1717200000000}; }, [&](std::int64_t) { ++recorded; },
            [&](const HistoryOpened&) { ++opened; }, kPatient);
        WindowCommands commands(services(&recorder), "quavella");
        commands.start_up(clock, fs::current_path().string());
        commands.compose({kPoem, 0, 0, 0});
        ASSERT_TRUE(recorder.wait_idle(60000));
        posted.run();
    }
    EXPECT_EQ(recorded, 1);
    EXPECT_EQ(opened, 1);
}

/// Milliseconds `op` took.
template <typename Op>
long long timed_ms(Op op) {
    const auto start = std::chrono::steady_clock::now();
    op();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

/// A history another program holds: the window's recorder over it, with the compose
/// commands over fakes.
class BusyHistoryTest : public RecorderTest {
protected:
    BusyHistoryTest() {
        // A history in use (write-ahead logged), as another window leaves it.
        history::Store made(file);
        std::int64_t n = 0;
        EXPECT_EQ(made.count(n), history::Status::ok);
    }
    const fs::path file = dir.file("data/history.sqlite3");
    CollectingPoster posted;
    std::vector<std::int64_t> recorded;
};

TEST_F(BusyHistoryTest, QueuedWhileHeldAndRecordedInOrderOnceReleased) {
    auto locker = std::make_unique<HistoryLocker>(file);
    RecorderTimes times;
    times.first_try_ms = 5000;  // the window waits for the first try; it must answer at once
    times.retry_max_ms = 100;
    HistoryRecorder recorder(
        file, box, posted, [] { return std::int64_t{1717200000000}; },
        [&](std::int64_t id) { recorded.push_back(id); }, {}, times);
    WindowCommands commands(services(&recorder), "quavella");
    commands.start_up(clock, fs::current_path().string());

    EXPECT_LT(timed_ms([&] { commands.compose({kPoem, 0, 0, 0}); }), 1000);
    const CompositionPtr first = commands.current();
    commands.stop();
    EXPECT_LT(timed_ms([&] { commands.compose_best_of({kPoem, 1, 1, 1}, 3); }), 1000);
    const CompositionPtr best = commands.current();
    // A melody shaped from the first, queued behind it: the link is found when it runs.
    auto shaped = std::make_shared<Composition>(*first);
    shaped->edits = "1+";
    recorder.record_shaped(first, shaped);
    EXPECT_FALSE(recorder.wait_idle(300)) << "nothing recorded while the history is held";
    posted.run();
    EXPECT_TRUE(recorded.empty());
    EXPECT_EQ(log, composing_log()) << "a busy history is no reason to tell anyone";

    locker->release();
    ASSERT_TRUE(recorder.wait_idle(5000));
    posted.run();
    history::Store store(file);
    std::vector<history::Summary> page;
    ASSERT_EQ(store.list(page, 0), history::Status::ok);
    ASSERT_EQ(page.size(), 3u);  // newest first: shaped, the best-of press, first
    EXPECT_EQ(recorded, (std::vector<std::int64_t>{page[2].id, page[1].id, page[0].id}));
    history::Entry entry;
    ASSERT_EQ(store.get(page[2].id, entry), history::Status::ok);
    EXPECT_EQ(entry.record.midi, first->midi);
    ASSERT_EQ(store.get(page[1].id, entry), history::Status::ok);
    EXPECT_EQ(entry.record.midi, best->midi);
    // The press whole, in one transaction: the chosen one and the two passed over.
    std::vector<history::Summary> press;
    ASSERT_EQ(store.list_candidates(page[1].id, press, 0), history::Status::ok);
    ASSERT_EQ(press.size(), 3u);
    EXPECT_FALSE(press[1].edited || press[2].edited);
    ASSERT_EQ(store.get(page[0].id, entry), history::Status::ok);
    EXPECT_EQ(entry.record.edits, "1+");
    EXPECT_EQ(entry.record.origin, std::optional<std::int64_t>(page[2].id));
    recorder.finish();
    EXPECT_EQ(log, composing_log()) << "everything recorded: nothing told";
}

TEST_F(BusyHistoryTest, NeverRecordedIsToldOnceWithHowMany) {
    const HistoryLocker locker(file);
    RecorderTimes times;
    times.final_try_ms = 300;
    times.retry_max_ms = 50;
    HistoryRecorder recorder(
        file, box, posted, [] { return std::int64_t{1717200000000}; }, {}, {}, times);
    WindowCommands commands(services(&recorder), "quavella");
    commands.start_up(clock, fs::current_path().string());
    commands.compose({kPoem, 0, 0, 0});
    commands.stop();
    commands.compose_best_of({kPoem, 1, 1, 1}, 3);
    const long long took = timed_ms([&] { recorder.finish(); });
    EXPECT_GE(took, 250) << "the end tries for a while";
    EXPECT_LT(took, 3000);
    recorder.finish();
    posted.run();
    EventLog told;
    for (const std::string& e : log)
        if (e.rfind("show:提示:作品记录", 0) == 0) told.push_back(e);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find(" 4 首作品没有记录"), std::string::npos) << told[0];
    std::int64_t n = -1;
    history::Store store(file);
    ASSERT_EQ(store.count(n), history::Status::ok);
    EXPECT_EQ(n, 0);
}

}  // namespace
}  // namespace quavella
