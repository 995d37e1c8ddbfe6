// Audio export: FluidSynth renders the melody into float blocks at sample
// timing; the peak decides one gain for the whole; libsndfile writes the file.
#include "export/audio_render.h"

#include <fcntl.h>
#include <fluidsynth.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <utility>

#include "export/export_file.h"

namespace quavella::exports {

namespace {

// The composition file's channel and velocity.
constexpr int kMelodyChannel = 1;
constexpr int kVelocity = 95;

constexpr int kBlockFrames = 1024;

/// One file type: its extension, FluidSynth's name for it and libsndfile's format.
struct FileType {
    const char* extension;
    const char* fluid_name;
    int format;
};

constexpr FileType kFileTypes[] = {
    {".wav", "wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {".flac", "flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
    {".ogg", "oga", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
    {".oga", "oga", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
    {".aiff", "aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
    {".aif", "aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
    {".au", "au", SF_FORMAT_AU | SF_FORMAT_PCM_16},
    {".caf", "caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16},
    {".w64", "w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16},
    {".rf64", "rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16},
};

struct SettingsDeleter {
    void operator()(fluid_settings_t* s) const { delete_fluid_settings(s); }
};
struct SynthDeleter {
    void operator()(fluid_synth_t* s) const { delete_fluid_synth(s); }
};
using SettingsPtr = std::unique_ptr<fluid_settings_t, SettingsDeleter>;
using SynthPtr = std::unique_ptr<fluid_synth_t, SynthDeleter>;

/// The settings of every render: 44.1 kHz, samples of a preset loaded only
/// when a program selects it (the default soundfont is large).
SettingsPtr render_settings() {
    SettingsPtr settings(new_fluid_settings());
    if (settings) {
        fluid_settings_setnum(settings.get(), "synth.sample-rate", kAudioSampleRate);
        fluid_settings_setint(settings.get(), "synth.dynamic-sample-loading", 1);
    }
    return settings;
}

/// FluidSynth's file types, as offered for its file renderer.
std::vector<std::string> fluid_file_types(fluid_settings_t* settings) {
    std::vector<std::string> types;
    fluid_settings_foreach_option(
        settings, "audio.file.type", &types, [](void* data, const char*, const char* option) {
            static_cast<std::vector<std::string>*>(data)->emplace_back(option);
        });
    return types;
}

const FileType* supported_type(const std::string& extension, fluid_settings_t* settings) {
    const std::vector<std::string> offered = fluid_file_types(settings);
    for (const FileType& type : kFileTypes) {
        if (extension != type.extension) continue;
        if (std::find(offered.begin(), offered.end(), type.fluid_name) == offered.end()) break;
        SF_INFO info{};
        info.samplerate = kAudioSampleRate;
        info.channels = 2;
        info.format = type.format;
        return sf_format_check(&info) ? &type : nullptr;
    }
    return nullptr;
}

std::string lower_extension(const std::filesystem::path& file) {
    std::string ext = file.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

/// Why `soundfont` cannot be loaded: it is missing, or not a regular file (a folder, or a
/// named pipe that would block the export). Nothing when it is a regular file.
std::optional<std::string> soundfont_fault(const std::string& soundfont) {
    struct stat st {};
    if (::stat(soundfont.c_str(), &st) != 0) {
        const int reason = errno;
        if (reason == ENOENT) return std::string("does not exist");
        return std::string("cannot be read: ") + std::strerror(reason);
    }
    if (S_ISREG(st.st_mode)) return std::nullopt;
    if (S_ISDIR(st.st_mode)) return std::string("is a folder, not a soundfont file");
    if (S_ISFIFO(st.st_mode)) return std::string("is a named pipe (FIFO), not a soundfont file");
    if (S_ISSOCK(st.st_mode)) return std::string("is a socket, not a soundfont file");
    return std::string("is a device, not a soundfont file");
}

/// One note event at a frame: on or off.
struct NoteEvent {
    std::int64_t frame;
    int key;
    bool on;
    int channel = kMelodyChannel;
    int velocity = kVelocity;
};

/// One pass over the melody: a synth of its own plays the notes at their frames
/// and then rings out. The stop rule depends only on the samples rendered, so
/// two passes over the same melody give the same frames.
class MelodyRender {
public:
    /// Prepares a synth with the soundfont and the melody's program; sets `error` on failure.
    MelodyRender(const notation::Melody& melody, const AudioSettings& audio,
                 fluid_settings_t* settings, const std::string& soundfont, std::string& error) {
        synth_.reset(new_fluid_synth(settings));
        if (!synth_) {
            error = "FluidSynth cannot create a synthesizer";
            return;
        }
        if (const auto fault = soundfont_fault(soundfont)) {
            error = "the soundfont '" + soundfont + "' " + *fault;
            return;
        }
        if (fluid_synth_sfload(synth_.get(), soundfont.c_str(), 1) == FLUID_FAILED) {
            error = "cannot load the soundfont '" + soundfont + "'";
            return;
        }
        fluid_synth_program_change(synth_.get(), kMelodyChannel,
                                   std::clamp(melody.program, 0, 127));

        // Each note starts where the previous one and its rest end; at a shared frame the
        // ending note is released before the next one sounds.
        const std::int64_t tempo = std::max(melody.tempo, 1);
        const std::int64_t per_minute = tempo * notation::kTicksPerBeat;
        std::int64_t tick = 0;
        const std::size_t n = std::min(melody.notes.size(), melody.ticks.size());
        events_.reserve(2 * n);
        for (std::size_t i = 0; i < n; ++i) {
            const int key = std::clamp(melody.notes[i], 0, 127);
            events_.push_back({tick * kAudioSampleRate * 60 / per_minute, key, true});
            tick += std::max(melody.ticks[i], 0);
            events_.push_back({tick * kAudioSampleRate * 60 / per_minute, key, false});
            tick += notation::rest_after(melody, i);
        }
        if (!audio.accompaniment.empty()) {
            fluid_synth_program_change(synth_.get(), harmony::kAccompanimentChannel,
                                       std::clamp(audio.accompaniment_program, 0, 127));
            for (const harmony::AccompanimentNote& note : audio.accompaniment) {
                const int key = std::clamp(note.key, 0, 127);
                const int velocity = std::clamp(note.velocity, 1, 127);
                events_.push_back({note.start * kAudioSampleRate * 60 / per_minute, key, true,
                                   harmony::kAccompanimentChannel, velocity});
                events_.push_back(
                    {(note.start + std::max(note.ticks, 0)) * kAudioSampleRate * 60 / per_minute,
                     key, false, harmony::kAccompanimentChannel, 0});
            }
            // In time order; at a shared frame the notes ending are released first.
            std::stable_sort(events_.begin(), events_.end(),
                             [](const NoteEvent& a, const NoteEvent& b) {
                                 return a.frame != b.frame ? a.frame < b.frame : !a.on && b.on;
                             });
        }
        music_end_ = 0;
        for (const NoteEvent& e : events_) music_end_ = std::max(music_end_, e.frame);
    }

    /// Renders up to kBlockFrames interleaved stereo frames into `out`.
    /// @return the frames rendered; 0 once the melody has rung out
    int next(float* out) {
        if (done_) return 0;
        while (next_event_ < events_.size() && events_[next_event_].frame <= frame_) {
            const NoteEvent& e = events_[next_event_++];
            if (e.on)
                fluid_synth_noteon(synth_.get(), e.channel, e.key, e.velocity);
            else
                fluid_synth_noteoff(synth_.get(), e.channel, e.key);
        }
        std::int64_t frames = kBlockFrames;
        if (next_event_ < events_.size())
            frames = std::min(frames, events_[next_event_].frame - frame_);
        const int count = static_cast<int>(frames);
        fluid_synth_write_float(synth_.get(), count, out, 0, 2, out, 1, 2);
        float block_peak = 0.0f;
        for (int i = 0; i < 2 * count; ++i) block_peak = std::max(block_peak, std::fabs(out[i]));

        if (frame_ >= music_end_ && ring_out_over(block_peak)) {
            done_ = true;  // the block is below the floor: leave it out
            return 0;
        }
        peak_ = std::max(peak_, block_peak);
        frame_ += count;
        return count;
    }

    /// The largest absolute sample of the frames returned so far.
    float peak() const { return peak_; }

private:
    /// The ring-out ends once no voice sounds and a block stays below the floor
    /// under the peak, or when it has lasted kMaxRingOutSeconds.
    bool ring_out_over(float block_peak) const {
        const auto longest = static_cast<std::int64_t>(kMaxRingOutSeconds * kAudioSampleRate);
        if (frame_ - music_end_ >= longest) return true;
        const auto floor = static_cast<float>(peak_ * std::pow(10.0, -kRingOutFloorDb / 20.0));
        return fluid_synth_get_active_voice_count(synth_.get()) == 0 && block_peak <= floor;
    }

    SynthPtr synth_;
    std::vector<NoteEvent> events_;
    std::size_t next_event_ = 0;
    std::int64_t frame_ = 0;
    std::int64_t music_end_ = 0;
    float peak_ = 0.0f;
    bool done_ = false;
};

struct SndfileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};

/// Ogg's page checksum: CRC-32, polynomial 0x04C11DB7, most significant bit first,
/// starting from 0, with no final inversion.
std::uint32_t ogg_crc(const unsigned char* data, std::size_t size) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t r = i << 24;
            for (int k = 0; k < 8; ++k)
                r = (r & 0x80000000U) != 0 ? (r << 1) ^ 0x04C11DB7U : r << 1;
            t[i] = r;
        }
        return t;
    }();
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) crc = (crc << 8) ^ table[((crc >> 24) ^ data[i]) & 0xFF];
    return crc;
}

/// Sets the serial number of every page of an Ogg stream, and so each page's checksum.
/// @return false when `bytes` is not a run of whole Ogg pages
bool set_ogg_serial(std::string& bytes, std::uint32_t serial) {
    // Each page: "OggS", version 0, flags, granule position (8), serial (4), page
    // number (4), checksum (4), segment count, the segment sizes, the data.
    constexpr std::size_t kHeader = 27;
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < kHeader || bytes.compare(at, 4, "OggS") != 0 || bytes[at + 4] != 0)
            return false;
        auto* page = reinterpret_cast<unsigned char*>(bytes.data() + at);
        const std::size_t segments = page[26];
        if (bytes.size() - at < kHeader + segments) return false;
        std::size_t size = kHeader + segments;
        for (std::size_t k = 0; k < segments; ++k) size += page[kHeader + k];
        if (bytes.size() - at < size) return false;
        for (int k = 0; k < 4; ++k) {
            page[14 + k] = static_cast<unsigned char>(serial >> (8 * k));
            page[22 + k] = 0;
        }
        const std::uint32_t crc = ogg_crc(page, size);
        for (int k = 0; k < 4; ++k) page[22 + k] = static_cast<unsigned char>(crc >> (8 * k));
        at += size;
    }
    return true;
}

/// The stream serial number of a melody's Ogg audio: the same melody, the same number.
std::uint32_t ogg_serial_of(const notation::Melody& melody) {
    // FNV-1a over the numbers that make the sound.
    std::uint32_t hash = 2166136261U;
    const auto add = [&hash](int value) {
        const auto bits = static_cast<std::uint32_t>(value);
        for (int k = 0; k < 4; ++k) {
            hash ^= (bits >> (8 * k)) & 0xFF;
            hash *= 16777619U;
        }
    };
    add(melody.tempo);
    add(melody.program);
    for (const int note : melody.notes) add(note);
    for (const int ticks : melody.ticks) add(ticks);
    // A melody without rests keeps the serial it always had.
    for (const int rest : melody.rests) add(rest);
    return hash;
}

/// An Ogg stream put together in memory: libsndfile draws the stream's serial number at
/// random, so the pages are held until the stream is complete, given the serial of the
/// melody and their checksums again, and only then written.
class MemoryStream {
public:
    static SF_VIRTUAL_IO* io() {
        static SF_VIRTUAL_IO calls{
            [](void* self) -> sf_count_t {
                return static_cast<sf_count_t>(static_cast<MemoryStream*>(self)->bytes_.size());
            },
            [](sf_count_t offset, int whence, void* self) -> sf_count_t {
                auto& s = *static_cast<MemoryStream*>(self);
                const sf_count_t base = whence == SEEK_CUR ? s.at_
                                        : whence == SEEK_END
                                            ? static_cast<sf_count_t>(s.bytes_.size())
                                            : 0;
                if (base + offset < 0) return -1;
                s.at_ = base + offset;
                return s.at_;
            },
            [](void* out, sf_count_t count, void* self) -> sf_count_t {
                auto& s = *static_cast<MemoryStream*>(self);
                const auto size = static_cast<sf_count_t>(s.bytes_.size());
                const sf_count_t n = std::max<sf_count_t>(0, std::min(count, size - s.at_));
                if (n > 0) std::memcpy(out, s.bytes_.data() + s.at_, static_cast<std::size_t>(n));
                s.at_ += n;
                return n;
            },
            [](const void* in, sf_count_t count, void* self) -> sf_count_t {
                auto& s = *static_cast<MemoryStream*>(self);
                const auto end = static_cast<std::size_t>(s.at_ + count);
                // No exception may cross libsndfile: a short write is its failure.
                try {
                    if (end > s.bytes_.size()) s.bytes_.resize(end);
                } catch (const std::bad_alloc&) {
                    return 0;
                }
                std::memcpy(s.bytes_.data() + s.at_, in, static_cast<std::size_t>(count));
                s.at_ += count;
                return count;
            },
            [](void* self) -> sf_count_t { return static_cast<MemoryStream*>(self)->at_; },
        };
        return &calls;
    }

    std::string bytes_;
    sf_count_t at_ = 0;
};

/// The output file, opened before rendering so a bad name fails fast.
class AudioOut {
public:
    AudioOut(const std::filesystem::path& file, int format, std::uint32_t ogg_serial,
             std::string& error)
        : ogg_serial_(ogg_serial) {
        errno = 0;
        fd_ = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            error = std::strerror(errno);
            return;
        }
        SF_INFO info{};
        info.samplerate = kAudioSampleRate;
        info.channels = 2;
        info.format = format;
        errno = 0;
        if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG) {
            memory_ = std::make_unique<MemoryStream>();
            file_.reset(sf_open_virtual(MemoryStream::io(), SFM_WRITE, &info, memory_.get()));
        } else {
            // libsndfile closes the descriptor with the file.
            file_.reset(sf_open_fd(fd_, SFM_WRITE, &info, SF_TRUE));
        }
        if (!file_) {
            error = reason(nullptr);
            ::close(fd_);
            fd_ = -1;
            return;
        }
        if (!memory_) fd_ = -1;
        // Samples beyond full scale are clipped, never wrapped around.
        sf_command(file_.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
    }

    ~AudioOut() {
        file_.reset();
        if (fd_ >= 0) ::close(fd_);
    }
    AudioOut(const AudioOut&) = delete;
    AudioOut& operator=(const AudioOut&) = delete;

    bool is_open() const { return file_ != nullptr; }

    /// Writes `frames` interleaved stereo frames scaled by `gain`.
    bool write(float* samples, int frames, float gain, std::string& error) {
        for (int i = 0; i < 2 * frames; ++i) samples[i] *= gain;
        errno = 0;
        if (sf_writef_float(file_.get(), samples, frames) != frames) {
            error = reason(file_.get());
            return false;
        }
        return true;
    }

    /// Completes the file. @return false with `error` set when it could not be completed
    bool close(std::string& error) {
        if (sf_close(file_.release()) != 0) {
            error = "write error (maybe disk full)";
            return false;
        }
        if (!memory_) return true;
        if (!set_ogg_serial(memory_->bytes_, ogg_serial_)) {
            error = "libsndfile wrote an Ogg stream this program cannot read back";
            return false;
        }
        const std::string& bytes = memory_->bytes_;
        for (std::size_t done = 0; done < bytes.size();) {
            errno = 0;
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error = n < 0 ? std::strerror(errno) : "write error (maybe disk full)";
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        const int fd = std::exchange(fd_, -1);
        errno = 0;
        if (::close(fd) != 0) {
            error = std::strerror(errno);
            return false;
        }
        return true;
    }

private:
    /// Why the last libsndfile call failed: the system's reason when there is
    /// one (a full disk), libsndfile's own otherwise.
    static std::string reason(SNDFILE* file) {
        if (errno != 0) return std::strerror(errno);
        return sf_strerror(file);
    }

    std::uint32_t ogg_serial_;
    int fd_ = -1;  ///< held only while an Ogg stream waits in memory
    std::unique_ptr<MemoryStream> memory_;
    std::unique_ptr<SNDFILE, SndfileCloser> file_;
};

/// The progress callback of a render, told only rising fractions.
class Progress {
public:
    explicit Progress(const std::function<bool(double)>& callback) : callback_(callback) {}
    /// @return false when the callback asks to stop
    bool tell(double done) {
        if (!callback_) return true;
        done_ = std::max(done_, std::clamp(done, 0.0, 1.0));
        return callback_(done_);
    }

private:
    const std::function<bool(double)>& callback_;
    double done_ = 0.0;
};

float gain_for(float peak) {
    if (peak <= 0.0f) return 1.0f;  // silence stays silence
    return static_cast<float>(std::pow(10.0, kAudioPeakDbfs / 20.0) / peak);
}

}  // namespace

std::vector<std::string> audio_extensions() {
    const SettingsPtr settings = render_settings();
    std::vector<std::string> extensions;
    if (!settings) return extensions;
    for (const FileType& type : kFileTypes) {
        if (supported_type(type.extension, settings.get()) != nullptr)
            extensions.emplace_back(type.extension);
    }
    return extensions;
}

std::optional<std::string> render_audio(const notation::Score& score,
                                        const std::filesystem::path& file,
                                        const AudioSettings& audio) {
    return write_staged(
        file, [&](files::StagedFile& staged) { return render_audio(score, staged, audio); });
}

std::optional<std::string> render_audio(const notation::Score& score, files::StagedFile& staged,
                                        const AudioSettings& audio) {
    const std::filesystem::path& file = staged.target();
    if (staged.error()) return staged.error();
    const SettingsPtr settings = render_settings();
    if (!settings) return write_failure(file, "FluidSynth cannot create its settings");

    // 1. The file type from the extension, before any work.
    const FileType* type = supported_type(lower_extension(file), settings.get());
    if (type == nullptr) {
        std::string known;
        for (const std::string& ext : audio_extensions())
            known += (known.empty() ? "" : ", ") + ext;
        const std::string ext = file.extension().string();
        return write_failure(file,
                             (ext.empty() ? std::string("no audio file type given")
                                          : "audio file type '" + ext + "' is not supported") +
                                 " (use " + known + ")");
    }

    // The length of the notes, from the melody alone: a melody over the limit is refused
    // before the synthesizer or the file is made.
    const std::int64_t notes_frames = [&] {
        std::int64_t ticks = 0;
        for (const int t : score.melody.ticks) ticks += std::max(t, 0);
        for (const int r : score.melody.rests) ticks += std::max(r, 0);
        return ticks * kAudioSampleRate * 60 /
               (std::int64_t{std::max(score.melody.tempo, 1)} * notation::kTicksPerBeat);
    }();
    if (static_cast<double>(notes_frames) > audio.max_seconds * kAudioSampleRate) {
        const auto minutes = [](double seconds) {
            char text[32];
            std::snprintf(text, sizeof text, "%.1f", seconds / 60);
            return std::string(text);
        };
        return write_failure(
            file, "the melody lasts " +
                      minutes(static_cast<double>(notes_frames) / kAudioSampleRate) +
                      " minutes; an audio export holds at most " + minutes(audio.max_seconds) +
                      " minutes");
    }

    std::string soundfont = audio.soundfont;
    if (soundfont.empty()) {
        char* name = nullptr;
        if (fluid_settings_dupstr(settings.get(), "synth.default-soundfont", &name) == FLUID_OK &&
            name != nullptr) {
            soundfont = name;
        }
        fluid_free(name);
    }

    // 2. The synthesizer with its soundfont, then the output file.
    Progress progress(audio.progress);
    if (!progress.tell(0.0)) return write_failure(file, kAudioCancelled);
    std::string error;
    auto render =
        std::make_unique<MelodyRender>(score.melody, audio, settings.get(), soundfont, error);
    if (!error.empty()) return write_failure(file, error);
    // The audio goes to the temporary; the file is replaced only when it is complete.
    AudioOut out(staged.temp_path(), type->format, ogg_serial_of(score.melody), error);
    if (!out.is_open()) return write_failure(file, error);

    // 3. Render. A melody that fits in memory is rendered once; a longer one is
    //    rendered to find its peak and then again to be written. The progress counts
    //    frames rendered against the notes' length (the ring-out is short beside it):
    //    one pass is 90 % of the work and the writing the rest; two passes half each;
    //    the last step, 1, is the file complete.
    std::vector<float> block(2 * kBlockFrames);
    const auto ring_out_frames = static_cast<std::int64_t>(kMaxRingOutSeconds * kAudioSampleRate);
    const double notes = static_cast<double>(std::max<std::int64_t>(notes_frames, 1));
    if (notes_frames + ring_out_frames <= audio.memory_frames) {
        std::vector<float> samples;
        samples.reserve(static_cast<std::size_t>(2 * (notes_frames + ring_out_frames / 4)));
        std::int64_t rendered = 0;
        while (const int frames = render->next(block.data())) {
            samples.insert(samples.end(), block.begin(), block.begin() + 2 * frames);
            rendered += frames;
            if (!progress.tell(0.9 * std::min(1.0, static_cast<double>(rendered) / notes)))
                return write_failure(file, kAudioCancelled);
        }
        const float gain = gain_for(render->peak());
        for (std::size_t at = 0; at < samples.size(); at += 2 * kBlockFrames) {
            const auto frames =
                static_cast<int>(std::min<std::size_t>(kBlockFrames, (samples.size() - at) / 2));
            if (!out.write(samples.data() + at, frames, gain, error))
                return write_failure(file, error);
            if (!progress.tell(0.9 +
                               0.1 * static_cast<double>(at) / static_cast<double>(samples.size())))
                return write_failure(file, kAudioCancelled);
        }
    } else {
        std::int64_t rendered = 0;
        while (const int frames = render->next(block.data())) {
            rendered += frames;
            if (!progress.tell(0.5 * std::min(1.0, static_cast<double>(rendered) / notes)))
                return write_failure(file, kAudioCancelled);
        }
        const float gain = gain_for(render->peak());
        render =
            std::make_unique<MelodyRender>(score.melody, audio, settings.get(), soundfont, error);
        if (!error.empty()) return write_failure(file, error);
        const double total = static_cast<double>(std::max<std::int64_t>(rendered, 1));
        std::int64_t written = 0;
        while (const int frames = render->next(block.data())) {
            if (!out.write(block.data(), frames, gain, error)) return write_failure(file, error);
            written += frames;
            if (!progress.tell(0.5 + 0.49 * std::min(1.0, static_cast<double>(written) / total)))
                return write_failure(file, kAudioCancelled);
        }
    }
    if (!out.close(error)) return write_failure(file, error);
    if (!progress.tell(1.0)) return write_failure(file, kAudioCancelled);
    return std::nullopt;
}

}  // namespace quavella::exports
