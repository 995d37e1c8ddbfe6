// Whole-file writes: the new bytes or the old file, never a part, and never a
// temporary file left behind, on real file systems (a full one when it can be mounted).
#include "base/file_write.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/files.h"

namespace quavella {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(WriteFileAtomically, WritesReplacesOrRefusesAndLeavesNothingElse) {
    test::ScratchDir dir;
    const fs::path file = dir.path() / "song.mid";
    EXPECT_FALSE(write_file_atomically(file, "first", false));
    EXPECT_EQ(test::read_file(file), "first");
    EXPECT_EQ(write_file_atomically(file, "second", false), std::errc::file_exists);
    EXPECT_EQ(test::read_file(file), "first") << "never replaced without asking";
    EXPECT_FALSE(write_file_atomically(file, "third", true));
    EXPECT_EQ(test::read_file(file), "third");
    EXPECT_FALSE(write_file_atomically(file, std::string(), true));
    EXPECT_EQ(fs::file_size(file), 0u);
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"song.mid"});

    // A plain create's rights: what the umask leaves of 0666.
    const mode_t mask = ::umask(022);
    EXPECT_FALSE(write_file_atomically(dir.path() / "new.mid", "x", false));
    ::umask(mask);
    EXPECT_EQ(fs::status(dir.path() / "new.mid").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
}

TEST(WriteFileAtomically, FailuresGiveTheReasonAndLeaveTheFolderAsItWas) {
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
         std::errc::file_exists},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(write_file_atomically(row.target, "bytes", row.replace), row.reason);
        EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"taken"});
    }
}

TEST(WriteFileAtomically, AFullDiskKeepsTheOldFile) {
    test::ScratchDir dir;
    const fs::path small = dir.path() / "small";
    fs::create_directories(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and the right to mount)";
    }
    const fs::path file = small / "temp.mid";
    EXPECT_FALSE(write_file_atomically(file, "the old melody", true));
    EXPECT_EQ(write_file_atomically(file, std::string(256 * 1024, 'x'), true),
              std::errc::no_space_on_device);
    EXPECT_EQ(test::read_file(file), "the old melody");
    EXPECT_EQ(names_in(small), std::vector<std::string>{"temp.mid"});
    ::umount2(small.c_str(), MNT_DETACH);
}

}  // namespace
}  // namespace quavella
