// The audio export through FluidSynth and the default soundfont, measured by
// sox: format, peak, length with the ring-out, and one sound per timbre.
#include "export/audio_render.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "composer/style_tables.h"
#include "export_test_support.h"
#include "score_fixture.h"

namespace quavella::export_test {
namespace {

using exports::render_audio;

/// What sox says about an audio file.
struct SoxInfo {
    int rate = 0;
    int channels = 0;
    std::string precision;
    double seconds = 0;
    double peak = 0;  ///< largest absolute sample, 1 = full scale
    double rms = 0;
    long rough_frequency = 0;
};

SoxInfo sox_info(const fs::path& file) {
    SoxInfo info;
    const std::string name = quoted(file.string());
    const CommandResult soxi = run("soxi " + name);
    EXPECT_EQ(soxi.status, 0) << soxi.out;
    std::istringstream lines(soxi.out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string key = line.substr(0, colon);
        key.erase(key.find_last_not_of(' ') + 1);
        const std::string value = line.substr(colon + 2);
        if (key == "Channels") info.channels = std::stoi(value);
        if (key == "Sample Rate") info.rate = std::stoi(value);
        if (key == "Precision") info.precision = value;
    }
    const CommandResult stat = run("sox " + name + " -n stat");
    EXPECT_EQ(stat.status, 0) << stat.out;
    std::map<std::string, double> values;
    std::istringstream stats(stat.out);
    while (std::getline(stats, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string key = line.substr(0, colon);
        key.erase(key.find_last_not_of(' ') + 1);
        try {
            values[key] = std::stod(line.substr(colon + 1));
        } catch (const std::exception&) {
        }
    }
    info.seconds = values["Length (seconds)"];
    info.peak = std::max(values["Maximum amplitude"], -values["Minimum amplitude"]);
    info.rms = values["RMS     amplitude"];
    info.rough_frequency = std::lround(values["Rough   frequency"]);
    return info;
}

/// Six notes of 120 bpm with a held last note: 4.5 seconds of music.
notation::Score little_tune(int program) {
    return score_of({{60, 120, "do"},
                     {64, 120, "mi"},
                     {67, 120, "sol"},
                     {72, 240, "do"},
                     {67, 120, "sol"},
                     {60, 360, "do", false, true}},
                    120, program);
}
constexpr double kTuneSeconds = 1080.0 / 120 * 0.5;

struct FormatRow {
    const char* extension;
    const char* precision;  // as soxi reports it
    double peak_tolerance_db;
};

void PrintTo(const FormatRow& row, std::ostream* out) { *out << row.extension; }

class AudioFormats : public ScratchDir, public testing::WithParamInterface<FormatRow> {};

TEST_P(AudioFormats, StereoAt44kPeakAtMinusOneDbfsRingingOutAfterTheMusic) {
    QUAVELLA_REQUIRE_TOOL("sox");
    const FormatRow& row = GetParam();
    const fs::path out = file(std::string("tune") + row.extension);
    ASSERT_FALSE(render_audio(little_tune(0), out));
    const SoxInfo info = sox_info(out);
    EXPECT_EQ(info.rate, 44100);
    EXPECT_EQ(info.channels, 2);
    if (*row.precision != '\0') {
        EXPECT_EQ(info.precision, row.precision);
    }
    EXPECT_NEAR(20 * std::log10(info.peak), exports::kAudioPeakDbfs, row.peak_tolerance_db);
    // The last note rings out, then the file stops: no long silence at the end.
    EXPECT_GT(info.seconds, kTuneSeconds + 0.2);
    EXPECT_LT(info.seconds, kTuneSeconds + 3.0);
}

const FormatRow kFormatRows[] = {
    {".wav", "16-bit", 0.01},
    {".flac", "16-bit", 0.01},
    {".ogg", "", 0.5},  // lossy: the decoded peak moves a little
    {".AIFF", "16-bit", 0.01},
};
INSTANTIATE_TEST_SUITE_P(Extensions, AudioFormats, testing::ValuesIn(kFormatRows),
                         [](const auto& row) { return std::string(row.param.extension + 1); });

class AudioRender : public ScratchDir {};

// A rest after a note is silence between it and the next note: the sound is longer by
// the rest, and quiet at its end while the notes around it sound.
TEST_F(AudioRender, ARestIsSilenceBetweenTheNotes) {
    QUAVELLA_REQUIRE_TOOL("sox");
    notation::Score rested = little_tune(0);
    rested.melody.rests = {0, 0, 480, 0, 0, 0};  // two seconds after the third note
    rested = notation::build_score(rested.melody);
    ASSERT_FALSE(render_audio(little_tune(0), file("plain.wav")));
    ASSERT_FALSE(render_audio(rested, file("rested.wav")));
    EXPECT_NEAR(sox_info(file("rested.wav")).seconds - sox_info(file("plain.wav")).seconds, 2.0,
                0.05);
    const auto rms = [this](double from) {
        const CommandResult stat = run("sox " + quoted(file("rested.wav").string()) + " -n trim " +
                                       std::to_string(from) + " 0.4 stat");
        const std::size_t at = stat.out.find("RMS     amplitude:");
        return at == std::string::npos ? -1.0 : std::stod(stat.out.substr(at + 18));
    };
    const double sounding = rms(0.05);  // the first note
    const double rest_end = rms(3.05);  // the last of the rest, 1.5 s after the note-off
    ASSERT_GT(sounding, 0.0);
    ASSERT_GE(rest_end, 0.0);
    EXPECT_LT(rest_end, sounding / 20);
    EXPECT_GT(rms(3.55), sounding / 10);  // the fourth note, after the rest
}

TEST_F(AudioRender, OffersTheCommonFormatsOfThisFluidSynth) {
    const auto extensions = exports::audio_extensions();
    for (const char* ext : {".wav", ".flac", ".ogg"}) {
        EXPECT_NE(std::find(extensions.begin(), extensions.end(), ext), extensions.end()) << ext;
    }
}

TEST_F(AudioRender, EveryTimbreSoundsDifferent) {
    QUAVELLA_REQUIRE_TOOL("sox");
    std::set<std::pair<long, long>> sounds;  // RMS in thousandths, rough frequency
    for (int timbre = 0; timbre < 10; ++timbre) {
        const int program = program_number(timbre);
        const fs::path out = file("t" + std::to_string(program) + ".wav");
        ASSERT_FALSE(render_audio(little_tune(program), out));
        const SoxInfo info = sox_info(out);
        EXPECT_NEAR(info.peak, 0.891, 0.002) << "program " << program;
        sounds.insert({std::lround(info.rms * 1000), info.rough_frequency});
    }
    EXPECT_EQ(sounds.size(), 10u);
}

TEST_F(AudioRender, RenderingTwiceForALongMelodyWritesTheSameFile) {
    exports::AudioSettings two_passes;
    two_passes.memory_frames = 0;
    ASSERT_FALSE(render_audio(little_tune(40), file("once.wav")));
    ASSERT_FALSE(render_audio(little_tune(40), file("twice.wav"), two_passes));
    const std::string once = read_file(file("once.wav"));
    EXPECT_GT(once.size(), 44u + 4 * 44100 * 4);
    EXPECT_TRUE(once == read_file(file("twice.wav")));
}

TEST_F(AudioRender, TheSameMelodyGivesTheSameOggBytes) {
    // The Ogg stream's serial number comes from the melody, not from a random draw:
    // two exports are the same file, and each still decodes to the whole tune.
    for (const char* name : {"a.ogg", "b.ogg"})
        ASSERT_FALSE(render_audio(little_tune(0), file(name)));
    const std::string a = read_file(file("a.ogg"));
    ASSERT_GT(a.size(), 1000u);
    EXPECT_TRUE(a == read_file(file("b.ogg")));
    // Another melody is another stream.
    ASSERT_FALSE(render_audio(little_tune(40), file("c.ogg")));
    EXPECT_NE(a.substr(14, 4), read_file(file("c.ogg")).substr(14, 4));
    QUAVELLA_REQUIRE_TOOL("sox");
    EXPECT_GT(sox_info(file("b.ogg")).seconds, kTuneSeconds);
}

TEST_F(AudioRender, FailuresNameTheFileAndTheReason) {
    exports::AudioSettings missing_font;
    missing_font.soundfont = file("none.sf2").string();
    exports::AudioSettings fifo_font, folder_font;
    fifo_font.soundfont = file("fifo.sf2").string();
    ASSERT_EQ(::mkfifo(fifo_font.soundfont.c_str(), 0600), 0);
    folder_font.soundfont = file("folder.sf2").string();
    fs::create_directory(folder_font.soundfont);
    const struct {
        fs::path file;
        exports::AudioSettings settings;
        std::string reason;
    } rows[] = {
        {file("song.mp3"), {}, "audio file type '.mp3' is not supported (use .wav, .flac, .ogg"},
        {file("song"), {}, "no audio file type given (use .wav"},
        {file("missing/song.wav"), {}, "No such file or directory"},
        // A link (here to /dev/full) is refused, never followed.
        {file("full.wav"), {}, "it is a symbolic link, which is not followed"},
        {file("song.wav"), missing_font,
         "the soundfont '" + missing_font.soundfont + "' does not exist"},
        // Replaced by a named pipe, which would block the export for good: named as such.
        {file("song.wav"), fifo_font,
         "the soundfont '" + fifo_font.soundfont +
             "' is a named pipe (FIFO), not a soundfont file"},
        {file("song.wav"), folder_font,
         "the soundfont '" + folder_font.soundfont + "' is a folder, not a soundfont file"},
    };
    fs::create_symlink("/dev/full", file("full.wav"));
    for (const auto& row : rows) {
        const auto error = render_audio(little_tune(0), row.file, row.settings);
        ASSERT_TRUE(error.has_value()) << row.file;
        EXPECT_NE(error->find("cannot write '" + row.file.string() + "': " + row.reason),
                  std::string::npos)
            << *error;
    }
    // Too long to export: refused before anything is rendered or written. Three minutes
    // of one note at 100 bpm, against a limit of two.
    exports::AudioSettings two_minutes;
    two_minutes.max_seconds = 120;
    notation::Melody long_note;
    long_note.notes = {60};
    long_note.ticks = {300 * notation::kTicksPerBeat};
    long_note.lyrics.resize(1);
    long_note.tempo = 100;
    const auto too_long =
        render_audio(notation::build_score(long_note), file("long.wav"), two_minutes);
    ASSERT_TRUE(too_long.has_value());
    EXPECT_EQ(*too_long, "cannot write '" + file("long.wav").string() +
                             "': the melody lasts 3.0 minutes; an audio export holds at most "
                             "2.0 minutes");
    EXPECT_FALSE(fs::exists(file("long.wav")));
    EXPECT_FALSE(fs::exists(file("song.mp3")));
    EXPECT_FALSE(fs::exists(file("song.wav")));
}

// The progress rises to 1 once the file is complete, in one pass and in two; a callback
// that asks to stop, at the start, in the middle of a pass or at the very end, leaves the
// old file as it was and no temporary beside it.
TEST_F(AudioRender, ProgressRisesToTheEndAndAStopLeavesTheOldFile) {
    for (const std::int64_t memory_frames : {std::int64_t{8} << 20, std::int64_t{0}}) {
        SCOPED_TRACE(memory_frames == 0 ? "two passes" : "one pass");
        exports::AudioSettings settings;
        settings.memory_frames = memory_frames;
        std::vector<double> told;
        settings.progress = [&told](double done) {
            told.push_back(done);
            return true;
        };
        const fs::path out = file("tune.wav");
        ASSERT_FALSE(render_audio(little_tune(0), out, settings));
        ASSERT_GT(told.size(), 100u);  // every block: 4.5 s are about 200 blocks a pass
        EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
        EXPECT_EQ(told.front(), 0.0);
        EXPECT_EQ(told.back(), 1.0);
        EXPECT_EQ(std::count(told.begin(), told.end(), 1.0), 1);
        const std::string complete = read_file(out);

        for (const double stop_at : {0.0, 0.3, 0.7, 1.0}) {
            SCOPED_TRACE(stop_at);
            write_file(out, "old content");
            double last = -1;
            settings.progress = [&last, stop_at](double done) {
                last = done;
                return done < stop_at;
            };
            const auto error = render_audio(little_tune(0), out, settings);
            ASSERT_TRUE(error.has_value());
            EXPECT_EQ(*error, "cannot write '" + out.string() + "': " + exports::kAudioCancelled);
            EXPECT_GE(last, stop_at);
            EXPECT_LT(last, stop_at + 0.05);  // stopped at once, not at the end of a pass
            EXPECT_EQ(read_file(out), "old content");
            EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1)
                << "a temporary is left";
        }
        write_file(out, complete);
    }
}

}  // namespace
}  // namespace quavella::export_test
