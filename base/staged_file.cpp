// Staged files: a temporary beside the target, fsync, rename (or link without
// replacing); POSIX calls throughout so every failure names errno's reason.
#include "base/staged_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

namespace quavella::files {
namespace {

/// A name no other writer uses: pid, a counter and the clock.
std::string temp_suffix() {
    static std::atomic<unsigned> counter{0};
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    char text[64];
    std::snprintf(text, sizeof text, ".%d.%u.%llx.tmp", static_cast<int>(::getpid()),
                  counter.fetch_add(1), static_cast<unsigned long long>(now) & 0xFFFFFFull);
    return text;
}

/// The folder of `file` ("." for a bare name).
std::filesystem::path folder_of(const std::filesystem::path& file) {
    const std::filesystem::path parent = file.parent_path();
    return parent.empty() ? std::filesystem::path(".") : parent;
}

/// fsync of a folder, so the rename itself survives a power cut; some file
/// systems refuse fsync on folders, which is not a failure of the write.
void sync_folder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

/// Writes all of `bytes` to `fd`; 0 or the errno of the failing call.
int write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

/// The temporaries being written, for a signal handler to remove: a fixed table, so
/// that the handler reads it without allocating or locking. A slot's state is 0 when
/// free, 1 while its path changes, 2 when it holds a temporary; `version` changes with
/// every change of the path, so that the handler, copying a path while another thread
/// replaces it, sees that and leaves it.
struct Slot {
    std::atomic<int> state{0};
    std::atomic<unsigned> version{0};
    std::atomic<char> path[PATH_MAX];
};
constexpr int kSlots = 64;
Slot g_slots[kSlots];

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<unsigned>::is_always_lock_free &&
                  std::atomic<char>::is_always_lock_free,
              "a signal handler reads the table");

/// Puts `temp` in a free slot; -1 when none is free or the path is too long (the
/// temporary is then removed as usual, or by a later write's sweep).
int claim_slot(const std::filesystem::path& temp) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(temp, ec);
    const std::string& text = ec ? temp.native() : absolute.native();
    if (text.size() >= PATH_MAX) return -1;
    for (int k = 0; k < kSlots; ++k) {
        Slot& slot = g_slots[k];
        int free = 0;
        if (!slot.state.compare_exchange_strong(free, 1)) continue;
        for (std::size_t i = 0; i < text.size(); ++i) slot.path[i].store(text[i]);
        slot.path[text.size()].store('\0');
        slot.version.fetch_add(1);
        slot.state.store(2);
        return k;
    }
    return -1;
}

void free_slot(int k) {
    if (k < 0) return;
    Slot& slot = g_slots[k];
    slot.state.store(1);
    slot.version.fetch_add(1);
    slot.state.store(0);
}

extern "C" void remove_staged_and_end(int sig) {
    remove_staged_temporaries();
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

/// Digits only, at least one and at most `most`.
bool digits_only(std::string_view text, std::size_t most, bool hex) {
    if (text.empty() || text.size() > most) return false;
    for (const char c : text) {
        const bool digit = c >= '0' && c <= '9';
        const bool letter = c >= 'a' && c <= 'f';
        if (!digit && !(hex && letter)) return false;
    }
    return true;
}

/// The folders swept by this process, by name (a folder made again under an old name
/// is not swept again; one reached by two names is swept twice, which does no harm).
std::mutex g_swept_mutex;
std::set<std::string> g_swept;

void sweep_once(const std::filesystem::path& folder) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(folder, ec);
    if (ec) return;
    {
        const std::lock_guard<std::mutex> lock(g_swept_mutex);
        if (!g_swept.insert(absolute.lexically_normal().native()).second) return;
    }
    remove_stale_temporaries(folder);
}

}  // namespace

void remove_staged_temporaries() noexcept {
    for (Slot& slot : g_slots) {
        if (slot.state.load() != 2) continue;
        const unsigned version = slot.version.load();
        char path[PATH_MAX];
        std::size_t n = 0;
        while (n + 1 < sizeof path && (path[n] = slot.path[n].load()) != '\0') ++n;
        path[n] = '\0';
        if (slot.version.load() != version || slot.state.load() != 2) continue;
        ::unlink(path);
    }
}

