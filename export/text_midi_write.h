// The MIDI writer the lyric exports share: the core's MidiWrite with text meta
// events, keeping the first error it reports. Used by lyrics_midi.cpp and karaoke.cpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "midi/midiio.h"

namespace quavella::exports {

inline constexpr int kMetaText = 0x01;
inline constexpr int kMetaTrackName = 0x03;
inline constexpr int kMetaLyric = 0x05;

/// The composition file's melody channel (the second) and velocity.
inline constexpr int kMelodyChannel = 1;
inline constexpr std::uint8_t kMelodyVelocity = 95;

/// A MidiWrite over an open stream that adds text meta events.
class TextMidiWrite final : public MidiWrite {
public:
    /// Takes ownership of `file`; `error_text` gets the first error reported.
    TextMidiWrite(std::FILE* file, const std::string& name, std::string& error_text)
        : MidiWrite(file, name.c_str()), error_text_(error_text) {}
    ~TextMidiWrite() override { close(); }

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

}  // namespace quavella::exports
