// MIDI export with lyrics, written through MidiWrite like the composition file.
#include "export/lyrics_midi.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "export/export_file.h"
#include "export/export_text.h"
#include "midi/kept_error_write.h"

namespace quavella::exports {

namespace {

// The composition file's channel, velocity and resolution.
constexpr int kMelodyChannel = 1;
constexpr std::uint8_t kVelocity = 95;

constexpr int kMetaText = 0x01;
constexpr int kMetaTrackName = 0x03;
constexpr int kMetaLyric = 0x05;

}  // namespace

std::optional<std::string> write_lyrics_midi(const notation::Score& score,
                                             const std::filesystem::path& file) {
    const notation::Melody& melody = score.melody;
    errno = 0;
    std::FILE* stream = std::fopen(file.c_str(), "wb");
    if (stream == nullptr) return write_failure(file, std::strerror(errno));

    const int tempo = std::max(melody.tempo, 1);
    const auto program = static_cast<std::uint8_t>(std::clamp(melody.program, 0, 127));
    const std::string title = export_text(score.title);
    std::string error;
    {
        KeptErrorWrite out(stream, file.string(), error);
        out.header(1, 1, notation::kTicksPerBeat);
        out.starttrack();
        if (!title.empty()) out.text(kMetaTrackName, title);
        out.text(kMetaText, kLyricsEncodingText);
        out.keysignature(0, 0);
        out.tempo(60000000 / tempo);
        out.programchange(kMelodyChannel, program);
        out.starttrack();
        out.programchange(kMelodyChannel, program);
        const std::size_t n = std::min(melody.notes.size(), melody.ticks.size());
        for (std::size_t i = 0; i < n; ++i) {
            const auto key = static_cast<std::uint8_t>(std::clamp(melody.notes[i], 0, 127));
            if (i < melody.lyrics.size()) {
                const std::string syllable = sung_text(melody.lyrics[i]);
                if (!syllable.empty()) out.text(kMetaLyric, syllable);
            }
            out.noteon(kMelodyChannel, key, kVelocity);
            out.pause(static_cast<std::uint32_t>(std::max(melody.ticks[i], 0)));
            out.noteoff(kMelodyChannel, key, kVelocity);
        }
        out.endtrack();
        out.close();
    }
    if (!error.empty()) return write_failure(file, error);
    return std::nullopt;
}

}  // namespace quavella::exports
