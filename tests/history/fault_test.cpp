// The history's faults: places it cannot write, a full disk, a file that is
// not a database, pages damaged later. Each call reports a status and a text
// instead of throwing; a damaged file is kept under a dated name; once the
// fault is gone the same store works again.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "failing_vfs.h"
#include "history/store.h"
#include "history_fixtures.h"
#include "tests/support/files.h"

namespace quavella::history {
namespace {

using test::sample_record;
using test::ScratchDir;
namespace fs = std::filesystem;

using test::read_file;
using test::write_file;

/// Overwrites the file's bytes from `at` on with `bytes`.
void overwrite_at(const fs::path& file, const std::string& bytes, std::streamoff at) {
    std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(at);
    out << bytes;
}

std::string integrity(const fs::path& file) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_stmt* st = nullptr;
    std::string result = "<cannot check>";
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW) {
        result = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return result;
}

/// A directory that can be made read-only and writable again. As root,
/// permission bits do not stop writes, so it is a small tmpfs remounted
/// read-only; without the right to mount, it cannot be made.
class ReadOnlyPlace {
public:
    explicit ReadOnlyPlace(fs::path dir) : dir_(std::move(dir)) {
        fs::create_directories(dir_);
        if (::geteuid() != 0) {
            usable_ = true;
        } else {
            mounted_ = ::mount("tmpfs", dir_.c_str(), "tmpfs", 0, "size=4m") == 0;
            usable_ = mounted_;
        }
    }
    ~ReadOnlyPlace() {
        set_read_only(false);
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    }
    bool usable() const { return usable_; }
    void set_read_only(bool ro) {
        if (mounted_) {
            ::mount(nullptr, dir_.c_str(), nullptr, MS_REMOUNT | (ro ? MS_RDONLY : 0), "size=4m");
        } else {
            ::chmod(dir_.c_str(), ro ? 0555 : 0755);
        }
    }
    const fs::path& path() const { return dir_; }

private:
    fs::path dir_;
    bool mounted_ = false;
    bool usable_ = false;
};

/// A place the history cannot be written to, and how to mend it.
struct Unwritable {
    const char* name;
    /// Sets up the place under `root` and returns the history file to use; `mend`
    /// takes the fault away.
    std::function<fs::path(const fs::path& root, std::unique_ptr<ReadOnlyPlace>& ro)> make;
    std::function<void(const fs::path& root, ReadOnlyPlace* ro)> mend;
    bool needs_read_only;
};

void PrintTo(const Unwritable& row, std::ostream* os) { *os << row.name; }

class UnwritableTest : public ::testing::TestWithParam<Unwritable> {};

TEST_P(UnwritableTest, FailsWithAReasonAndWorksOnceMended) {
    ScratchDir dir;
    std::unique_ptr<ReadOnlyPlace> ro;
    const fs::path file = GetParam().make(dir.path(), ro);
    if (GetParam().needs_read_only && !ro->usable()) {
        GTEST_SKIP() << "cannot make a read-only directory here (root without the right to mount)";
    }
    Store store(file);
    std::int64_t id = 0;
    EXPECT_EQ(store.record(sample_record(1), id), Status::failed);
    EXPECT_NE(store.last_error().find(file.parent_path().string()), std::string::npos)
        << store.last_error();
    std::vector<Summary> page;
    const Status listed = store.list(page, 10);
    EXPECT_TRUE(listed == Status::failed || listed == Status::ok);

    GetParam().mend(dir.path(), ro.get());
    ASSERT_EQ(store.record(sample_record(2), id), Status::ok) << store.last_error();
    ASSERT_EQ(store.list(page, 10), Status::ok);
    EXPECT_GE(page.size(), 1u);
    EXPECT_EQ(page.front().id, id);
}

const Unwritable kUnwritable[] = {
    {"DataDirectoryUnderAFile",
     [](const fs::path& root, std::unique_ptr<ReadOnlyPlace>&) {
         write_file(root / "share", "a file where the data directory should be");
         return root / "share" / "quavella" / "history.sqlite3";
     },
     [](const fs::path& root, ReadOnlyPlace*) { fs::remove(root / "share"); }, false},
    {"ReadOnlyDataDirectory",
     [](const fs::path& root, std::unique_ptr<ReadOnlyPlace>& ro) {
         ro = std::make_unique<ReadOnlyPlace>(root / "share");
         ro->set_read_only(true);
         return ro->path() / "quavella" / "history.sqlite3";
     },
     [](const fs::path&, ReadOnlyPlace* ro) { ro->set_read_only(false); }, true},
    {"ReadOnlyExistingHistory",
     [](const fs::path& root, std::unique_ptr<ReadOnlyPlace>& ro) {
         ro = std::make_unique<ReadOnlyPlace>(root / "share");
         const fs::path file = ro->path() / "history.sqlite3";
         if (ro->usable()) {
             Store earlier(file);
             std::int64_t id = 0;
             earlier.record(sample_record(0), id);
         }
         ro->set_read_only(true);
         return file;
     },
     [](const fs::path&, ReadOnlyPlace* ro) { ro->set_read_only(false); }, true},
};

INSTANTIATE_TEST_SUITE_P(Places, UnwritableTest, ::testing::ValuesIn(kUnwritable),
                         [](const auto& row) { return std::string(row.param.name); });

// A history of the previous schema on read-only media cannot be upgraded where it is:
// it is read from a copy in memory brought up to date, and left as it is.
TEST(ReadOnlyMedia, AHistoryOfAnOlderSchemaIsReadAsItStands) {
    ScratchDir dir;
    ReadOnlyPlace ro(dir.path() / "share");
    if (!ro.usable()) GTEST_SKIP() << "cannot make a read-only directory here";
    const fs::path file = ro.path() / "history.sqlite3";
    fs::copy_file(fs::path(QUAVELLA_HISTORY_FIXTURES) / "schema2-history.sqlite3", file);
    ro.set_read_only(true);
    const std::string before = read_file(file);

    Store store(file, {}, Access::read_only);
    std::vector<Summary> page;
    ASSERT_EQ(store.list(page, 0), Status::ok) << store.last_error();
    std::vector<std::int64_t> ids;
    for (const Summary& s : page) ids.push_back(s.id);
    EXPECT_EQ(ids, (std::vector<std::int64_t>{7, 6, 5, 1}));
    EXPECT_EQ(page[2].candidates, 4);
    ASSERT_EQ(store.list_candidates(5, page, 0), Status::ok);
    EXPECT_EQ(page.size(), 4u);
    Entry entry;
    ASSERT_EQ(store.get(3, entry), Status::ok) << store.last_error();
    EXPECT_EQ(entry.chosen, 5);
    EXPECT_TRUE(read_file(file) == before) << "a read changed the file";
    EXPECT_FALSE(fs::exists(file.string() + "-wal"));
}

TEST(FullDisk, FailedCommitLeavesEarlierEntriesAndTheStoreRecovers) {
    test::register_full_disk_vfs();
    ScratchDir dir;
    const fs::path file = dir.path() / "history.sqlite3";
    Store store(file, test::kFullDiskVfs);

    // Full from the very start: not even the schema can be written.
    test::set_disk_full(true);
    std::int64_t id = 0;
    EXPECT_EQ(store.open(), Status::failed);
    EXPECT_NE(store.last_error().find("full"), std::string::npos) << store.last_error();
    test::set_disk_full(false);

    std::vector<std::int64_t> ids;
    for (int n = 0; n < 3; ++n) {
        ASSERT_EQ(store.record(sample_record(n), id), Status::ok) << store.last_error();
        ids.push_back(id);
    }
    test::set_disk_full(true);
    EXPECT_EQ(store.record(sample_record(3), id), Status::failed);
    EXPECT_NE(store.last_error().find("full"), std::string::npos) << store.last_error();
    std::vector<Summary> page;
    EXPECT_EQ(store.list(page, 10), Status::ok) << "reading needs no space";
    EXPECT_EQ(page.size(), 3u);
    test::set_disk_full(false);

    ASSERT_EQ(store.record(sample_record(4), id), Status::ok) << store.last_error();
    ids.push_back(id);
    std::int64_t n = 0;
    ASSERT_EQ(store.count(n), Status::ok);
    EXPECT_EQ(n, 4);
    const int numbers[] = {0, 1, 2, 4};
    for (std::size_t i = 0; i < ids.size(); ++i) {
        Entry entry;
        ASSERT_EQ(store.get(ids[i], entry), Status::ok);
        EXPECT_TRUE(test::same_record(entry.record, sample_record(numbers[i])));
    }
    EXPECT_EQ(integrity(file), "ok");
}

TEST(FullDisk, RealSmallFilesystemFillsUpCleanly) {
    ScratchDir dir;
    const fs::path mount_point = dir.path() / "small";
    fs::create_directories(mount_point);
    if (::mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=256k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and the right to mount)";
    }
    const fs::path file = mount_point / "history.sqlite3";
    int recorded = 0;
    {
        Store store(file);
        std::int64_t id = 0;
        Status st = Status::ok;
        while (recorded < 200 &&
               (st = store.record(sample_record(recorded, 16384), id)) == Status::ok) {
            ++recorded;
        }
        EXPECT_EQ(st, Status::failed) << "256 KB held 200 files of 16 KB";
        EXPECT_NE(store.last_error().find("full"), std::string::npos) << store.last_error();
        std::int64_t n = 0;
        ASSERT_EQ(store.count(n), Status::ok) << store.last_error();
        EXPECT_EQ(n, recorded);
    }
    EXPECT_GT(recorded, 0);
    EXPECT_EQ(integrity(file), "ok");
    ::umount2(mount_point.c_str(), MNT_DETACH);
}

