// Voicing the chords, playing them in a pattern, and the arrangement file.
#include "harmony/accompaniment.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "midi/kept_error_write.h"
#include "midi/memory_file.h"

namespace quavella::harmony {

namespace {

constexpr int kMelodyChannel = 1;
constexpr std::uint8_t kMelodyVelocity = 95;
constexpr int kMetaTrackName = 0x03;
constexpr int kEighth = notation::kTicksPerBeat / 2;

/// The pitch with pitch class `pc` in [low, high] nearest `from` (the lower of two).
int nearest(int pc, int from, int low, int high) {
    int best = -1;
    for (int key = low; key <= high; ++key) {
        if (((key % 12) + 12) % 12 != pc) continue;
        if (best < 0 || std::abs(key - from) < std::abs(best - from)) best = key;
    }
    return best < 0 ? std::clamp(from, low, high) : best;
}

/// The lowest melody note sounding in each slot; 128 where none sounds.
std::vector<int> lowest_in_slots(std::span<const int> notes, std::span<const int> ticks,
                                 std::span<const int> rests, std::size_t slots) {
    std::vector<int> lowest(slots, 128);
    std::int64_t start = 0;
    const std::size_t n = std::min(notes.size(), ticks.size());
    for (std::size_t i = 0; i < n; ++i) {
        const std::int64_t end = start + std::max(ticks[i], 0);
        for (std::int64_t k = start / kSlotTicks;
             k < static_cast<std::int64_t>(slots) && k * kSlotTicks < end; ++k) {
            int& low = lowest[static_cast<std::size_t>(k)];
            low = std::min(low, notes[i]);
        }
        start = end + (i < rests.size() ? std::max(rests[i], 0) : 0);
    }
    return lowest;
}

}  // namespace

const char* pattern_name(Pattern pattern) {
    switch (pattern) {
        case Pattern::block:
            return "block";
        case Pattern::broken:
            return "broken";
        case Pattern::pad:
            return "pad";
    }
    return "block";
}

std::optional<Pattern> pattern_of(std::string_view name) {
    for (Pattern p : {Pattern::block, Pattern::broken, Pattern::pad})
        if (name == pattern_name(p)) return p;
    return std::nullopt;
}

std::vector<Voicing> voice_chords(const Harmony& harmony, std::span<const int> notes,
                                  std::span<const int> ticks, std::span<const int> rests) {
    const std::size_t slots = harmony.chords.size();
    const std::vector<int> lowest = lowest_in_slots(notes, ticks, rests, slots);
    std::vector<Voicing> voicings;
    voicings.reserve(slots);
    std::array<int, 3> voices{kVoiceCeiling - 9, kVoiceCeiling - 5, kVoiceCeiling - 1};
    int bass = 40;
    static constexpr std::array<std::array<int, 3>, 6> kOrders{
        {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}}};
    for (std::size_t k = 0; k < slots; ++k) {
        const std::array<int, 3> tones = chord_tones(harmony.chords[k]);
        // Below the melody sounding here, with room for a whole octave.
        const int ceiling = std::clamp(std::min(kVoiceCeiling, lowest[k] - 1), 11 + 12, 127);
        const int floor = std::min(kVoiceFloor, ceiling - 11);
        std::array<int, 3> best{};
        int best_moves = -1;
        for (const auto& order : kOrders) {
            std::array<int, 3> placed{};
            int moves = 0;
            for (std::size_t v = 0; v < 3; ++v) {
                placed[v] =
                    nearest(tones[static_cast<std::size_t>(order[v])], voices[v], floor, ceiling);
                moves += std::abs(placed[v] - voices[v]);
            }
            if (best_moves < 0 || moves < best_moves) {
                best_moves = moves;
                best = placed;
            }
        }
        std::sort(best.begin(), best.end());
        voices = best;
        // The bass on the root, below every voice.
        int low = nearest(tones[0], bass, 36, 47);
        while (low >= voices[0] && low - 12 >= 0) low -= 12;
        bass = low;
        voicings.push_back({bass, voices});
    }
    return voicings;
}

