// Whole-file writes: the new bytes or the old file, never a part, and never a
// temporary file left behind, on real file systems (a full one when it can be mounted).
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/staged_file.h"
#include "tests/support/files.h"

namespace quavella {
namespace {

namespace fs = std::filesystem;

/// Writes `bytes` as `target` through a staged file, as every output of the program is
/// written. @return the reason of a failure, or "" when written
std::string write_whole(const fs::path& target, std::string_view bytes, bool replace) {
    files::StagedFile staged(target, {.replace = replace});
    if (staged.write(bytes) && staged.commit()) return "";
    return staged.reason();
}

std::string reason(std::errc e) { return std::strerror(static_cast<int>(e)); }

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(WholeFileWrite, WritesReplacesOrRefusesAndLeavesNothingElse) {
    test::ScratchDir dir;
    const fs::path file = dir.path() / "song.mid";
    EXPECT_EQ(write_whole(file, "first", false), "");
    EXPECT_EQ(test::read_file(file), "first");
    EXPECT_EQ(write_whole(file, "second", false), reason(std::errc::file_exists));
    EXPECT_EQ(test::read_file(file), "first") << "never replaced without asking";
    EXPECT_EQ(write_whole(file, "third", true), "");
    EXPECT_EQ(test::read_file(file), "third");
    EXPECT_EQ(write_whole(file, std::string(), true), "");
    EXPECT_EQ(fs::file_size(file), 0u);
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"song.mid"});

    // A plain create's rights: what the umask leaves of 0666.
    const mode_t mask = ::umask(022);
    EXPECT_EQ(write_whole(dir.path() / "new.mid", "x", false), "");
    ::umask(mask);
    EXPECT_EQ(fs::status(dir.path() / "new.mid").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
}

TEST(WholeFileWrite, FailuresGiveTheReasonAndLeaveTheFolderAsItWas) {
    test::ScratchDir dir;
    fs::create_directory(dir.path() / "taken");
    const struct {
        const char* name;
        fs::path target;
        bool replace;
        std::errc reason;
    } rows[] = {
        {"missing folder", dir.path() / "no" / "such.mid", true,
         std::errc::no_such_file_or_directory},
        {"a folder holds the name", dir.path() / "taken", true, std::errc::is_a_directory},
        {"a folder holds the name, no replace", dir.path() / "taken", false,
         std::errc::is_a_directory},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(write_whole(row.target, "bytes", row.replace), reason(row.reason));
        EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"taken"});
    }
}

TEST(WholeFileWrite, AFullDiskKeepsTheOldFile) {
    test::ScratchDir dir;
    const fs::path small = dir.path() / "small";
    fs::create_directories(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and the right to mount)";
    }
    const fs::path file = small / "temp.mid";
    EXPECT_EQ(write_whole(file, "the old melody", true), "");
    EXPECT_EQ(write_whole(file, std::string(256 * 1024, 'x'), true),
              reason(std::errc::no_space_on_device));
    EXPECT_EQ(test::read_file(file), "the old melody");
    EXPECT_EQ(names_in(small), std::vector<std::string>{"temp.mid"});
    ::umount2(small.c_str(), MNT_DETACH);
}

}  // namespace
}  // namespace quavella