TEST(DamagedFile, NotADatabaseIsMovedAsideAndAFreshHistoryStarts) {
    ScratchDir dir;
    const fs::path file = dir.path() / "history.sqlite3";
    std::string junk;
    for (int i = 0; i < 300; ++i) junk += "these are not the pages of a database\n";
    write_file(file, junk);

    fs::path aside;
    {
        Store store(file);
        std::int64_t id = 0;
        ASSERT_EQ(store.record(sample_record(1), id), Status::recovered) << store.last_error();
        aside = store.moved_to();
        EXPECT_NE(store.notice().find(aside.string()), std::string::npos) << store.notice();
        EXPECT_TRUE(std::regex_match(aside.filename().string(),
                                     std::regex(R"(history\.sqlite3\.damaged-\d{8}-\d{6})")))
            << aside;
        EXPECT_EQ(read_file(aside), junk);

        // The fresh history holds the new entry, and the next call is plain ok.
        Entry entry;
        ASSERT_EQ(store.get(id, entry), Status::ok);
        EXPECT_TRUE(test::same_record(entry.record, sample_record(1)));
        EXPECT_EQ(store.notice(), "");
    }

    // A second damaged file never takes the place of the one kept before.
    write_file(file, junk);
    Store again(file);
    EXPECT_EQ(again.open(), Status::recovered);
    EXPECT_NE(again.moved_to(), aside);
    EXPECT_EQ(read_file(aside), junk);
    EXPECT_EQ(read_file(again.moved_to()), junk);
}

