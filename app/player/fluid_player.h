// The melody player over FluidSynth: opens a MIDI file by name or from memory, plays, pauses and
// resumes, stops and closes it through one synthesizer and the platform's audio output.
// Used by the main window as its MediaPlayer; Qt-free.
//
// Only playing needs the sound system. Open reads and checks the file; the soundfont, the
// synthesizer and the audio output are needed at play, which reports in Chinese what is
// missing, FluidSynth's own text as the reason, and what to try; the next play tries again.
//
// Audio output: started when the melody plays and released when it pauses, stops, ends or
// is closed, so that nothing renders while nothing plays. By default the first of
// pipewire, pulseaudio and alsa (those that this FluidSynth has) that starts.
// Options::drivers, else the environment variable QUAVELLA_AUDIO_DRIVER (a comma-separated
// list), names the drivers to try instead. "file" renders in real time without a sound
// device, for running headless: while the melody plays, it appends what it renders to the
// WAV file named by Options::file_name, else QUAVELLA_AUDIO_FILE (a new file at the first
// play after each open); with no file named it writes nowhere.
//
// Soundfont: Options::soundfont, else QUAVELLA_SOUNDFONT, else FluidSynth's default General
// MIDI soundfont, loaded on a thread of its own (synth_loader.h). Play never waits for it:
// a play while it loads returns at once, and the player's watcher thread starts the melody
// when the load is done, or reports through the late start listener that it failed or did
// not end within Options::load_deadline after it began (a FIFO, a hung network file
// system); later plays report that at once until it opens. Stop, pause, close and open
// call off a play still waiting so. Only the presets
// that play are held in memory (dynamic sample loading): the piano, which every channel
// starts with, loads with the soundfont; the program a file's melody starts with loads in
// the background when the file is opened, so that play starts at once; the drum kit only
// for a file that plays on channel 10.
//
// Locks: commands (open, play, pause, stop, close, and the watcher's own) run one at a
// time under a command lock; the state lock guards what the readers (position, state) see
// and is never held while an output's thread is joined, so they answer meanwhile.
//
// Units: this file is the state machine; audio_output.h the outputs and the WAV recording's
// driver, synth_loader.h the loading.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/commands/command_error.h"
#include "app/commands/media_player.h"
#include "app/player/audio_output.h"
#include "app/player/synth_loader.h"

typedef struct _fluid_player_t fluid_player_t;

namespace quavella {

class WavRecording;

/// Plays MIDI files through FluidSynth with the MediaPlayer semantics: open without
/// starting, play from the current position (rewinding at the end), pause that toggles,
/// stop that keeps the position, close. Every member may be called from any thread.
class FluidPlayer final : public MediaPlayer {
public:
    struct Options {
        /// Audio drivers to try in order; nothing: QUAVELLA_AUDIO_DRIVER, else the defaults.
        std::optional<std::vector<std::string>> drivers;
        /// The WAV file of the "file" driver; empty: QUAVELLA_AUDIO_FILE, else none.
        std::string file_name;
        /// The soundfont to load; empty: QUAVELLA_SOUNDFONT, else the system's default.
        std::string soundfont;
        /// How long after its load began the soundfont must be ready: a play waits for it
        /// until then at most, and reports after that that it cannot be read.
        std::chrono::milliseconds load_deadline{5000};
    };

    enum class State { closed, stopped, playing, paused, ended };

    /// The preset a channel currently plays.
    struct ChannelPreset {
        int bank = 0;
        int program = 0;
        std::string name;
    };

    /// Creates the player; FluidSynth and the soundfont are loaded at the first play.
    FluidPlayer();
    explicit FluidPlayer(Options options);
    /// Closes the file. A soundfont load still running is cut short at its next step; it
    /// is not waited for.
    ~FluidPlayer() override;

    FluidPlayer(const FluidPlayer&) = delete;
    FluidPlayer& operator=(const FluidPlayer&) = delete;

    /// Starts loading the synthesizer and its soundfont on a background thread, so that the
    /// first play need not wait for them. Call it once, early; a play meanwhile starts when
    /// the load is done (see play).
    void preload();
    /// Waits up to `timeout` for the load that preload (or a play) started to end, loaded
    /// or failed; for callers with nothing else to do meanwhile.
    /// @return true when no load runs any more
    bool wait_until_loaded(std::chrono::milliseconds timeout);

    /// Closes a held file, then reads `file` and checks that it plays; open and stopped at
    /// its start. Needs neither the soundfont nor an audio output.
    /// @throw CommandError when the file cannot be read or is not a MIDI file that plays;
    /// the player is closed then.
    void open(const std::string& file) override;
    /// As open, with the file's bytes from memory: checked and played as they are.
    void open_melody(const std::string& name, std::string_view bytes) override;
    /// Plays from the current position; at the end it starts again from the start. While
    /// the soundfont still loads (within Options::load_deadline), returns at once: the
    /// melody starts when the load is done, and the late start listener hears how it went.
    /// @throw CommandError "No MCI device open" with no file open; otherwise, when the
    /// soundfont failed to load or did not within the deadline, or no audio output starts,
    /// a message for the user; the player then stays as it was.
    void play() override;
    void play_from(int tick) override;
    /// Pauses while playing, resumes while paused, otherwise does nothing.
    void pause() override;
    /// Stops and silences; the file stays open and keeps its position.
    void stop() override;
    /// Closes the held file and releases the audio output. Never throws.
    void close() override;
    /// The position while playing or paused, at most the length; nothing otherwise.
    std::optional<int> position_ticks() const override;
    void set_late_start_listener(LateStart listener) override;

