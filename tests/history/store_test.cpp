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
#include <set>
#include <thread>

#include "composer/style_tables.h"
#include "failing_vfs.h"
#include "history/schema.h"
#include "history_fixtures.h"
#include "tests/support/files.h"
#include "tests/support/row_name.h"

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
        kept.emplace_back(id, test::as_read(std::move(r), id));
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

/// The ids of a list, in its order.
std::vector<std::int64_t> ids_of(const std::vector<Summary>& page) {
    std::vector<std::int64_t> ids;
    for (const Summary& s : page) ids.push_back(s.id);
    return ids;
}

/// Records a best-of press of `n` candidates made from sample n0.. and returns their ids,
/// the chosen one last.
std::vector<std::int64_t> record_press(Store& store, int n0, int n, std::size_t midi_bytes = 400) {
    std::vector<Record> press;
    for (int k = 0; k < n; ++k) press.push_back(sample_record(n0 + k, midi_bytes));
    std::vector<std::int64_t> ids;
    EXPECT_EQ(store.record(press, ids), Status::ok) << store.last_error();
    return ids;
}

TEST_F(StoreTest, ABestOfPressIsListedAsItsChosenEntryWithItsCandidatesBelow) {
    Store store(file());
    std::int64_t before = 0, after = 0, alone = 0;
    ASSERT_EQ(store.record(sample_record(1), before), Status::ok);
    const std::vector<std::int64_t> press = record_press(store, 10, 5);
    ASSERT_EQ(press.size(), 5u);
    std::vector<std::int64_t> one;
    ASSERT_EQ(store.record(std::vector<Record>{sample_record(20)}, one), Status::ok);
    alone = one.front();
    ASSERT_EQ(store.record(sample_record(2), after), Status::ok);
    const std::int64_t chosen = press.back();

    std::vector<Summary> page;
    ASSERT_EQ(store.list(page, 0), Status::ok) << store.last_error();
    EXPECT_EQ(ids_of(page), (std::vector<std::int64_t>{after, alone, chosen, before}));
    for (const Summary& s : page) {
        EXPECT_EQ(s.candidates, s.id == chosen ? 5 : 0) << s.id;
        EXPECT_EQ(s.chosen, s.id == chosen ? std::optional(chosen) : std::nullopt) << s.id;
    }
    // Pages of one end on the press and go on below its candidates.
    std::vector<std::int64_t> paged;
    for (std::int64_t bound = std::numeric_limits<std::int64_t>::max();;) {
        ASSERT_EQ(store.list(page, 1, bound), Status::ok);
        if (page.empty()) break;
        paged.push_back(page[0].id);
        bound = page[0].id;
    }
    EXPECT_EQ(paged, (std::vector<std::int64_t>{after, alone, chosen, before}));

    // The candidates, newest first (the chosen one first), paged the same way.
    std::vector<std::int64_t> candidates;
    for (std::int64_t bound = std::numeric_limits<std::int64_t>::max();;) {
        ASSERT_EQ(store.list_candidates(chosen, page, 2, bound), Status::ok);
        for (const Summary& s : page) {
            EXPECT_EQ(s.chosen, chosen);
            candidates.push_back(s.id);
        }
        if (page.size() < 2) break;
        bound = page.back().id;
    }
    EXPECT_EQ(candidates, std::vector<std::int64_t>(press.rbegin(), press.rend()));
    ASSERT_EQ(store.list_candidates(before, page, 0), Status::ok);
    EXPECT_TRUE(page.empty());
    EXPECT_EQ(store.list_candidates(9999, page, 0), Status::not_found);

    Entry entry;
    ASSERT_EQ(store.get(press[1], entry), Status::ok);
    EXPECT_EQ(entry.chosen, chosen);
    EXPECT_TRUE(same_record(entry.record, sample_record(11)));
    ASSERT_EQ(store.get(alone, entry), Status::ok);
    EXPECT_EQ(entry.chosen, std::nullopt);
    std::int64_t n = 0;
    ASSERT_EQ(store.count(n), Status::ok);
    EXPECT_EQ(n, 8);
}

