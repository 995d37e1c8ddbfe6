// The bytes the player gets: the arrangement of a composition, or its melody.
#include "app/commands/hearing.h"

namespace quavella {

std::string heard_bytes(const Composition& composition, const Hearing& hearing) {
    if (hearing.melody_alone || composition.chords.chords.empty()) return composition.midi;
    harmony::ArrangementFile made =
        harmony::arrangement_file(composition.melody, composition.chords, hearing.arrangement);
    return made.error.empty() ? std::move(made.bytes) : composition.midi;
}

}  // namespace quavella
