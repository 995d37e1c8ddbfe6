// The working folder of a start from the menu: the music folder read from user-dirs.dirs,
// the data-folder fallback, the environment's rules, and entering the folder.
#include "app/desktop/work_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "tests/support/files.h"
#include "tests/support/row_name.h"

namespace quavella {
namespace {

namespace fs = std::filesystem;

struct UserDirsRow {
    const char* name;
    std::string text;
    std::optional<fs::path> music;
};

void PrintTo(const UserDirsRow& row, std::ostream* out) { *out << row.name; }

class UserDirsTest : public ::testing::TestWithParam<UserDirsRow> {};

TEST_P(UserDirsTest, MusicFolder) {
    EXPECT_EQ(music_dir_from_user_dirs(GetParam().text, "/home/ann"), GetParam().music);
}

const UserDirsRow kUserDirsRows[] = {
    {"UnderHome", "# written by xdg-user-dirs-update\nXDG_MUSIC_DIR=\"$HOME/Music\"\n",
     fs::path("/home/ann/Music")},
    {"ChineseName", "XDG_DESKTOP_DIR=\"$HOME/桌面\"\nXDG_MUSIC_DIR=\"$HOME/音乐\"\n",
     fs::path("/home/ann/音乐")},
    {"Absolute", "XDG_MUSIC_DIR=\"/srv/music\"", fs::path("/srv/music")},
    {"HomeItself", "XDG_MUSIC_DIR=\"$HOME/\"\n", fs::path("/home/ann/")},
    {"EscapedQuote", "XDG_MUSIC_DIR=\"$HOME/My \\\"Songs\\\"\"\n",
     fs::path("/home/ann/My \"Songs\"")},
    {"IndentedWithCrLf", "  XDG_MUSIC_DIR=\"$HOME/Music\"\r\n", fs::path("/home/ann/Music")},
    {"LaterLineWins", "XDG_MUSIC_DIR=\"$HOME/Old\"\nXDG_MUSIC_DIR=\"$HOME/New\"\n",
     fs::path("/home/ann/New")},
    {"Missing", "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n", std::nullopt},
    {"CommentedOut", "# XDG_MUSIC_DIR=\"$HOME/Music\"\n", std::nullopt},
    {"Relative", "XDG_MUSIC_DIR=\"Music\"\n", std::nullopt},
    {"OtherVariable", "XDG_MUSIC_DIR=\"$HOMEPAGE/Music\"\n", std::nullopt},
    {"Unquoted", "XDG_MUSIC_DIR=$HOME/Music\n", std::nullopt},
    {"PrefixOfAnotherKey", "MY_XDG_MUSIC_DIR=\"$HOME/Music\"\n", std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Rows, UserDirsTest, ::testing::ValuesIn(kUserDirsRows), test::RowName());

/// A scratch home folder and an environment made of a map.
class MenuWorkDirTest : public ::testing::Test {
protected:
    MenuWorkDirTest() : home(scratch.path()) {
        fs::create_directories(home / ".config");
        vars["HOME"] = home.string();
    }

    void write_user_dirs(const fs::path& config, const std::string& text) {
        fs::create_directories(config);
        test::write_file(config / "user-dirs.dirs", text);
    }
    std::optional<fs::path> work_dir() {
        return menu_work_dir([this](const std::string& name) -> std::optional<std::string> {
            const auto it = vars.find(name);
            if (it == vars.end()) return std::nullopt;
            return it->second;
        });
    }

    test::ScratchDir scratch;
    fs::path home;
    std::map<std::string, std::string> vars;
};

TEST_F(MenuWorkDirTest, MusicFolderNamedByTheDesktop) {
    write_user_dirs(home / ".config", "XDG_MUSIC_DIR=\"$HOME/音乐\"\n");
    EXPECT_EQ(work_dir(), home / "音乐" / "Quavella");
}

TEST_F(MenuWorkDirTest, UserDirsUnderXdgConfigHome) {
    write_user_dirs(home / "cfg", "XDG_MUSIC_DIR=\"$HOME/Tunes\"\n");
    write_user_dirs(home / ".config", "XDG_MUSIC_DIR=\"$HOME/Music\"\n");
    vars["XDG_CONFIG_HOME"] = (home / "cfg").string();
    EXPECT_EQ(work_dir(), home / "Tunes" / "Quavella");
}

TEST_F(MenuWorkDirTest, DataFolderWithoutAMusicFolder) {
    // No user-dirs.dirs: ~/.local/share.
    EXPECT_EQ(work_dir(), home / ".local/share/quavella/work");
    // A music folder that is the home folder itself means none.
    write_user_dirs(home / ".config", "XDG_MUSIC_DIR=\"$HOME/\"\n");
    vars["XDG_DATA_HOME"] = (home / "data").string() + "/";
    EXPECT_EQ(work_dir(), home / "data/quavella/work");
}

// The file is read only up to a bound and only when it is a regular file: a larger one, a
// FIFO nobody writes (which would block the start for good) or a folder leaves the default.
TEST_F(MenuWorkDirTest, AnUnusableUserDirsFileKeepsTheDefaultFolder) {
    const std::string line = "XDG_MUSIC_DIR=\"$HOME/Tunes\"\n";
    const fs::path file = home / ".config" / "user-dirs.dirs";
    const fs::path fallback = home / ".local/share/quavella/work";
    // Padding of comment lines before the line, to exactly the bound and one byte past it.
    const auto padded = [&line](std::size_t total) {
        std::string text;
        while (text.size() + line.size() < total) {
            const std::size_t room = total - line.size() - text.size();
            text += "#" + std::string(std::min<std::size_t>(room, 80) - 1, 'x');
            text.back() = '\n';
        }
        return text + line;
    };
    write_user_dirs(home / ".config", padded(kMaxUserDirsBytes));
    ASSERT_EQ(fs::file_size(file), static_cast<std::uintmax_t>(kMaxUserDirsBytes));
    EXPECT_EQ(work_dir(), home / "Tunes" / "Quavella");
    write_user_dirs(home / ".config", padded(kMaxUserDirsBytes + 1));
    ASSERT_EQ(fs::file_size(file), static_cast<std::uintmax_t>(kMaxUserDirsBytes + 1));
    EXPECT_EQ(work_dir(), fallback);

    fs::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    EXPECT_EQ(work_dir(), fallback);  // returns at once: no writer ever opens it
    fs::remove(file);
    fs::create_directory(file);
    EXPECT_EQ(work_dir(), fallback);
}

TEST_F(MenuWorkDirTest, RelativeVariablesAreIgnored) {
    write_user_dirs(home / "cfg", "XDG_MUSIC_DIR=\"$HOME/Tunes\"\n");
    vars["XDG_CONFIG_HOME"] = "cfg";
    vars["XDG_DATA_HOME"] = "data";
    EXPECT_EQ(work_dir(), home / ".local/share/quavella/work");
}

TEST_F(MenuWorkDirTest, NoHomeFolder) {
    vars.erase("HOME");
    EXPECT_EQ(work_dir(), std::nullopt);
    vars["XDG_DATA_HOME"] = "/var/lib/ann";
    EXPECT_EQ(work_dir(), fs::path("/var/lib/ann/quavella/work"));
}

TEST_F(MenuWorkDirTest, EnterCreatesTheFolderOrReportsWhyNot) {
    const fs::path before = fs::current_path();
    const fs::path dir = home / "Music" / "Quavella";
    EXPECT_EQ(enter_work_dir(dir), std::nullopt);
    EXPECT_EQ(fs::current_path(), dir);
    EXPECT_EQ(enter_work_dir(dir), std::nullopt) << "an existing folder is entered as it is";
    fs::current_path(before);

    test::write_file(home / "file", "in the way");
    const auto failure = enter_work_dir(home / "file" / "Quavella");
    ASSERT_TRUE(failure.has_value());
    EXPECT_NE(failure->find((home / "file" / "Quavella").string()), std::string::npos) << *failure;
    EXPECT_EQ(fs::current_path(), before);
}

// A start from the menu with a fresh data home: every folder it makes is its user's alone
// (0700), under any umask; a folder already there keeps its rights.
TEST_F(MenuWorkDirTest, EnterMakesEachFolderForItsOwnerAloneWhateverTheUmask) {
    const fs::path before = fs::current_path();
    ::chmod(home.c_str(), 0755);
    for (const mode_t mask : {0000, 0022, 0077}) {
        SCOPED_TRACE(mask);
        const fs::path data = home / ("data" + std::to_string(mask));
        const mode_t old_mask = ::umask(mask);
        const auto failure = enter_work_dir(data / "quavella" / "work");
        ::umask(old_mask);
        fs::current_path(before);
        ASSERT_EQ(failure, std::nullopt);
        for (const fs::path& made : {data, data / "quavella", data / "quavella" / "work"}) {
            struct stat info {};
            ASSERT_EQ(::stat(made.c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, 0700u) << made;
        }
    }
    struct stat info {};
    ASSERT_EQ(::stat(home.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u);
}

}  // namespace
}  // namespace quavella