// A press made one record at a time, as it is written: each asked for once, in order,
// and the press is whole, or absent when a record cannot be made.
TEST_F(StoreTest, APressMadeOneRecordAtATimeIsWholeOrAbsent) {
    Store store(file());
    std::int64_t first = 0;
    ASSERT_EQ(store.record(sample_record(1), first), Status::ok);
    std::vector<std::size_t> asked;
    Record made;
    const auto fails_at = [&](std::size_t failing) {
        return [&, failing](std::size_t k) -> const Record* {
            asked.push_back(k);
            if (k == failing) return nullptr;
            made = sample_record(30 + static_cast<int>(k));
            return &made;
        };
    };
    std::vector<std::int64_t> ids;
    EXPECT_EQ(store.record(4, fails_at(2), ids), Status::failed);
    EXPECT_NE(store.last_error().find("entry 3 of 4 could not be made"), std::string::npos)
        << store.last_error();
    EXPECT_TRUE(ids.empty());
    std::int64_t n = 0;
    ASSERT_EQ(store.count(n), Status::ok);
    EXPECT_EQ(n, 1);

    asked.clear();
    ASSERT_EQ(store.record(4, fails_at(99), ids), Status::ok) << store.last_error();
    EXPECT_EQ(asked, (std::vector<std::size_t>{0, 1, 2, 3}));
    ASSERT_EQ(ids.size(), 4u);
    for (std::size_t k = 0; k < ids.size(); ++k) {
        Entry entry;
        ASSERT_EQ(store.get(ids[k], entry), Status::ok);
        EXPECT_TRUE(same_record(entry.record, sample_record(30 + static_cast<int>(k)))) << k;
        EXPECT_EQ(entry.chosen, ids.back()) << k;
    }
}

TEST_F(StoreTest, DeletingTheChosenEntryTakesItsCandidatesAndACandidateGoesAlone) {
    Store store(file());
    std::int64_t plain = 0;
    ASSERT_EQ(store.record(sample_record(1), plain), Status::ok);
    const std::vector<std::int64_t> first = record_press(store, 10, 4);
    const std::vector<std::int64_t> second = record_press(store, 20, 3);
    std::vector<Summary> page;

    ASSERT_EQ(store.remove(first[1]), Status::ok);
    ASSERT_EQ(store.list_candidates(first.back(), page, 0), Status::ok);
    EXPECT_EQ(ids_of(page), (std::vector<std::int64_t>{first[3], first[2], first[0]}));
    ASSERT_EQ(store.list(page, 0), Status::ok);
    EXPECT_EQ(ids_of(page), (std::vector<std::int64_t>{second.back(), first.back(), plain}));
    EXPECT_EQ(page[1].candidates, 3);

    // A press left with its chosen entry alone is listed as an entry of its own.
    ASSERT_EQ(store.remove(second[0]), Status::ok);
    ASSERT_EQ(store.remove(second[1]), Status::ok);
    ASSERT_EQ(store.list(page, 0), Status::ok);
    EXPECT_EQ(page[0].id, second.back());
    EXPECT_EQ(page[0].candidates, 0);
    EXPECT_EQ(page[0].chosen, std::nullopt);
    Entry lone;
    ASSERT_EQ(store.get(second.back(), lone), Status::ok);
    EXPECT_EQ(lone.chosen, std::nullopt);

    ASSERT_EQ(store.remove(first.back()), Status::ok);
    ASSERT_EQ(store.list(page, 0), Status::ok);
    EXPECT_EQ(ids_of(page), (std::vector<std::int64_t>{second.back(), plain}));
    std::int64_t n = 0;
    ASSERT_EQ(store.count(n), Status::ok);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(query(file(), "SELECT count(*) FROM syllable"), std::to_string(2 * 28));
    EXPECT_EQ(store.remove(first[0]), Status::not_found);
}

/// A history of schema 2 as the program of that schema wrote it: entry 1 alone,
/// entries 2 to 5 the candidates of one best-of press (5 chosen, recorded last, all
/// with one time stamp), entry 6 a melody shaped from 5, entry 7 alone.
const std::filesystem::path kSchema2History =
    std::filesystem::path(QUAVELLA_HISTORY_FIXTURES) / "schema2-history.sqlite3";

