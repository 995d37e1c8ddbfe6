// Audio export: the melody rendered through FluidSynth with the default General
// MIDI soundfont, faster than real time, peak-normalized and written with
// libsndfile. Kept out of the Qt-free core; the command line and the window
// link it as quavella_audio.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/staged_file.h"
#include "harmony/accompaniment.h"
#include "notation/score.h"

namespace quavella::exports {

/// Sample rate of the audio export, in frames per second.
inline constexpr int kAudioSampleRate = 44100;
/// The loudest sample of an export, in dB below full scale.
inline constexpr double kAudioPeakDbfs = -1.0;
/// Below this level under the peak the ring-out counts as silent, in dB.
inline constexpr double kRingOutFloorDb = 80.0;
/// The longest ring-out rendered after the last note ends, in seconds.
inline constexpr double kMaxRingOutSeconds = 10.0;

/// The longest melody an audio export renders, in seconds: 30 minutes, about 300 MB of
/// WAV and as many seconds of rendering. A longer one (only lyrics of many thousands of
/// syllables compose to one) is refused before anything is written.
inline constexpr double kMaxAudioSeconds = 30 * 60;

/// How the melody is rendered.
struct AudioSettings {
    /// The soundfont; empty for FluidSynth's default (synth.default-soundfont).
    std::string soundfont;
    /// Renders of at most this many frames (with the longest ring-out) are kept
    /// in memory and rendered once; longer ones are rendered twice, first to
    /// find the peak, then to write. The default, 64 MB of samples, holds
    /// about three minutes.
    std::int64_t memory_frames = 8 * 1024 * 1024;
    /// Melodies longer than this many seconds are refused.
    double max_seconds = kMaxAudioSeconds;
    /// Told the fraction of the work done (0 to 1, rising; 1 once the file is complete),
    /// every block of a few milliseconds, on the rendering thread. Returning false stops
    /// the render: it returns kAudioCancelled as its reason and writes nothing.
    /// Empty: the render goes on to the end.
    std::function<bool(double done)> progress;
    /// Notes played with the melody (an arrangement's accompaniment), on the
    /// accompaniment's channel with `accompaniment_program` and their own velocities.
    /// Empty: the melody alone.
    std::vector<harmony::AccompanimentNote> accompaniment;
    int accompaniment_program = 0;
};

/// The reason a render stopped by its progress callback gives (after the file's name).
inline constexpr const char* kAudioCancelled = "the export was cancelled";

/// The file name extensions the audio export writes (".wav", ".flac", ".ogg",
/// ...), lower case: the file types the installed FluidSynth offers for its
/// file renderer that libsndfile can write here.
std::vector<std::string> audio_extensions();

/// Renders the melody as the composition file plays it (the melody's program on
/// channel 2, velocity 95, each note starting where the previous one ends) at
/// 44.1 kHz stereo, lets the last note ring out until it is silent, scales the
/// whole so that its peak is kAudioPeakDbfs, and writes `file` as 16-bit audio
/// (Ogg Vorbis has no sample size) in the format its extension names.
/// @return the reason, naming the file, when nothing or not all was written (a melody
/// longer than AudioSettings::max_seconds is refused so, with the length and the limit)
std::optional<std::string> render_audio(const notation::Score& score,
                                        const std::filesystem::path& file,
                                        const AudioSettings& settings = {});
/// The same into a staged file's temporary (the type from its target's extension);
/// the caller commits it (with others).
std::optional<std::string> render_audio(const notation::Score& score, files::StagedFile& out,
                                        const AudioSettings& settings = {});

}  // namespace quavella::exports
