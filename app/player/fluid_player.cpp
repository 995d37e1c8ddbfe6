// The melody player over FluidSynth (see fluid_player.h).
#include "app/player/fluid_player.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

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

}  // namespace

// ---- construction and loading ----

void FluidPlayer::PlayerDeleter::operator()(fluid_player_t* p) const { delete_fluid_player(p); }

FluidPlayer::FluidPlayer() : FluidPlayer(Options{}) {}

FluidPlayer::FluidPlayer(Options options) : options_(std::move(options)) {}

FluidPlayer::~FluidPlayer() {
    std::shared_ptr<SynthLoad> load;
    {
        std::lock_guard command(command_mutex_);
        std::unique_lock lock(mutex_);
        close_now(lock);
        quitting_ = true;
        load = std::move(load_);
    }
    watch_cv_.notify_all();
    if (watcher_.joinable()) watcher_.join();
    // A load still running stops at its next step and frees what it made; nobody waits.
    if (load) load->cancel();
}

std::vector<std::string> FluidPlayer::available_drivers() { return available_audio_drivers(); }

void FluidPlayer::preload() {
    std::lock_guard lock(mutex_);
    if (synth_ || load_) return;
    load_ = SynthLoad::start(options_.soundfont);
}

bool FluidPlayer::wait_until_loaded(std::chrono::milliseconds timeout) {
    std::shared_ptr<SynthLoad> load;
    {
        std::lock_guard lock(mutex_);
        load = load_;
    }
    return !load || load->wait_until(std::chrono::steady_clock::now() + timeout);
}

bool FluidPlayer::take_synth_locked() {
    if (synth_) return true;
    if (!load_) load_ = SynthLoad::start(options_.soundfont);  // no preload, or it failed
    const std::shared_ptr<SynthLoad> load = load_;
    if (!load->done()) {
        if (std::chrono::steady_clock::now() < load->started() + options_.load_deadline) {
            return false;
        }
        // Still running past its deadline: the next play asks the same load again.
        const auto seconds = std::to_string((options_.load_deadline.count() + 999) / 1000);
        throw CommandError(no_soundfont_message(
            load->soundfont(),
            seconds + " 秒内没能读取音色库（它可能是管道，或在停止响应的网络位置上）"));
    }
    load_.reset();  // done: a failure is tried again at the next play
    LoadedSynth loaded = load->take();
    settings_ = std::move(loaded.settings);
    synth_ = std::move(loaded.synth);
    soundfont_ = std::move(loaded.soundfont);
    soundfont_id_ = loaded.soundfont_id;
    pinner_ = std::make_unique<PresetPinner>();
    return true;
}

// Keeps the samples of every program the open file plays loaded (the melody's, and the
// accompaniment's in an arrangement), and lets those of the last file's go, in the
// background: the file is opened while composing, seconds before play.
void FluidPlayer::ready_program_locked() {
    if (!synth_ || programs_ == pinned_programs_) return;
    const auto holds = [](const std::vector<int>& programs, int program) {
        return std::find(programs.begin(), programs.end(), program) != programs.end();
    };
    for (const int old : pinned_programs_)
        if (!holds(programs_, old)) pinner_->repin(synth_.get(), soundfont_id_, old, -1);
    for (const int now : programs_)
        if (!holds(pinned_programs_, now)) pinner_->repin(synth_.get(), soundfont_id_, -1, now);
    pinned_programs_ = programs_;
}

