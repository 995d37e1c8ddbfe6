// Files written all or nothing: the old file survives every failure (a real
// "File too large" from RLIMIT_FSIZE in a child process, a refused link, a folder
// in the way), no temporary is left behind, not even by a program ended by a signal or
// killed outright, and messages name the real reason.
#include "base/staged_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/files.h"

namespace quavella::files {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::ScratchDir;

/// The names in a folder, sorted: a temporary left behind shows here.
std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

/// Runs write_file in a child process whose files may not grow past `limit` bytes
/// (SIGXFSZ ignored, so the write fails with EFBIG as on a full disk).
/// @return the child's failure message ("" when it succeeded)
std::string write_with_size_limit(const fs::path& target, const std::string& bytes, rlim_t limit) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &small);
        const std::optional<std::string> failure = write_file(target, bytes);
        const std::string text = failure.value_or("");
        if (::write(fds[1], text.data(), text.size()) < 0) ::_exit(2);
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string message;
    char chunk[256];
    ssize_t got;
    while ((got = ::read(fds[0], chunk, sizeof chunk)) > 0) message.append(chunk, size_t(got));
    ::close(fds[0]);
    int wstatus = 0;
    ::waitpid(child, &wstatus, 0);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);
    return message;
}

TEST(StagedFile, ReplacesTheFileWholeKeepingItsPermissions) {
    ScratchDir dir;
    const fs::path target = dir.path() / "song.mid";
    test::write_file(target, "old content");
    ::chmod(target.c_str(), 0640);
    EXPECT_EQ(write_file(target, "new"), std::nullopt);
    EXPECT_EQ(read_file(target), "new");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"song.mid"});
}

TEST(StagedFile, AFailedWriteLeavesTheOldFileAndNoTemporary) {
    ScratchDir dir;
    const fs::path target = dir.path() / "song.mid";
    test::write_file(target, "good old content");
    const std::string message = write_with_size_limit(target, std::string(5000, 'x'), 1000);
    EXPECT_EQ(message, "cannot write '" + target.string() + "': File too large");
    EXPECT_EQ(read_file(target), "good old content");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"song.mid"});
}

TEST(StagedFile, RefusalsNameTheRealCauseAndTouchNothing) {
    ScratchDir dir;
    const fs::path victim = dir.path() / "victim.txt";
    test::write_file(victim, "keep me");
    fs::create_symlink(victim, dir.path() / "link.mid");
    fs::create_symlink(dir.path() / "nowhere.txt", dir.path() / "dangling.mid");
    fs::create_directory(dir.path() / "folder.mid");
    const struct {
        const char* name;
        const char* reason;
    } rows[] = {
        {"link.mid", "it is a symbolic link, which is not followed"},
        {"dangling.mid", "it is a symbolic link, which is not followed"},
        {"folder.mid", "Is a directory"},
        {"missing/x.mid", "No such file or directory"},
    };
    for (const auto& row : rows) {
        const fs::path target = dir.path() / row.name;
        EXPECT_EQ(write_file(target, "bytes"),
                  "cannot write '" + target.string() + "': " + row.reason);
    }
    EXPECT_EQ(read_file(victim), "keep me");
    EXPECT_FALSE(fs::exists(dir.path() / "nowhere.txt"));
    EXPECT_EQ(names_in(dir.path()),
              (std::vector<std::string>{"dangling.mid", "folder.mid", "link.mid", "victim.txt"}));
    EXPECT_TRUE(fs::is_empty(dir.path() / "folder.mid"));
}

TEST(StagedFile, WithoutReplaceAnExistingNameIsNeverTaken) {
    ScratchDir dir;
    const fs::path target = dir.path() / "saved.mid";
    EXPECT_EQ(write_file(target, "first", {.replace = false}), std::nullopt);
    EXPECT_EQ(write_file(target, "second", {.replace = false}),
              "cannot write '" + target.string() + "': File exists");
    EXPECT_EQ(read_file(target), "first");
    // A file that appears after staging began is not replaced either.
    const fs::path late = dir.path() / "late.mid";
    StagedFile staged(late, {.replace = false});
    ASSERT_TRUE(staged.write("mine"));
    test::write_file(late, "theirs");
    EXPECT_FALSE(staged.commit());
    EXPECT_EQ(read_file(late), "theirs");
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"late.mid", "saved.mid"}));
}

TEST(StagedFile, SeveralOutputsAreWrittenAllOrNone) {
    ScratchDir dir;
    const fs::path a = dir.path() / "a.mid", b = dir.path() / "b.musicxml";
    test::write_file(a, "old a");
    test::write_file(b, "old b");
    {
        StagedFile first(a), second(b);
        first.write("new a");
        second.write("new b");
        second.fail("cannot write 'b.musicxml': an export failed");
        StagedFile* both[] = {&first, &second};
        EXPECT_EQ(commit_all(both), "cannot write 'b.musicxml': an export failed");
    }
    EXPECT_EQ(read_file(a), "old a");
    EXPECT_EQ(read_file(b), "old b");
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"a.mid", "b.musicxml"}));

    StagedFile first(a), second(b);
    first.write("new a");
    second.write("new b");
    StagedFile* both[] = {&first, &second};
    EXPECT_EQ(commit_all(both), std::nullopt);
    EXPECT_EQ(read_file(a), "new a");
    EXPECT_EQ(read_file(b), "new b");
}

