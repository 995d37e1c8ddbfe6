// The history store on real SQLite files: what is recorded comes back whole,
// lists page newest first, two connections see each other, the schema is
// versioned, and a random run of operations (with reopening) matches a model.
#include "history/store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "history/schema.h"
#include "history_fixtures.h"
#include "tests/support/files.h"

namespace quavella::history {
namespace {

using test::random_record;
using test::same_record;
using test::sample_record;
using test::ScratchDir;

/// Runs one SQL statement on the file directly and returns the first column of its first row.
std::string query(const std::filesystem::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_stmt* st = nullptr;
    std::string value = "<error>";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW) {
        const auto* text = sqlite3_column_text(st, 0);
        value = text != nullptr ? reinterpret_cast<const char*>(text) : "";
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return value;
}

class StoreTest : public ::testing::Test {
protected:
    std::filesystem::path file() const { return dir_.path() / "quavella" / "history.sqlite3"; }
    ScratchDir dir_;
};

TEST_F(StoreTest, RecordedCompositionsComeBackWhole) {
    Store store(file());
    ASSERT_EQ(store.open(), Status::ok) << store.last_error();
    std::mt19937_64 rng(7);
    std::vector<std::pair<std::int64_t, Record>> kept;
    for (int i = 0; i < 60; ++i) {
        Record r = i == 0 ? sample_record(0) : random_record(rng);
        std::int64_t id = 0;
        ASSERT_EQ(store.record(r, id), Status::ok) << store.last_error();
        kept.emplace_back(id, std::move(r));
    }
    // Read back through a second connection, as another window would.
    Store other(file());
    for (const auto& [id, r] : kept) {
        Entry entry;
        ASSERT_EQ(other.get(id, entry), Status::ok) << other.last_error();
        EXPECT_EQ(entry.id, id);
        EXPECT_TRUE(same_record(entry.record, r)) << "entry " << id;
    }
}

TEST_F(StoreTest, AShapedMelodyIsListedWithItsOrigin) {
    Store store(file());
    std::int64_t composed = 0;
    ASSERT_EQ(store.record(sample_record(1), composed), Status::ok) << store.last_error();
    Record shaped = sample_record(2);
    shaped.edits = "fix,3+h";
    shaped.origin = composed;
    std::int64_t edited = 0;
    ASSERT_EQ(store.record(shaped, edited), Status::ok) << store.last_error();

    std::vector<Summary> page;
    ASSERT_EQ(store.list(page, 0), Status::ok);
    ASSERT_EQ(page.size(), 2u);
    EXPECT_TRUE(page[0].edited);
    EXPECT_EQ(page[0].origin, composed);
    EXPECT_FALSE(page[1].edited);
    EXPECT_EQ(page[1].origin, std::nullopt);
    Entry entry;
    ASSERT_EQ(store.get(edited, entry), Status::ok);
    EXPECT_TRUE(same_record(entry.record, shaped));
}

TEST_F(StoreTest, AHistoryOfTheFirstSchemaIsUpgradedKeepingItsEntries) {
    // Written by the first version: its tables, one entry, user_version 1.
    std::filesystem::create_directories(file().parent_path());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, history::migrations()[0], nullptr, nullptr, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "INSERT INTO composition VALUES (7, 1, 'x', 0, 0, 0, '', '', '', 90, 0, "
                           "0, 1, NULL, 5, 5, '60', '120', 'x', 'MThd'); PRAGMA user_version = 1",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    Store store(file());
    Entry entry;
    ASSERT_EQ(store.get(7, entry), Status::ok) << store.last_error();
    EXPECT_EQ(entry.record.notes, std::vector<int>{60});
    EXPECT_EQ(entry.record.edits, "");
    EXPECT_EQ(entry.record.origin, std::nullopt);
    EXPECT_EQ(query(file(), "PRAGMA user_version"), std::to_string(Store::kSchemaVersion));
}

TEST_F(StoreTest, NewFileIsWalWithTheCurrentSchemaVersion) {
    Store store(file());
    ASSERT_EQ(store.open(), Status::ok) << store.last_error();
    EXPECT_EQ(query(file(), "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(query(file(), "PRAGMA user_version"), std::to_string(Store::kSchemaVersion));
}

// The history holds the user's lyrics: whatever the umask, a new history's folders are
// the owner's alone and so are the database and its journal files. A folder others can
// write to is left as it is, and said.
TEST_F(StoreTest, PrivateWhateverTheUmask) {
    const auto mode = [](const std::filesystem::path& p) {
        struct stat info {};
        EXPECT_EQ(::stat(p.c_str(), &info), 0) << p;
        return info.st_mode & 0777;
    };
    for (const mode_t mask : {mode_t{0000}, mode_t{0022}, mode_t{0077}}) {
        const std::filesystem::path dir = dir_.path() / ("umask" + std::to_string(mask));
        const std::filesystem::path db = dir / "share" / "quavella" / "history.sqlite3";
        const mode_t saved = ::umask(mask);
        {
            Store store(db);
            std::int64_t id = 0;
            EXPECT_EQ(store.record(sample_record(0), id), Status::ok) << store.last_error();
            EXPECT_EQ(store.notice(), "") << "umask " << mask;
            EXPECT_EQ(mode(dir / "share"), 0700u) << "umask " << mask;
            EXPECT_EQ(mode(db.parent_path()), 0700u) << "umask " << mask;
            EXPECT_EQ(mode(db), 0600u) << "umask " << mask;
            EXPECT_EQ(mode(db.string() + "-wal"), 0600u) << "umask " << mask;
        }
        ::umask(saved);
    }
    const std::filesystem::path open_dir = dir_.path() / "open";
    std::filesystem::create_directories(open_dir);
    ::chmod(open_dir.c_str(), 0777);
    Store store(open_dir / "history.sqlite3");
    ASSERT_EQ(store.open(), Status::ok) << store.last_error();
    EXPECT_NE(store.notice().find("can be written by other users"), std::string::npos);
    EXPECT_EQ(mode(open_dir), 0777u);
}

TEST_F(StoreTest, ListPagesNewestFirstAndSummarises) {
    Store store(file());
    std::vector<std::int64_t> ids;
    for (int i = 0; i < 23; ++i) {
        std::int64_t id = 0;
        ASSERT_EQ(store.record(sample_record(i), id), Status::ok) << store.last_error();
        ids.push_back(id);
    }
    ASSERT_EQ(store.remove(ids[5]), Status::ok);
    ids.erase(ids.begin() + 5);

    std::vector<std::int64_t> listed;
    std::vector<Summary> page;
    std::int64_t before = std::numeric_limits<std::int64_t>::max();
    do {
        ASSERT_EQ(store.list(page, 10, before), Status::ok) << store.last_error();
        for (const Summary& s : page) listed.push_back(s.id);
        if (!page.empty()) before = page.back().id;
    } while (page.size() == 10);
    std::reverse(ids.begin(), ids.end());
    EXPECT_EQ(listed, ids);

    ASSERT_EQ(store.list(page, 1), Status::ok);
    ASSERT_EQ(page.size(), 1u);
    const Record newest = sample_record(22);
    const Summary& s = page[0];
    EXPECT_EQ(s.time_ms, newest.time_ms);
    // 40 characters of the lyrics, counted as characters, not bytes.
    EXPECT_EQ(s.lyrics_start, newest.lyrics);
    EXPECT_EQ(std::tie(s.speed_pos, s.mode_pos, s.timbre_pos, s.tempo),
              std::tie(newest.speed_pos, newest.mode_pos, newest.timbre_pos, newest.tempo));
    EXPECT_EQ(s.note_count, 28);
    EXPECT_EQ(s.speed_item + s.mode_item + s.timbre_item,
              newest.speed_item + newest.mode_item + newest.timbre_item);
    EXPECT_EQ(s.tone_score, newest.tone_score);

    Record long_lyrics = sample_record(1);
    long_lyrics.lyrics.clear();
    for (int i = 0; i < 50; ++i) long_lyrics.lyrics += "\xE6\x98\xA5";  // 春
    std::int64_t id = 0;
    ASSERT_EQ(store.record(long_lyrics, id), Status::ok);
    ASSERT_EQ(store.list(page, 1), Status::ok);
    EXPECT_EQ(page[0].lyrics_start, long_lyrics.lyrics.substr(0, 3 * Store::kLyricsStartChars));
}

TEST_F(StoreTest, IdsAreNeverReusedAfterDeletingTheNewest) {
    std::int64_t first = 0, second = 0;
    {
        Store store(file());
        ASSERT_EQ(store.record(sample_record(1), first), Status::ok);
        ASSERT_EQ(store.remove(first), Status::ok);
        EXPECT_EQ(store.remove(first), Status::not_found);
        Entry gone;
        EXPECT_EQ(store.get(first, gone), Status::not_found);
    }
    Store reopened(file());
    ASSERT_EQ(reopened.record(sample_record(2), second), Status::ok);
    EXPECT_GT(second, first);
    // The deleted entry's syllables went with it.
    EXPECT_EQ(query(file(), "SELECT count(*) FROM syllable WHERE composition_id = " +
                                std::to_string(first)),
              "0");
}

TEST_F(StoreTest, TwoWindowsRecordAtOnceAndSeeEachOther) {
    constexpr int kEach = 150;
    std::vector<std::int64_t> ids[2];
    std::string errors[2];
    const auto window = [&](int w) {
        Store store(file());
        for (int i = 0; i < kEach; ++i) {
            std::int64_t id = 0;
            if (store.record(sample_record(w * kEach + i), id) != Status::ok) {
                errors[w] = store.last_error();
                return;
            }
            ids[w].push_back(id);
        }
    };
    std::thread a(window, 0), b(window, 1);
    a.join();
    b.join();
    EXPECT_EQ(errors[0], "");
    EXPECT_EQ(errors[1], "");

    Store reader(file());
    std::int64_t n = 0;
    ASSERT_EQ(reader.count(n), Status::ok);
    EXPECT_EQ(n, 2 * kEach);
    for (int w = 0; w < 2; ++w) {
        for (int i = 0; i < kEach; i += 37) {
            Entry entry;
            ASSERT_EQ(reader.get(ids[w][static_cast<std::size_t>(i)], entry), Status::ok);
            EXPECT_TRUE(same_record(entry.record, sample_record(w * kEach + i)));
        }
    }
}

TEST_F(StoreTest, ANewHistoryStartedByFourWindowsAtOnceTakesEveryRecord) {
    // The first start of several windows at the same moment: four programs set up
    // the same new file. None may give up on it as "locked".
    for (int round = 0; round < 30; ++round) {
        const std::filesystem::path fresh = dir_.path() / ("fresh-" + std::to_string(round));
        int gate[2];
        ASSERT_EQ(::pipe(gate), 0);
        std::vector<pid_t> windows;
        for (int w = 0; w < 4; ++w) {
            const pid_t pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                ::close(gate[1]);
                char c;
                while (::read(gate[0], &c, 1) > 0) {
                }  // released together when the gate closes
                Store store(fresh);
                std::int64_t id = 0;
                const bool ok = store.record(sample_record(w), id) == Status::ok;
                if (!ok) std::fprintf(stderr, "window %d: %s\n", w, store.last_error().c_str());
                ::_exit(ok ? 0 : 1);
            }
            windows.push_back(pid);
        }
        ::close(gate[0]);
        ::close(gate[1]);
        for (const pid_t pid : windows) {
            int status = 0;
            ::waitpid(pid, &status, 0);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
        }
        std::int64_t n = 0;
        ASSERT_EQ(Store(fresh).count(n), Status::ok);
        EXPECT_EQ(n, 4);
    }
}

TEST_F(StoreTest, HistoryOfANewerVersionIsLeftAlone) {
    {
        Store store(file());
        std::int64_t id = 0;
        ASSERT_EQ(store.record(sample_record(1), id), Status::ok);
    }
    query(file(), "PRAGMA user_version = 99");
    Store store(file());
    EXPECT_EQ(store.open(), Status::failed);
    EXPECT_NE(store.last_error().find("newer"), std::string::npos) << store.last_error();
    std::int64_t id = 0;
    EXPECT_EQ(store.record(sample_record(2), id), Status::failed);
    EXPECT_EQ(query(file(), "SELECT count(*) FROM composition"), "1");
    EXPECT_EQ(query(file(), "PRAGMA user_version"), "99");
}

TEST(DefaultPath, FollowsXdgDataHomeElseHome) {
    struct Row {
        const char* xdg;
        const char* home;
        const char* expected;  // nullptr: no path
    };
    const Row rows[] = {
        {"/data", "/home/u", "/data/quavella/history.sqlite3"},
        {nullptr, "/home/u", "/home/u/.local/share/quavella/history.sqlite3"},
        {"", "/home/u", "/home/u/.local/share/quavella/history.sqlite3"},
        {"relative/dir", "/home/u", "/home/u/.local/share/quavella/history.sqlite3"},
        {nullptr, nullptr, nullptr},
        {nullptr, "", nullptr},
    };
    for (const Row& row : rows) {
        const auto path = default_path([&row](const char* name) -> const char* {
            return std::string(name) == "XDG_DATA_HOME" ? row.xdg
                   : std::string(name) == "HOME"        ? row.home
                                                        : nullptr;
        });
        if (row.expected == nullptr) {
            EXPECT_FALSE(path) << *path;
        } else {
            EXPECT_EQ(path.value_or("<none>"), row.expected);
        }
    }
}

/// Random runs of record, get, list, count, remove and reopen, checked
/// against a map kept beside the store.
class StoreModelTest : public StoreTest, public ::testing::WithParamInterface<unsigned> {};

TEST_P(StoreModelTest, MatchesAMapOverRandomOperations) {
    std::mt19937_64 rng(GetParam());
    std::map<std::int64_t, Record> model;
    std::int64_t highest = 0;
    auto store = std::make_unique<Store>(file());
    const auto some_id = [&]() -> std::int64_t {
        if (model.empty() || rng() % 4 == 0) return static_cast<std::int64_t>(rng() % 500);
        auto it = model.begin();
        std::advance(it, static_cast<long>(rng() % model.size()));
        return it->first;
    };
    for (int step = 0; step < 300; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        switch (rng() % 8) {
            case 0:
            case 1:
            case 2: {
                Record r = random_record(rng);
                std::int64_t id = 0;
                ASSERT_EQ(store->record(r, id), Status::ok) << store->last_error();
                ASSERT_GT(id, highest);
                highest = id;
                model[id] = std::move(r);
                break;
            }
            case 3: {
                const std::int64_t id = some_id();
                Entry entry;
                const Status st = store->get(id, entry);
                if (model.count(id) == 0) {
                    ASSERT_EQ(st, Status::not_found);
                } else {
                    ASSERT_EQ(st, Status::ok) << store->last_error();
                    ASSERT_TRUE(same_record(entry.record, model[id]));
                }
                break;
            }
            case 4: {
                const std::int64_t id = some_id();
                ASSERT_EQ(store->remove(id), model.erase(id) ? Status::ok : Status::not_found);
                break;
            }
            case 5: {
                const int limit = static_cast<int>(rng() % 12);
                const std::int64_t before = rng() % 3 == 0 ? highest + 1 : some_id();
                std::vector<Summary> page;
                ASSERT_EQ(store->list(page, limit, before), Status::ok) << store->last_error();
                std::vector<std::int64_t> expected;
                for (auto it = model.lower_bound(before); it != model.begin();) {
                    --it;
                    if (limit > 0 && static_cast<int>(expected.size()) == limit) break;
                    expected.push_back(it->first);
                }
                std::vector<std::int64_t> got;
                for (const Summary& s : page) {
                    got.push_back(s.id);
                    const Record& r = model[s.id];
                    ASSERT_EQ(std::tie(s.time_ms, s.speed_pos, s.tempo, s.tone_score),
                              std::tie(r.time_ms, r.speed_pos, r.tempo, r.tone_score));
                    ASSERT_EQ(s.note_count, static_cast<int>(r.notes.size()));
                }
                ASSERT_EQ(got, expected);
                break;
            }
            case 6: {
                std::int64_t n = -1;
                ASSERT_EQ(store->count(n), Status::ok);
                ASSERT_EQ(n, static_cast<std::int64_t>(model.size()));
                break;
            }
            default:
                store = std::make_unique<Store>(file());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, StoreModelTest, ::testing::Values(1u, 2u, 3u, 4u));

}  // namespace
}  // namespace quavella::history