// What a General MIDI reset does, without choosing the drum kit for a file that plays no
// drums: sound off, controllers reset, the piano on each channel, and channel 10 left
// without a preset unless the file plays on it. Run while no output renders.
void FluidPlayer::reset_channels_locked() {
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

// ---- output ----

void FluidPlayer::start_output_locked() {
    output_ = start_audio_output({options_.drivers, options_.file_name}, settings_.get(),
                                 synth_.get(), recording_, driver_name_);
    ended_at_.reset();
    start_watcher_locked();
    watch_cv_.notify_all();
}

void FluidPlayer::stop_output(std::unique_lock<std::mutex>& lock) {
    ended_at_.reset();
    std::unique_ptr<AudioOutput> output = std::move(output_);
    if (!output) return;
    // Its thread is joined without the state lock, so the readers answer meanwhile; the
    // command lock keeps every other command, and so any new output, waiting.
    lock.unlock();
    output.reset();
    lock.lock();
}

void FluidPlayer::start_watcher_locked() {
    if (!watcher_.joinable()) watcher_ = std::jthread([this] { watch(); });
}

void FluidPlayer::watch() {
    std::unique_lock lock(mutex_);
    while (!quitting_) {
        if (start_pending_) {
            start_when_loaded(lock);
            continue;
        }
        if (!output_) {
            watch_cv_.wait(lock);
            continue;
        }
        // Once the melody has ended and its sound has rung out, the output is released:
        // nothing renders while nothing plays.
        watch_cv_.wait_for(lock, std::chrono::milliseconds(20));
        if (start_pending_ || !output_ || !player_ || !at_end_locked()) {
            ended_at_.reset();
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!ended_at_) ended_at_ = now;
        const bool silent = fluid_synth_get_active_voice_count(synth_.get()) == 0;
        if ((silent && now - *ended_at_ >= ring_after_silence) ||
            now - *ended_at_ >= ring_at_most) {
            // A command of its own: after any other, and only if the melody still rests at
            // its end.
            lock.unlock();
            const std::lock_guard command(command_mutex_);
            lock.lock();
            if (!quitting_ && output_ && player_ && ended_at_ && at_end_locked()) {
                stop_output(lock);
            }
        }
    }
}

void FluidPlayer::start_when_loaded(std::unique_lock<std::mutex>& lock) {
    if (const std::shared_ptr<SynthLoad> load = load_) {
        // Waited for in short steps and without a lock: a closing player is never held up,
        // nor are the commands and the readers.
        const auto deadline = load->started() + options_.load_deadline;
        lock.unlock();
        load->wait_until(
            std::min(std::chrono::steady_clock::now() + std::chrono::milliseconds(20), deadline));
        lock.lock();
        if (quitting_ || !start_pending_) return;
        if (!load->done() && std::chrono::steady_clock::now() < deadline) return;
    }
    lock.unlock();
    std::unique_lock command(command_mutex_);
    lock.lock();
    if (quitting_ || !start_pending_) return;
    std::optional<std::string> failure;
    try {
        play_or_defer(lock, pending_from_);
    } catch (const std::exception& e) {
        failure = e.what();
    }
    if (start_pending_) return;  // the load runs on
    lock.unlock();
    command.unlock();
    tell_late_start(failure);
    lock.lock();
}

void FluidPlayer::tell_late_start(const std::optional<std::string>& failure) {
    const std::lock_guard listening(listener_mutex_);
    if (late_start_listener_) late_start_listener_(failure);
}

void FluidPlayer::set_late_start_listener(LateStart listener) {
    const std::lock_guard listening(listener_mutex_);
    late_start_listener_ = std::move(listener);
}

// ---- the media player's operations ----

void FluidPlayer::open(const std::string& file) {
    const std::lock_guard command(command_mutex_);
    std::unique_lock lock(mutex_);
    close_now(lock);
    open_locked(file, read_file(file));
}

void FluidPlayer::open_melody(const std::string& name, std::string_view bytes) {
    const std::lock_guard command(command_mutex_);
    std::unique_lock lock(mutex_);
    close_now(lock);
    if (bytes.size() > static_cast<std::size_t>(max_file_bytes)) {
        throw CommandError(cannot_open(name, "文件太大，不是旋律文件"));
    }
    open_locked(name, std::vector<unsigned char>(bytes.begin(), bytes.end()));
}

void FluidPlayer::open_locked(const std::string& file, std::vector<unsigned char> bytes) {
    const SmfCheck check = check_smf(bytes, max_tracks);
    if (!check.ok()) throw CommandError(cannot_open(file, smf_fault_text(check)));
    bytes_ = std::move(bytes);
    file_ticks_ = check.total_ticks;
    program_ = check.melody_program();
    programs_.clear();
    for (int channel = 0; channel < 16; ++channel) {
        const int program = check.first_program[static_cast<std::size_t>(channel)];
        if (channel == 9 || (check.note_channels & (1u << channel)) == 0 || program < 0) continue;
        if (std::find(programs_.begin(), programs_.end(), program) == programs_.end())
            programs_.push_back(program);
    }
    note_channels_ = check.note_channels;
    paused_ = false;
    held_tick_ = 0;
    open_ = true;
    ready_program_locked();
}

void FluidPlayer::close() {
    const std::lock_guard command(command_mutex_);
    std::unique_lock lock(mutex_);
    close_now(lock);
}

void FluidPlayer::close_now(std::unique_lock<std::mutex>& lock) {
    start_pending_ = false;  // a play waiting for the load plays nothing now
    if (!open_) return;
    if (player_) fluid_player_stop(player_.get());
    stop_output(lock);
    player_.reset();
    recording_.reset();  // completes the WAV file
    open_ = false;
    bytes_.clear();
    file_ticks_ = 0;
    program_ = -1;
    programs_.clear();
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

void FluidPlayer::play_now(std::unique_lock<std::mutex>& lock, int from) {
    const State now = state_locked();
    if (now == State::playing) {
        last_status_ = FLUID_OK;
        return;
    }
    if (now == State::ended) {
        // Cut what still rings and start again from the start with a new FluidSynth player,
        // whose position reads the start at once. Players come and go only while no output
        // renders: the audio thread runs their timers.
        fluid_player_stop(player_.get());
        stop_output(lock);
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

void FluidPlayer::play_or_defer(std::unique_lock<std::mutex>& lock, std::optional<int> from) {
    start_pending_ = false;
    if (!take_synth_locked()) {
        // The watcher plays once the load is done; this returns at once.
        start_pending_ = true;
        pending_from_ = from;
        start_watcher_locked();
        watch_cv_.notify_all();
        return;
    }
    if (!from) {
        play_now(lock);
        return;
    }
    if (player_) {
        // A new FluidSynth player, sought before the output renders: nothing of the
        // old position sounds, and the position reads `from` at once.
        fluid_player_stop(player_.get());
        silence_locked();
        stop_output(lock);
        player_.reset();
    }
    paused_ = false;
    play_now(lock, *from);
}

void FluidPlayer::play() {
    const std::lock_guard command(command_mutex_);
    std::unique_lock lock(mutex_);
    require_open();
    play_or_defer(lock, std::nullopt);
}

void FluidPlayer::play_from(int tick) {
    const std::lock_guard command(command_mutex_);
    std::unique_lock lock(mutex_);
    require_open();
    play_or_defer(lock, std::clamp(tick, 0, file_ticks_));
}

void FluidPlayer::pause() {
    const std::lock_guard command(command_mutex_);
    std::unique_lock lock(mutex_);
    require_open();
    if (start_pending_) {
        // Not started yet: it will not start.
        start_pending_ = false;
        return;
    }
    switch (state_locked()) {
        case State::playing:
            held_tick_ = tick_locked();
            last_status_ = fluid_player_stop(player_.get());
            silence_locked();
            paused_ = true;
            stop_output(lock);
            break;
        case State::paused:
            play_now(lock);
            break;
        default:
            break;
    }
}

void FluidPlayer::stop() {
    const std::lock_guard command(command_mutex_);
    std::unique_lock lock(mutex_);
    require_open();
    start_pending_ = false;
    paused_ = false;
    if (player_) {
        held_tick_ = tick_locked();
        last_status_ = fluid_player_stop(player_.get());
        silence_locked();
        stop_output(lock);
    } else {
        last_status_ = FLUID_OK;
    }
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

bool FluidPlayer::starting() const {
    std::lock_guard lock(mutex_);
    return start_pending_;
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
