// The history database over the SQLite C interface.
#include "history/store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "base/private_dirs.h"
#include "edit/edits.h"
#include "history/schema.h"

namespace quavella::history {

namespace {

/// How long a call waits for another connection's write to finish.
constexpr int kBusyMs = 3000;
/// The largest older history a store that only reads upgrades in a copy in memory.
constexpr off_t kMaxMemoryCopyBytes = off_t{256} << 20;
/// Pause before a set-up that met another program's is tried again.
constexpr int kSetUpRetryMs = 10;

std::string numbers_text(const std::vector<int>& values) {
    std::string text;
    for (const int v : values) {
        if (!text.empty()) text += ' ';
        text += std::to_string(v);
    }
    return text;
}

bool parse_numbers(std::string_view text, std::vector<int>& out) {
    out.clear();
    const char* p = text.data();
    const char* last = p + text.size();
    while (p != last) {
        int value = 0;
        const auto [end, ec] = std::from_chars(p, last, value);
        if (ec != std::errc()) return false;
        out.push_back(value);
        p = end;
        if (p != last) {
            if (*p != ' ') return false;
            ++p;
        }
    }
    return true;
}

std::string column_text(sqlite3_stmt* st, int col) {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(st, col));
    const int n = sqlite3_column_bytes(st, col);
    return bytes == nullptr ? std::string() : std::string(bytes, static_cast<std::size_t>(n));
}

std::optional<double> column_optional_double(sqlite3_stmt* st, int col) {
    if (sqlite3_column_type(st, col) == SQLITE_NULL) return std::nullopt;
    return sqlite3_column_double(st, col);
}

std::optional<std::int64_t> column_optional_int64(sqlite3_stmt* st, int col) {
    if (sqlite3_column_type(st, col) == SQLITE_NULL) return std::nullopt;
    return sqlite3_column_int64(st, col);
}

/// The time stamp of a moved-aside file: local time, YYYYMMDD-HHMMSS.
std::string stamp_now() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    const std::size_t n = std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return std::string(text, n);
}

}  // namespace

std::optional<std::filesystem::path> default_path(
    const std::function<const char*(const char*)>& getenv) {
    std::filesystem::path base;
    const char* data_home = getenv("XDG_DATA_HOME");
    if (data_home != nullptr && std::filesystem::path(data_home).is_absolute()) {
        base = data_home;
    } else {
        const char* home = getenv("HOME");
        if (home == nullptr || *home == '\0') return std::nullopt;
        base = std::filesystem::path(home) / ".local" / "share";
    }
    return base / "quavella" / "history.sqlite3";
}