void install_signal_cleanup() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction old {};
            if (::sigaction(sig, nullptr, &old) != 0) continue;
            // A program's own handler, or a signal it ignores (nohup), stays as it is.
            if ((old.sa_flags & SA_SIGINFO) != 0 || old.sa_handler != SIG_DFL) continue;
            struct sigaction action {};
            action.sa_handler = remove_staged_and_end;
            sigemptyset(&action.sa_mask);
            ::sigaction(sig, &action, nullptr);
        }
    });
}

bool temporary_name(std::string_view name, long& pid) {
    constexpr std::string_view kEnd = ".tmp";
    if (name.size() <= kEnd.size() || name.front() != '.' ||
        name.substr(name.size() - kEnd.size()) != kEnd)
        return false;
    std::string_view rest = name.substr(1, name.size() - 1 - kEnd.size());
    // From the end: the clock's hex digits, the counter, the PID; the target's name before.
    std::string_view parts[3];
    for (std::string_view& part : parts) {
        const std::size_t dot = rest.rfind('.');
        if (dot == std::string_view::npos) return false;
        part = rest.substr(dot + 1);
        rest = rest.substr(0, dot);
    }
    if (rest.empty() || !digits_only(parts[0], 16, true) || !digits_only(parts[1], 10, false) ||
        !digits_only(parts[2], 10, false))
        return false;
    long value = 0;
    for (const char c : parts[2]) value = value * 10 + (c - '0');
    if (value <= 0 || value > INT_MAX) return false;
    pid = value;
    return true;
}

int remove_stale_temporaries(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return 0;
    }
    const long own = ::getpid();
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        long pid = 0;
        if (!temporary_name(entry->d_name, pid) || pid == own) continue;
        // A running process, or one of another user's (EPERM), keeps its files.
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        struct stat st {};
        if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid())
            continue;
        if (::unlinkat(fd, entry->d_name, 0) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

std::string write_failure(const std::filesystem::path& file, std::string_view reason) {
    std::string text = "cannot write '";
    text += file.string();
    text += "': ";
    text += reason;
    return text;
}

StagedFile::StagedFile(std::filesystem::path target, StageOptions options)
    : target_(std::move(target)), options_(options) {
    struct stat st {};
    mode_t mode = 0666;  // narrowed by the umask at creation
    bool keep_mode = false;
    if (::lstat(target_.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            set_error("it is a symbolic link, which is not followed");
            return;
        }
        if (S_ISDIR(st.st_mode)) {
            set_error(std::strerror(EISDIR));
            return;
        }
        if (!options_.replace) {
            set_error(std::strerror(EEXIST));
            return;
        }
        if (!S_ISREG(st.st_mode)) {
            // A device, pipe or socket is written in place: replacing it by a
            // file would be wrong, and it holds no old content to keep.
            direct_ = true;
            temp_ = target_;
            return;
        }
        mode = st.st_mode & 07777;
        keep_mode = true;
    }
    const std::string name = target_.filename().string();
    if (name.empty() || name == "." || name == "..") {
        set_error(std::strerror(EISDIR));
        return;
    }
    install_signal_cleanup();
    sweep_once(folder_of(target_));
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path candidate = folder_of(target_) / ("." + name + temp_suffix());
        const int fd =
            ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            set_error(std::strerror(errno));
            return;
        }
        // A replaced file keeps its permissions.
        if (keep_mode) ::fchmod(fd, mode);
        ::close(fd);
        temp_ = std::move(candidate);
        slot_ = claim_slot(temp_);
        return;
    }
    set_error(std::strerror(EEXIST));
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : target_(std::move(other.target_)),
      temp_(std::move(other.temp_)),
      options_(other.options_),
      error_(std::move(other.error_)),
      reason_(std::move(other.reason_)),
      sealed_(other.sealed_),
      direct_(other.direct_),
      done_(other.done_),
      slot_(other.slot_) {
    other.done_ = true;
    other.temp_.clear();
    other.slot_ = -1;
}

StagedFile::~StagedFile() {
    discard();
    release_slot();
}

void StagedFile::release_slot() {
    free_slot(slot_);
    slot_ = -1;
}

bool StagedFile::set_error(std::string_view reason) {
    if (!error_) {
        error_ = write_failure(target_, reason);
        reason_ = reason;
    }
    return false;
}

void StagedFile::fail(std::string message) {
    if (!error_) {
        reason_ = message;
        error_ = std::move(message);
    }
}

