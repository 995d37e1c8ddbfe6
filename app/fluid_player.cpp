// The melody player over FluidSynth (see fluid_player.h).
#include "app/fluid_player.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

namespace quavella {

namespace {

constexpr long max_file_bytes = 16L * 1024 * 1024;
constexpr int max_tracks = 128;  // what FluidSynth's player holds

// FluidSynth reports why a driver or a soundfont failed only through its log. The
// handler below keeps the last error for the messages of this player, and still prints
// it as FluidSynth would.
std::mutex log_mutex;
std::string last_log_error;

void log_handler(int level, const char* message, void* data) {
    {
        std::lock_guard lock(log_mutex);
        last_log_error = message != nullptr ? message : "";
    }
    fluid_default_log_function(level, message, data);
}

void install_log_handler() {
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_PANIC, log_handler, nullptr);
        fluid_set_log_function(FLUID_ERR, log_handler, nullptr);
    });
}

void clear_log_error() {
    std::lock_guard lock(log_mutex);
    last_log_error.clear();
}

std::string take_log_error() {
    std::lock_guard lock(log_mutex);
    std::string text;
    text.swap(last_log_error);
    return text;
}

std::vector<unsigned char> read_file(const std::string& name) {
    errno = 0;
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (f == nullptr) {
        throw CommandError("cannot open '" + name +
                           "': " + (errno != 0 ? std::strerror(errno) : "Unknown error code"));
    }
    std::vector<unsigned char> bytes;
    unsigned char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (bytes.size() > static_cast<std::size_t>(max_file_bytes)) {
            std::fclose(f);
            throw CommandError("'" + name + "' is too large for a MIDI file");
        }
    }
    const bool failed = std::ferror(f) != 0;
    const int err = errno;
    std::fclose(f);
    if (failed) {
        throw CommandError("cannot read '" + name +
                           "': " + (err != 0 ? std::strerror(err) : "Unknown error code"));
    }
    return bytes;
}

// Walks a Standard MIDI File the way FluidSynth's player loads it and returns its length
// in ticks (the longest track, counted to its end-of-track event). Throws the reason when
// the player would refuse the file or it is not one.
class MidiCheck {
public:
    MidiCheck(const std::vector<unsigned char>& b, const std::string& name) : b_(b), name_(name) {}

    int total_ticks() {
        if (b_.size() < 14 || std::memcmp(b_.data(), "MThd", 4) != 0) {
            throw CommandError("'" + name_ + "' is not a MIDI file");
        }
        if (be32(4) != 6) damaged("header length is not 6");
        const unsigned format = be16(8);
        const unsigned ntracks = be16(10);
        const unsigned division = be16(12);
        if (format > 2) damaged("unknown format " + std::to_string(format));
        if (ntracks == 0) damaged("no tracks");
        if (ntracks > max_tracks) damaged("more than 128 tracks");
        if (division & 0x8000u) damaged("SMPTE time division is not supported");
        if (division == 0) damaged("time division is 0");

        std::size_t pos = 14;
        long total = 0;
        for (unsigned track = 0; track < ntracks;) {
            if (pos + 8 > b_.size()) damaged("track " + std::to_string(track + 1) + " is missing");
            const std::uint32_t len = be32(pos + 4);
            // FluidSynth's player cannot step over other chunks between the tracks.
            if (std::memcmp(&b_[pos], "MTrk", 4) != 0) {
                std::string id(b_.begin() + static_cast<long>(pos),
                               b_.begin() + static_cast<long>(pos) + 4);
                for (char& c : id) {
                    if (c < 0x20 || c > 0x7e) c = '?';
                }
                damaged("unsupported chunk '" + id + "' before track " + std::to_string(track + 1));
            }
            pos += 8;
            if (len > b_.size() - pos) damaged("a chunk runs past the end of the file");
            total = std::max(total, track_ticks(pos, pos + len));
            ++track;
            pos += len;
        }
        if (total > 0x7fffffffL) damaged("too long");
        return static_cast<int>(total);
    }

private:
    [[noreturn]] void damaged(const std::string& why) const {
        throw CommandError("'" + name_ + "' is a damaged MIDI file: " + why);
    }

