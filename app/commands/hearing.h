// What the player plays of the song: melody and accompaniment together (the
// arrangement), or the melody alone. The working files and the composition file are
// the melody either way: only the bytes handed to the player differ.
#pragma once

#include <string>

#include "composition/composition.h"
#include "harmony/accompaniment.h"

namespace quavella {

/// How the song is heard.
struct Hearing {
    bool melody_alone = false;                 ///< 只听旋律: the composition file as it is
    harmony::ArrangementSettings arrangement;  ///< the accompaniment's pattern and program

    bool operator==(const Hearing& other) const {
        return melody_alone == other.melody_alone &&
               arrangement.pattern == other.arrangement.pattern &&
               arrangement.program == other.arrangement.program;
    }
};

/// The bytes the player gets for `composition`: its arrangement on its own chords, or with
/// `melody_alone` (or when no arrangement can be made) the composition file itself.
std::string heard_bytes(const Composition& composition, const Hearing& hearing);

}  // namespace quavella
