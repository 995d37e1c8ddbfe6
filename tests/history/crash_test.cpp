// Crash safety: writer processes record compositions in a loop, some three in one
// call, and are killed with SIGKILL at random moments, again and again. Afterwards
// the database must pass SQLite's integrity check, hold every composition a writer
// reported as recorded, whole, and hold each call's compositions all or none.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "history/store.h"
#include "history_fixtures.h"
#include "tests/support/files.h"

namespace quavella::history {
namespace {

/// One running writer and its output pipe.
struct Writer {
    pid_t pid = -1;
    int out = -1;
    std::string text;
};

Writer start_writer(const std::string& db, long long first) {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::close(fds[0]);
        ::close(fds[1]);
        const std::string first_text = std::to_string(first);
        ::execl(QUAVELLA_CRASH_WRITER, QUAVELLA_CRASH_WRITER, db.c_str(), first_text.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    return {pid, fds[0], {}};
}

/// Reads whatever the writer has printed, for at most `ms` milliseconds, or
/// until it has printed a whole line when `until_a_line` is set.
void read_for(Writer& w, int ms, bool until_a_line = false) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    char buf[4096];
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return;
        if (until_a_line && w.text.find('\n') != std::string::npos) return;
        pollfd p{w.out, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        const ssize_t n = ::read(w.out, buf, sizeof buf);
        if (n <= 0) return;
        w.text.append(buf, static_cast<std::size_t>(n));
    }
}

/// Kills the writer, reads what it printed before it died and collects the
/// complete "N ID" lines (a line cut short by the kill names nothing).
void kill_and_collect(Writer& w, std::map<std::int64_t, long long>& recorded) {
    ::kill(w.pid, SIGKILL);
    int status = 0;
    ::waitpid(w.pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself: " << status;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(w.out, buf, sizeof buf)) > 0)
        w.text.append(buf, static_cast<std::size_t>(n));
    ::close(w.out);
    const std::size_t complete = w.text.rfind('\n');
    std::istringstream lines(w.text.substr(0, complete == std::string::npos ? 0 : complete + 1));
    long long number = 0;
    std::int64_t id = 0;
    while (lines >> number >> id) recorded[id] = number;
}

TEST(CrashSafety, KilledWritersLoseNothingTheyReported) {
    test::ScratchDir dir;
    const std::string db = (dir.path() / "history.sqlite3").string();
    std::mt19937 rng(11);
    std::map<std::int64_t, long long> recorded;  // id -> composition number
    long long next = 0;
    for (int round = 0; round < 12; ++round) {
        // Two writers at once, as two windows would be.
        Writer writers[2] = {start_writer(db, next), start_writer(db, next + 1000000)};
        next += 2000000;
        for (Writer& w : writers) ASSERT_GT(w.pid, 0);
        // Killed at a random moment once both are recording (starting takes long
        // under a sanitizer).
        for (Writer& w : writers) read_for(w, 20000, true);
        read_for(writers[0], 20 + static_cast<int>(rng() % 120));
        read_for(writers[1], 1);
        for (Writer& w : writers) kill_and_collect(w, recorded);
    }
    ASSERT_GT(recorded.size(), 12u) << "the writers recorded too little to prove anything";

    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &raw), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(raw, "PRAGMA integrity_check", -1, &st, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok");
    sqlite3_finalize(st);

    // The number of each composition ends its lyrics; N, N+1, N+2 (N a multiple of 4)
    // were recorded in one call, so the history holds all three or none of them.
    std::set<long long> numbers;
    ASSERT_EQ(sqlite3_prepare_v2(raw, "SELECT lyrics FROM composition", -1, &st, nullptr),
              SQLITE_OK);
    while (sqlite3_step(st) == SQLITE_ROW) {
        const std::string lyrics = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        numbers.insert(std::stoll(lyrics.substr(lyrics.rfind('\n') + 1)));
    }
    sqlite3_finalize(st);
    sqlite3_close(raw);
    int batches = 0;
    for (const long long n : numbers) {
        if (n % 4 == 3) continue;
        const long long first = n - n % 4;
        EXPECT_TRUE(numbers.count(first) && numbers.count(first + 1) && numbers.count(first + 2))
            << "composition " << n << " without the others of its call";
        if (n % 4 == 0) ++batches;
    }
    EXPECT_GT(batches, 0);

    Store store(db);
    for (const auto& [id, number] : recorded) {
        Entry entry;
        ASSERT_EQ(store.get(id, entry), Status::ok) << "entry " << id << ": " << store.last_error();
        EXPECT_TRUE(test::same_record(entry.record,
                                      test::sample_record(number, 4096 + (number % 5) * 4096)))
            << "entry " << id;
    }
}

}  // namespace
}  // namespace quavella::history