TEST_F(StoreTest, AHistoryOfSchema2IsUpgradedKeepingEveryEntryAndFindsItsPressesAgain) {
    for (const Access access : {Access::read_write, Access::read_only}) {
        const std::filesystem::path copy =
            dir_.path() / (access == Access::read_only ? "read" : "write") / "history.sqlite3";
        std::filesystem::create_directories(copy.parent_path());
        std::filesystem::copy_file(kSchema2History, copy);
        Store store(copy, {}, access);
        std::vector<Summary> page;
        ASSERT_EQ(store.list(page, 0), Status::ok) << store.last_error();
        EXPECT_EQ(ids_of(page), (std::vector<std::int64_t>{7, 6, 5, 1}));
        EXPECT_EQ(page[2].candidates, 4);
        EXPECT_EQ(page[1].origin, 5);
        ASSERT_EQ(store.list_candidates(5, page, 0), Status::ok);
        EXPECT_EQ(ids_of(page), (std::vector<std::int64_t>{5, 4, 3, 2}));
        for (std::int64_t id = 1; id <= 7; ++id) {
            Entry entry;
            ASSERT_EQ(store.get(id, entry), Status::ok) << store.last_error();
            EXPECT_EQ(entry.chosen,
                      id >= 2 && id <= 5 ? std::optional<std::int64_t>(5) : std::nullopt);
            EXPECT_EQ(entry.record.notes.size(), 4u);
        }
        EXPECT_EQ(query(copy, "PRAGMA user_version"), std::to_string(Store::kSchemaVersion));
    }
}

/// A history of schema 3 as quavella-cli compose --record of that schema wrote it, when
/// mode position P still composed with scale table P: entries 1 to 4 at mode positions 0
/// to 3, entry 5 shaped with a sentence composed again (--edits s2:...), entries 6 to 8
/// one best-of press (scripts in tests/history/fixtures/README).
const std::filesystem::path kSchema3History =
    std::filesystem::path(QUAVELLA_HISTORY_FIXTURES) / "schema3-history.sqlite3";

TEST_F(StoreTest, AHistoryOfSchema3NamesEachEntryByTheItemWhoseScaleMadeIt) {
    for (const Access access : {Access::read_write, Access::read_only}) {
        SCOPED_TRACE(access == Access::read_only ? "read only" : "read and write");
        const std::filesystem::path copy =
            dir_.path() / (access == Access::read_only ? "read" : "write") / "history.sqlite3";
        std::filesystem::create_directories(copy.parent_path());
        std::filesystem::copy_file(kSchema3History, copy);
        ASSERT_EQ(query(copy, "PRAGMA user_version"), "3");
        // What the older program wrote, read before the upgrade.
        struct Old {
            int mode_pos, mode;
            std::string notes, midi;
        };
        std::vector<Old> old;
        std::set<int> positions;
        const int count = std::stoi(query(copy, "SELECT count(*) FROM composition"));
        for (int id = 1; id <= count; ++id) {
            const std::string row = " FROM composition WHERE id = " + std::to_string(id);
            old.push_back({std::stoi(query(copy, "SELECT mode_pos" + row)),
                           std::stoi(query(copy, "SELECT mode" + row)),
                           query(copy, "SELECT notes" + row),
                           query(copy, "SELECT lower(hex(midi))" + row)});
            positions.insert(old.back().mode_pos);
        }
        ASSERT_EQ(count, 8);
        ASSERT_EQ(positions, (std::set<int>{0, 1, 2, 3}));

        Store store(copy, {}, access);
        for (int id = 1; id <= count; ++id) {
            SCOPED_TRACE("entry " + std::to_string(id));
            const Old& was = old[static_cast<std::size_t>(id - 1)];
            Entry entry;
            ASSERT_EQ(store.get(id, entry), Status::ok) << store.last_error();
            const Record& r = entry.record;
            // The melody, its file and the scale it was composed with are as they were...
            std::string notes;
            for (const int note : r.notes)
                notes += (notes.empty() ? "" : " ") + std::to_string(note);
            EXPECT_EQ(notes, was.notes);
            EXPECT_EQ(lyrics_hex(r.midi), was.midi);
            EXPECT_EQ(r.mode, was.mode);
            // ...and the entry names the item whose scale that is.
            EXPECT_EQ(r.mode_pos, 3 - was.mode_pos);
            EXPECT_EQ(mode_number(r.mode_pos), r.mode);
            EXPECT_EQ(r.mode_item, mode_items()[static_cast<std::size_t>(r.mode_pos)]);
        }
        std::vector<Summary> page;
        ASSERT_EQ(store.list(page, 0), Status::ok);
        EXPECT_EQ(ids_of(page), (std::vector<std::int64_t>{8, 5, 4, 3, 2, 1}));
        if (access == Access::read_write) {
            EXPECT_EQ(query(copy, "PRAGMA user_version"), std::to_string(Store::kSchemaVersion));
        }
    }
}

