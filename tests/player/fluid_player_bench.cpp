// How fast play starts: from play() to the player's first tick, and to the first audible
// samples in the recording of the "file" output (rendered in real time). The output starts
// at each play, as a sound device's does.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "app/player/fluid_player.h"
#include "tests/player/player_test_support.h"

namespace {

using namespace quavella;
using namespace quavella::player_test;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Setup {
    fs::path dir =
        fs::temp_directory_path() / ("quavella_player_bench_" + std::to_string(::getpid()));
    std::string midi;
    std::string wav;

    Setup() {
        fs::create_directories(dir);
        midi = (dir / "bench.mid").string();
        wav = (dir / "bench.wav").string();
        write_file(midi, melody(0, run_of_notes(20, 200, 50)));
    }
    ~Setup() { fs::remove_all(dir); }
};

FluidPlayer::Options file_output(const std::string& wav) {
    FluidPlayer::Options options;
    options.drivers = std::vector<std::string>{"file"};
    options.file_name = wav;
    return options;
}

// The offset of the first audible sample written at or after `from`, or -1.
long audible_from(const std::string& wav, long from) {
    std::ifstream in(wav, std::ios::binary);
    const std::string b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t data = b.find("data");
    if (data == std::string::npos) return -1;
    const long start = static_cast<long>(data) + 8;
    long at = std::max(from, start);
    at -= (at - start) % 4;  // whole stereo frames of 16-bit samples
    for (; at + 4 <= static_cast<long>(b.size()); at += 2) {
        const auto lo = static_cast<unsigned char>(b[static_cast<std::size_t>(at)]);
        const auto hi = static_cast<unsigned char>(b[static_cast<std::size_t>(at) + 1]);
        const int v = static_cast<std::int16_t>(lo | (hi << 8));
        if (std::abs(v) > 300) return at;
    }
    return -1;
}

void BM_PlayToFirstTick(benchmark::State& state) {
    Setup setup;
    FluidPlayer player(file_output(setup.wav));
    player.preload();
    player.wait_until_loaded(std::chrono::seconds(30));  // a play then starts at once
    for (auto _ : state) {
        player.open(setup.midi);
        const auto start = Clock::now();
        player.play();
        while (player.current_tick() == 0) {
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        player.close();
    }
}
BENCHMARK(BM_PlayToFirstTick)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

void BM_PlayToFirstSound(benchmark::State& state) {
    Setup setup;
    FluidPlayer player(file_output(setup.wav));
    player.preload();
    player.wait_until_loaded(std::chrono::seconds(30));  // a play then starts at once
    for (auto _ : state) {
        player.open(setup.midi);
        const long before = 0;  // each open records into a new file from its first play
        const auto start = Clock::now();
        player.play();
        while (audible_from(setup.wav, before) < 0) {
            if (Clock::now() - start > std::chrono::seconds(5)) {
                state.SkipWithError("no sound within 5 s");
                break;
            }
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        player.close();
    }
}
BENCHMARK(BM_PlayToFirstSound)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

// Without preload, the first play returns at once and the melody starts once FluidSynth,
// the soundfont and the ready programs are loaded; later plays only start the output.
void BM_FirstPlayWithoutPreload(benchmark::State& state) {
    Setup setup;
    for (auto _ : state) {
        FluidPlayer player(file_output(setup.wav));
        player.open(setup.midi);
        const auto start = Clock::now();
        player.play();
        while (player.state() != FluidPlayer::State::playing) {
            if (!player.starting()) {
                state.SkipWithError("the melody did not start");
                return;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        const auto first = Clock::now();
        player.stop();
        const auto again = Clock::now();
        player.play();
        const auto replay = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(first - start).count());
        state.counters["replay_ms"] =
            std::chrono::duration<double, std::milli>(replay - again).count();
    }
}
BENCHMARK(BM_FirstPlayWithoutPreload)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
