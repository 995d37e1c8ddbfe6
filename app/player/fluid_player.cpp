// The melody player over FluidSynth (see fluid_player.h).
#include "app/player/fluid_player.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <stdexcept>

#include "app/player/fluid_log.h"
#include "app/player/melody_level.h"
#include "app/player/wav_recording.h"
#include "midi/smf_check.h"

namespace quavella {

namespace {

constexpr long max_file_bytes = 16L * 1024 * 1024;
constexpr int max_tracks = 128;  // what FluidSynth's player holds
/// How long the output runs on after the end while notes and reverb ring out: once every
/// voice is silent, and at most.
constexpr auto ring_after_silence = std::chrono::milliseconds(300);
constexpr auto ring_at_most = std::chrono::seconds(3);
/// The Debian package that provides the default General MIDI soundfont.
constexpr const char* soundfont_package = "fluid-soundfont-gm";

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

std::string error_text(int err) { return err != 0 ? std::strerror(err) : "Unknown error code"; }

std::string cannot_open(const std::string& name, const std::string& why) {
    return "无法打开旋律文件“" + name + "”：" + why;
}

std::vector<unsigned char> read_file(const std::string& name) {
    errno = 0;
    const FileHandle f(std::fopen(name.c_str(), "rb"));
    if (!f) throw CommandError(cannot_open(name, error_text(errno)));
    std::vector<unsigned char> bytes;
    unsigned char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f.get())) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (bytes.size() > static_cast<std::size_t>(max_file_bytes)) {
            throw CommandError(cannot_open(name, "文件太大，不是旋律文件"));
        }
    }
    if (std::ferror(f.get()) != 0) throw CommandError(cannot_open(name, error_text(errno)));
    return bytes;
}

std::vector<std::string> split_list(const std::string& text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        std::string item = text.substr(start, comma - start);
        item.erase(0, item.find_first_not_of(" \t"));
        item.erase(item.find_last_not_of(" \t") + 1);
        if (!item.empty()) items.push_back(item);
        start = comma + 1;
    }
    return items;
}

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string no_output_message(const std::string& reasons) {
    return "没有可用的音频输出，无法播放。\n原因：" + reasons +
           "\n请检查音箱或耳机是否已连接、声音服务（PipeWire 或 PulseAudio）是否在运行，"
           "然后再按“播放”。没有声卡时，可以设置环境变量 QUAVELLA_AUDIO_DRIVER=file 和 "
           "QUAVELLA_AUDIO_FILE=文件名.wav，把播放的声音写入 WAV 文件。";
}

std::string no_soundfont_message(const std::string& soundfont, const std::string& why) {
    return "没有可用的音色库，无法播放。\n查找的音色库：" +
           (soundfont.empty() ? std::string("（FluidSynth 没有设置默认音色库）") : soundfont) +
           "\n原因：" + why + "\n请安装提供通用 MIDI 音色库的 Debian 软件包 " + soundfont_package +
           "（sudo apt install " + soundfont_package +
           "），或用环境变量 QUAVELLA_SOUNDFONT 指定一个音色库文件，然后再按“播放”。";
}

std::string or_unknown(const std::string& why) { return why.empty() ? "Unknown error code" : why; }

}  // namespace

// ---- audio outputs ----

/// An audio output: renders the synthesizer from construction to destruction.
class FluidPlayer::Output {
public:
    virtual ~Output() = default;
};

/// The platform's sound device through one of FluidSynth's audio drivers.
class FluidPlayer::DeviceOutput final : public Output {
public:
    explicit DeviceOutput(fluid_audio_driver_t* driver) : driver_(driver) {}
    ~DeviceOutput() override { delete_fluid_audio_driver(driver_); }

private:
    fluid_audio_driver_t* driver_;
};

