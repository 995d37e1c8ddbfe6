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
#include "midi/midiio.h"

namespace quavella::exports {

namespace {

// The composition file's channel, velocity and resolution.
constexpr int kMelodyChannel = 1;
constexpr std::uint8_t kVelocity = 95;

constexpr int kMetaText = 0x01;
constexpr int kMetaTrackName = 0x03;
constexpr int kMetaLyric = 0x05;

/// A MidiWrite that adds text meta events and keeps the first error it reports.
class LyricsMidiWrite final : public MidiWrite {
public:
    LyricsMidiWrite(std::FILE* file, const std::string& name, std::string& error_text)
        : MidiWrite(file, name.c_str()), error_text_(error_text) {}
    ~LyricsMidiWrite() override { close(); }

    void error(const char* message) override {
        if (error_text_.empty()) error_text_ = message;
    }

    /// Writes a text-type meta event (FF type len text).
    void text(int type, std::string_view bytes) {
        putmeta(type, static_cast<std::uint32_t>(bytes.size()), bytes.data());
    }

private:
    std::string& error_text_;
};

}  // namespace

std::optional<std::string> write_lyrics_midi(const notation::Score& score,
                                             const std::filesystem::path& file) {
    return write_staged(
        file, [&](files::StagedFile& staged) { return write_lyrics_midi(score, staged); });
}

std::optional<std::string> write_lyrics_midi(const notation::Score& score,
                                             files::StagedFile& staged) {
    const notation::Melody& melody = score.melody;
    const std::filesystem::path& file = staged.target();
    if (staged.error()) return staged.error();
    errno = 0;
    std::FILE* stream = std::fopen(staged.temp_path().c_str(), "wb");
    if (stream == nullptr) return write_failure(file, std::strerror(errno));

    const int tempo = std::max(melody.tempo, 1);
    const auto program = static_cast<std::uint8_t>(std::clamp(melody.program, 0, 127));
    const std::string title = export_text(score.title);
    std::string error;
    {
        LyricsMidiWrite out(stream, file.string(), error);
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