    /// The current state, as seen now (a file that has played to its end is `ended`).
    State state() const;
    /// The position in MIDI ticks, at most the length; 0 when closed.
    int current_tick() const;
    /// The length of the open file in MIDI ticks (its longest track); 0 when closed.
    int total_ticks() const;
    /// The result code (FLUID_OK or FLUID_FAILED) of the last FluidSynth call made by
    /// play, pause, resume or stop; such results are recorded, not reported.
    int last_status() const;
    /// The name of the audio driver that started at the last play; empty before.
    std::string audio_driver() const;
    /// Whether an audio output runs now, rendering the melody or the last of its sound.
    bool rendering() const;
    /// Whether a play waits for the soundfont's load to start the melody.
    bool starting() const;
    /// The preset that `channel` (0 to 15) plays now; nothing when closed or none is set.
    std::optional<ChannelPreset> channel_preset(int channel) const;

    /// The audio drivers this FluidSynth was built with, in its own order.
    static std::vector<std::string> available_drivers();

private:
    struct PlayerDeleter {
        void operator()(fluid_player_t* p) const;
    };

    // Members ending in _locked need the state lock; those taking `lock` also the command
    // lock, and release the state lock for a while.

    /// Takes the loaded synthesizer once its load is done.
    /// @return false while the load runs within its deadline
    /// @throw CommandError when it failed or the deadline has passed
    bool take_synth_locked();
    /// Plays from `from`, or, while the soundfont loads, leaves that to the watcher.
    void play_or_defer(std::unique_lock<std::mutex>& lock, std::optional<int> from);
    void ready_program_locked();
    void reset_channels_locked();
    void start_output_locked();
    /// Stops the output: taken out under the lock, its thread joined without it.
    void stop_output(std::unique_lock<std::mutex>& lock);
    void close_now(std::unique_lock<std::mutex>& lock);
    /// Checks a closed player's new bytes and opens them (the command lock held too).
    void open_locked(const std::string& name, std::vector<unsigned char> bytes);
    void require_open() const;
    State state_locked() const;
    bool at_end_locked() const;
    /// Plays on; a new FluidSynth player starts at `from` (its first period already there).
    void play_now(std::unique_lock<std::mutex>& lock, int from = 0);
    void silence_locked();
    /// The position: FluidSynth's, at most the file's length, never below held_tick_.
    int tick_locked() const;
    void start_watcher_locked();
    /// The watcher: starts a deferred play once the load is done, and releases the output
    /// once the melody has ended and rung out.
    void watch();
    /// The watcher's part for a deferred play, with the state lock held on entry and exit.
    void start_when_loaded(std::unique_lock<std::mutex>& lock);
    void tell_late_start(const std::optional<std::string>& failure);

    Options options_;
    std::mutex command_mutex_;  // taken before mutex_, never after it
    mutable std::mutex mutex_;
    std::condition_variable watch_cv_;  // wakes the watcher when an output starts or a play waits
    std::mutex listener_mutex_;         // held while the listener is called or replaced
    LateStart late_start_listener_;

    // The open file: its bytes, length, the program its melody starts with and every
    // program its sounding channels start with (an arrangement has two or more).
    bool open_ = false;
    std::vector<unsigned char> bytes_;
    int file_ticks_ = 0;
    int program_ = -1;
    std::vector<int> programs_;
    std::uint16_t note_channels_ = 0;
    bool paused_ = false;  // paused by pause(), as opposed to stopped
    // The furthest position read since the last start from the beginning. Playing on
    // from a pause or stop, FluidSynth's reading can fall below it for a moment: its first
    // period after the restart computes the position from a restarted clock before it
    // applies the seek back, and a pause lands a period after the position was read.
    mutable int held_tick_ = 0;
    int last_status_ = 0;
    std::string driver_name_;
    std::optional<std::chrono::steady_clock::time_point> ended_at_;  // output still running
    bool quitting_ = false;
    bool start_pending_ = false;       // a play waits for the load (see start_when_loaded)
    std::optional<int> pending_from_;  // its tick for play_from; nothing for play

    // Declared in creation order, destroyed in reverse: the pinner and the output use the
    // synth, which the player drives and the recording writes.
    std::unique_ptr<fluid_settings_t, FluidSettingsDeleter> settings_;
    std::unique_ptr<fluid_synth_t, FluidSynthDeleter> synth_;
    std::string soundfont_;
    int soundfont_id_ = -1;
    std::vector<int> pinned_programs_;  // the open file's programs kept loaded
    std::unique_ptr<PresetPinner> pinner_;
    std::unique_ptr<fluid_player_t, PlayerDeleter> player_;
    std::unique_ptr<WavRecording> recording_;
    std::unique_ptr<AudioOutput> output_;

    std::shared_ptr<SynthLoad> load_;  // the load under way, if any; never joined
    std::jthread watcher_;             // the watcher; declared last, joined first
};

}  // namespace quavella
