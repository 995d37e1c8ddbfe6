// Writing files all or nothing: a file is written under a temporary name in its
// target's folder, flushed to disk and then renamed into place, so a failure or a
// kill leaves the old file as it was. Used by every writer of the program: the
// command line's outputs, the exports, the window's working files and Save as.
//
// Nothing is left behind: a temporary is removed when its write fails, when
// SIGINT, SIGTERM or SIGHUP ends the program (install_signal_cleanup), and, for a
// program killed outright, by the next write into the same folder, which removes the
// temporaries this program made whose process is gone (remove_stale_temporaries).
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quavella::files {

/// How a staged file takes its target's place.
struct StageOptions {
    /// false: an existing target is never replaced (Save as); the commit fails instead.
    bool replace = true;
};

/// One output being written beside its target. The temporary is created at once
/// (in the target's folder, so the final rename cannot cross file systems); a writer
/// fills it by name (temp_path) or through write(). Nothing touches the target until
/// commit. A target that is a symbolic link is refused: links are never followed.
/// A target that is a device, pipe or socket (/dev/null) is written in place.
class StagedFile {
public:
    /// Creates the temporary for `target`; error() says why when it could not.
    explicit StagedFile(std::filesystem::path target, StageOptions options = {});
    /// Removes the temporary unless it was committed.
    ~StagedFile();
    StagedFile(StagedFile&& other) noexcept;
    StagedFile& operator=(StagedFile&&) = delete;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    /// The first failure ("cannot write 'FILE': REASON"), or nothing.
    const std::optional<std::string>& error() const { return error_; }
    /// The REASON of that failure alone (the whole message of one given to fail).
    const std::string& reason() const { return reason_; }
    /// The target, as given.
    const std::filesystem::path& target() const { return target_; }
    /// The temporary to write; empty when it could not be created.
    const std::filesystem::path& temp_path() const { return temp_; }

    /// Replaces the temporary's content with `bytes`.
    /// @return false on a failure, kept in error()
    bool write(std::string_view bytes);
    /// Records a failure of a writer that wrote temp_path itself (its own message).
    void fail(std::string message);

    /// Flushes the temporary to disk (fsync). Call before commit when several files
    /// must be complete before any of them replaces its target.
    /// @return false on a failure, kept in error()
    bool seal();
    /// Seals the temporary if needed and renames it over the target (or, without
    /// `replace`, links it there only when no file has the name).
    /// @return false on a failure, kept in error(); the target is then untouched
    bool commit();
    /// commit without flushing the target's folder: commit_all places every file,
    /// then flushes the folders.
    /// @return false on a failure, kept in error(); the target is then untouched
    bool place();
    /// True when the target (a device or a pipe) is written in place, not replaced.
    bool written_in_place() const { return direct_; }
    /// Removes the temporary; the target is untouched.
    void discard();

private:
    bool set_error(std::string_view reason);
    /// Takes the temporary out of the signal handler's list.
    void release_slot();

    std::filesystem::path target_;
    std::filesystem::path temp_;
    StageOptions options_;
    std::optional<std::string> error_;
    std::string reason_;
    bool sealed_ = false;
    bool direct_ = false;  // the target is a device or pipe, written in place
    bool done_ = false;    // committed or discarded: the temporary is gone
    int slot_ = -1;        // the temporary's place in the signal handler's list, if any
};

/// Removes every temporary still staged, and nothing else. Async-signal-safe: for a
/// program's own handler of a terminating signal (the window's, which also removes its
/// socket), called before the signal's default action ends the program.
void remove_staged_temporaries() noexcept;

/// Makes SIGINT, SIGTERM and SIGHUP remove what is staged (remove_staged_temporaries),
/// then end the program as the signal would, so that its exit status is the signal's.
/// A signal the program ignores or handles itself is left as it is. Called by the
/// first StagedFile; calling it again does nothing.
void install_signal_cleanup();

/// True when `name` has the form of this program's temporaries: ".NAME.PID.N.X.tmp"
/// (NAME the target's name, PID and N decimal, X hexadecimal). Gives the PID.
bool temporary_name(std::string_view name, long& pid);

/// Removes from `folder` the temporaries this program made (temporary_name) whose
/// process is no longer running: left by a program killed outright or by a power cut.
/// Only regular files of this user are removed, never through a link; a temporary
/// whose PID is running (its writer, or a process that took the number since) stays.
/// Done once per folder by the first write into it.
/// @return how many files were removed
int remove_stale_temporaries(const std::filesystem::path& folder);

/// "cannot write 'FILE': REASON", the message of every failed write.
std::string write_failure(const std::filesystem::path& file, std::string_view reason);

/// Writes `bytes` to `target` all or nothing.
/// @return the failure, or nothing when the file holds exactly `bytes`
std::optional<std::string> write_file(const std::filesystem::path& target, std::string_view bytes,
                                      StageOptions options = {});

/// Puts every staged file in place, or none: all are sealed first, and a failure
/// while sealing discards them all with no target touched. A rename failing after
/// others succeeded (a target's folder removed meanwhile) is reported; the rest
/// are still put in place.
/// @return the first failure, or nothing when every target was replaced
std::optional<std::string> commit_all(std::span<StagedFile* const> files);

/// True when two names lead to the same file: the device and inode of an existing
/// file (links followed), otherwise the resolved path of the name (its folder with
/// `.`, `..` and links resolved, then the name). "x", "./x", "$PWD/x", "d/../x" and
/// a link to x are all the same file.
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace quavella::files
