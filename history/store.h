// The history of compositions: an SQLite database shared by every window and
// the command line. Nothing here stands in the way of composing: each call
// reports a status and a text the caller can show, and never throws.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "history/record.h"

struct sqlite3;

namespace quavella::history {

/// How a call of the store went.
enum class Status {
    ok,         ///< done
    recovered,  ///< done, on a fresh database: the damaged one was moved aside (see notice())
    not_found,  ///< no entry with that id
    failed,     ///< the database could not be opened, read or written (see last_error())
};

/// Where the history lives: $XDG_DATA_HOME/quavella/history.sqlite3, with
/// ~/.local/share in place of an unset or relative XDG_DATA_HOME.
/// @param getenv reads an environment variable (nullptr when unset)
/// @return the path, or nothing when neither XDG_DATA_HOME nor HOME is usable
std::optional<std::filesystem::path> default_path(
    const std::function<const char*(const char*)>& getenv);

/// How a store may use its file.
enum class Access {
    read_write,  ///< records and removes; a damaged file is moved aside when found
    read_only,   ///< lists and reads only: the file is never created, changed or moved,
                 ///< and read-only media or permissions are no obstacle
};

/// An open history database. One connection; keep one per thread.
///
/// The database is written ahead (WAL) with one transaction per composition,
/// waits up to its busy time for another process's write, and carries its schema
/// version in PRAGMA user_version. A file that is not a database, or whose
/// pages are damaged, is renamed "<name>.damaged-YYYYMMDD-HHMMSS" (its WAL and
/// shared-memory files beside it with the same suffix) and a fresh database
/// takes its place; only a store that writes does so, and only when the file
/// cannot be opened or a write finds damage. Reads that meet damage keep what
/// they could read and say so in notice().
class Store {
public:
    /// The schema version this program writes.
    static constexpr int kSchemaVersion = 4;
    /// Characters of the lyrics a Summary carries.
    static constexpr int kLyricsStartChars = 40;

    /// @param file the database file; its directory is created when missing
    /// @param vfs the SQLite VFS to use by name (tests pass a fault-injecting one)
    /// @param access read_only for the commands that only read (list, show, export)
    explicit Store(std::filesystem::path file, std::string vfs = {},
                   Access access = Access::read_write);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    /// Opens the database, creating or upgrading its schema. The other calls
    /// open it too when it is not open yet, so a store that failed once tries again.
    Status open();
    /// True while the database is open.
    bool is_open() const { return db_ != nullptr; }

    /// How long later calls wait for another connection's write before they fail
    /// (3 s unless set); 0 answers at once, for a caller that retries by itself.
    void set_busy_ms(int ms);
    /// True when the last call failed only because another connection held the
    /// history (locked or busy): the same call may succeed later.
    bool busy() const;

    /// Moves a damaged file aside (see notice() and moved_to()) and starts a fresh
    /// history in its place: for a writer that found damage while reading.
    /// @return recovered, or failed (always for a read-only store)
    Status recover();

    /// Records one composition in one transaction.
    /// @param id set to the new entry's number on success
    Status record(const Record& record, std::int64_t& id);
    /// Records the candidates of one best-of press in one transaction, all of them or
    /// none: the candidates passed over first, the chosen one last. Two or more records
    /// are one press, listed as the last of them (see list() and list_candidates()).
    /// @param ids set to the new entries' numbers on success, in the order given
    Status record(std::span<const Record> records, std::vector<std::int64_t>& ids);
    /// Makes the record at an index of a press, in the order above; the record stays
    /// valid until the next call. Null when it cannot be made.
    using RecordAt = std::function<const Record*(std::size_t index)>;
    /// As record(records, ids), with the `count` records made one at a time while they
    /// are written, so that a press of many long melodies is never held in memory whole.
    /// A record that cannot be made fails the call and records nothing. `ids` grows as the
    /// records are written, so that a record made later may name an earlier one (as its
    /// origin); it is emptied when the call fails.
    Status record(std::size_t count, const RecordAt& record_at, std::vector<std::int64_t>& ids);

