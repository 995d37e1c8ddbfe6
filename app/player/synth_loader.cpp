// The synthesizer's load and the preset pins, off the player's threads (see synth_loader.h).
#include "app/player/synth_loader.h"

#include <fluidsynth.h>

#include <cstdlib>
#include <utility>

#include "app/commands/command_error.h"
#include "app/player/fluid_log.h"
#include "base/owned_threads.h"

namespace quavella {

namespace {

/// The Debian package that provides the default General MIDI soundfont.
constexpr const char* soundfont_package = "fluid-soundfont-gm";
constexpr const char* load_stopped = "音色库的载入已停止";

std::string or_unknown(const std::string& why) { return why.empty() ? "Unknown error code" : why; }

}  // namespace

std::string no_soundfont_message(const std::string& soundfont, const std::string& why) {
    return "没有可用的音色库，无法播放。\n查找的音色库：" +
           (soundfont.empty() ? std::string("（FluidSynth 没有设置默认音色库）") : soundfont) +
           "\n原因：" + why + "\n请安装提供通用 MIDI 音色库的 Debian 软件包 " + soundfont_package +
           "（sudo apt install " + soundfont_package +
           "），或用环境变量 QUAVELLA_SOUNDFONT 指定一个音色库文件，然后再按“播放”。";
}

void FluidSettingsDeleter::operator()(fluid_settings_t* p) const { delete_fluid_settings(p); }
void FluidSynthDeleter::operator()(fluid_synth_t* p) const { delete_fluid_synth(p); }

std::shared_ptr<SynthLoad> SynthLoad::start(const std::string& soundfont) {
    auto load = std::make_shared<SynthLoad>(soundfont);
    // The thread holds the load: it outlives every caller that gave up on it, owned by
    // the process, which joins it once done.
    start_owned_thread([load] { load->run(); });
    return load;
}

void SynthLoad::run() {
    const FluidErrorCapture log;
    LoadedSynth loaded;
    std::string error;
    const auto stopped = [this] {
        std::lock_guard lock(mutex_);
        return cancelled_;
    };
    [&] {
        loaded.settings.reset(new_fluid_settings());
        fluid_settings_t* settings = loaded.settings.get();
        if (settings == nullptr) {
            error = "无法启动 FluidSynth：Unknown error code";
            return;
        }
        // The player's clock must follow the rendered samples: its position then stops
        // while paused and resumes where it stopped, and its timer survives the end of a
        // file.
        fluid_settings_setstr(settings, "player.timing-source", "sample");
        // The player resets the synthesizer itself, between files and at a rewind:
        // FluidSynth's reset would load the drum kit for every file.
        fluid_settings_setint(settings, "player.reset-synth", 0);
        // Samples are read when a preset is chosen, not the whole soundfont at once.
        fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
        loaded.synth.reset(new_fluid_synth(settings));
        if (!loaded.synth) {
            error = "无法启动 FluidSynth 合成器：" + or_unknown(log.last());
            return;
        }
        std::string soundfont = soundfont_;
        if (soundfont.empty()) {
            const char* named = std::getenv("QUAVELLA_SOUNDFONT");
            if (named != nullptr) soundfont = named;
        }
        if (soundfont.empty()) {
            char* name = nullptr;
            if (fluid_settings_dupstr(settings, "synth.default-soundfont", &name) == FLUID_OK &&
                name != nullptr) {
                soundfont = name;
            }
            fluid_free(name);
        }
        if (soundfont.empty()) {
            error = no_soundfont_message("", "没有设置音色库");
            return;
        }
        {
            std::lock_guard lock(mutex_);
            soundfont_ = soundfont;
        }
        if (stopped()) {
            error = load_stopped;
            return;
        }
        // May block for good (a FIFO, a hung file system): only this thread waits.
        const int id = fluid_synth_sfload(loaded.synth.get(), soundfont.c_str(), 0);
        if (id == FLUID_FAILED) {
            error = no_soundfont_message(soundfont, or_unknown(log.last()));
            return;
        }
        if (stopped()) {
            error = load_stopped;
            return;
        }
        // Every reset chooses the piano on each channel: kept loaded, a reset never waits.
        fluid_synth_pin_preset(loaded.synth.get(), id, 0, 0);
        loaded.soundfont = soundfont;
        loaded.soundfont_id = id;
    }();
    if (!error.empty()) {
        // The synthesizer first: it uses its settings until it is gone.
        loaded.synth.reset();
        loaded.settings.reset();
    }
    {
        std::lock_guard lock(mutex_);
        loaded_ = std::move(loaded);
        error_ = std::move(error);
        done_ = true;
    }
    done_cv_.notify_all();
}

SynthLoad::~SynthLoad() {
    // Ordered after the loading thread's last write under the lock, in a way
    // ThreadSanitizer sees too (it does not model libstdc++'s last release of a
    // shared_ptr, which reads the counts without a read-modify-write).
    std::lock_guard lock(mutex_);
    if (loaded_.synth) loaded_.synth.reset();
    loaded_.settings.reset();
}

bool SynthLoad::wait(std::chrono::milliseconds deadline) {
    std::unique_lock lock(mutex_);
    return done_cv_.wait_until(lock, started_ + deadline, [this] { return done_; });
}

bool SynthLoad::wait_until(std::chrono::steady_clock::time_point until) {
    std::unique_lock lock(mutex_);
    return done_cv_.wait_until(lock, until, [this] { return done_; });
}

bool SynthLoad::done() const {
    std::lock_guard lock(mutex_);
    return done_;
}

LoadedSynth SynthLoad::take() {
    std::lock_guard lock(mutex_);
    if (!done_ || taken_) throw CommandError(load_stopped);
    if (!error_.empty()) throw CommandError(error_);
    taken_ = true;
    return std::move(loaded_);
}

void SynthLoad::cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
}

std::string SynthLoad::soundfont() const {
    std::lock_guard lock(mutex_);
    return soundfont_;
}

PresetPinner::~PresetPinner() {
    if (!thread_.joinable()) return;
    thread_.request_stop();
    cv_.notify_all();
    thread_.join();
}

void PresetPinner::repin(fluid_synth_t* synth, int soundfont_id, int old, int now) {
    std::lock_guard lock(mutex_);
    work_.emplace_back([synth, soundfont_id, old, now] {
        if (old > 0) fluid_synth_unpin_preset(synth, soundfont_id, 0, old);  // the piano stays
        if (now > 0) fluid_synth_pin_preset(synth, soundfont_id, 0, now);
    });
    if (!thread_.joinable()) thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
    cv_.notify_one();
}

void PresetPinner::run(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    while (true) {
        // Work queued before the stop is still done: a pin outlives no synthesizer, since
        // the pinner is destroyed first.
        cv_.wait(lock, stop, [this] { return !work_.empty(); });
        if (work_.empty()) return;
        std::function<void()> next = std::move(work_.front());
        work_.pop_front();
        lock.unlock();
        next();
        lock.lock();
    }
}

}  // namespace quavella