    unsigned be16(std::size_t at) const { return (unsigned{b_[at]} << 8) | b_[at + 1]; }
    std::uint32_t be32(std::size_t at) const {
        return (std::uint32_t{b_[at]} << 24) | (std::uint32_t{b_[at + 1]} << 16) |
               (std::uint32_t{b_[at + 2]} << 8) | b_[at + 3];
    }

    unsigned byte(std::size_t& pos, std::size_t end) const {
        if (pos >= end) damaged("a track ends inside an event");
        return b_[pos++];
    }

    long varlen(std::size_t& pos, std::size_t end) const {
        long value = 0;
        for (int i = 0; i < 4; ++i) {
            const unsigned c = byte(pos, end);
            value = (value << 7) | (c & 0x7f);
            if ((c & 0x80) == 0) return value;
        }
        damaged("a variable-length number is longer than 4 bytes");
    }

    long track_ticks(std::size_t pos, std::size_t end) const {
        long ticks = 0;
        unsigned running = 0;
        while (pos < end) {
            ticks += varlen(pos, end);
            unsigned status = byte(pos, end);
            if ((status & 0x80) == 0) {
                if (running == 0) damaged("a data byte without a status");
                --pos;
                status = running;
            }
            if (status == 0xff) {
                const unsigned type = byte(pos, end);
                const long len = varlen(pos, end);
                if (len > static_cast<long>(end - pos)) damaged("a meta event runs past its track");
                pos += static_cast<std::size_t>(len);
                if (type == 0x2f) return ticks;
            } else if (status == 0xf0) {
                const long len = varlen(pos, end);
                if (len > static_cast<long>(end - pos))
                    damaged("a system exclusive event runs past its track");
                pos += static_cast<std::size_t>(len);
            } else if (status >= 0xf1) {
                damaged("unsupported event");
            } else {
                running = status;
                const unsigned kind = status & 0xf0;
                const int data = (kind == 0xc0 || kind == 0xd0) ? 1 : 2;
                for (int i = 0; i < data; ++i) {
                    if (byte(pos, end) & 0x80) damaged("a status byte inside a channel event");
                }
            }
        }
        return ticks;
    }

    const std::vector<unsigned char>& b_;
    const std::string& name_;
};

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

std::string join(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items) {
        if (!text.empty()) text += ", ";
        text += item;
    }
    return text;
}

}  // namespace

void FluidPlayer::SettingsDeleter::operator()(fluid_settings_t* p) const {
    delete_fluid_settings(p);
}
void FluidPlayer::SynthDeleter::operator()(fluid_synth_t* p) const { delete_fluid_synth(p); }
void FluidPlayer::PlayerDeleter::operator()(fluid_player_t* p) const { delete_fluid_player(p); }
void FluidPlayer::DriverDeleter::operator()(fluid_audio_driver_t* p) const {
    delete_fluid_audio_driver(p);
}

FluidPlayer::FluidPlayer() : FluidPlayer(Options{}) {}

FluidPlayer::FluidPlayer(Options options) : options_(std::move(options)) {}

FluidPlayer::~FluidPlayer() { close(); }

std::vector<std::string> FluidPlayer::available_drivers() {
    std::vector<std::string> names;
    std::unique_ptr<fluid_settings_t, SettingsDeleter> settings(new_fluid_settings());
    if (!settings) return names;
    fluid_settings_foreach_option(
        settings.get(), "audio.driver", &names, [](void* data, const char*, const char* option) {
            static_cast<std::vector<std::string>*>(data)->push_back(option);
        });
    return names;
}

void FluidPlayer::preload() {
    std::lock_guard lock(mutex_);
    if (synth_ || preload_.valid()) return;
    preload_ = std::async(std::launch::async, &FluidPlayer::load_synth, options_.soundfont);
}

void FluidPlayer::ensure_synth() {
    if (synth_) return;
    LoadedSynth loaded;
    if (preload_.valid()) {
        loaded = preload_.get();  // rethrows the background load's failure
    } else {
        loaded = load_synth(options_.soundfont);
    }
    settings_ = std::move(loaded.settings);
    synth_ = std::move(loaded.synth);
}

