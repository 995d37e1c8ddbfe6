// MIDI export with lyrics, written through MidiWrite like the composition file.
#include "export/lyrics_midi.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "export/export_file.h"
#include "export/export_text.h"
#include "export/karaoke.h"
#include "export/text_midi_write.h"

namespace quavella::exports {

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
        TextMidiWrite out(stream, file.string(), error);
        out.header(1, 1, notation::kTicksPerBeat);
        out.starttrack();
        if (!title.empty()) out.text(kMetaTrackName, title);
        out.text(kMetaText, kLyricsEncodingText);
        out.keysignature(0, 0);
        out.tempo(60000000 / tempo);
        out.programchange(kMelodyChannel, program);
        out.starttrack();
        out.programchange(kMelodyChannel, program);
        const std::vector<KaraokeSyllable> syllables = karaoke_syllables(melody);
        auto next = syllables.begin();
        const std::size_t n = std::min(melody.notes.size(), melody.ticks.size());
        for (std::size_t i = 0; i < n; ++i) {
            const auto key = static_cast<std::uint8_t>(std::clamp(melody.notes[i], 0, 127));
            if (next != syllables.end() && next->note == i) {
                out.text(kMetaLyric, lyric_event_text(*next));
                ++next;
            }
            out.noteon(kMelodyChannel, key, kMelodyVelocity);
            out.pause(static_cast<std::uint32_t>(std::max(melody.ticks[i], 0)));
            out.noteoff(kMelodyChannel, key, kMelodyVelocity);
            out.pause(static_cast<std::uint32_t>(notation::rest_after(melody, i)));
        }
        out.endtrack();
        out.close();
    }
    if (!error.empty()) return write_failure(file, error);
    return std::nullopt;
}

}  // namespace quavella::exports
