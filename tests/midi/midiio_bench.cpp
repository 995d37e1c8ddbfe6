// Speed of the MIDI writer: one million notes written to a file in /dev/shm,
// beside the same bytes written with a single fwrite (the physical limit).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "midi/midiio.h"

namespace {

constexpr int notecount = 1000000;

std::string benchpath(const char* what) {
    return "/dev/shm/midiio_bench_" + std::to_string(getpid()) + "_" + what + ".mid";
}

void writenotes(const char* path) {
    quavella::MidiWrite w(path);
    w.header(1, 1, 120);
    w.starttrack();
    for (int i = 0; i < notecount; ++i) {
        const auto key = static_cast<std::uint8_t>(55 + i % 22);
        w.noteon(1, key, 95);
        w.pause(120);
        w.noteoff(1, key, 95);
    }
    w.endtrack();
}

std::vector<char> readall(const std::string& path) {
    std::vector<char> bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fseek(f, 0, SEEK_END);
        bytes.resize(static_cast<std::size_t>(std::ftell(f)));
        std::fseek(f, 0, SEEK_SET);
        if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) bytes.clear();
        std::fclose(f);
    }
    return bytes;
}

void BM_MidiWriteNotes(benchmark::State& state) {
    const std::string path = benchpath("writer");
    for (auto _ : state) writenotes(path.c_str());
    const auto size = static_cast<std::int64_t>(readall(path).size());
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["file_bytes"] = static_cast<double>(size);
    std::remove(path.c_str());
}
BENCHMARK(BM_MidiWriteNotes)->Unit(benchmark::kMillisecond);

// The same bytes, opened, written with one fwrite and closed.
void BM_SingleFwriteLimit(benchmark::State& state) {
    const std::string source = benchpath("source");
    writenotes(source.c_str());
    const std::vector<char> bytes = readall(source);
    std::remove(source.c_str());
    const std::string path = benchpath("limit");
    for (auto _ : state) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr || std::fwrite(bytes.data(), bytes.size(), 1, f) != 1) {
            state.SkipWithError("cannot write to /dev/shm");
            if (f != nullptr) std::fclose(f);
            break;
        }
        std::fclose(f);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
    std::remove(path.c_str());
}
BENCHMARK(BM_SingleFwriteLimit)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