/// A prepared statement, finalized when it goes out of scope.
class Store::Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        rc_ = sqlite3_prepare_v2(db, sql, -1, &st_, nullptr);
    }
    ~Statement() { sqlite3_finalize(st_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    /// SQLITE_OK when the statement was prepared.
    int prepared() const { return rc_; }
    sqlite3_stmt* get() const { return st_; }

    void bind(int i, std::int64_t v) { sqlite3_bind_int64(st_, i, v); }
    void bind(int i, int v) { sqlite3_bind_int(st_, i, v); }
    void bind(int i, const std::string& text) {
        sqlite3_bind_text(st_, i, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
    }
    void bind_blob(int i, const std::string& bytes) {
        // A zero-length blob, not NULL, for an empty string.
        sqlite3_bind_blob(st_, i, bytes.empty() ? "" : bytes.data(), static_cast<int>(bytes.size()),
                          SQLITE_STATIC);
    }
    void bind(int i, const std::optional<double>& v) {
        if (v) {
            sqlite3_bind_double(st_, i, *v);
        } else {
            sqlite3_bind_null(st_, i);
        }
    }
    void bind(int i, const std::optional<std::int64_t>& v) {
        if (v) {
            sqlite3_bind_int64(st_, i, *v);
        } else {
            sqlite3_bind_null(st_, i);
        }
    }
    int step() { return sqlite3_step(st_); }
    void reset() {
        sqlite3_reset(st_);
        sqlite3_clear_bindings(st_);
    }

private:
    sqlite3_stmt* st_ = nullptr;
    int rc_ = SQLITE_OK;
};

Store::Store(std::filesystem::path file, std::string vfs, Access access)
    : file_(std::move(file)), vfs_(std::move(vfs)), access_(access), busy_ms_(kBusyMs) {}

void Store::set_busy_ms(int ms) {
    busy_ms_ = ms < 0 ? 0 : ms;
    if (db_ != nullptr) sqlite3_busy_timeout(db_, busy_ms_);
}

bool Store::busy() const {
    const int primary = last_rc_ & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

Store::~Store() { close(); }

void Store::close() {
    if (db_ != nullptr) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

Status Store::fail(const std::string& what) {
    last_error_ = what;
    return Status::failed;
}

Status Store::fail_sqlite(const std::string& what, int rc) {
    last_rc_ = rc;
    std::string reason = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    // SQLite's "unable to open database file" does not say why: the system does (too many
    // open files, no permission).
    const int primary = rc & 0xff;
    if (db_ != nullptr && (primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR)) {
        if (const int sys = sqlite3_system_errno(db_); sys != 0) {
            reason += std::string(" (") + std::strerror(sys) + ")";
        }
    }
    last_error_ = what + " (" + file_.string() + "): " + reason;
    // A statement that failed inside a transaction leaves it to be rolled back.
    if (db_ != nullptr && sqlite3_get_autocommit(db_) == 0) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    return Status::failed;
}

bool Store::damaged(int rc) const {
    const int primary = rc & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

Status Store::open() {
    last_error_.clear();
    notice_.clear();
    return open_or_recover();
}

Status Store::open_or_recover() {
    if (open_once() == Status::ok) return Status::ok;
    if (!damaged(last_rc_)) return Status::failed;
    if (access_ == Access::read_only) {
        last_error_ = "the history " + file_.string() + " is damaged and cannot be read (" +
                      last_error_ + "); it is left as it is";
        return Status::failed;
    }
    if (move_aside() != Status::ok) return Status::failed;
    return open_once() == Status::ok ? Status::recovered : Status::failed;
}

Status Store::open_once() {
    // Programs that set up a new history at the same moment (two windows started
    // together) meet while one of them turns it to write-ahead logging. SQLite
    // then answers the others "locked", or fails their look at the journal that
    // has just gone, at once instead of waiting. Those start over until the first
    // is done, for as long as a busy wait would last.
    const auto passing = [](int rc) {
        return (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED ||
               rc == SQLITE_IOERR_FSTAT;
    };
    for (int waited = 0;; waited += kSetUpRetryMs) {
        const Status st = set_up();
        if (st == Status::ok || !passing(last_rc_) || waited >= busy_ms_) return st;
        sqlite3_sleep(kSetUpRetryMs);
    }
}

Status Store::set_up_read_only() {
    struct stat info {};
    if (::stat(file_.c_str(), &info) != 0) {
        const int error = errno;
        if (error != ENOENT) {
            return fail("cannot read the history " + file_.string() + ": " + std::strerror(error));
        }
        // No history yet reads as an empty one: a schema in memory, nothing on disk.
        const int rc = sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE, nullptr);
        if (rc != SQLITE_OK) {
            fail_sqlite("cannot open the history", rc);
            close();
            return Status::failed;
        }
        return migrate();
    }
    // Opens `name` read-only and reads its schema version; SQLite's code on failure.
    int version = 0;
    const auto open_and_read = [&](const std::string& name, int flags) {
        close();
        const char* vfs = vfs_.empty() ? nullptr : vfs_.c_str();
        int rc = sqlite3_open_v2(name.c_str(), &db_, flags, vfs);
        if (rc != SQLITE_OK) return rc;
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_timeout(db_, busy_ms_);
        Statement st(db_, "PRAGMA user_version");
        rc = st.prepared() != SQLITE_OK ? st.prepared() : st.step();
        if (rc != SQLITE_ROW) return rc;
        version = sqlite3_column_int(st.get(), 0);
        return SQLITE_OK;
    };
    int rc = open_and_read(file_.string(), SQLITE_OPEN_READONLY);
    const int primary = rc & 0xff;
    if (primary == SQLITE_CANTOPEN || primary == SQLITE_READONLY || primary == SQLITE_IOERR) {
        // A write-ahead log cannot be read where its index cannot be made (read-only
        // media or folder): the file is then read as it stands, unchanging.
        std::string uri = "file:";
        for (const char c : file_.string()) {
            if (c == '?' || c == '#' || c == '%') {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
                uri += hex;
            } else {
                uri += c;
            }
        }
        rc = open_and_read(uri + "?immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
    }
    if (rc != SQLITE_OK) {
        fail_sqlite("cannot read the history", rc);
        close();
        return Status::failed;
    }
    const int latest = static_cast<int>(migrations().size());
    if (version == latest) return Status::ok;
    if (version < latest && !upgraded_once_) {
        // An older schema is brought up to date by a writer first (keeping every
        // entry), where the file can be written; then read as usual.
        upgraded_once_ = true;
        Store upgrader(file_, vfs_);
        if (upgrader.set_up() == Status::ok) {
            upgrader.close();
            return set_up_read_only();
        }
    }
    if (version < latest && info.st_size <= kMaxMemoryCopyBytes) {
        // Where it cannot be written (read-only media or rights), an older schema is
        // brought up to date in a copy in memory, and the file is left as it is.
        sqlite3* copy = nullptr;
        int copied = sqlite3_open_v2(":memory:", &copy, SQLITE_OPEN_READWRITE, nullptr);
        if (copied == SQLITE_OK) {
            sqlite3_backup* backup = sqlite3_backup_init(copy, "main", db_, "main");
            copied = backup == nullptr ? sqlite3_errcode(copy) : sqlite3_backup_step(backup, -1);
            if (backup != nullptr) sqlite3_backup_finish(backup);
        }
        close();
        db_ = copy;
        if (copied == SQLITE_DONE) {
            sqlite3_extended_result_codes(db_, 1);
            return migrate();
        }
        fail_sqlite("cannot read the history", copied);
        close();
        return Status::failed;
    }
    close();
    return fail("the history " + file_.string() + " has schema " + std::to_string(version) +
                " and is not upgraded while only read");
}

Status Store::set_up() {
    close();
    last_rc_ = SQLITE_OK;
    if (access_ == Access::read_only) return set_up_read_only();
    std::error_code ec;
    const std::filesystem::path dir = file_.parent_path();
    if (!dir.empty()) {
        if (const auto error = files::make_private_dirs(dir)) return fail(*error);
        if (files::open_to_others(dir) && notice_.empty()) {
            // Made by someone else or under another umask: left as it is, but said.
            notice_ = "the history's folder " + dir.string() +
                      " can be written by other users; chmod 700 it to keep the history private";
        }
    }
    // SQLite would create the file readable by everyone the umask allows; the history
    // holds the user's lyrics, so it is created for its owner alone (its journal files
    // take the same rights).
    const int fd =
        ::open(file_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) ::close(fd);
    const int rc = sqlite3_open_v2(file_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                   vfs_.empty() ? nullptr : vfs_.c_str());
    if (rc != SQLITE_OK) {
        fail_sqlite("cannot open the history", rc);
        close();
        return Status::failed;
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, busy_ms_);
    // WAL: readers never block the writer, and a commit is one append to the
    // log. With synchronous=NORMAL a commit survives the program being killed
    // at any point; after a power loss the last commits may be missing, but the
    // database is never damaged.
    const Status st = migrate();
    if (st != Status::ok) {
        close();
        return st;
    }
    return Status::ok;
}

Status Store::migrate() {
    const auto exec = [this](const char* sql) {
        return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    };
    const auto read_version = [this](int& version) {
        Statement st(db_, "PRAGMA user_version");
        if (st.prepared() != SQLITE_OK) return st.prepared();
        const int rc = st.step();
        if (rc != SQLITE_ROW) return rc;
        version = sqlite3_column_int(st.get(), 0);
        return SQLITE_OK;
    };

    // The first read of the file: a file that is not a database fails here.
    int version = 0;
    if (const int rc = read_version(version); rc != SQLITE_OK) {
        return fail_sqlite("cannot read the history", rc);
    }
    if (const int rc = exec("PRAGMA journal_mode = WAL"); rc != SQLITE_OK) {
        return fail_sqlite("cannot set up the history", rc);
    }
    if (const int rc = exec("PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON");
        rc != SQLITE_OK) {
        return fail_sqlite("cannot set up the history", rc);
    }

    const auto steps = migrations();
    const int latest = static_cast<int>(steps.size());
    if (version > latest) {
        return fail("the history " + file_.string() + " was written by a newer Quavella (schema " +
                    std::to_string(version) + ", this one knows up to " + std::to_string(latest) +
                    "); it is left as it is");
    }
    if (version == latest) return Status::ok;

    // Another process may be upgrading at the same time: take the write lock
    // first, then read the version again.
    if (const int rc = exec("BEGIN IMMEDIATE"); rc != SQLITE_OK) {
        return fail_sqlite("cannot upgrade the history", rc);
    }
    if (const int rc = read_version(version); rc != SQLITE_OK) {
        return fail_sqlite("cannot read the history", rc);
    }
    for (int v = version; v < latest; ++v) {
        if (const int rc = exec(steps[static_cast<std::size_t>(v)]); rc != SQLITE_OK) {
            return fail_sqlite("cannot upgrade the history to schema " + std::to_string(v + 1), rc);
        }
    }
    const std::string set_version = "PRAGMA user_version = " + std::to_string(latest);
    if (const int rc = exec(set_version.c_str()); rc != SQLITE_OK) {
        return fail_sqlite("cannot upgrade the history", rc);
    }
    if (const int rc = exec("COMMIT"); rc != SQLITE_OK) {
        return fail_sqlite("cannot upgrade the history", rc);
    }
    return Status::ok;
}

Status Store::move_aside() {
    close();
    const std::string base = file_.string() + ".damaged-" + stamp_now();
    std::filesystem::path target = base;
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(target, ec) ||
                    std::filesystem::exists(target.string() + "-wal", ec);
         ++n) {
        target = base + "-" + std::to_string(n);
    }
    std::filesystem::rename(file_, target, ec);
    if (ec) {
        return fail("the history " + file_.string() +
                    " is damaged and cannot be moved aside: " + ec.message());
    }
    // The log and the shared-memory index belong to the damaged file: they go
    // with it, keeping their suffixes, so the pair can still be opened.
    for (const char* suffix : {"-wal", "-shm"}) {
        const std::filesystem::path from = file_.string() + suffix;
        if (std::filesystem::exists(from, ec)) {
            std::filesystem::rename(from, target.string() + suffix, ec);
        }
    }
    moved_to_ = target;
    notice_ = "the history " + file_.string() + " was damaged; it was moved to " + target.string() +
              " and a new history was started";
    return Status::ok;
}

Status Store::recover() {
    last_error_.clear();
    notice_.clear();
    if (access_ == Access::read_only) {
        return fail("the history " + file_.string() + " is only read here; it is left as it is");
    }
    if (move_aside() != Status::ok) return Status::failed;
    return open_once() == Status::ok ? Status::recovered : Status::failed;
}

template <typename Op>
Status Store::run(Op op, bool writes) {
    last_error_.clear();
    notice_.clear();
    last_rc_ = SQLITE_OK;
    bool recovered = false;
    if (db_ == nullptr) {
        const Status opened = open_or_recover();
        if (opened == Status::failed) return opened;
        recovered = opened == Status::recovered;
    }
    Status st = op();
    if (st == Status::failed && damaged(last_rc_) && writes && access_ == Access::read_write) {
        // Damage found on the way: keep the file, start afresh, try once more.
        if (move_aside() != Status::ok || open_once() != Status::ok) return Status::failed;
        recovered = true;
        st = op();
    }
    return recovered && st == Status::ok ? Status::recovered : st;
}

Status Store::record(const Record& record, std::int64_t& id) {
    std::vector<std::int64_t> ids;
    const Status st = this->record(std::span<const Record>(&record, 1), ids);
    if (st == Status::ok || st == Status::recovered) id = ids.front();
    return st;
}

Status Store::record(std::span<const Record> records, std::vector<std::int64_t>& ids) {
    return record(
        records.size(), [records](std::size_t k) { return &records[k]; }, ids);
}

Status Store::record(std::size_t count, const RecordAt& record_at, std::vector<std::int64_t>& ids) {
    return run(
        [&] {
            const Status st = do_record(count, record_at, ids);
            if (st != Status::ok) ids.clear();
            return st;
        },
        true);
}

Status Store::list(std::vector<Summary>& out, int limit, std::int64_t before_id) {
    return run([&] { return do_list(out, limit, before_id); }, false);
}

Status Store::count(std::int64_t& n) {
    return run([&] { return do_count(n); }, false);
}

Status Store::get(std::int64_t id, Entry& out) {
    return run([&] { return do_get(id, out); }, false);
}

Status Store::remove(std::int64_t id) {
    return run([&] { return do_remove(id); }, true);
}

Status Store::do_record(std::size_t count, const RecordAt& record_at,
                        std::vector<std::int64_t>& ids) {
    ids.clear();
    const std::string what = "cannot record the composition";
    if (const int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        rc != SQLITE_OK) {
        return fail_sqlite(what, rc);
    }
    // Filled as the records are written: the maker of a later record may name an earlier one.
    ids.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        const Record* record = record_at(k);
        if (record == nullptr) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            return fail(what + ": entry " + std::to_string(k + 1) + " of " + std::to_string(count) +
                        " could not be made");
        }
        std::int64_t new_id = 0;
        if (const Status st = insert_one(*record, new_id); st != Status::ok) return st;
        ids.push_back(new_id);
    }
    if (ids.size() > 1) {
        // One press: every entry names the chosen one, the last. Nothing else is written
        // meanwhile, so the press's entries are the ids from the first to the last.
        Statement tie(db_, "UPDATE composition SET chosen = ?1 WHERE id >= ?2 AND id <= ?1");
        if (tie.prepared() != SQLITE_OK) return fail_sqlite(what, tie.prepared());
        tie.bind(1, ids.back());
        tie.bind(2, ids.front());
        if (const int rc = tie.step(); rc != SQLITE_DONE) return fail_sqlite(what, rc);
    }
    if (const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr); rc != SQLITE_OK) {
        return fail_sqlite(what, rc);
    }
    return Status::ok;
}

Status Store::insert_one(const Record& record, std::int64_t& id) {
    const std::string what = "cannot record the composition";
    {
        Statement insert(db_, R"sql(
INSERT INTO composition (composed_at, lyrics, speed_pos, mode_pos, timbre_pos, speed_item,
    mode_item, timbre_item, tempo, mode, program, note_count, tone_score, state_s, state_t,
    notes, ticks, gbk_text, midi, edits, origin)
VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?))sql");
        if (insert.prepared() != SQLITE_OK) return fail_sqlite(what, insert.prepared());
        const std::string notes = numbers_text(record.notes);
        const std::string ticks = numbers_text(record.ticks);
        int i = 0;
        insert.bind(++i, record.time_ms);
        insert.bind(++i, record.lyrics);
        insert.bind(++i, record.speed_pos);
        insert.bind(++i, record.mode_pos);
        insert.bind(++i, record.timbre_pos);
        insert.bind(++i, record.speed_item);
        insert.bind(++i, record.mode_item);
        insert.bind(++i, record.timbre_item);
        insert.bind(++i, record.tempo);
        insert.bind(++i, record.mode);
        insert.bind(++i, record.program);
        insert.bind(++i, static_cast<int>(record.notes.size()));
        insert.bind(++i, record.tone_score);
        insert.bind(++i, static_cast<std::int64_t>(record.state.s));
        insert.bind(++i, static_cast<std::int64_t>(record.state.t));
        insert.bind(++i, notes);
        insert.bind(++i, ticks);
        insert.bind_blob(++i, record.gbk_text);
        insert.bind_blob(++i, record.midi);
        insert.bind(++i, record.edits);
        insert.bind(++i, record.origin);
        if (const int rc = insert.step(); rc != SQLITE_DONE) return fail_sqlite(what, rc);
    }
    const std::int64_t new_id = sqlite3_last_insert_rowid(db_);
    if (!record.syllables.empty()) {
        Statement insert(db_, R"sql(
INSERT INTO syllable (composition_id, idx, text, continuation, pause_after, sentence_end, sentence)
VALUES (?, ?, ?, ?, ?, ?, ?))sql");
        if (insert.prepared() != SQLITE_OK) return fail_sqlite(what, insert.prepared());
        for (std::size_t k = 0; k < record.syllables.size(); ++k) {
            const notation::Lyric& lyric = record.syllables[k];
            insert.bind(1, new_id);
            insert.bind(2, static_cast<int>(k));
            insert.bind(3, lyric.text);
            insert.bind(4, lyric.continuation ? 1 : 0);
            insert.bind(5, lyric.pause_after ? 1 : 0);
            insert.bind(6, lyric.sentence_end ? 1 : 0);
            insert.bind(7, lyric.sentence);
            if (const int rc = insert.step(); rc != SQLITE_DONE) return fail_sqlite(what, rc);
            insert.reset();
        }
    }
    id = new_id;
    return Status::ok;
}

namespace {

/// What a list shows of an entry `c`, read by fill_summary(); ?1 is the count of
/// characters of the lyrics. The count of candidates comes from the index of presses.
/// The edit list is read up to one character past the longest that compose takes,
/// enough for the check to refuse a longer one.
const std::string kSummaryColumns = R"sql(
c.id, c.composed_at, substr(c.lyrics, 1, ?1), c.speed_pos, c.mode_pos, c.timbre_pos,
    c.speed_item, c.mode_item, c.timbre_item, c.tempo, c.note_count, c.tone_score, c.edits != '',
    c.origin, c.chosen,
    CASE WHEN c.chosen = c.id THEN (SELECT count(*) FROM composition AS k
        INDEXED BY composition_chosen WHERE k.chosen = c.id AND k.id <= c.id) ELSE 0 END,
    substr(c.edits, 1, )sql" + std::to_string(edit::kMaxEditsBytes + 1) +
                                    ")";

/// An entry is shaped from an earlier one: an origin that is no entry's number, or not
/// an earlier one, names nothing it came from and is read as none.
std::optional<std::int64_t> earlier_origin(std::optional<std::int64_t> origin, std::int64_t id) {
    if (origin && (*origin <= 0 || *origin >= id)) return std::nullopt;
    return origin;
}

void fill_summary(sqlite3_stmt* st, Summary& s) {
    s.id = sqlite3_column_int64(st, 0);
    s.time_ms = sqlite3_column_int64(st, 1);
    s.lyrics_start = column_text(st, 2);
    s.speed_pos = sqlite3_column_int(st, 3);
    s.mode_pos = sqlite3_column_int(st, 4);
    s.timbre_pos = sqlite3_column_int(st, 5);
    s.speed_item = column_text(st, 6);
    s.mode_item = column_text(st, 7);
    s.timbre_item = column_text(st, 8);
    s.tempo = sqlite3_column_int(st, 9);
    s.note_count = sqlite3_column_int(st, 10);
    s.tone_score = column_optional_double(st, 11);
    s.edited = sqlite3_column_int(st, 12) != 0;
    s.origin = earlier_origin(column_optional_int64(st, 13), s.id);
    s.chosen = column_optional_int64(st, 14);
    s.candidates = sqlite3_column_int64(st, 15);
    s.edits = column_text(st, 16);
}

}  // namespace

int Store::chosen_entry(std::int64_t id, bool& is_chosen) {
    // From the index alone: the chosen entry names itself.
    Statement find(db_, R"sql(
SELECT 1 FROM composition INDEXED BY composition_chosen WHERE chosen = ?1 AND id = ?1)sql");
    if (find.prepared() != SQLITE_OK) return find.prepared();
    find.bind(1, id);
    const int rc = find.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return rc;
    is_chosen = rc == SQLITE_ROW;
    return SQLITE_OK;
}

int Store::list_ids(std::int64_t bound, int limit, std::vector<std::int64_t>& ids) {
    // Walks the small index of (id, chosen) newest first, never the rows themselves:
    // the candidates of a press cost an index entry each, and are left out; the rows
    // listed are read afterwards, one by one.
    Statement walk(db_, R"sql(
SELECT id, chosen FROM composition INDEXED BY composition_press WHERE id < ? ORDER BY id DESC)sql");
    if (walk.prepared() != SQLITE_OK) return walk.prepared();
    walk.bind(1, bound);
    std::unordered_map<std::int64_t, bool> presses;  // entry -> it is a chosen one
    while (limit < 0 || static_cast<int>(ids.size()) < limit) {
        const int rc = walk.step();
        if (rc != SQLITE_ROW) return rc;
        sqlite3_stmt* st = walk.get();
        const std::int64_t id = sqlite3_column_int64(st, 0);
        if (sqlite3_column_type(st, 1) == SQLITE_NULL) {
            ids.push_back(id);
            continue;
        }
        const std::int64_t chosen = sqlite3_column_int64(st, 1);
        if (chosen == id) presses.emplace(id, true);  // its candidates come next
        // A press is recorded candidates first: a candidate naming an older entry
        // (or one that is missing, or was not chosen) is shown on its own.
        bool grouped = false;
        if (chosen > id) {
            auto it = presses.find(chosen);
            if (it == presses.end()) {
                bool is_chosen = false;
                if (const int found = chosen_entry(chosen, is_chosen); found != SQLITE_OK) {
                    return found;
                }
                it = presses.emplace(chosen, is_chosen).first;
            }
            grouped = it->second;
        }
        if (!grouped) ids.push_back(id);
    }
    return SQLITE_DONE;
}

bool Store::left_out(const Summary& s, bool& told) {
    const auto fault = summary_fault(s);
    if (!fault) return false;
    // Left out and said once per list, never shown as if it were sound.
    if (!told) {
        notice_ += (notice_.empty() ? "" : "; ") + std::string("entry ") + std::to_string(s.id) +
                   " of the history is not valid and is left out: " + *fault;
        told = true;
    }
    return true;
}

Status Store::do_list(std::vector<Summary>& out, int limit, std::int64_t before_id) {
    out.clear();
    const std::string what = "cannot list the history";
    // A damaged page costs its rows, not the history: the listing goes on below it,
    // stepping further down each time the next rows cannot be read either.
    std::int64_t bound = before_id;
    std::int64_t step = 1;
    int skips = 0;
    bool damage_met = false;
    bool told = false;  // an invalid entry was said
    const std::string select_sql =
        std::string("SELECT ") + kSummaryColumns + " FROM composition AS c WHERE c.id = ?2";
    for (;;) {
        const std::size_t had = out.size();
        std::vector<std::int64_t> ids;
        int rc = list_ids(bound, limit > 0 ? limit - static_cast<int>(out.size()) : -1, ids);
        Statement select(db_, select_sql.c_str());
        if (select.prepared() != SQLITE_OK) return fail_sqlite(what, select.prepared());
        for (const std::int64_t id : ids) {
            select.reset();
            select.bind(1, kLyricsStartChars);
            select.bind(2, id);
            const int got = select.step();
            if (got == SQLITE_DONE) continue;  // deleted by another program meanwhile
            if (got != SQLITE_ROW) {
                if (!damaged(got)) {
                    out.clear();
                    return fail_sqlite(what, got);
                }
                // This row cannot be read: the listing goes on just below it.
                damage_met = true;
                bound = id;
                step = 0;
                rc = got;
                break;
            }
            Summary s;
            fill_summary(select.get(), s);
            // Listed on its own unless it is the chosen one of a press that kept candidates.
            if (s.chosen != s.id || s.candidates < 2) {
                s.chosen.reset();
                s.candidates = 0;
            }
            if (left_out(s, told)) continue;
            out.push_back(std::move(s));
        }
        if (rc == SQLITE_DONE) break;
        if (!damaged(rc)) {
            out.clear();
            return fail_sqlite(what, rc);
        }
        damage_met = true;
        if (step == 0) {
            step = 1;  // a row that could not be read: skipped, the walk goes on below it
        } else {
            if (out.size() > had) step = 1;  // rows came: the damage starts just below them
            if (!out.empty() && out.back().id < bound) bound = out.back().id;
            if (bound == std::numeric_limits<std::int64_t>::max()) {
                // Nothing read yet: start from the largest id, if that can be read.
                Statement top(db_, "SELECT max(id) FROM composition");
                if (top.prepared() != SQLITE_OK || top.step() != SQLITE_ROW) break;
                bound = sqlite3_column_int64(top.get(), 0) + 1;
            }
            bound -= step;
            step *= 2;
        }
        if (bound <= 1 || ++skips > 62 || (limit > 0 && static_cast<int>(out.size()) >= limit))
            break;
    }
    if (damage_met) {
        notice_ += (notice_.empty() ? "" : "; ") + std::string("the history ") + file_.string() +
                   " is damaged: the entries that could be read are listed, the others are "
                   "missing; it is left as it is";
        last_rc_ = SQLITE_CORRUPT;
    }
    return Status::ok;
}

Status Store::list_candidates(std::int64_t chosen, std::vector<Summary>& out, int limit,
                              std::int64_t before_id) {
    return run([&] { return do_list_candidates(chosen, out, limit, before_id); }, false);
}

Status Store::do_list_candidates(std::int64_t chosen, std::vector<Summary>& out, int limit,
                                 std::int64_t before_id) {
    out.clear();
    const std::string what =
        "cannot list the candidates of entry " + std::to_string(chosen) + " of the history";
    {
        Statement find(db_, "SELECT chosen IS ?1 FROM composition WHERE id = ?1");
        if (find.prepared() != SQLITE_OK) return fail_sqlite(what, find.prepared());
        find.bind(1, chosen);
        const int rc = find.step();
        if (rc == SQLITE_DONE) {
            last_error_ = "no entry " + std::to_string(chosen) + " in the history";
            return Status::not_found;
        }
        if (rc != SQLITE_ROW) return fail_sqlite(what, rc);
        if (sqlite3_column_int(find.get(), 0) == 0) return Status::ok;  // made alone
    }
    const std::string select_sql = std::string("SELECT ") + kSummaryColumns +
                                   " FROM composition AS c INDEXED BY composition_chosen"
                                   " WHERE c.chosen = ?2 AND c.id <= ?2 AND c.id < ?3"
                                   " ORDER BY c.id DESC LIMIT ?4";
    Statement select(db_, select_sql.c_str());
    if (select.prepared() != SQLITE_OK) return fail_sqlite(what, select.prepared());
    select.bind(1, kLyricsStartChars);
    select.bind(2, chosen);
    select.bind(3, before_id);
    select.bind(4, limit > 0 ? limit : -1);
    bool told = false;
    int rc;
    while ((rc = select.step()) == SQLITE_ROW) {
        Summary s;
        fill_summary(select.get(), s);
        if (s.id != chosen) s.candidates = 0;
        if (left_out(s, told)) continue;
        out.push_back(std::move(s));
    }
    if (rc == SQLITE_DONE) return Status::ok;
    if (!damaged(rc)) {
        out.clear();
        return fail_sqlite(what, rc);
    }
    notice_ += (notice_.empty() ? "" : "; ") + std::string("the history ") + file_.string() +
               " is damaged: the candidates that could be read are listed, the others are "
               "missing; it is left as it is";
    last_rc_ = SQLITE_CORRUPT;
    return Status::ok;
}

Status Store::do_count(std::int64_t& n) {
    Statement select(db_, "SELECT count(*) FROM composition");
    if (select.prepared() != SQLITE_OK) return fail_sqlite("cannot count", select.prepared());
    const int rc = select.step();
    if (rc != SQLITE_ROW) return fail_sqlite("cannot count the history", rc);
    n = sqlite3_column_int64(select.get(), 0);
    return Status::ok;
}

Status Store::do_get(std::int64_t id, Entry& out) {
    const std::string what = "cannot read entry " + std::to_string(id) + " of the history";
    // One read transaction, so the syllables belong to the same entry even
    // when another window deletes it meanwhile.
    if (const int rc = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr); rc != SQLITE_OK) {
        return fail_sqlite(what, rc);
    }
    Entry entry;
    entry.id = id;
    Record& r = entry.record;
    std::int64_t note_count = 0;
    bool state_ok = true;
    {
        Statement select(db_, R"sql(
SELECT composed_at, lyrics, speed_pos, mode_pos, timbre_pos, speed_item, mode_item, timbre_item,
    tempo, mode, program, tone_score, state_s, state_t, notes, ticks, gbk_text, midi, edits, origin,
    note_count, chosen
FROM composition WHERE id = ?)sql");
        if (select.prepared() != SQLITE_OK) return fail_sqlite(what, select.prepared());
        select.bind(1, id);
        const int rc = select.step();
        if (rc == SQLITE_DONE) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            last_error_ = "no entry " + std::to_string(id) + " in the history";
            return Status::not_found;
        }
        if (rc != SQLITE_ROW) return fail_sqlite(what, rc);
        sqlite3_stmt* st = select.get();
        r.time_ms = sqlite3_column_int64(st, 0);
        r.lyrics = column_text(st, 1);
        r.speed_pos = sqlite3_column_int(st, 2);
        r.mode_pos = sqlite3_column_int(st, 3);
        r.timbre_pos = sqlite3_column_int(st, 4);
        r.speed_item = column_text(st, 5);
        r.mode_item = column_text(st, 6);
        r.timbre_item = column_text(st, 7);
        r.tempo = sqlite3_column_int(st, 8);
        r.mode = sqlite3_column_int(st, 9);
        r.program = sqlite3_column_int(st, 10);
        r.tone_score = column_optional_double(st, 11);
        r.state.s = static_cast<std::uint64_t>(sqlite3_column_int64(st, 12));
        r.state.t = static_cast<std::uint32_t>(sqlite3_column_int64(st, 13));
        // The state makes the melody again: text or a fraction there would read as
        // another state, and a command line that makes another melody.
        state_ok = sqlite3_column_type(st, 12) == SQLITE_INTEGER &&
                   sqlite3_column_type(st, 13) == SQLITE_INTEGER &&
                   sqlite3_column_int64(st, 13) >= 0 &&
                   sqlite3_column_int64(st, 13) <= 0xFFFFFFFFLL;
        const bool numbers_ok = parse_numbers(column_text(st, 14), r.notes) &&
                                parse_numbers(column_text(st, 15), r.ticks);
        r.gbk_text = column_text(st, 16);
        r.midi = column_text(st, 17);
        r.edits = column_text(st, 18);
        r.origin = earlier_origin(column_optional_int64(st, 19), id);
        note_count = sqlite3_column_int64(st, 20);
        entry.chosen = column_optional_int64(st, 21);
        if (!numbers_ok) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            return fail(what + ": its notes or ticks are not numbers");
        }
    }
    {
        Statement select(db_, R"sql(
SELECT text, continuation, pause_after, sentence_end, sentence
FROM syllable WHERE composition_id = ? ORDER BY idx)sql");
        if (select.prepared() != SQLITE_OK) return fail_sqlite(what, select.prepared());
        select.bind(1, id);
        int rc;
        while ((rc = select.step()) == SQLITE_ROW) {
            sqlite3_stmt* st = select.get();
            notation::Lyric lyric;
            lyric.text = column_text(st, 0);
            lyric.continuation = sqlite3_column_int(st, 1) != 0;
            lyric.pause_after = sqlite3_column_int(st, 2) != 0;
            lyric.sentence_end = sqlite3_column_int(st, 3) != 0;
            lyric.sentence = sqlite3_column_int(st, 4);
            r.syllables.push_back(std::move(lyric));
        }
        if (rc != SQLITE_DONE) return fail_sqlite(what, rc);
    }
    if (entry.chosen && *entry.chosen != id) {
        // A candidate belongs to a newer entry that was chosen itself, or to none.
        bool is_chosen = false;
        if (*entry.chosen > id) {
            if (const int rc = chosen_entry(*entry.chosen, is_chosen); rc != SQLITE_OK) {
                return fail_sqlite(what, rc);
            }
        }
        if (!is_chosen) entry.chosen.reset();
    } else if (entry.chosen) {
        // The chosen one, as long as a candidate is left (a list shows it on its own then).
        Statement left(db_, R"sql(
SELECT 1 FROM composition INDEXED BY composition_chosen WHERE chosen = ?1 AND id < ?1 LIMIT 1)sql");
        if (left.prepared() != SQLITE_OK) return fail_sqlite(what, left.prepared());
        left.bind(1, id);
        const int rc = left.step();
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) return fail_sqlite(what, rc);
        if (rc == SQLITE_DONE) entry.chosen.reset();
    }
    sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    // Another program may have written the row: it is checked, never trusted.
    std::optional<std::string> fault = record_fault(r);
    if (!fault && !state_ok) fault = "its generator state is not two whole numbers";
    if (!fault && note_count != static_cast<std::int64_t>(r.notes.size())) {
        fault = "a count of " + std::to_string(note_count) + " notes for " +
                std::to_string(r.notes.size()) + " notes";
    }
    if (fault)
        return fail("entry " + std::to_string(id) + " of the history is not valid: " + *fault);
    out = std::move(entry);
    return Status::ok;
}

