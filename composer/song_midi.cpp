// Writing a finished melody as a composition file.
#include "base/qassert.h"
#include "composer/song.h"

namespace quavella {

void Song::write_midi(const std::string& midi_file) {
    (void)midi_file;
    QV_ASSERT("song", nt_seq_now.size()== tm_seq_now.size());
    midi_error_ = "the MIDI writer is not built yet";
}

}  // namespace quavella