/// Renders in real time without a device, into a recording or nowhere: a thread renders
/// one period at a time as the clock reaches it.
class FluidPlayer::FileOutput final : public Output {
public:
    FileOutput(fluid_settings_t* settings, fluid_synth_t* synth, WavRecording* recording)
        : synth_(synth), recording_(recording) {
        fluid_settings_getint(settings, "audio.period-size", &period_);
        fluid_settings_getnum(settings, "synth.sample-rate", &rate_);
        period_ = std::max(period_, 16);
        thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
    }
    ~FileOutput() override {
        thread_.request_stop();
        thread_.join();
        if (recording_ != nullptr) recording_->update();  // complete whenever nothing plays
    }

private:
    void run(std::stop_token stop) {
        using SteadyClock = std::chrono::steady_clock;
        std::vector<std::int16_t> block(2 * static_cast<std::size_t>(period_));
        const auto start = SteadyClock::now();
        long rendered = 0;
        while (!stop.stop_requested()) {
            // One period ahead of the clock, so that the first one renders at once.
            const double seconds =
                std::chrono::duration<double>(SteadyClock::now() - start).count();
            const long due = static_cast<long>(seconds * rate_) + period_;
            bool wrote = false;
            while (rendered < due) {
                fluid_synth_write_s16(synth_, period_, block.data(), 0, 2, block.data(), 1, 2);
                if (recording_ != nullptr) recording_->append(block.data(), period_);
                rendered += period_;
                wrote = true;
            }
            if (wrote && recording_ != nullptr) recording_->update();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    fluid_synth_t* synth_;
    WavRecording* recording_;
    int period_ = 64;
    double rate_ = 44100.0;
    std::jthread thread_;
};

// ---- construction and loading ----

void FluidPlayer::SettingsDeleter::operator()(fluid_settings_t* p) const {
    delete_fluid_settings(p);
}
void FluidPlayer::SynthDeleter::operator()(fluid_synth_t* p) const { delete_fluid_synth(p); }
void FluidPlayer::PlayerDeleter::operator()(fluid_player_t* p) const { delete_fluid_player(p); }

FluidPlayer::FluidPlayer() : FluidPlayer(Options{}) {}

FluidPlayer::FluidPlayer(Options options) : options_(std::move(options)) {}

FluidPlayer::~FluidPlayer() {
    {
        std::lock_guard lock(mutex_);
        close_locked();
        quitting_ = true;
    }
    watch_cv_.notify_all();
    if (watcher_.joinable()) watcher_.join();
    // The loader's destructor asks it to stop and waits for the step it is in.
}

std::vector<std::string> FluidPlayer::available_drivers() {
    // Asked once: new settings cost more than the rest of starting an output.
    static const std::vector<std::string> built_in = [] {
        std::vector<std::string> names;
        std::unique_ptr<fluid_settings_t, SettingsDeleter> settings(new_fluid_settings());
        if (!settings) return names;
        fluid_settings_foreach_option(
            settings.get(), "audio.driver", &names,
            [](void* data, const char*, const char* option) {
                static_cast<std::vector<std::string>*>(data)->push_back(option);
            });
        return names;
    }();
    return built_in;
}

void FluidPlayer::preload() {
    std::lock_guard lock(mutex_);
    if (synth_ || loader_.joinable()) return;
    start_load();
}

void FluidPlayer::start_load() {
    load_result_ = LoadResult{};
    loader_ = std::jthread([this, soundfont = options_.soundfont](std::stop_token stop) {
        try {
            load_result_.loaded = load_synth(soundfont, stop);
        } catch (const CommandError& e) {
            load_result_.error = e.what();
        }
    });
}

void FluidPlayer::ensure_synth_locked() {
    if (synth_) return;
    if (!loader_.joinable()) start_load();  // no preload, or the last load failed
    loader_.join();
    LoadResult result = std::move(load_result_);
    load_result_ = LoadResult{};
    if (!result.error.empty()) throw CommandError(result.error);
    if (!result.loaded.synth) throw CommandError("音色库的载入已停止");
    settings_ = std::move(result.loaded.settings);
    synth_ = std::move(result.loaded.synth);
    soundfont_ = std::move(result.loaded.soundfont);
    soundfont_id_ = result.loaded.soundfont_id;
}

// Keeps the samples of the open file's melody program loaded, and lets those of the last
// file's go, in the background: the file is opened while composing, seconds before play.
void FluidPlayer::ready_program_locked() {
    if (!synth_ || program_ == pinned_program_) return;
    if (readier_.joinable()) readier_.join();
    readier_ = std::jthread(
        [synth = synth_.get(), id = soundfont_id_, old = pinned_program_, now = program_] {
            if (old > 0) fluid_synth_unpin_preset(synth, id, 0, old);  // the piano stays
            if (now > 0) fluid_synth_pin_preset(synth, id, 0, now);
        });
    pinned_program_ = program_;
}

// What a General MIDI reset does, without choosing the drum kit for a file that plays no
// drums: sound off, controllers reset, the piano on each channel, and channel 10 left
// without a preset unless the file plays on it. Run while no output renders.
void FluidPlayer::reset_channels_locked() {
    if (readier_.joinable()) readier_.join();
    fluid_synth_t* synth = synth_.get();
    silence_locked();
    for (int channel = 0; channel < 16; ++channel) {
        fluid_synth_cc(synth, channel, 121, 0);  // reset all controllers
        fluid_synth_cc(synth, channel, 7, 100);  // volume
        fluid_synth_cc(synth, channel, 10, 64);  // pan
        fluid_synth_bank_select(synth, channel, 0);
        if (channel != 9 || (note_channels_ & (1u << 9)) != 0) {
            fluid_synth_program_change(synth, channel, 0);
        } else {
            fluid_synth_unset_program(synth, channel);
        }
    }
}

FluidPlayer::LoadedSynth FluidPlayer::load_synth(const std::string& chosen_soundfont,
                                                 std::stop_token stop) {
    const FluidErrorCapture log;
    LoadedSynth loaded;
    loaded.settings.reset(new_fluid_settings());
    fluid_settings_t* settings = loaded.settings.get();
    if (settings == nullptr) throw CommandError("无法启动 FluidSynth：Unknown error code");
    // The player's clock must follow the rendered samples: its position then stops while
    // paused and resumes where it stopped, and its timer survives the end of a file.
    fluid_settings_setstr(settings, "player.timing-source", "sample");
    // The player resets the synthesizer itself, between files and at a rewind: FluidSynth's
    // reset would load the drum kit for every file.
    fluid_settings_setint(settings, "player.reset-synth", 0);
    // Samples are read when a preset is chosen, not the whole soundfont at once.
    fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
    loaded.synth.reset(new_fluid_synth(settings));
    if (!loaded.synth) throw CommandError("无法启动 FluidSynth 合成器：" + or_unknown(log.last()));

    std::string soundfont = chosen_soundfont;
    if (soundfont.empty()) soundfont = env("QUAVELLA_SOUNDFONT");
    if (soundfont.empty()) {
        char* name = nullptr;
        if (fluid_settings_dupstr(settings, "synth.default-soundfont", &name) == FLUID_OK &&
            name != nullptr) {
            soundfont = name;
        }
        fluid_free(name);
    }
    if (soundfont.empty()) throw CommandError(no_soundfont_message("", "没有设置音色库"));
    if (stop.stop_requested()) throw CommandError("音色库的载入已停止");
    const int id = fluid_synth_sfload(loaded.synth.get(), soundfont.c_str(), 0);
    if (id == FLUID_FAILED) {
        throw CommandError(no_soundfont_message(soundfont, or_unknown(log.last())));
    }
    if (stop.stop_requested()) throw CommandError("音色库的载入已停止");
    // Every reset chooses the piano on each channel: kept loaded, a reset never waits.
    fluid_synth_pin_preset(loaded.synth.get(), id, 0, 0);
    loaded.soundfont = soundfont;
    loaded.soundfont_id = id;
    return loaded;
}

// ---- output ----

void FluidPlayer::start_output_locked() {
    const std::vector<std::string> built_in = available_drivers();
    const std::set<std::string> available(built_in.begin(), built_in.end());

    std::vector<std::string> candidates;
    std::string none_reason = "没有指定要尝试的音频驱动";
    if (options_.drivers) {
        candidates = *options_.drivers;
    } else {
        candidates = split_list(env("QUAVELLA_AUDIO_DRIVER"));
        if (candidates.empty()) {
            for (const char* name : {"pipewire", "pulseaudio", "alsa"}) {
                if (available.count(name) != 0) candidates.emplace_back(name);
            }
            none_reason = "这个 FluidSynth 没有 PipeWire、PulseAudio 或 ALSA 音频驱动";
        }
    }
    if (candidates.empty()) throw CommandError(no_output_message(none_reason));

    std::string reasons;
    for (const auto& name : candidates) {
        if (!reasons.empty()) reasons += "；";
        if (name == "file") {
            // Rendered by this player; a recording, when one is named, spans the plays of
            // one open file.
            std::string file_name = options_.file_name;
            if (file_name.empty()) file_name = env("QUAVELLA_AUDIO_FILE");
            if (!file_name.empty() && !recording_) {
                double rate = 44100.0;
                fluid_settings_getnum(settings_.get(), "synth.sample-rate", &rate);
                try {
                    recording_ = std::make_unique<WavRecording>(file_name, static_cast<int>(rate));
                } catch (const std::runtime_error& e) {
                    reasons += "file：无法写入“" + file_name + "”：" + e.what();
                    continue;
                }
            }
            if (recording_ && !recording_->error().empty()) {
                // A recording that could not be written (a full disk) is not played into
                // as if it were: the next play says why.
                reasons += "file：无法写入“" + file_name + "”：" + recording_->error();
                continue;
            }
            output_ = std::make_unique<FileOutput>(settings_.get(), synth_.get(), recording_.get());
        } else if (available.count(name) == 0) {
            reasons += name + "：这个 FluidSynth 没有此音频驱动";
            continue;
        } else {
            const FluidErrorCapture log;
            fluid_settings_setstr(settings_.get(), "audio.driver", name.c_str());
            fluid_audio_driver_t* driver = new_fluid_audio_driver(settings_.get(), synth_.get());
            if (driver == nullptr) {
                reasons += name + "：" + or_unknown(log.last());
                continue;
            }
            output_ = std::make_unique<DeviceOutput>(driver);
        }
        driver_name_ = name;
        ended_at_.reset();
        if (!watcher_.joinable()) watcher_ = std::jthread([this] { watch_end(); });
        watch_cv_.notify_all();
        return;
    }
    throw CommandError(no_output_message(reasons));
}

void FluidPlayer::stop_output_locked() {
    // Joins the thread that renders; none of them takes this player's lock.
    output_.reset();
    ended_at_.reset();
}

// Once the melody has ended and its sound has rung out, the output is released: nothing
// renders while nothing plays.
void FluidPlayer::watch_end() {
    std::unique_lock lock(mutex_);
    while (!quitting_) {
        if (!output_) {
            watch_cv_.wait(lock);
            continue;
        }
        watch_cv_.wait_for(lock, std::chrono::milliseconds(20));
        if (!output_ || !player_ || !at_end_locked()) {
            ended_at_.reset();
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!ended_at_) ended_at_ = now;
        const bool silent = fluid_synth_get_active_voice_count(synth_.get()) == 0;
        if ((silent && now - *ended_at_ >= ring_after_silence) ||
            now - *ended_at_ >= ring_at_most) {
            stop_output_locked();
        }
    }
}

// ---- the media player's operations ----

void FluidPlayer::open(const std::string& file) {
    std::lock_guard lock(mutex_);
    close_locked();
    std::vector<unsigned char> bytes = read_file(file);
    const SmfCheck check = check_smf(bytes, max_tracks);
    if (!check.ok()) throw CommandError(cannot_open(file, smf_fault_text(check)));
    bytes_ = std::move(bytes);
    file_ticks_ = check.total_ticks;
    program_ = check.melody_program();
    note_channels_ = check.note_channels;
    paused_ = false;
    held_tick_ = 0;
    open_ = true;
    ready_program_locked();
}

void FluidPlayer::close() {
    std::lock_guard lock(mutex_);
    close_locked();
}

void FluidPlayer::close_locked() {
    if (!open_) return;
    if (player_) fluid_player_stop(player_.get());
    stop_output_locked();
    player_.reset();
    recording_.reset();  // completes the WAV file
    open_ = false;
    bytes_.clear();
    file_ticks_ = 0;
    program_ = -1;
    note_channels_ = 0;
    paused_ = false;
    held_tick_ = 0;
    // Programs and controllers of this file must not carry over to the next one, nor its
    // program stay selected.
    if (synth_) reset_channels_locked();
}

void FluidPlayer::require_open() const {
    if (!open_) throw CommandError("No MCI device open");
}

void FluidPlayer::silence_locked() {
    fluid_synth_all_notes_off(synth_.get(), -1);
    fluid_synth_all_sounds_off(synth_.get(), -1);
}

// FluidSynth's player keeps running after the last event while notes ring out, so the
// end of the file is where its position passes the file's length, whatever its status.
bool FluidPlayer::at_end_locked() const {
    return fluid_player_get_current_tick(player_.get()) >= file_ticks_;
}

int FluidPlayer::tick_locked() const {
    // Past the end the player counts on while notes ring out; the position stays at the end.
    // A pause lands a moment after it is asked for (the audio thread may finish its
    // period), and playing on, FluidSynth seeks back to where it really stopped: what
    // was once read is the floor until the next start from the beginning.
    held_tick_ =
        std::max(std::min(fluid_player_get_current_tick(player_.get()), file_ticks_), held_tick_);
    return held_tick_;
}

FluidPlayer::State FluidPlayer::state_locked() const {
    if (!open_) return State::closed;
    if (!player_) return State::stopped;  // never played: at the start
    if (at_end_locked()) return State::ended;
    if (fluid_player_get_status(player_.get()) == FLUID_PLAYER_PLAYING) return State::playing;
    return paused_ ? State::paused : State::stopped;
}

void FluidPlayer::play_locked(int from) {
    const State now = state_locked();
    if (now == State::playing) {
        last_status_ = FLUID_OK;
        return;
    }
    ensure_synth_locked();
    if (now == State::ended) {
        // Cut what still rings and start again from the start with a new FluidSynth player,
        // whose position reads the start at once. Players come and go only while no output
        // renders: the audio thread runs their timers.
        fluid_player_stop(player_.get());
        stop_output_locked();
        player_.reset();
    }
    if (!player_) {
        ready_program_locked();  // when the soundfont was loaded after the open
        reset_channels_locked();
        std::unique_ptr<fluid_player_t, PlayerDeleter> player(new_fluid_player(synth_.get()));
        if (!player ||
            fluid_player_add_mem(player.get(), bytes_.data(), bytes_.size()) != FLUID_OK) {
            throw CommandError("Unknown error code");
        }
        // A new player takes a seek before it plays (only then is any tick accepted):
        // its first period starts there.
        if (from > 0 && fluid_player_seek(player.get(), from) != FLUID_OK) from = 0;
        player_ = std::move(player);
        held_tick_ = from;
        fluid_synth_set_gain(synth_.get(), static_cast<float>(melody_gain(soundfont_, program_)));
    }
    // Playing before the output starts, its first period already holds the melody. When no
    // output starts, the player stops where it was: nothing rendered, so nothing moved.
    last_status_ = fluid_player_play(player_.get());
    if (last_status_ != FLUID_OK) throw CommandError("FluidSynth 无法开始播放：Unknown error code");
    try {
        start_output_locked();
    } catch (...) {
        fluid_player_stop(player_.get());
        throw;
    }
    paused_ = false;
}

void FluidPlayer::play() {
    std::lock_guard lock(mutex_);
    require_open();
    play_locked();
}

void FluidPlayer::play_from(int tick) {
    std::lock_guard lock(mutex_);
    require_open();
    if (player_) {
        // A new FluidSynth player, sought before the output renders: nothing of the
        // old position sounds, and the position reads `tick` at once.
        fluid_player_stop(player_.get());
        silence_locked();
        stop_output_locked();
        player_.reset();
    }
    paused_ = false;
    play_locked(std::clamp(tick, 0, file_ticks_));
}

void FluidPlayer::pause() {
    std::lock_guard lock(mutex_);
    require_open();
    switch (state_locked()) {
        case State::playing:
            held_tick_ = tick_locked();
            last_status_ = fluid_player_stop(player_.get());
            silence_locked();
            stop_output_locked();
            paused_ = true;
            break;
        case State::paused:
            play_locked();
            break;
        default:
            break;
    }
}

void FluidPlayer::stop() {
    std::lock_guard lock(mutex_);
    require_open();
    if (player_) {
        held_tick_ = tick_locked();
        last_status_ = fluid_player_stop(player_.get());
        silence_locked();
        stop_output_locked();
    } else {
        last_status_ = FLUID_OK;
    }
    paused_ = false;
}

// ---- reading the state ----

FluidPlayer::State FluidPlayer::state() const {
    std::lock_guard lock(mutex_);
    return state_locked();
}

int FluidPlayer::current_tick() const {
    std::lock_guard lock(mutex_);
    if (!player_) return 0;
    return tick_locked();
}

std::optional<int> FluidPlayer::position_ticks() const {
    std::lock_guard lock(mutex_);
    const State now = state_locked();
    if (now != State::playing && now != State::paused) return std::nullopt;
    return tick_locked();
}

int FluidPlayer::total_ticks() const {
    std::lock_guard lock(mutex_);
    return open_ ? file_ticks_ : 0;
}

int FluidPlayer::last_status() const {
    std::lock_guard lock(mutex_);
    return last_status_;
}

std::string FluidPlayer::audio_driver() const {
    std::lock_guard lock(mutex_);
    return driver_name_;
}

bool FluidPlayer::rendering() const {
    std::lock_guard lock(mutex_);
    return output_ != nullptr;
}

std::optional<FluidPlayer::ChannelPreset> FluidPlayer::channel_preset(int channel) const {
    std::lock_guard lock(mutex_);
    if (!open_ || !synth_ || channel < 0 || channel > 15) return std::nullopt;
    fluid_preset_t* preset = fluid_synth_get_channel_preset(synth_.get(), channel);
    if (preset == nullptr) return std::nullopt;
    const char* name = fluid_preset_get_name(preset);
    return ChannelPreset{fluid_preset_get_banknum(preset), fluid_preset_get_num(preset),
                         name != nullptr ? name : ""};
}

}  // namespace quavella