FluidPlayer::LoadedSynth FluidPlayer::load_synth(const std::string& chosen_soundfont) {
    install_log_handler();
    std::unique_ptr<fluid_settings_t, SettingsDeleter> settings(new_fluid_settings());
    if (!settings) throw CommandError("Unknown error code");
    // The player's clock must follow the rendered samples: its position then stops while
    // paused and resumes where it stopped, and its timer survives the end of a file.
    fluid_settings_setstr(settings.get(), "player.timing-source", "sample");
    fluid_settings_setint(settings.get(), "player.reset-synth", 1);
    clear_log_error();
    std::unique_ptr<fluid_synth_t, SynthDeleter> synth(new_fluid_synth(settings.get()));
    if (!synth) {
        const std::string why = take_log_error();
        throw CommandError(why.empty() ? "Unknown error code" : why);
    }
    std::string soundfont = chosen_soundfont;
    if (soundfont.empty()) {
        char* name = nullptr;
        if (fluid_settings_dupstr(settings.get(), "synth.default-soundfont", &name) == FLUID_OK &&
            name != nullptr) {
            soundfont = name;
        }
        fluid_free(name);
    }
    if (soundfont.empty()) throw CommandError("no soundfont is configured");
    clear_log_error();
    if (fluid_synth_sfload(synth.get(), soundfont.c_str(), 1) == FLUID_FAILED) {
        const std::string why = take_log_error();
        throw CommandError("cannot load the soundfont '" + soundfont + "'" +
                           (why.empty() ? "" : ": " + why));
    }
    return LoadedSynth{std::move(settings), std::move(synth)};
}

void FluidPlayer::start_output() {
    const std::vector<std::string> built_in = available_drivers();
    const std::set<std::string> available(built_in.begin(), built_in.end());

    std::vector<std::string> candidates = options_.drivers;
    if (candidates.empty()) candidates = split_list(env("QUAVELLA_AUDIO_DRIVER"));
    if (candidates.empty()) {
        for (const char* name : {"pipewire", "pulseaudio", "alsa"}) {
            if (available.count(name) != 0) candidates.emplace_back(name);
        }
        if (candidates.empty()) throw CommandError("no audio output is built into FluidSynth");
    }
    std::string file_name = options_.file_name;
    if (file_name.empty()) file_name = env("QUAVELLA_AUDIO_FILE");

    std::vector<std::string> tried;
    std::string reasons;
    for (const auto& name : candidates) {
        tried.push_back(name);
        if (available.count(name) == 0) {
            reasons += "; " + name + ": not available";
            continue;
        }
        fluid_settings_setstr(settings_.get(), "audio.driver", name.c_str());
        if (name == "file" && !file_name.empty()) {
            fluid_settings_setstr(settings_.get(), "audio.file.name", file_name.c_str());
        }
        clear_log_error();
        driver_.reset(new_fluid_audio_driver(settings_.get(), synth_.get()));
        if (driver_) {
            driver_name_ = name;
            return;
        }
        const std::string why = take_log_error();
        if (!why.empty()) reasons += "; " + name + ": " + why;
    }
    throw CommandError("no audio output could be started (tried: " + join(tried) + ")" + reasons);
}

void FluidPlayer::open(const std::string& file) {
    std::lock_guard lock(mutex_);
    close_locked();
    const std::vector<unsigned char> bytes = read_file(file);
    const int ticks = MidiCheck(bytes, file).total_ticks();
    ensure_synth();

    std::unique_ptr<fluid_player_t, PlayerDeleter> player(new_fluid_player(synth_.get()));
    if (!player || fluid_player_add_mem(player.get(), bytes.data(), bytes.size()) != FLUID_OK) {
        throw CommandError("Unknown error code");
    }
    player_ = std::move(player);
    try {
        start_output();
    } catch (...) {
        player_.reset();
        throw;
    }
    file_ticks_ = ticks;
    paused_ = false;
    restart_pending_ = false;
}

void FluidPlayer::close() {
    std::lock_guard lock(mutex_);
    close_locked();
}

