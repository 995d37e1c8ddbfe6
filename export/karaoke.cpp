// Karaoke lines and the Soft Karaoke file, written through MidiWrite into
// memory, then to the file in one piece.
#include "export/karaoke.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "export/export_file.h"
#include "export/export_text.h"
#include "export/lyrics_midi.h"
#include "export/text_midi_write.h"
#include "midi/memory_file.h"

namespace quavella::exports {

namespace {

/// True when the syllable ends in an ASCII character: the end of a Latin word.
bool ends_a_word(std::string_view text) {
    return !text.empty() && static_cast<unsigned char>(text.back()) < 0x80;
}

}  // namespace

std::vector<KaraokeSyllable> karaoke_syllables(const notation::Melody& melody) {
    std::vector<KaraokeSyllable> out;
    const std::size_t n = std::min(melody.notes.size(), melody.lyrics.size());
    int line = 0;
    bool line_open = false;
    for (std::size_t i = 0; i < n; ++i) {
        const notation::Lyric& lyric = melody.lyrics[i];
        std::string text = sung_text(lyric);
        if (!text.empty()) {
            KaraokeSyllable s;
            s.note = i;
            s.word_end = ends_a_word(text);
            s.text = std::move(text);
            s.line_start = !line_open;
            s.line = line;
            out.push_back(std::move(s));
            line_open = true;
        }
        if (lyric.sentence_end && line_open) {
            out.back().line_end = true;
            out.back().paragraph_end = line % 2 == 1;
            line_open = false;
            ++line;
        }
    }
    if (!out.empty()) out.back().line_end = out.back().paragraph_end = true;
    return out;
}

std::string lyric_event_text(const KaraokeSyllable& syllable) {
    std::string text = syllable.text;
    if (syllable.word_end) text += ' ';
    if (syllable.paragraph_end) {
        text += '\n';
    } else if (syllable.line_end) {
        text += '\r';
    }
    return text;
}

std::string kar_text(const KaraokeSyllable& syllable) {
    std::string text;
    if (syllable.line_start) text = syllable.line % 2 == 0 ? "\\" : "/";
    for (std::size_t i = 0; i < syllable.text.size(); ++i) {
        const char c = syllable.text[i];
        if (c == '/') {
            text += "\xEF\xBC\x8F";  // U+FF0F FULLWIDTH SOLIDUS
        } else if (c == '\\') {
            text += "\xEF\xBC\xBC";  // U+FF3C FULLWIDTH REVERSE SOLIDUS
        } else if (c == '@' && i == 0) {
            text += "\xEF\xBC\xA0";  // U+FF20 FULLWIDTH COMMERCIAL AT
        } else {
            text += c;
        }
    }
    if (syllable.word_end) text += ' ';
    return text;
}

std::optional<std::string> write_karaoke(const notation::Score& score,
                                         const std::filesystem::path& file,
                                         const KaraokeAccompaniment* accompaniment) {
    return write_staged(file, [&](files::StagedFile& staged) {
        return write_karaoke(score, staged, accompaniment);
    });
}

std::optional<std::string> write_karaoke(const notation::Score& score, files::StagedFile& staged,
                                         const KaraokeAccompaniment* accompaniment) {
    const std::filesystem::path& file = staged.target();
    if (staged.error()) return staged.error();
    const notation::Melody& melody = score.melody;
    const int tempo = std::max(melody.tempo, 1);
    const auto program = static_cast<std::uint8_t>(std::clamp(melody.program, 0, 127));
    const std::string title = export_text(score.title);
    const std::vector<KaraokeSyllable> syllables = karaoke_syllables(melody);
    const std::size_t n = std::min(melody.notes.size(), melody.ticks.size());

    std::string error;
    MemoryFile memory;
    std::FILE* stream = memory.release_stream();
    if (stream == nullptr) return write_failure(file, "out of memory");
    {
        TextMidiWrite out(stream, file.string(), error);
        out.header(1, accompaniment != nullptr ? 5 : 4, notation::kTicksPerBeat);
        out.starttrack();
        if (!title.empty()) out.text(kMetaTrackName, title);
        out.keysignature(0, 0);
        out.tempo(60000000 / tempo);

        out.starttrack();
        out.text(kMetaTrackName, "Soft Karaoke");
        out.text(kMetaText, "@KMIDI KARAOKE FILE");
        out.text(kMetaText, "@V0100");
        out.text(kMetaText, "@IQuavella " QUAVELLA_VERSION);
        out.text(kMetaText, kLyricsEncodingText);

        out.starttrack();
        out.text(kMetaTrackName, "Words");
        if (!title.empty()) {
            KaraokeSyllable heading;
            heading.text = title;
            out.text(kMetaText, "@T" + kar_text(heading));
        }
        out.text(kMetaText, "@TQuavella");
        auto next = syllables.begin();
        for (std::size_t i = 0; i < n; ++i) {
            if (next != syllables.end() && next->note == i) {
                out.text(kMetaText, kar_text(*next));
                ++next;
            }
            out.pause(static_cast<std::uint32_t>(std::max(melody.ticks[i], 0)) +
                      static_cast<std::uint32_t>(notation::rest_after(melody, i)));
        }

        out.starttrack();
        out.programchange(kMelodyChannel, program);
        for (std::size_t i = 0; i < n; ++i) {
            const auto key = static_cast<std::uint8_t>(std::clamp(melody.notes[i], 0, 127));
            out.noteon(kMelodyChannel, key, kMelodyVelocity);
            out.pause(static_cast<std::uint32_t>(std::max(melody.ticks[i], 0)));
            out.noteoff(kMelodyChannel, key, kMelodyVelocity);
            out.pause(static_cast<std::uint32_t>(notation::rest_after(melody, i)));
        }
        if (accompaniment != nullptr) {
            out.starttrack();
            harmony::write_accompaniment(out, accompaniment->notes, accompaniment->program);
        }
        out.endtrack();
        out.close();
    }
    if (!error.empty()) return write_failure(file, error);
    ExportFile kar(staged);
    kar.write(memory.bytes().data(), memory.bytes().size());
    return kar.finish();
}

}  // namespace quavella::exports