Status Store::do_remove(std::int64_t id) {
    const std::string what = "cannot delete entry " + std::to_string(id) + " of the history";
    if (const int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        rc != SQLITE_OK) {
        return fail_sqlite(what, rc);
    }
    bool is_chosen = false;
    if (const int rc = chosen_entry(id, is_chosen); rc != SQLITE_OK) return fail_sqlite(what, rc);
    if (is_chosen) {
        // The candidates of a press go with the melody chosen from them.
        Statement erase(db_, "DELETE FROM composition WHERE chosen = ?1 AND id < ?1");
        if (erase.prepared() != SQLITE_OK) return fail_sqlite(what, erase.prepared());
        erase.bind(1, id);
        if (const int rc = erase.step(); rc != SQLITE_DONE) return fail_sqlite(what, rc);
    }
    Statement erase(db_, "DELETE FROM composition WHERE id = ?");
    if (erase.prepared() != SQLITE_OK) return fail_sqlite(what, erase.prepared());
    erase.bind(1, id);
    if (const int rc = erase.step(); rc != SQLITE_DONE) return fail_sqlite(what, rc);
    if (sqlite3_changes(db_) == 0) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        last_error_ = "no entry " + std::to_string(id) + " in the history";
        return Status::not_found;
    }
    if (const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr); rc != SQLITE_OK) {
        return fail_sqlite(what, rc);
    }
    return Status::ok;
}

}  // namespace quavella::history
