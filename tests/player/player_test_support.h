// Helpers for the player's tests and benchmark: small MIDI files built byte by byte,
// a WAV reader for the file driver's output, and waiting with a deadline.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/env_guard.h"

namespace quavella::player_test {

using test::EnvGuard;

using Bytes = std::vector<unsigned char>;

/// One note of a test melody on channel 1: it starts `gap` ticks after the previous
/// note ends and lasts `length` ticks.
struct TestNote {
    int gap;
    int key;
    int length;
};

inline void put_varlen(Bytes& out, std::uint32_t value) {
    unsigned char groups[5];
    int n = 0;
    do {
        groups[n++] = static_cast<unsigned char>(value & 0x7f);
        value >>= 7;
    } while (value != 0);
    while (n > 1) out.push_back(static_cast<unsigned char>(groups[--n] | 0x80));
    out.push_back(groups[0]);
}

inline void put_be(Bytes& out, std::uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

/// A format 0 file whose ticks last 1 ms (division 1000, tempo 1 000 000 us per beat):
/// a program change on channel 1, then the notes, then the end of the track.
inline Bytes melody(int program, const std::vector<TestNote>& notes, int tail = 0,
                    int velocity = 100) {
    Bytes track;
    track.insert(track.end(), {0x00, 0xff, 0x51, 0x03, 0x0f, 0x42, 0x40});
    track.insert(track.end(), {0x00, 0xc1, static_cast<unsigned char>(program)});
    for (const auto& n : notes) {
        put_varlen(track, static_cast<std::uint32_t>(n.gap));
        track.insert(track.end(), {0x91, static_cast<unsigned char>(n.key),
                                   static_cast<unsigned char>(velocity)});
        put_varlen(track, static_cast<std::uint32_t>(n.length));
        track.insert(track.end(), {0x81, static_cast<unsigned char>(n.key), 64});
    }
    put_varlen(track, static_cast<std::uint32_t>(tail));
    track.insert(track.end(), {0xff, 0x2f, 0x00});

    Bytes file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x03, 0xe8, 'M', 'T', 'r', 'k'};
    put_be(file, static_cast<std::uint32_t>(track.size()), 4);
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

/// `count` notes of `length` ticks, `gap` ticks apart, rising from middle C.
inline std::vector<TestNote> run_of_notes(int count, int length, int gap) {
    std::vector<TestNote> notes;
    for (int i = 0; i < count; ++i) notes.push_back({i == 0 ? 0 : gap, 60 + 2 * (i % 6), length});
    return notes;
}

/// The length in ticks of a melody built from `notes` and `tail`.
inline int melody_ticks(const std::vector<TestNote>& notes, int tail = 0) {
    int ticks = tail;
    for (const auto& n : notes) ticks += n.gap + n.length;
    return ticks;
}

inline void write_file(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

/// The first channel of a 16-bit PCM WAV file, as the file driver writes it. A header
/// whose sizes were not written yet (the driver still running) is read up to the file's end.
struct Wav {
    int rate = 0;
    std::vector<std::int16_t> samples;
};

inline Wav read_wav(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Wav wav;
    auto le = [&](std::size_t at, int n) {
        std::uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<std::size_t>(i)];
        return v;
    };
    if (b.size() < 12 || std::string(b.begin(), b.begin() + 4) != "RIFF") return wav;
    int channels = 0;
    int bits = 0;
    for (std::size_t pos = 12; pos + 8 <= b.size();) {
        const std::string id(b.begin() + static_cast<long>(pos),
                             b.begin() + static_cast<long>(pos) + 4);
        std::size_t len = le(pos + 4, 4);
        pos += 8;
        if (id == "fmt " && pos + 16 <= b.size()) {
            channels = static_cast<int>(le(pos + 2, 2));
            wav.rate = static_cast<int>(le(pos + 4, 4));
            bits = static_cast<int>(le(pos + 14, 2));
        } else if (id == "data") {
            if (len == 0 || len > b.size() - pos) len = b.size() - pos;
            if (channels <= 0 || bits != 16) return wav;
            const std::size_t frame = 2 * static_cast<std::size_t>(channels);
            for (std::size_t at = pos; at + frame <= pos + len; at += frame) {
                wav.samples.push_back(static_cast<std::int16_t>(le(at, 2)));
            }
            return wav;
        }
        pos += len + (len & 1);
    }
    return wav;
}

/// RMS of each 10 ms window.
inline std::vector<double> envelope(const Wav& wav) {
    std::vector<double> out;
    const std::size_t win = static_cast<std::size_t>(wav.rate / 100);
    if (win == 0) return out;
    for (std::size_t at = 0; at + win <= wav.samples.size(); at += win) {
        double sum = 0;
        for (std::size_t i = at; i < at + win; ++i) sum += double(wav.samples[i]) * wav.samples[i];
        out.push_back(std::sqrt(sum / double(win)));
    }
    return out;
}

/// The number of frames a WAV file holds so far; 0 when there is none.
inline std::size_t wav_frames(const std::filesystem::path& path) {
    return read_wav(path).samples.size();
}

/// The peak of the first channel in dBFS; -inf for silence.
inline double peak_dbfs(const Wav& wav) {
    int peak = 0;
    for (std::int16_t v : wav.samples) peak = std::max(peak, std::abs(int{v}));
    return 20.0 * std::log10(peak / 32768.0);
}

/// Polls `done` every 2 ms until it holds or `timeout_ms` has passed.
inline bool wait_for(const std::function<bool()>& done, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

inline void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace quavella::player_test
