// Melody levels per soundfont and timbre (see melody_level.h).
#include "app/player/melody_level.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iterator>

namespace quavella {

namespace {

constexpr double kFluidDefaultGain = 0.2;
constexpr int kPrograms[10] = {0, 10, 16, 24, 32, 40, 48, 56, 64, 72};

/// The loudest peak in dBFS of 20 compositions per timbre (four lyric texts, all speeds and
/// modes) rendered at FluidSynth's default gain of 0.2, in the order of kPrograms.
struct MeasuredSoundfont {
    const char* file;
    double peak_dbfs[10];
};

constexpr MeasuredSoundfont kMeasured[] = {
    {"FluidR3_GM.sf2",
     {-25.75, -24.21, -21.97, -23.19, -24.00, -24.75, -24.99, -22.88, -22.62, -26.02}},
    {"TimGM6mb.sf2",
     {-29.40, -25.68, -24.45, -25.45, -24.70, -28.22, -11.07, -25.76, -24.73, -30.46}},
    {"MuseScore_General_Lite.sf3",
     {-29.24, -34.33, -26.13, -27.68, -23.48, -28.02, -27.58, -22.70, -25.80, -29.37}},
};

/// What an unmeasured soundfont is assumed to peak at: louder than the measured ones
/// mostly are, so that an unknown melody stays clear of full scale.
constexpr double kUnmeasuredPeakDbfs = -16.0;

double gain_for_peak(double peak_dbfs) {
    return kFluidDefaultGain * std::pow(10.0, (kMelodyPeakDbfs - peak_dbfs) / 20.0);
}

}  // namespace

double melody_gain(const std::string& soundfont, int program) {
    // Debian installs its soundfonts under their own names and links the default to one.
    std::error_code ec;
    std::filesystem::path file = std::filesystem::canonical(soundfont, ec);
    if (ec) file = soundfont;
    const std::string name = file.filename().string();

    for (const MeasuredSoundfont& measured : kMeasured) {
        if (name != measured.file) continue;
        const auto at = std::find(std::begin(kPrograms), std::end(kPrograms), program);
        if (at != std::end(kPrograms)) {
            return gain_for_peak(measured.peak_dbfs[at - std::begin(kPrograms)]);
        }
        // Another program: as loud as the loudest measured timbre of this soundfont.
        return gain_for_peak(
            *std::max_element(std::begin(measured.peak_dbfs), std::end(measured.peak_dbfs)));
    }
    return gain_for_peak(kUnmeasuredPeakDbfs);
}

}  // namespace quavella
