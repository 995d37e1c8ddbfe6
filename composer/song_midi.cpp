// Writing a finished melody as a composition file: format 1, two tracks, the
// first with key signature, tempo and program, the second with the notes on
// channel 1, each note starting when the previous one and the rest after it end.
#include <cstdint>

#include "base/qassert.h"
#include "composer/song.h"
#include "midi/kept_error_write.h"
#include "midi/memory_file.h"

namespace quavella {

namespace {

constexpr int melody_channel = 1;
constexpr std::uint8_t velocity = 95;

// The file's layout: a key signature, the tempo and the program in the first
// track, then each note of the second starting when the previous one and its rest end.
void write_composition(KeptErrorWrite& out, int tempo_bpm, int program, const Sequence& notes,
                       const Sequence& ticks, const Sequence& rests) {
    out.header(1, 1, kCompositionTicksPerBeat);
    out.starttrack();
    out.keysignature(0, 0);
    out.tempo(60000000 / tempo_bpm);
    out.programchange(melody_channel, static_cast<std::uint8_t>(program));
    out.starttrack();
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const auto key = static_cast<std::uint8_t>(notes[i]);
        out.noteon(melody_channel, key, velocity);
        out.pause(static_cast<std::uint32_t>(ticks[i]));
        out.noteoff(melody_channel, key, velocity);
        if (i < rests.size() && rests[i] > 0) out.pause(static_cast<std::uint32_t>(rests[i]));
    }
    out.endtrack();
    out.endoftrack();
    out.close();
}

}  // namespace

CompositionFile composition_file(int tempo_bpm, int program, const Sequence& notes,
                                 const Sequence& ticks, const Sequence& rests) {
    // A tempo of 0 has no length of a beat; it is a caller's error like the
    // other contract breaches of the composer. The failure report quotes the
    // expression of the sequences' check exactly as written in the Song.
    QV_ASSERT("song", tempo_bpm > 0);
    QV_ASSERT_TEXT("song", notes.size() == ticks.size(), "nt_seq_now.size()== tm_seq_now.size()");
    QV_ASSERT("song", rests.empty() || rests.size() == notes.size());
    CompositionFile file;
    MemoryFile memory;
    {
        KeptErrorWrite out(memory.release_stream(), "memory", file.error);
        write_composition(out, tempo_bpm, program, notes, ticks, rests);
    }
    if (file.error.empty()) file.bytes = memory.bytes();
    return file;
}

}  // namespace quavella
