// How loud the player sets FluidSynth for a melody: the synthesizer's gain that brings a
// melody of the composer (one voice, velocity 95) to peaks near -6 dBFS for each timbre of
// the window's list, from peaks measured with Debian's General MIDI soundfonts. Used by
// the media player when it starts a melody.
#pragma once

#include <string>

namespace quavella {

/// The level the melodies peak at, in dBFS.
inline constexpr double kMelodyPeakDbfs = -6.0;

/// The synthesizer gain for a melody.
/// @param soundfont the soundfont's file name (a path; only its last component counts)
/// @param program the General MIDI program (0-based) the melody plays; -1 for none
/// @return the gain; for a soundfont or program that was not measured, one that leaves
///         room for a soundfont louder than those measured
double melody_gain(const std::string& soundfont, int program);

}  // namespace quavella
