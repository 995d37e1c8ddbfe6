// The MIDI writer the lyric exports share: the core's MidiWrite with text meta
// events, keeping the first error it reports. Used by lyrics_midi.cpp and karaoke.cpp.
#pragma once

#include <cstdint>

#include "midi/kept_error_write.h"

namespace quavella::exports {

inline constexpr int kMetaText = 0x01;
inline constexpr int kMetaTrackName = 0x03;
inline constexpr int kMetaLyric = 0x05;

/// The composition file's melody channel (the second) and velocity.
inline constexpr int kMelodyChannel = 1;
inline constexpr std::uint8_t kMelodyVelocity = 95;

/// The core's writer that keeps its first error and adds text meta events.
using TextMidiWrite = KeptErrorWrite;

}  // namespace quavella::exports