TEST_F(StoreTest, UpgradingGroupsOnlyEntriesRecordedTogether) {
    // Schema 2 made here, each row a pair of entries the older program could have
    // recorded one after the other; only the last is a press.
    struct Row {
        const char* name;
        const char* second;  // the values after the first entry's, see below
        bool grouped;
    };
    const char* first = "1000, 'x', 0, 1, 2";  // time, lyrics, speed, mode, timbre
    const Row rows[] = {
        {"another time", "1001, 'x', 0, 1, 2, ''", false},
        {"other lyrics", "1000, 'y', 0, 1, 2, ''", false},
        {"another speed", "1000, 'x', 1, 1, 2, ''", false},
        {"shaped", "1000, 'x', 0, 1, 2, 'fix'", false},
        {"recorded together", "1000, 'x', 0, 1, 2, ''", true},
    };
    for (const Row& row : rows) {
        const std::filesystem::path db_file = dir_.path() / (std::string(row.name) + ".sqlite3");
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(db_file.c_str(), &db), SQLITE_OK);
        for (int v = 0; v < 2; ++v) {
            ASSERT_EQ(sqlite3_exec(db, migrations()[static_cast<std::size_t>(v)], nullptr, nullptr,
                                   nullptr),
                      SQLITE_OK);
        }
        const std::string insert =
            "INSERT INTO composition (composed_at, lyrics, speed_pos, mode_pos, timbre_pos, "
            "edits, speed_item, mode_item, timbre_item, tempo, mode, program, note_count, "
            "state_s, state_t, notes, ticks, gbk_text, midi) VALUES (";
        const std::string rest = ", '', '', '', 90, 0, 0, 1, 5, 5, '60', '120', 'x', 'MThd');";
        const std::string sql =
            insert + first + ", ''" + rest + insert + row.second + rest + "PRAGMA user_version = 2";
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << row.name;
        sqlite3_close(db);

        Store store(db_file);
        std::vector<Summary> page;
        ASSERT_EQ(store.list(page, 0), Status::ok) << store.last_error();
        const std::vector<std::int64_t> listed =
            row.grouped ? std::vector<std::int64_t>{2} : std::vector<std::int64_t>{2, 1};
        EXPECT_EQ(ids_of(page), listed) << row.name;
    }
}

