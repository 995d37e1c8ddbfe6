// How long "生成主旋律" takes beyond its 2000 ms wait: the compose command with
// real files and a sleeper that does not sleep, with a silent player and with
// the FluidSynth player writing to a WAV file.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include "app/commands/window_commands.h"
#include "app/player/fluid_player.h"
#include "app_fakes.h"

namespace quavella {
namespace {

using namespace quavella::test;

struct SilentBox : MessageBox {
    void show(const std::string&, const std::string&) override {}
    void error(const std::string&, const std::string&) override {}
};

struct SilentPlayer : MediaPlayer {
    void open(const std::string&) override {}
    void open_melody(const std::string&, std::string_view) override {}
    void play() override {}
    void play_from(int) override {}
    void pause() override {}
    void stop() override {}
    void close() override {}
    std::optional<int> position_ticks() const override { return std::nullopt; }
};

/// The services of the command, over real files in a scratch directory, with
/// a sleeper that does not sleep and messages that go nowhere.
struct CommandRig {
    ScratchDir dir{ScratchDir::Current::enter};
    EventLog log;
    SilentBox box;
    FsFileCopier copier;
    FakeSleeper sleeper{log};
    FakeSaveDialog dialog;
    FakeButtons buttons;
    FakeClock clock{12345};
    const ComposeInput input{{"春眠不觉晓，处处闻啼鸟。", "夜来风雨声，花落知多少。"}, 1, 0, 0};

    /// Commands over these services and `player`, started up in the scratch directory.
    std::unique_ptr<WindowCommands> commands(MediaPlayer& player) {
        auto made = std::make_unique<WindowCommands>(
            CommandServices{box, copier, sleeper, dialog, buttons, player}, "quavella");
        made->start_up(clock, dir.path().string());
        return made;
    }
};

FluidPlayer::Options wav_output(const std::filesystem::path& wav) {
    FluidPlayer::Options options;
    options.drivers = std::vector<std::string>{"file"};
    options.file_name = wav.string();
    return options;
}

void run_compose(benchmark::State& state, MediaPlayer& player) {
    CommandRig rig;
    const auto commands = rig.commands(player);
    for (auto _ : state) {
        commands->compose(rig.input);
        rig.log.clear();
    }
    player.close();
}

void BM_ComposeCommand(benchmark::State& state) {
    SilentPlayer player;
    run_compose(state, player);
}
BENCHMARK(BM_ComposeCommand)->Unit(benchmark::kMillisecond);

void BM_ComposeCommandWithFluidPlayer(benchmark::State& state) {
    const auto wav = std::filesystem::temp_directory_path() / "quavella-bench.wav";
    FluidPlayer player(wav_output(wav));
    run_compose(state, player);
    std::filesystem::remove(wav);
}
BENCHMARK(BM_ComposeCommandWithFluidPlayer)->Unit(benchmark::kMillisecond);

/// The first composition of a run also loads the soundfont at the player's first open.
void BM_FirstComposeWithFluidPlayer(benchmark::State& state) {
    const auto wav = std::filesystem::temp_directory_path() / "quavella-bench.wav";
    CommandRig rig;
    for (auto _ : state) {
        state.PauseTiming();
        auto player = std::make_unique<FluidPlayer>(wav_output(wav));
        const auto commands = rig.commands(*player);
        state.ResumeTiming();
        commands->compose(rig.input);
        state.PauseTiming();
        player.reset();
        state.ResumeTiming();
    }
    std::filesystem::remove(wav);
}
BENCHMARK(BM_FirstComposeWithFluidPlayer)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace quavella

BENCHMARK_MAIN();