void FluidPlayer::close_locked() {
    if (!player_) return;
    fluid_player_stop(player_.get());
    silence_locked();
    // The audio thread runs the player's timer: it must be gone before the player is.
    driver_.reset();
    player_.reset();
    // Programs and controllers of this file must not carry over to the next one.
    fluid_synth_system_reset(synth_.get());
    file_ticks_ = 0;
    paused_ = false;
    restart_pending_ = false;
}

void FluidPlayer::require_open() const {
    if (!player_) throw CommandError("No MCI device open");
}

void FluidPlayer::silence_locked() {
    fluid_synth_all_notes_off(synth_.get(), -1);
    fluid_synth_all_sounds_off(synth_.get(), -1);
}

int FluidPlayer::total_locked() const { return player_ ? file_ticks_ : 0; }

// FluidSynth's player keeps running after the last event while notes ring out, so the
// end of the file is where its position passes the file's length, whatever its status.
bool FluidPlayer::at_end_locked() const {
    return fluid_player_get_current_tick(player_.get()) >= file_ticks_;
}

FluidPlayer::State FluidPlayer::state_locked() const {
    if (!player_) return State::closed;
    const bool running = fluid_player_get_status(player_.get()) == FLUID_PLAYER_PLAYING;
    if (restart_pending_ && running) {
        // Until the audio thread has taken the rewind, the position still reads the end.
        if (!at_end_locked()) restart_pending_ = false;
        return State::playing;
    }
    restart_pending_ = false;
    if (at_end_locked()) return State::ended;
    if (running) return State::playing;
    return paused_ ? State::paused : State::stopped;
}

void FluidPlayer::play_locked() {
    const State now = state_locked();
    if (now == State::playing) {
        last_status_ = FLUID_OK;
        return;
    }
    if (now == State::ended) {
        // Cut the ringing notes, if any, and start again from the start. When FluidSynth
        // has finished its play list, its play() loads the file again by itself.
        fluid_player_stop(player_.get());
        silence_locked();
        fluid_player_seek(player_.get(), 0);
        restart_pending_ = true;
    }
    paused_ = false;
    last_status_ = fluid_player_play(player_.get());
}

void FluidPlayer::play() {
    std::lock_guard lock(mutex_);
    require_open();
    play_locked();
}

void FluidPlayer::pause() {
    std::lock_guard lock(mutex_);
    require_open();
    switch (state_locked()) {
        case State::playing:
            last_status_ = fluid_player_stop(player_.get());
            silence_locked();
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
    last_status_ = fluid_player_stop(player_.get());
    silence_locked();
    paused_ = false;
}

FluidPlayer::State FluidPlayer::state() const {
    std::lock_guard lock(mutex_);
    return state_locked();
}

int FluidPlayer::current_tick() const {
    std::lock_guard lock(mutex_);
    if (!player_) return 0;
    // Past the end the player counts on while notes ring out; the position stays at the end.
    return std::min(fluid_player_get_current_tick(player_.get()), file_ticks_);
}

std::optional<int> FluidPlayer::position_ticks() const {
    std::lock_guard lock(mutex_);
    const State now = state_locked();
    if (now != State::playing && now != State::paused) return std::nullopt;
    return std::min(fluid_player_get_current_tick(player_.get()), file_ticks_);
}

int FluidPlayer::total_ticks() const {
    std::lock_guard lock(mutex_);
    return total_locked();
}

int FluidPlayer::last_status() const {
    std::lock_guard lock(mutex_);
    return last_status_;
}

std::string FluidPlayer::audio_driver() const {
    std::lock_guard lock(mutex_);
    return driver_name_;
}

std::optional<FluidPlayer::ChannelPreset> FluidPlayer::channel_preset(int channel) const {
    std::lock_guard lock(mutex_);
    if (!player_ || channel < 0 || channel > 15) return std::nullopt;
    fluid_preset_t* preset = fluid_synth_get_channel_preset(synth_.get(), channel);
    if (preset == nullptr) return std::nullopt;
    const char* name = fluid_preset_get_name(preset);
    return ChannelPreset{fluid_preset_get_banknum(preset), fluid_preset_get_num(preset),
                         name != nullptr ? name : ""};
}

}  // namespace quavella