TEST_F(StoreTest, AListPageReadsOnlyItsOwnRowsHoweverLargeThePresses) {
    test::register_full_disk_vfs();
    {
        Store store(file());
        // 40 presses of 30 candidates, each row about a page of its own.
        for (int p = 0; p < 40; ++p) ASSERT_EQ(record_press(store, 30 * p, 30, 3000).size(), 30u);
    }
    Store store(file(), test::kFullDiskVfs);
    ASSERT_EQ(store.open(), Status::ok) << store.last_error();
    std::vector<Summary> page;
    const std::uint64_t start = test::read_count();
    ASSERT_EQ(store.list(page, 10), Status::ok);
    const std::uint64_t listing = test::read_count() - start;
    ASSERT_EQ(page.size(), 10u);
    EXPECT_EQ(page.back().candidates, 30);
    // Ten rows and a few pages of the indexes, not the 300 candidates' rows of the page.
    EXPECT_LT(listing, 60u);

    const std::uint64_t again = test::read_count();
    ASSERT_EQ(store.list_candidates(page[5].id, page, 5), Status::ok);
    EXPECT_EQ(page.size(), 5u);
    EXPECT_LT(test::read_count() - again, 30u);
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

/// A row written by another program, crafted to break whoever trusts it: the
/// composition's columns (and syllables) changed under the store by plain SQL.
struct CraftedRow {
    const char* name;
    const char* sql;                   ///< run on entry 1, whose 28 notes have syllables
    const char* fault;                 ///< what the refusal names
    bool listed;                       ///< a list still shows it (its summary is sound)
    const char* list_fault = nullptr;  ///< what the list's notice names, when not `fault`
};

class CraftedRows : public ::testing::TestWithParam<CraftedRow> {
protected:
    std::filesystem::path file() const { return dir_.path() / "history.sqlite3"; }
    ScratchDir dir_;
};

TEST_P(CraftedRows, AreReportedAndSkippedNeverTrusted) {
    const CraftedRow& row = GetParam();
    {
        Store store(file());
        std::int64_t id = 0;
        for (int n = 1; n <= 3; ++n) ASSERT_EQ(store.record(sample_record(n), id), Status::ok);
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file().c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, row.sql, nullptr, nullptr, &error);
    const std::string reason = error != nullptr ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << reason;

    Store store(file());
    Entry entry;
    EXPECT_EQ(store.get(1, entry), Status::failed);
    EXPECT_EQ(store.last_error(), std::string("entry 1 of the history is not valid: ") + row.fault);
    // Its neighbours are untouched.
    ASSERT_EQ(store.get(2, entry), Status::ok) << store.last_error();
    EXPECT_TRUE(same_record(entry.record, sample_record(2)));

    std::vector<Summary> page;
    ASSERT_EQ(store.list(page, 0), Status::ok) << store.last_error();
    std::vector<std::int64_t> ids;
    for (const Summary& s : page) ids.push_back(s.id);
    if (row.listed) {
        EXPECT_EQ(ids, (std::vector<std::int64_t>{3, 2, 1}));
        EXPECT_EQ(store.notice(), "");
    } else {
        EXPECT_EQ(ids, (std::vector<std::int64_t>{3, 2}));
        EXPECT_EQ(store.notice(),
                  std::string("entry 1 of the history is not valid and is left out: ") +
                      (row.list_fault != nullptr ? row.list_fault : row.fault));
    }
}

// Entry 1 has 28 notes of 60 to 240 ticks, syllables in sentences 0..3.
const CraftedRow kCraftedRows[] = {
    {"TempoZero", "UPDATE composition SET tempo = 0 WHERE id = 1", "tempo 0 is outside 4..1000",
     false},
    {"TempoHuge", "UPDATE composition SET tempo = 2147483647 WHERE id = 1",
     "tempo 2147483647 is outside 4..1000", false},
    {"ModeOutside", "UPDATE composition SET mode = 4 WHERE id = 1", "mode 4 is outside 0..3", true},
    {"ProgramNegative", "UPDATE composition SET program = -1 WHERE id = 1",
     "program -1 is outside 0..127", true},
    {"NoteAboveMidi",
     "UPDATE composition SET notes = '60 128', ticks = '120 120', note_count = 2 WHERE id = 1;"
     "DELETE FROM syllable WHERE composition_id = 1",
     "note 2 is 128, outside 0..127", true},
    {"NoteNegative",
     "UPDATE composition SET notes = '-2147483648', ticks = '120', note_count = 1 WHERE id = 1;"
     "DELETE FROM syllable WHERE composition_id = 1",
     "note 1 is -2147483648, outside 0..127", true},
    {"TicksNegative",
     "UPDATE composition SET notes = '60 62', ticks = '120 -1', note_count = 2 WHERE id = 1;"
     "DELETE FROM syllable WHERE composition_id = 1",
     "note 2 lasts -1 ticks", true},
    {"TicksAddingUpPastTheScore",
     "UPDATE composition SET notes = '60 62', ticks = '2147483647 2147483647', note_count = 2 "
     "WHERE id = 1; DELETE FROM syllable WHERE composition_id = 1",
     "the notes last over 67108864 ticks", true},
    {"FewerTicksThanNotes", "UPDATE composition SET ticks = '120 120' WHERE id = 1",
     "28 notes but 2 durations", true},
    {"FewerSyllablesThanNotes", "DELETE FROM syllable WHERE composition_id = 1 AND idx > 3",
     "28 notes but 4 syllables", true},
    {"NoteCountDisagrees", "UPDATE composition SET note_count = 5 WHERE id = 1",
     "a count of 5 notes for 28 notes", true},
    {"NoteCountNegative", "UPDATE composition SET note_count = -1 WHERE id = 1",
     "a count of -1 notes for 28 notes", false, "a count of -1 notes"},
    {"SentenceIntMax",
     "UPDATE syllable SET sentence = 2147483647 WHERE composition_id = 1 AND idx = 5",
     "syllable 6 is in sentence 2147483647, outside 0..3", true},
    {"StateText", "UPDATE composition SET state_s = 'x' WHERE id = 1",
     "its generator state is not two whole numbers", true},
    {"StateFraction", "UPDATE composition SET state_t = 0.5 WHERE id = 1",
     "its generator state is not two whole numbers", true},
    {"StateTooWide", "UPDATE composition SET state_t = 4294967296 WHERE id = 1",
     "its generator state is not two whole numbers", true},
    {"NoteCountHuge", "UPDATE composition SET note_count = 2147483647 WHERE id = 1",
     "a count of 2147483647 notes for 28 notes", false, "a count of 2147483647 notes"},
    {"ToneScoreHuge", "UPDATE composition SET tone_score = 1e308 WHERE id = 1",
     "tone score 1e+308 is outside 0..1", false},
    {"ToneScoreNegative", "UPDATE composition SET tone_score = -0.25 WHERE id = 1",
     "tone score -0.25 is outside 0..1", false},
};

INSTANTIATE_TEST_SUITE_P(Rows, CraftedRows, ::testing::ValuesIn(kCraftedRows), test::RowName{});

TEST(CraftedPresses, AnEntryNamingAMissingOrUnchosenEntryIsListedOnItsOwn) {
    // Entry 1 alone, 2 to 4 a press (4 chosen), 5 alone; then another program's SQL.
    struct Row {
        const char* name;
        const char* sql;
        std::vector<std::int64_t> listed;
        std::vector<std::int64_t> candidates_of_4;
    };
    const Row rows[] = {
        {"as recorded", "", {5, 4, 1}, {4, 3, 2}},
        {"a missing entry",
         "UPDATE composition SET chosen = 99 WHERE id = 1",
         {5, 4, 1},
         {4, 3, 2}},
        {"a circle",
         "UPDATE composition SET chosen = 5 WHERE id = 1; "
         "UPDATE composition SET chosen = 1 WHERE id = 5",
         {5, 4, 1},
         {4, 3, 2}},
        {"a candidate", "UPDATE composition SET chosen = 3 WHERE id = 2", {5, 4, 2, 1}, {4, 3}},
        {"an older entry", "UPDATE composition SET chosen = 2 WHERE id = 3", {5, 4, 3, 1}, {4, 2}},
        {"a newer entry of the press",
         "UPDATE composition SET chosen = 4 WHERE id = 5",
         {5, 4, 1},
         {4, 3, 2}},
        {"the chosen one no more",
         "UPDATE composition SET chosen = NULL WHERE id = 4",
         {5, 4, 3, 2, 1},
         {}},
        {"the chosen one deleted",
         "PRAGMA foreign_keys = ON; DELETE FROM composition WHERE id = 4",
         {5, 3, 2, 1},
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDir dir;
        const std::filesystem::path db_file = dir.path() / "history.sqlite3";
        {
            Store store(db_file);
            std::int64_t id = 0;
            ASSERT_EQ(store.record(sample_record(1), id), Status::ok);
            std::vector<std::int64_t> ids;
            const std::vector<Record> press{sample_record(2), sample_record(3), sample_record(4)};
            ASSERT_EQ(store.record(press, ids), Status::ok);
            ASSERT_EQ(store.record(sample_record(5), id), Status::ok);
        }
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(db_file.c_str(), &db), SQLITE_OK);
        const int rc = sqlite3_exec(db, row.sql, nullptr, nullptr, nullptr);
        sqlite3_close(db);
        ASSERT_EQ(rc, SQLITE_OK);
        Store store(db_file);
        std::vector<Summary> page;
        ASSERT_EQ(store.list(page, 0), Status::ok) << store.last_error();
        EXPECT_EQ(ids_of(page), row.listed);
        for (const Summary& s : page) {
            EXPECT_EQ(s.candidates, s.id == 4 && !row.candidates_of_4.empty()
                                        ? static_cast<std::int64_t>(row.candidates_of_4.size())
                                        : 0)
                << s.id;
        }
        const Status st = store.list_candidates(4, page, 0);
        EXPECT_TRUE(st == Status::ok || st == Status::not_found);
        EXPECT_EQ(ids_of(page), row.candidates_of_4);
        // What a listing shows on its own, reading it whole shows so too.
        for (std::int64_t id = 1; id <= 5; ++id) {
            Entry entry;
            if (store.get(id, entry) != Status::ok) continue;
            const bool grouped =
                std::count(row.candidates_of_4.begin(), row.candidates_of_4.end(), id) != 0;
            EXPECT_EQ(entry.chosen, grouped ? std::optional<std::int64_t>(4) : std::nullopt) << id;
        }
    }
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

/// Random runs of record (alone and as best-of presses), get, list, list the candidates,
/// count, remove and reopen, checked against a map kept beside the store.
class StoreModelTest : public StoreTest, public ::testing::WithParamInterface<unsigned> {};

TEST_P(StoreModelTest, MatchesAMapOverRandomOperations) {
    std::mt19937_64 rng(GetParam());
    std::map<std::int64_t, Record> model;
    std::map<std::int64_t, std::int64_t> chosen_of;  // the press each candidate belongs to
    std::int64_t highest = 0;
    auto store = std::make_unique<Store>(file());
    const auto some_id = [&]() -> std::int64_t {
        if (model.empty() || rng() % 4 == 0) return static_cast<std::int64_t>(rng() % 500);
        auto it = model.begin();
        std::advance(it, static_cast<long>(rng() % model.size()));
        return it->first;
    };
    // The entries of the press chosen as `id`, newest first.
    const auto press_of = [&](std::int64_t id) {
        std::vector<std::int64_t> ids;
        for (auto it = chosen_of.rbegin(); it != chosen_of.rend(); ++it) {
            if (it->second == id) ids.push_back(it->first);
        }
        return ids;
    };
    for (int step = 0; step < 300; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        switch (rng() % 9) {
            case 0:
            case 1:
            case 2: {
                Record r = random_record(rng);
                std::int64_t id = 0;
                ASSERT_EQ(store->record(r, id), Status::ok) << store->last_error();
                ASSERT_GT(id, highest);
                highest = id;
                model[id] = test::as_read(std::move(r), id);
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
                    const auto it = chosen_of.find(id);
                    const bool grouped = it != chosen_of.end() && press_of(it->second).size() >= 2;
                    ASSERT_EQ(entry.chosen, grouped ? std::optional(it->second) : std::nullopt);
                }
                break;
            }
            case 4: {
                const std::int64_t id = some_id();
                const bool chosen = chosen_of.count(id) != 0 && chosen_of[id] == id;
                ASSERT_EQ(store->remove(id), model.erase(id) ? Status::ok : Status::not_found);
                if (chosen) {
                    for (const std::int64_t candidate : press_of(id)) {
                        model.erase(candidate);
                        chosen_of.erase(candidate);
                    }
                }
                chosen_of.erase(id);
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
                    const auto in_press = chosen_of.find(it->first);
                    if (in_press == chosen_of.end() || in_press->second == it->first)
                        expected.push_back(it->first);
                }
                std::vector<std::int64_t> got;
                for (const Summary& s : page) {
                    got.push_back(s.id);
                    const Record& r = model[s.id];
                    ASSERT_EQ(std::tie(s.time_ms, s.speed_pos, s.tempo, s.tone_score),
                              std::tie(r.time_ms, r.speed_pos, r.tempo, r.tone_score));
                    ASSERT_EQ(s.note_count, static_cast<int>(r.notes.size()));
                    const std::size_t in_press = press_of(s.id).size();
                    ASSERT_EQ(s.candidates,
                              in_press >= 2 ? static_cast<std::int64_t>(in_press) : 0);
                    if (in_press >= 2) {
                        std::vector<Summary> candidates;
                        ASSERT_EQ(store->list_candidates(s.id, candidates, 0), Status::ok);
                        ASSERT_EQ(ids_of(candidates), press_of(s.id));
                    }
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
            case 7: {
                std::vector<Record> press;
                for (int k = 2 + static_cast<int>(rng() % 4); k > 0; --k) {
                    press.push_back(random_record(rng));
                }
                std::vector<std::int64_t> ids;
                ASSERT_EQ(store->record(press, ids), Status::ok) << store->last_error();
                ASSERT_EQ(ids.size(), press.size());
                for (std::size_t k = 0; k < ids.size(); ++k) {
                    ASSERT_GT(ids[k], highest);
                    highest = ids[k];
                    model[ids[k]] = test::as_read(std::move(press[k]), ids[k]);
                    chosen_of[ids[k]] = ids.back();
                }
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