bool StagedFile::write(std::string_view bytes) {
    if (error_ || temp_.empty() || done_) return false;
    const int fd = ::open(temp_.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return set_error(std::strerror(errno));
    int reason = write_all(fd, bytes);
    if (reason == 0 && !direct_ && ::fsync(fd) != 0) reason = errno;
    if (::close(fd) != 0 && reason == 0 && errno != EINTR) reason = errno;
    if (reason != 0) return set_error(std::strerror(reason));
    sealed_ = true;
    return true;
}

bool StagedFile::seal() {
    if (error_ || temp_.empty() || done_) return false;
    if (sealed_ || direct_) return true;
    // The writer may have replaced the temporary by name: sync what is there now.
    const int fd = ::open(temp_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return set_error(std::strerror(errno));
    const int reason = ::fsync(fd) != 0 ? errno : 0;
    ::close(fd);
    if (reason != 0) return set_error(std::strerror(reason));
    sealed_ = true;
    return true;
}

bool StagedFile::commit() {
    if (!place()) return false;
    if (!direct_) sync_folder(folder_of(target_));
    return true;
}

bool StagedFile::place() {
    if (!seal()) return false;
    if (direct_) {
        done_ = true;
        return true;
    }
    if (options_.replace) {
        // rename replaces a link in the target's place rather than following it;
        // one placed there since the check is refused again here.
        struct stat st {};
        const bool there = ::lstat(target_.c_str(), &st) == 0;
        if (there && (S_ISLNK(st.st_mode) || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))) {
            set_error(S_ISLNK(st.st_mode) ? "it is a symbolic link, which is not followed"
                                          : "it is no longer a regular file");
            discard();
            return false;
        }
        if (::rename(temp_.c_str(), target_.c_str()) != 0) {
            set_error(std::strerror(errno));
            discard();
            return false;
        }
    } else {
        // Fails with EEXIST when any file, link or folder has the name; where the
        // file system cannot rename that way, a hard link does the same.
        int moved =
            ::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE);
        if (moved != 0 && (errno == EINVAL || errno == ENOSYS)) {
            moved = ::link(temp_.c_str(), target_.c_str());
            if (moved == 0) ::unlink(temp_.c_str());
        }
        if (moved != 0) {
            set_error(std::strerror(errno));
            discard();
            return false;
        }
    }
    done_ = true;
    release_slot();
    return true;
}

void StagedFile::discard() {
    if (done_) return;
    done_ = true;
    if (!temp_.empty() && !direct_) ::unlink(temp_.c_str());
    release_slot();
}

std::optional<std::string> write_file(const std::filesystem::path& target, std::string_view bytes,
                                      StageOptions options) {
    StagedFile staged(target, options);
    if (staged.write(bytes) && staged.commit()) return std::nullopt;
    return staged.error();
}

std::optional<std::string> commit_all(std::span<StagedFile* const> files) {
    for (StagedFile* file : files) {
        if (file->seal()) continue;
        std::optional<std::string> failure = file->error();
        for (StagedFile* other : files) other->discard();
        return failure;
    }
    // Every file renamed into place first, the folders flushed after: the moment in
    // which some files are new and others still old is as short as the renames.
    std::optional<std::string> failure;
    std::vector<const StagedFile*> placed;
    for (StagedFile* file : files) {
        if (file->place()) {
            if (!file->written_in_place()) placed.push_back(file);
        } else if (!failure) {
            failure = file->error();
        }
    }
    for (const StagedFile* file : placed) sync_folder(folder_of(file->target()));
    return failure;
}

namespace {

/// The resolved path of a name that may not exist yet.
std::filesystem::path resolved(const std::filesystem::path& file) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(file, ec);
    if (ec) return file.lexically_normal();
    const std::filesystem::path folder = std::filesystem::weakly_canonical(folder_of(absolute), ec);
    if (ec) return absolute.lexically_normal();
    return (folder / absolute.filename()).lexically_normal();
}

}  // namespace

bool same_file(const std::filesystem::path& a, const std::filesystem::path& b) {
    struct stat sa {
    }, sb{};
    const bool a_exists = ::stat(a.c_str(), &sa) == 0;
    const bool b_exists = ::stat(b.c_str(), &sb) == 0;
    if (a_exists && b_exists) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    // A new name: where it leads (one existing and one new can still meet there
    // through a dangling link, which the writer refuses anyway).
    return resolved(a) == resolved(b);
}

}  // namespace quavella::files