    /// Lists up to `limit` entries (all of them when `limit` <= 0), newest first,
    /// starting below `before_id` (pass the last id of a page to get the next one).
    /// A best-of press is one entry: the chosen one, with its count of candidates;
    /// the others are listed by list_candidates(). An entry naming a chosen entry that
    /// is missing, or was not chosen itself, is listed on its own.
    /// A page reads only its own rows, however long the history and its presses.
    Status list(std::vector<Summary>& out, int limit,
                std::int64_t before_id = std::numeric_limits<std::int64_t>::max());

    /// Lists the candidates of the press whose chosen entry is `chosen`, paged as list()
    /// does, newest first: the chosen one first, then those passed over. Nothing for an
    /// entry that was not chosen from candidates.
    /// @return not_found when there is no entry `chosen`
    Status list_candidates(std::int64_t chosen, std::vector<Summary>& out, int limit,
                           std::int64_t before_id = std::numeric_limits<std::int64_t>::max());

    /// Counts the entries, every candidate included.
    Status count(std::int64_t& n);

    /// Reads one entry whole.
    Status get(std::int64_t id, Entry& out);

    /// Deletes one entry. The chosen entry of a best-of press goes with its candidates
    /// (the press is one entry in a list, and deleting it leaves nothing behind);
    /// a candidate goes alone.
    Status remove(std::int64_t id);

    /// Why the last call failed, in words for the user (UTF-8).
    const std::string& last_error() const { return last_error_; }
    /// Not empty after a call that found the file damaged and moved it aside:
    /// what happened and where the file went, in words for the user.
    const std::string& notice() const { return notice_; }
    /// Where the damaged file was moved, after Status::recovered.
    const std::filesystem::path& moved_to() const { return moved_to_; }
    /// The database file.
    const std::filesystem::path& file() const { return file_; }

private:
    class Statement;

    Status open_or_recover();
    /// Opens and sets up the file, starting over while another program is setting it up.
    Status open_once();
    /// Opens the file and brings its schema up to date.
    Status set_up();
    Status migrate();
    Status fail(const std::string& what);
    Status fail_sqlite(const std::string& what, int rc);
    bool damaged(int rc) const;
    Status move_aside();
    void close();
    /// Opens the file for reading only (a missing file reads as an empty history).
    Status set_up_read_only();
    template <typename Op>
    Status run(Op op, bool writes);

    Status do_record(std::size_t count, const RecordAt& record_at, std::vector<std::int64_t>& ids);
    /// Inserts one record inside the caller's transaction.
    Status insert_one(const Record& record, std::int64_t& id);
    /// True when a listed row is not valid: it is left out, and the first of a list
    /// is said in notice().
    bool left_out(const Summary& s, bool& told);
    Status do_list(std::vector<Summary>& out, int limit, std::int64_t before_id);
    /// Reads the rows of a page: the ids below `bound` that the list shows, newest first.
    int list_ids(std::int64_t bound, int limit, std::vector<std::int64_t>& ids);
    Status do_list_candidates(std::int64_t chosen, std::vector<Summary>& out, int limit,
                              std::int64_t before_id);
    /// Whether `id` is the chosen entry of a press (false when missing), in `is_chosen`.
    int chosen_entry(std::int64_t id, bool& is_chosen);
    Status do_count(std::int64_t& n);
    Status do_get(std::int64_t id, Entry& out);
    Status do_remove(std::int64_t id);

    std::filesystem::path file_;
    std::string vfs_;
    Access access_;
    int busy_ms_;
    bool upgraded_once_ = false;  ///< a read-only store asked a writer to upgrade the schema
    sqlite3* db_ = nullptr;
    int last_rc_ = 0;  ///< SQLite's code for the last failure, to tell damage from other faults
    std::string last_error_;
    std::string notice_;
    std::filesystem::path moved_to_;
};

}  // namespace quavella::history
