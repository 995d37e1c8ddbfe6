// Loading the player's synthesizer off every caller's thread: a FluidSynth synthesizer with
// its soundfont, made on a thread of its own that no caller waits for, and the presets a file
// plays read in the background one after another. Used by FluidPlayer; Qt-free.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;

namespace quavella {

struct FluidSettingsDeleter {
    void operator()(fluid_settings_t* p) const;
};
struct FluidSynthDeleter {
    void operator()(fluid_synth_t* p) const;
};

/// A synthesizer with its soundfont loaded, ready to play. Its members go in reverse
/// order: the synthesizer before the settings it uses.
struct LoadedSynth {
    std::unique_ptr<fluid_settings_t, FluidSettingsDeleter> settings;
    std::unique_ptr<fluid_synth_t, FluidSynthDeleter> synth;
    std::string soundfont;  ///< the file it loaded
    int soundfont_id = -1;
};

/// The message for the user when no soundfont could be loaded: which one was looked for,
/// FluidSynth's (or the system's) reason, and what to install or set.
std::string no_soundfont_message(const std::string& soundfont, const std::string& why);

/// One load of the synthesizer and its soundfont, on a thread of its own. A soundfont
/// that never finishes opening (a FIFO nobody writes, a hung network file system) holds
/// that thread alone: callers wait for the load at most a deadline, without any lock of
/// theirs; the process owns the thread (base/owned_threads.h) and joins it once done. What
/// it makes after everyone gave up is freed with it.
class SynthLoad {
public:
    /// Starts loading `soundfont`; empty: QUAVELLA_SOUNDFONT, else FluidSynth's default.
    static std::shared_ptr<SynthLoad> start(const std::string& soundfont);

    /// Waits until the load is done or `deadline` has passed since it started (not
    /// at all once that has passed); true when it is done.
    bool wait(std::chrono::milliseconds deadline);
    /// Waits until the load is done or `until` has come; true when it is done.
    bool wait_until(std::chrono::steady_clock::time_point until);
    /// Whether the load is done (loaded or failed), without waiting.
    bool done() const;
    /// When the load began.
    std::chrono::steady_clock::time_point started() const { return started_; }
    /// After wait() returned true: the synthesizer, handed out once.
    /// @throw CommandError with the load's failure, for the user, or when it was handed
    /// out already
    LoadedSynth take();
    /// Asks the load to stop at its next step; nobody waits for it.
    void cancel();
    /// The soundfont it reads, once known; otherwise what was asked for.
    std::string soundfont() const;

    /// Use start().
    explicit SynthLoad(std::string soundfont) : soundfont_(std::move(soundfont)) {}
    /// Frees what the load made, on whichever thread lets the load go last.
    ~SynthLoad();

private:
    void run();

    const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    mutable std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
    bool cancelled_ = false;
    bool taken_ = false;
    std::string soundfont_;
    LoadedSynth loaded_;
    std::string error_;
};

/// Runs pins and unpins of presets (which read their samples from the soundfont) one after
/// another on a thread of its own, so that whoever asks never waits for the disk.
class PresetPinner {
public:
    PresetPinner() = default;
    /// Finishes the work queued and joins the thread: destroy it before the synthesizer,
    /// holding no lock that the work needs.
    ~PresetPinner();
    PresetPinner(const PresetPinner&) = delete;
    PresetPinner& operator=(const PresetPinner&) = delete;

    /// Keeps `now` (a program of bank 0) loaded and lets `old` go; the piano (program 0)
    /// always stays. Returns at once.
    void repin(fluid_synth_t* synth, int soundfont_id, int old, int now);

private:
    void run(std::stop_token stop);

    std::mutex mutex_;
    std::condition_variable_any cv_;
    std::deque<std::function<void()>> work_;
    std::jthread thread_;
};

}  // namespace quavella
