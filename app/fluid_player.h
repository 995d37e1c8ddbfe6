// The melody player over FluidSynth: opens a MIDI file by name, plays, pauses and
// resumes, stops and closes it through one synthesizer and the platform's audio output.
// Used by the main window as its MediaPlayer; Qt-free.
//
// Audio output: by default the first of pipewire, pulseaudio and alsa (those that this
// FluidSynth has) that starts. Options::drivers overrides the list; with no drivers given,
// the environment variable QUAVELLA_AUDIO_DRIVER names one driver instead (e.g. "file"),
// and QUAVELLA_AUDIO_FILE names the WAV file that the "file" driver writes in real time,
// so the application can run headless and be listened to afterwards. The output is
// started at every open and released at close, so a WAV holds the file opened last.
#pragma once

#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/platform.h"

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;
typedef struct _fluid_player_t fluid_player_t;
typedef struct _fluid_audio_driver_t fluid_audio_driver_t;

namespace quavella {

/// Plays MIDI files through FluidSynth with the MediaPlayer semantics: open without
/// starting, play from the current position (rewinding at the end), pause that toggles,
/// stop that keeps the position, close. Every member may be called from any thread.
class FluidPlayer final : public MediaPlayer {
public:
    struct Options {
        /// Audio drivers to try in order; empty: QUAVELLA_AUDIO_DRIVER, else the defaults.
        std::vector<std::string> drivers;
        /// The WAV file of the "file" driver; empty: QUAVELLA_AUDIO_FILE, else FluidSynth's.
        std::string file_name;
        /// The soundfont to load; empty: the system's default General MIDI soundfont.
        std::string soundfont;
    };

    enum class State { closed, stopped, playing, paused, ended };

    /// The preset a channel currently plays.
    struct ChannelPreset {
        int bank = 0;
        int program = 0;
        std::string name;
    };

    /// Creates the player; FluidSynth and the soundfont are loaded at the first open.
    FluidPlayer();
    explicit FluidPlayer(Options options);
    ~FluidPlayer() override;

    FluidPlayer(const FluidPlayer&) = delete;
    FluidPlayer& operator=(const FluidPlayer&) = delete;

    /// Starts loading the synthesizer and its soundfont on a background thread, so that
    /// the first open does not wait for it. Call it once, early; open() waits for the load
    /// to finish and reports its failure.
    void preload();

    /// Closes a held file, then opens `file` stopped at its start and starts the audio output.
    /// @throw CommandError when the file is missing or not a MIDI file, or no output starts;
    /// the player is closed then.
    void open(const std::string& file) override;
    /// Plays from the current position; at the end it starts again from the start.
    void play() override;
    /// Pauses while playing, resumes while paused, otherwise does nothing.
    void pause() override;
    /// Stops and silences; the file stays open and keeps its position.
    void stop() override;
    /// Closes the held file and releases the audio output. Never throws.
    void close() override;
    /// The position while playing or paused, at most the length; nothing otherwise.
    std::optional<int> position_ticks() const override;

    /// The current state, as seen now (a file that has played to its end is `ended`).
    State state() const;
    /// The position in MIDI ticks, at most the length; 0 when closed.
    int current_tick() const;
    /// The length of the open file in MIDI ticks (its longest track); 0 when closed.
    int total_ticks() const;
    /// The result code (FLUID_OK or FLUID_FAILED) of the last FluidSynth call made by
    /// play, pause, resume or stop; such results are recorded, not reported.
    int last_status() const;
    /// The name of the audio driver that started at the last open; empty before.
    std::string audio_driver() const;
    /// The preset that `channel` (0 to 15) plays now; nothing when closed or none is set.
    std::optional<ChannelPreset> channel_preset(int channel) const;

    /// The audio drivers this FluidSynth was built with, in its own order.
    static std::vector<std::string> available_drivers();

private:
    struct SettingsDeleter {
        void operator()(fluid_settings_t* p) const;
    };
    struct SynthDeleter {
        void operator()(fluid_synth_t* p) const;
    };
    struct PlayerDeleter {
        void operator()(fluid_player_t* p) const;
    };
    struct DriverDeleter {
        void operator()(fluid_audio_driver_t* p) const;
    };

    /// A synthesizer with its soundfont loaded, ready to play.
    struct LoadedSynth {
        std::unique_ptr<fluid_settings_t, SettingsDeleter> settings;
        std::unique_ptr<fluid_synth_t, SynthDeleter> synth;
    };
    static LoadedSynth load_synth(const std::string& soundfont);

    void ensure_synth();
    void start_output();
    void close_locked();
    void require_open() const;
    State state_locked() const;
    int total_locked() const;
    bool at_end_locked() const;
    void play_locked();
    void silence_locked();

    Options options_;
    mutable std::mutex mutex_;
    // Declared in creation order: the driver renders the synth, which the player drives,
    // so they are destroyed driver first.
    std::unique_ptr<fluid_settings_t, SettingsDeleter> settings_;
    std::unique_ptr<fluid_synth_t, SynthDeleter> synth_;
    std::unique_ptr<fluid_player_t, PlayerDeleter> player_;
    std::unique_ptr<fluid_audio_driver_t, DriverDeleter> driver_;
    std::future<LoadedSynth> preload_;  // the background load started by preload()
    std::string driver_name_;
    int file_ticks_ = 0;                    // the length counted while checking the file at open
    bool paused_ = false;                   // paused by pause(), as opposed to stopped
    mutable bool restart_pending_ = false;  // rewound at the end, not yet taken by the audio thread
    int last_status_ = 0;
};

}  // namespace quavella
