// Writing a finished melody as a composition file: format 1, two tracks, the
// first with key signature, tempo and program, the second with the notes on
// channel 1, each note starting when the previous one ends.
#include <cstdint>

#include "base/qassert.h"
#include "composer/song.h"
#include "midi/midiio.h"

namespace quavella {

namespace {

// A writer that keeps the first error it reports instead of printing it.
class CompositionWrite final : public MidiWrite {
public:
    CompositionWrite(const std::string& filename, std::string& error_text)
        : MidiWrite(filename.c_str()), error_text_(error_text) {}
    ~CompositionWrite() override { close(); }

    void error(const char* message) override {
        if (error_text_.empty()) error_text_ = message;
    }

private:
    std::string& error_text_;
};

constexpr int melody_channel = 1;
constexpr std::uint8_t velocity = 95;

}  // namespace

void Song::write_midi(const std::string& midi_file) {
    midi_error_.clear();
    // A tempo of 0 has no length of a beat; it is a caller's error like the
    // other contract breaches of the composer.
    QV_ASSERT("song", tempo_bpm > 0);
    CompositionWrite out(midi_file, midi_error_);
    out.header(1, 1, ticks_per_beat);
    out.starttrack();
    out.keysignature(key_sharps, key_minor);
    out.tempo(60000000 / tempo_bpm);
    out.programchange(melody_channel, static_cast<std::uint8_t>(program));
    out.starttrack();
    // The failure report quotes the expression exactly as written.
    QV_ASSERT_TEXT("song", nt_seq_now.size() == tm_seq_now.size(),
                   "nt_seq_now.size()== tm_seq_now.size()");
    for (std::size_t i = 0; i < nt_seq_now.size(); ++i) {
        const auto key = static_cast<std::uint8_t>(nt_seq_now[i]);
        out.noteon(melody_channel, key, velocity);
        out.pause(static_cast<std::uint32_t>(tm_seq_now[i]));
        out.noteoff(melody_channel, key, velocity);
    }
    out.endtrack();
    out.endoftrack();
    out.close();
}

}  // namespace quavella
