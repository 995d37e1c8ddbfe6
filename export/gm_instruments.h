// The General MIDI level 1 instrument names, by program. The MusicXML export
// names its part after the melody's instrument.
#pragma once

#include <string_view>

namespace quavella::exports {

/// The General MIDI name of a program.
/// @param program 0-based program number; values outside 0..127 are clamped
/// @return the name, e.g. "Acoustic Grand Piano" for 0
std::string_view gm_instrument_name(int program);

}  // namespace quavella::exports
