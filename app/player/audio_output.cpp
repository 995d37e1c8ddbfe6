// The player's audio outputs (see audio_output.h).
#include "app/player/audio_output.h"

#include <fluidsynth.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <stdexcept>
#include <thread>

#include "app/commands/command_error.h"
#include "app/player/fluid_log.h"
#include "app/player/wav_recording.h"

namespace quavella {

namespace {

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

std::string or_unknown(const std::string& why) { return why.empty() ? "Unknown error code" : why; }

std::string no_output_message(const std::string& reasons) {
    return "没有可用的音频输出，无法播放。\n原因：" + reasons +
           "\n请检查音箱或耳机是否已连接、声音服务（PipeWire 或 PulseAudio）是否在运行，"
           "然后再按“播放”。没有声卡时，可以设置环境变量 QUAVELLA_AUDIO_DRIVER=file 和 "
           "QUAVELLA_AUDIO_FILE=文件名.wav，把播放的声音写入 WAV 文件。";
}

struct FluidSettingsFree {
    void operator()(fluid_settings_t* p) const { delete_fluid_settings(p); }
};

/// The platform's sound device through one of FluidSynth's audio drivers.
class DeviceOutput final : public AudioOutput {
public:
    explicit DeviceOutput(fluid_audio_driver_t* driver) : driver_(driver) {}
    ~DeviceOutput() override { delete_fluid_audio_driver(driver_); }

private:
    fluid_audio_driver_t* driver_;
};

/// Renders in real time without a device, into a recording or nowhere: a thread renders
/// one period at a time as the clock reaches it.
class FileOutput final : public AudioOutput {
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

}  // namespace

std::vector<std::string> available_audio_drivers() {
    // Asked once: new settings cost more than the rest of starting an output.
    static const std::vector<std::string> built_in = [] {
        std::vector<std::string> names;
        std::unique_ptr<fluid_settings_t, FluidSettingsFree> settings(new_fluid_settings());
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

std::unique_ptr<AudioOutput> start_audio_output(const AudioChoice& choice,
                                                fluid_settings_t* settings, fluid_synth_t* synth,
                                                std::unique_ptr<WavRecording>& recording,
                                                std::string& driver_name) {
    const std::vector<std::string> built_in = available_audio_drivers();
    const std::set<std::string> available(built_in.begin(), built_in.end());

    std::vector<std::string> candidates;
    std::string none_reason = "没有指定要尝试的音频驱动";
    if (choice.drivers) {
        candidates = *choice.drivers;
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
            std::string file_name = choice.file_name;
            if (file_name.empty()) file_name = env("QUAVELLA_AUDIO_FILE");
            if (!file_name.empty() && !recording) {
                double rate = 44100.0;
                fluid_settings_getnum(settings, "synth.sample-rate", &rate);
                try {
                    recording = std::make_unique<WavRecording>(file_name, static_cast<int>(rate));
                } catch (const std::runtime_error& e) {
                    reasons += "file：无法写入“" + file_name + "”：" + e.what();
                    continue;
                }
            }
            if (recording && !recording->error().empty()) {
                // A recording that could not be written (a full disk) is not played into
                // as if it were: the next play says why.
                reasons += "file：无法写入“" + file_name + "”：" + recording->error();
                continue;
            }
            driver_name = name;
            return std::make_unique<FileOutput>(settings, synth, recording.get());
        }
        if (available.count(name) == 0) {
            reasons += name + "：这个 FluidSynth 没有此音频驱动";
            continue;
        }
        const FluidErrorCapture log;
        fluid_settings_setstr(settings, "audio.driver", name.c_str());
        fluid_audio_driver_t* driver = new_fluid_audio_driver(settings, synth);
        if (driver == nullptr) {
            reasons += name + "：" + or_unknown(log.last());
            continue;
        }
        driver_name = name;
        return std::make_unique<DeviceOutput>(driver);
    }
    throw CommandError(no_output_message(reasons));
}

}  // namespace quavella
