// Files written all or nothing: the old file survives every failure (a real
// "File too large" from RLIMIT_FSIZE in a child process, a refused link, a folder
// in the way), no temporary is left behind, and messages name the real reason.
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

}  // namespace
}  // namespace quavella::files