TEST(DamagedFile, ReadsKeepWhatTheyCanAndOnlyAWriterMovesTheFileAside) {
    ScratchDir dir;
    const fs::path file = dir.path() / "history.sqlite3";
    {
        Store store(file);
        std::int64_t id = 0;
        for (int n = 0; n < 40; ++n)
            ASSERT_EQ(store.record(sample_record(n, 3000), id), Status::ok);
    }
    const std::string before = read_file(file);
    ASSERT_GT(before.size(), 30u * 4096u);
    // One damaged page costs its rows, not the history: each page in turn is
    // damaged until one holds listed rows (others hold lyrics, melodies, syllables).
    const std::size_t pages = before.size() / 4096;
    bool found = false;
    for (std::size_t p = pages / 2; p < pages && !found; ++p) {
        write_file(file, before);
        overwrite_at(file, std::string(4096, '\xA5'), p * 4096);
        const std::string one_page = read_file(file);
        Store probe(file, {}, Access::read_only);
        std::vector<Summary> page;
        ASSERT_EQ(probe.list(page, 0), Status::ok) << probe.last_error();
        if (probe.notice().empty()) continue;
        found = true;
        EXPECT_NE(probe.notice().find("is damaged"), std::string::npos) << probe.notice();
        EXPECT_GE(page.size(), 20u) << "page " << p;
        EXPECT_LT(page.size(), 40u);
        // The rows below the damage are there, newest first.
        EXPECT_EQ(page.back().id, 1);
        EXPECT_TRUE(read_file(file) == one_page) << "a read changed the file";
        // A store that may write reads the same way and does not move the file either.
        Store writer(file);
        std::vector<Summary> again;
        EXPECT_EQ(writer.list(again, 0), Status::ok);
        EXPECT_EQ(again.size(), page.size());
        EXPECT_TRUE(read_file(file) == one_page);
    }
    EXPECT_TRUE(found) << "no damaged page hit the listed rows";

    // Every page after the first (which holds the schema) overwritten.
    overwrite_at(file, std::string(before.size() - 4096, '\xA5'), 4096);
    const std::string damaged = read_file(file);
    Store store(file);
    std::vector<Summary> page;
    EXPECT_EQ(store.list(page, 10), Status::ok) << store.last_error();
    EXPECT_TRUE(page.empty());
    EXPECT_NE(store.notice().find("is damaged"), std::string::npos) << store.notice();
    EXPECT_TRUE(read_file(file) == damaged) << "a read moved or changed the file";
    // The writer moves it aside and starts afresh.
    std::int64_t id = 0;
    EXPECT_EQ(store.record(sample_record(99), id), Status::recovered) << store.last_error();
    EXPECT_TRUE(read_file(store.moved_to()) == damaged);
    EXPECT_EQ(integrity(file), "ok");
}

}  // namespace
}  // namespace quavella::history
