// The three setting lists of the compose command (speed, mode, timbre): their
// items as UTF-8 text and the mapping from a list position to a setting.
#pragma once

#include <string>
#include <vector>

namespace quavella {

/// Base tempo in beats per minute of a speed position: 100, 140, 180; any other 140.
int speed_base(int position);
/// Mode number of a mode position: the scale table (see mode_scale) its item names.
/// The items run from seven tones to five, the tables from five to seven: 七声调式 (0)
/// composes with seven tones (3), 六声调式1 (1) with the six that have B (2), 六声调式2 (2)
/// with the six that have F (1), 五声调式 (3) with five (0); any other position 3.
int mode_number(int position);
/// The list position whose item composes with mode number `mode`; -1 for none.
int mode_position(int mode);
/// General MIDI program (0-based) of a timbre position: 0, 10, 16, ... 72; any other 0.
int program_number(int position);

/// The speed list items, in list order.
const std::vector<std::string>& speed_items();
/// The mode list items, in list order.
const std::vector<std::string>& mode_items();
/// The timbre list items, in list order.
const std::vector<std::string>& timbre_items();

}  // namespace quavella
