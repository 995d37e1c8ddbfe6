// The player's audio outputs: one of FluidSynth's audio drivers on the platform's sound
// device, or "file", which renders in real time without a device into a WAV recording (or
// nowhere). Chosen and started by FluidPlayer at each play; Qt-free.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;

namespace quavella {

class WavRecording;

/// An audio output: renders the synthesizer from construction to destruction. Destroying
/// it joins the thread that renders, which never takes a lock of the player.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;
};

/// Where the sound may go, as FluidPlayer::Options and the environment say.
struct AudioChoice {
    /// Drivers to try in order; nothing: QUAVELLA_AUDIO_DRIVER, else pipewire, pulseaudio
    /// and alsa (those this FluidSynth has).
    std::optional<std::vector<std::string>> drivers;
    /// The WAV file of the "file" driver; empty: QUAVELLA_AUDIO_FILE, else none.
    std::string file_name;
};

/// The audio drivers this FluidSynth was built with, in its own order.
std::vector<std::string> available_audio_drivers();

/// Starts the first output of `choice` that starts, rendering `synth`.
/// @param recording the "file" driver's recording: made at its first use, kept across plays
///        of one file; a recording that failed is not played into again
/// @param driver_name set to the driver that started
/// @throw CommandError naming every driver tried and why it did not start, for the user
std::unique_ptr<AudioOutput> start_audio_output(const AudioChoice& choice,
                                                fluid_settings_t* settings, fluid_synth_t* synth,
                                                std::unique_ptr<WavRecording>& recording,
                                                std::string& driver_name);

}  // namespace quavella
