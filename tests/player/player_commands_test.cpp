// The window's commands over the real FluidSynth player on a machine where no audio output
// starts: composing completes exactly as with sound, saving works, and play explains itself
// until an output is there. Only the message boxes, the waits and the dialog are fakes.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "app/commands/std_platform.h"
#include "app/commands/window_commands.h"
#include "app/player/fluid_player.h"
#include "tests/player/player_test_support.h"

namespace quavella {
namespace {

using namespace player_test;
namespace fs = std::filesystem;

struct Boxes : MessageBox {
    void show(const std::string& text, const std::string&) override { shown.push_back(text); }
    void error(const std::string& text, const std::string&) override { errors.push_back(text); }
    std::vector<std::string> shown;
    std::vector<std::string> errors;
};

struct NoWait : Sleeper {
    void sleep_ms(int) override {}
};

struct Answer : SaveDialog {
    std::optional<std::string> ask() override { return name; }
    std::optional<std::string> name;
};

struct Buttons : ButtonPanel {
    void set_enabled(int button, bool enabled) override { state.at(button) = enabled; }
    std::array<bool, 6> state{false, true, false, false, false, false};
};

struct Clock42 : Clock {
    std::uint64_t now() override { return 42; }
};

/// A fresh working directory for the play files, made current for one test.
class WorkDir {
public:
    WorkDir() : old_(fs::current_path()) {
        std::string pattern = (fs::temp_directory_path() / "quavella-play-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
        fs::current_path(path_);
    }
    ~WorkDir() {
        fs::current_path(old_);
        fs::remove_all(path_);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path old_;
    fs::path path_;
};

// The way a window reports an error: the command's exception text in the error box.
template <typename Command>
void run(Boxes& boxes, Command command) {
    try {
        command();
    } catch (const CommandError& e) {
        boxes.error(e.what(), "quavella");
    }
}

TEST(PlayerCommandsTest, WithoutAnAudioOutputComposingAndSavingWorkAndPlayExplains) {
    const WorkDir work;
    // No driver that can start: the environment names one that does not exist.
    const EnvGuard no_output("QUAVELLA_AUDIO_DRIVER", "nosuch");
    const EnvGuard recording("QUAVELLA_AUDIO_FILE", (work.path() / "out.wav").c_str());
    Boxes boxes;
    FsFileCopier copier;
    NoWait sleeper;
    Answer dialog;
    Buttons buttons;
    FluidPlayer::Options options;
    FluidPlayer player(options);
    player.preload();
    ASSERT_TRUE(player.wait_until_loaded(std::chrono::seconds(30)));  // a play then fails at once
    WindowCommands commands({boxes, copier, sleeper, dialog, buttons, player}, "quavella");
    Clock42 clock;
    commands.start_up(clock, work.path().string());

    commands.compose({{"春眠不觉晓，处处闻啼鸟。", "夜来风雨声，花落知多少。"}, 2, 0, 3});
    EXPECT_EQ(boxes.shown, std::vector<std::string>{"作曲完成"});
    EXPECT_TRUE(boxes.errors.empty());
    const std::array<bool, 6> loaded = {false, false, true, true, true, true};
    EXPECT_EQ(buttons.state, loaded);
    EXPECT_EQ(commands.play_file(), "2.mid");

    dialog.name = (work.path() / "kept").string();
    run(boxes, [&] { commands.save_as(); });
    EXPECT_TRUE(fs::exists(work.path() / "kept.mid"));
    EXPECT_EQ(boxes.shown.size(), 1u) << boxes.shown.back();

    run(boxes, [&] { commands.play(); });
    ASSERT_EQ(boxes.errors.size(), 1u);
    EXPECT_EQ(boxes.errors[0].rfind("没有可用的音频输出，无法播放。\n原因：nosuch：", 0), 0u)
        << boxes.errors[0];
    EXPECT_EQ(buttons.state, loaded);
    EXPECT_EQ(player.state(), FluidPlayer::State::stopped);

    // The output is there now (as when the sound server starts): the next play plays.
    const EnvGuard file_output("QUAVELLA_AUDIO_DRIVER", "file");
    run(boxes, [&] { commands.play(); });
    EXPECT_EQ(boxes.errors.size(), 1u) << boxes.errors.back();
    EXPECT_EQ(player.state(), FluidPlayer::State::playing);
    ASSERT_TRUE(wait_for([&] { return player.current_tick() >= 400; }, 5000));
    run(boxes, [&] { commands.stop(); });
    const std::array<bool, 6> stopped = {false, true, false, false, true, true};
    EXPECT_EQ(buttons.state, stopped);
    player.close();
    const auto [first, last] = [&] {
        const auto env = envelope(read_wav(work.path() / "out.wav"));
        std::size_t a = env.size(), b = 0;
        for (std::size_t i = 0; i < env.size(); ++i) {
            if (env[i] > 100.0) {
                a = std::min(a, i);
                b = i + 1;
            }
        }
        return std::pair{a, b};
    }();
    EXPECT_LT(first, last) << "the melody was not heard";
}

TEST(PlayerCommandsTest, WithoutTheSoundfontComposingCompletesAndPlayNamesThePackage) {
    const WorkDir work;
    const EnvGuard file_output("QUAVELLA_AUDIO_DRIVER", "file");
    Boxes boxes;
    FsFileCopier copier;
    NoWait sleeper;
    Answer dialog;
    Buttons buttons;
    FluidPlayer::Options options;
    options.soundfont = (work.path() / "missing.sf3").string();
    FluidPlayer player(options);
    player.preload();
    ASSERT_TRUE(player.wait_until_loaded(std::chrono::seconds(30)));  // a play then fails at once
    WindowCommands commands({boxes, copier, sleeper, dialog, buttons, player}, "quavella");
    Clock42 clock;
    commands.start_up(clock, work.path().string());

    commands.compose({{"春眠不觉晓，处处闻啼鸟。夜来风雨声，花落知多少。"}, 0, 0, 0});
    EXPECT_EQ(boxes.shown, std::vector<std::string>{"作曲完成"});
    run(boxes, [&] { commands.play(); });
    ASSERT_EQ(boxes.errors.size(), 1u);
    EXPECT_NE(boxes.errors[0].find("查找的音色库：" + options.soundfont), std::string::npos)
        << boxes.errors[0];
    EXPECT_NE(boxes.errors[0].find("fluid-soundfont-gm"), std::string::npos);
    EXPECT_EQ(buttons.state[2], true);
}

}  // namespace
}  // namespace quavella
