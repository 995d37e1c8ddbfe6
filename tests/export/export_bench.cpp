// Speed of the exports: the MusicXML document of a four-line lyric and of 100 KB
// of lyrics, and the audio render of a four-line lyric at piano with the
// soundfont load included (its speed also as a multiple of real time).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "export/audio_render.h"
#include "export/musicxml.h"
#include "score_fixture.h"

namespace quavella::export_test {
namespace {

namespace fs = std::filesystem;

fs::path scratch(const std::string& name) {
    const fs::path dir = fs::exists("/dev/shm") ? "/dev/shm" : fs::temp_directory_path();
    return dir / ("quavella-export-bench-" + std::to_string(::getpid()) + "-" + name);
}

/// Four lines of seven characters (GBK), as in the composer's benchmarks.
std::string four_lines() {
    const std::string line1 = "\xCE\xD2\xB0\xAE\xB1\xB1\xBE\xA9\xCC\xEC\xB0\xB2\xC3\xC5\xA3\xAC";
    const std::string line2 = "\xCC\xEC\xB0\xB2\xC3\xC5\xC9\xCF\xCC\xAB\xD1\xF4\xC9\xFD\xA1\xA3";
    return line1 + line2 + line1 + line2;
}

std::string hundred_kilobytes() {
    const std::string four = four_lines();
    std::string text;
    while (text.size() + four.size() <= 100 * 1024) text += four;
    return text;
}

/// The score of a composition of `gbk_text` at piano.
notation::Score score_for(const std::string& gbk_text) {
    const fs::path midi = scratch("temp.mid");
    auto score = composed_score(gbk_text, 1, 1, 0, midi);
    fs::remove(midi);
    return score;
}

void BM_MusicXmlFourLines(benchmark::State& state) {
    const auto score = score_for(four_lines());
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string doc = exports::musicxml_document(score);
        bytes = doc.size();
        benchmark::DoNotOptimize(doc.data());
    }
    state.counters["notes"] = static_cast<double>(score.melody.notes.size());
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_MusicXmlFourLines)->Unit(benchmark::kMicrosecond);

void BM_MusicXmlHundredKilobytes(benchmark::State& state) {
    const auto score = score_for(hundred_kilobytes());
    for (auto _ : state) {
        const std::string doc = exports::musicxml_document(score);
        benchmark::DoNotOptimize(doc.data());
    }
    state.counters["notes"] = static_cast<double>(score.melody.notes.size());
}
BENCHMARK(BM_MusicXmlHundredKilobytes)->Unit(benchmark::kMillisecond);

// What the user waits for: the file written (to memory-backed disk here).
void BM_MusicXmlFileHundredKilobytes(benchmark::State& state) {
    const auto score = score_for(hundred_kilobytes());
    const fs::path out = scratch("song.musicxml");
    for (auto _ : state) {
        if (const auto error = exports::write_musicxml(score, out))
            state.SkipWithError(error->c_str());
    }
    state.counters["bytes"] = static_cast<double>(fs::file_size(out));
    fs::remove(out);
}
BENCHMARK(BM_MusicXmlFileHundredKilobytes)->Unit(benchmark::kMillisecond);

void BM_AudioFourLinesPiano(benchmark::State& state) {
    const auto score = score_for(four_lines());
    const fs::path out = scratch("song.wav");
    long ticks = 0;
    for (const int t : score.melody.ticks) ticks += t;
    const double music_seconds = static_cast<double>(ticks) * 60.0 / (score.melody.tempo * 120.0);
    for (auto _ : state) {
        if (const auto error = exports::render_audio(score, out))
            state.SkipWithError(error->c_str());
    }
    // Seconds of music rendered per second: the speed as a multiple of real time.
    state.counters["x_realtime"] = benchmark::Counter(
        music_seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["music_s"] = music_seconds;
    state.counters["file_s"] = static_cast<double>(fs::file_size(out) - 44) / (4.0 * 44100.0);
    fs::remove(out);
}
BENCHMARK(BM_AudioFourLinesPiano)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quavella::export_test

BENCHMARK_MAIN();