TEST(StagedFile, DevicesAreWrittenInPlaceNeverReplaced) {
    EXPECT_EQ(write_file("/dev/null", "bytes"), std::nullopt);
    EXPECT_EQ(write_file("/dev/full", "bytes"),
              "cannot write '/dev/full': No space left on device");
    struct stat st {};
    ASSERT_EQ(::stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// SIGINT, SIGTERM and SIGHUP in the middle of writing two outputs: a child process stops
// with both staged and is ended by the signal. Its status is the signal's, no temporary
// is left, and the file it would have replaced is as it was.
TEST(StagedFile, ASignalEndingTheProgramRemovesWhatIsStaged) {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        struct sigaction before {};
        ::sigaction(sig, nullptr, &before);
        if (before.sa_handler == SIG_IGN) continue;  // run under nohup: the program keeps it so
        ScratchDir dir;
        const fs::path mid = dir.path() / "k.mid", wav = dir.path() / "k.wav";
        test::write_file(mid, "old melody");
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            StagedFile first(mid), second(wav);
            const bool staged =
                first.write("new melody") && second.write(std::string(1 << 20, 'a'));
            if (!staged || ::write(ready[1], "r", 1) != 1) ::_exit(2);
            for (;;) ::pause();
        }
        ::close(ready[1]);
        char byte = 0;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        ::close(ready[0]);
        EXPECT_EQ(names_in(dir.path()).size(), 3u);  // the file and two temporaries
        ASSERT_EQ(::kill(child, sig), 0);
        int wstatus = 0;
        ASSERT_EQ(::waitpid(child, &wstatus, 0), child);
        EXPECT_TRUE(WIFSIGNALED(wstatus) && WTERMSIG(wstatus) == sig) << wstatus;
        EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"k.mid"});
        EXPECT_EQ(read_file(mid), "old melody");
    }
}

/// The PID of a process that has ended.
pid_t ended_pid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

TEST(StagedFile, TemporariesAreKnownByTheirWholeName) {
    long pid = 0;
    EXPECT_TRUE(temporary_name(".k.mid.4242.0.1a2b3c.tmp", pid));
    EXPECT_EQ(pid, 4242);
    EXPECT_TRUE(temporary_name("..hidden.4242.17.f.tmp", pid));
    for (const char* other : {"k.mid.4242.0.1a.tmp", ".k.mid.4242.0.1a.tmp~", ".4242.0.1a.tmp",
                              ".k.mid.4242.1a.tmp", ".k.mid.0.0.1a.tmp", ".k.mid.42x.0.1a.tmp",
                              ".k.mid.4242.0.1A.tmp", ".k.mid.99999999999.0.1a.tmp", ".tmp"}) {
        EXPECT_FALSE(temporary_name(other, pid)) << other;
    }
}

// What a program killed outright left: the next write into the folder removes its
// temporaries, and only those. A running writer's, another name, a link (and what it
// leads to) and a folder stay.
TEST(StagedFile, TheNextWriteRemovesTheTemporariesOfEndedProcesses) {
    ScratchDir dir, elsewhere;
    const std::string dead = std::to_string(ended_pid());
    struct Running {
        pid_t pid = ::fork();
        ~Running() {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    } running;
    if (running.pid == 0) {
        for (;;) ::pause();
    }
    const std::string alive = std::to_string(running.pid);
    const fs::path victim = elsewhere.path() / "victim";
    test::write_file(victim, "keep me");
    const std::vector<std::string> stale = {".k.mid." + dead + ".0.1a2b.tmp",
                                            ".k.wav." + dead + ".1.ff.tmp"};
    const std::vector<std::string> kept = {
        ".k.mid." + alive + ".0.1a2b.tmp",  // its writer still runs
        "k.mid." + dead + ".0.1a2b.tmp",    // not a name this program makes
        ".k.mid." + dead + ".tmp",         ".notes.txt", "k.mid",
    };
    for (const auto& name : stale) test::write_file(dir.path() / name, "partial");
    for (const auto& name : kept) test::write_file(dir.path() / name, "kept");
    const std::string link = ".v.mid." + dead + ".0.1.tmp", folder = ".d.mid." + dead + ".0.1.tmp";
    fs::create_symlink(victim, dir.path() / link);
    fs::create_directory(dir.path() / folder);

    EXPECT_EQ(write_file(dir.path() / "new.mid", "new"), std::nullopt);
    std::vector<std::string> expected = kept;
    expected.insert(expected.end(), {link, folder, "new.mid"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names_in(dir.path()), expected);
    EXPECT_EQ(read_file(victim), "keep me");
    // Once per folder: what appears later waits for the next run.
    test::write_file(dir.path() / stale[0], "partial");
    EXPECT_EQ(write_file(dir.path() / "new.mid", "newer"), std::nullopt);
    EXPECT_TRUE(fs::exists(dir.path() / stale[0]));
    EXPECT_EQ(remove_stale_temporaries(dir.path()), 1);
    EXPECT_EQ(names_in(dir.path()), expected);
}

}  // namespace
}  // namespace quavella::files