std::vector<AccompanimentNote> accompany(const notation::Melody& melody, const Harmony& harmony,
                                         Pattern pattern) {
    const std::vector<Voicing> voicings =
        voice_chords(harmony, melody.notes, melody.ticks, melody.rests);
    std::vector<AccompanimentNote> out;
    const std::size_t slots = voicings.size();
    for (std::size_t k = 0; k < slots; ++k) {
        const std::int64_t at = static_cast<std::int64_t>(k) * kSlotTicks;
        const Voicing& v = voicings[k];
        switch (pattern) {
            case Pattern::block:
                out.push_back({at, kSlotTicks, v.bass, kBassVelocity});
                for (int key : v.voices) out.push_back({at, kSlotTicks, key, kChordVelocity});
                break;
            case Pattern::broken: {
                out.push_back({at, kSlotTicks, v.bass, kBassVelocity});
                const bool up = k % 2 == 0;
                for (int i = 0; i < 3; ++i) {
                    const int key = v.voices[static_cast<std::size_t>(up ? i : 2 - i)];
                    out.push_back({at + (i + 1) * kEighth, kEighth, key, kChordVelocity});
                }
                break;
            }
            case Pattern::pad: {
                out.push_back({at, kSlotTicks, v.bass, kBassVelocity});
                // The chord held from where it starts to where it changes.
                if (k > 0 && harmony.chords[k] == harmony.chords[k - 1] &&
                    voicings[k].voices == voicings[k - 1].voices)
                    break;
                std::size_t end = k + 1;
                while (end < slots && harmony.chords[end] == harmony.chords[k] &&
                       voicings[end].voices == v.voices)
                    ++end;
                const int length = static_cast<int>((end - k) * kSlotTicks);
                for (int key : v.voices) out.push_back({at, length, key, kChordVelocity});
                break;
            }
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
        return a.start != b.start ? a.start < b.start : a.key < b.key;
    });
    return out;
}

void write_accompaniment(KeptErrorWrite& out, std::span<const AccompanimentNote> notes,
                         int program) {
    struct Event {
        std::int64_t tick;
        bool on;
        int key;
        int velocity;
    };
    std::vector<Event> events;
    events.reserve(notes.size() * 2);
    for (const AccompanimentNote& n : notes) {
        events.push_back({n.start, true, n.key, n.velocity});
        events.push_back({n.start + std::max(n.ticks, 0), false, n.key, 0});
    }
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        if (a.tick != b.tick) return a.tick < b.tick;
        return !a.on && b.on;
    });
    out.programchange(kAccompanimentChannel,
                      static_cast<std::uint8_t>(std::clamp(program, 0, 127)));
    std::int64_t now = 0;
    for (const Event& e : events) {
        out.pause(static_cast<std::uint32_t>(std::max<std::int64_t>(e.tick - now, 0)));
        now = std::max(now, e.tick);
        const auto key = static_cast<std::uint8_t>(std::clamp(e.key, 0, 127));
        if (e.on)
            out.noteon(kAccompanimentChannel, key,
                       static_cast<std::uint8_t>(std::clamp(e.velocity, 1, 127)));
        else
            out.noteoff(kAccompanimentChannel, key, 0);
    }
}

ArrangementFile arrangement_file(const notation::Melody& melody, const Harmony& harmony,
                                 const ArrangementSettings& settings) {
    ArrangementFile file;
    const std::vector<AccompanimentNote> notes = accompany(melody, harmony, settings.pattern);
    MemoryFile memory;
    {
        KeptErrorWrite out(memory.release_stream(), "memory", file.error);
        const int tempo = std::max(melody.tempo, 1);
        out.header(1, 1, notation::kTicksPerBeat);
        out.starttrack();
        out.keysignature(0, 0);
        out.tempo(60000000 / tempo);

        // 2. The melody as the composition file plays it.
        out.starttrack();
        out.text(kMetaTrackName, "Melody");
        out.programchange(kMelodyChannel,
                          static_cast<std::uint8_t>(std::clamp(melody.program, 0, 127)));
        const std::size_t n = std::min(melody.notes.size(), melody.ticks.size());
        for (std::size_t i = 0; i < n; ++i) {
            const auto key = static_cast<std::uint8_t>(std::clamp(melody.notes[i], 0, 127));
            out.noteon(kMelodyChannel, key, kMelodyVelocity);
            out.pause(static_cast<std::uint32_t>(std::max(melody.ticks[i], 0)));
            out.noteoff(kMelodyChannel, key, kMelodyVelocity);
            out.pause(static_cast<std::uint32_t>(notation::rest_after(melody, i)));
        }

        // 3. The accompaniment.
        out.starttrack();
        out.text(kMetaTrackName, "Accompaniment");
        write_accompaniment(out, notes, settings.program);
        out.endtrack();
        out.close();
    }
    if (file.error.empty()) file.bytes = memory.bytes();
    return file;
}

}  // namespace quavella::harmony
