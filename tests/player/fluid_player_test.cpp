// The FluidSynth player tested for real: FluidSynth's "file" driver renders the audio in
// real time into a WAV, which the tests read back. Timings have wide margins, since the
// tests also run on a loaded machine and under sanitizers.
#include "app/player/fluid_player.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <numeric>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/player/wav_recording.h"
#include "composer/song.h"
#include "harmony/accompaniment.h"
#include "tests/player/player_test_support.h"

namespace quavella {
namespace {

using namespace player_test;
using State = FluidPlayer::State;
namespace fs = std::filesystem;

constexpr double loud = 100.0;   // RMS of a sounding note is several hundred
constexpr double silent = 12.0;  // dither and the last of the reverb stay below this

// One player for the whole suite, since each player loads the soundfont once; each test
// closes what it opened, and every open starts a new WAV.
class FluidPlayerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        suite_dir_ = fs::temp_directory_path() / ("quavella_player_" + std::to_string(::getpid()));
        fs::create_directories(suite_dir_);
        shared_ = new FluidPlayer(output_to(suite_dir_ / "out.wav"));
        loaded(*shared_);
    }
    static void TearDownTestSuite() {
        delete shared_;
        shared_ = nullptr;
        fs::remove_all(suite_dir_);
    }
    void SetUp() override { shared_->close(); }
    void TearDown() override { shared_->close(); }

    static FluidPlayer& player() { return *shared_; }

    static std::string file(const std::string& name, const Bytes& bytes) {
        const fs::path path = suite_dir_ / name;
        write_file(path, bytes);
        return path.string();
    }

    static FluidPlayer::Options to_wav() { return output_to(suite_dir_ / "own.wav"); }

    /// Loads the soundfont and waits for it, so that a play starts (or fails) at once.
    static void loaded(FluidPlayer& player) {
        player.preload();
        ASSERT_TRUE(player.wait_until_loaded(std::chrono::seconds(30)));
    }

    /// The "file" output, recording into `wav`.
    static FluidPlayer::Options output_to(const fs::path& wav, const std::string& soundfont = "") {
        FluidPlayer::Options options;
        options.drivers = std::vector<std::string>{"file"};
        options.file_name = wav.string();
        options.soundfont = soundfont;
        return options;
    }
    static std::vector<double> rendered() { return envelope(read_wav(suite_dir_ / "out.wav")); }

    static inline fs::path suite_dir_;
    static inline FluidPlayer* shared_ = nullptr;
};

/// What the late start listener heard, from the player's thread.
class LateStarts {
public:
    FluidPlayer::LateStart listener() {
        return [this](const std::optional<std::string>& failure) {
            const std::lock_guard lock(mutex_);
            told_.push_back(failure);
        };
    }
    std::vector<std::optional<std::string>> told() const {
        const std::lock_guard lock(mutex_);
        return told_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::optional<std::string>> told_;
};

// Index of the first and one past the last window louder than `level`.
std::pair<std::size_t, std::size_t> sounding_span(const std::vector<double>& env, double level) {
    std::size_t first = env.size();
    std::size_t last = 0;
    for (std::size_t i = 0; i < env.size(); ++i) {
        if (env[i] > level) {
            first = std::min(first, i);
            last = i + 1;
        }
    }
    return {first, last};
}

std::size_t count_loud(const std::vector<double>& env) {
    return static_cast<std::size_t>(
        std::count_if(env.begin(), env.end(), [](double v) { return v > loud; }));
}

TEST_F(FluidPlayerTest, OpensStoppedAtTheStartAndPlaysToTheEnd) {
    const auto notes = run_of_notes(4, 100, 50);
    FluidPlayer& player = FluidPlayerTest::player();
    player.open(file("a.mid", melody(0, notes)));
    EXPECT_EQ(player.state(), State::stopped);
    EXPECT_EQ(player.current_tick(), 0);
    EXPECT_EQ(player.total_ticks(), melody_ticks(notes));

    sleep_ms(150);  // open must not start playing
    EXPECT_EQ(player.current_tick(), 0);

    player.play();
    EXPECT_EQ(player.audio_driver(), "file");
    ASSERT_TRUE(wait_for([&] { return player.state() == State::ended; }, 5000));
    EXPECT_EQ(player.current_tick(), player.total_ticks());
    player.pause();  // nothing to pause at the end
    EXPECT_EQ(player.state(), State::ended);
    player.close();
    EXPECT_EQ(player.state(), State::closed);

    const auto env = rendered();
    const auto [first, last] = sounding_span(env, loud);
    ASSERT_LT(first, last) << "nothing was heard";
    EXPECT_LE(first, 2u) << "the first note did not sound within 20 ms of play";
}

TEST_F(FluidPlayerTest, PlayAfterTheEndStartsAgainFromTheStart) {
    const auto notes = run_of_notes(4, 100, 50);
    FluidPlayer& player = FluidPlayerTest::player();
    player.open(file("a.mid", melody(0, notes)));
    player.play();
    ASSERT_TRUE(wait_for([&] { return player.state() == State::ended; }, 5000));

    // Once while the last notes still ring out, once after FluidSynth finished the file.
    for (int wait_after_end : {100, 3500}) {
        SCOPED_TRACE(wait_after_end);
        sleep_ms(wait_after_end);
        ASSERT_EQ(player.state(), State::ended);
        player.play();
        EXPECT_EQ(player.state(), State::playing);
        int lowest = player.total_ticks();
        ASSERT_TRUE(wait_for(
            [&] {
                if (player.state() != State::playing) return true;
                lowest = std::min(lowest, player.current_tick());
                return false;
            },
            5000));
        EXPECT_LT(lowest, player.total_ticks() / 2) << "did not rewind";
        EXPECT_EQ(player.state(), State::ended);
    }
    player.close();

    // Three plays of about 0.55 s of notes each.
    const double loud_seconds = double(count_loud(rendered())) / 100.0;
    EXPECT_GT(loud_seconds, 1.2);
    EXPECT_LT(loud_seconds, 2.6);
}

TEST_F(FluidPlayerTest, PauseSilencesAndResumeContinuesFromTheSameTick) {
    const auto notes = run_of_notes(10, 100, 20);  // 1180 ticks of steady notes
    const int total = melody_ticks(notes);
    FluidPlayer& player = FluidPlayerTest::player();
    player.open(file("a.mid", melody(16, notes)));
    player.play();
    ASSERT_TRUE(wait_for([&] { return player.current_tick() >= 500; }, 5000));

    player.pause();
    const int paused_at = player.current_tick();
    EXPECT_EQ(player.state(), State::paused);
    EXPECT_FALSE(player.rendering());
    const std::size_t rendered_at_pause = wav_frames(suite_dir_ / "out.wav");
    sleep_ms(500);
    EXPECT_EQ(player.current_tick(), paused_at);
    EXPECT_EQ(player.state(), State::paused);
    EXPECT_EQ(wav_frames(suite_dir_ / "out.wav"), rendered_at_pause) << "rendered while paused";

    player.pause();  // resumes
    const int resumed_at = player.current_tick();
    EXPECT_EQ(player.state(), State::playing);
    EXPECT_GE(resumed_at, paused_at);
    EXPECT_LE(resumed_at, paused_at + 100);
    ASSERT_TRUE(wait_for([&] { return player.state() == State::ended; }, 5000));
    player.close();

    // The recording holds what played: the part before the pause, then the rest of the
    // melody once, about total - paused_at ms of notes.
    const auto env = rendered();
    const std::size_t resumed_window = rendered_at_pause / 441;
    const auto [first, last] = sounding_span(env, loud);
    ASSERT_GT(last, resumed_window) << "no sound after resuming";
    const int after_ms = static_cast<int>(last - resumed_window) * 10;
    EXPECT_NEAR(after_ms, total - paused_at, 200);
}

TEST_F(FluidPlayerTest, ThePositionNeverGoesBackAcrossPausesAndStops) {
    // Playing on from a held position, FluidSynth restarts its clock and seeks back in
    // its next period; read in between, its position is briefly wrong. The score
    // window's mark reads the position many times a second, so it must never jump back.
    const auto notes = run_of_notes(20, 100, 20);  // 2380 ticks
    FluidPlayer& player = FluidPlayerTest::player();
    player.open(file("a.mid", melody(16, notes)));
    player.play();
    int held = 0;
    for (int cycle = 0; cycle < 16 && player.state() == State::playing; ++cycle) {
        sleep_ms(40);
        if (cycle % 2 == 0) {
            player.pause();
        } else {
            player.stop();
        }
        held = player.current_tick();
        if (cycle % 2 == 0) {
            player.pause();  // resumes
        } else {
            player.play();
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(30);
        while (std::chrono::steady_clock::now() < until) {
            const int now = player.current_tick();
            ASSERT_GE(now, held) << "cycle " << cycle;
            const std::optional<int> position = player.position_ticks();
            if (position) {
                ASSERT_GE(*position, held) << "cycle " << cycle;
            }
        }
    }
    EXPECT_GT(held, 0);
    player.close();
}

TEST_F(FluidPlayerTest, StopKeepsThePositionAndPlayContinuesFromIt) {
    const auto notes = run_of_notes(10, 100, 20);
    FluidPlayer& player = FluidPlayerTest::player();
    player.open(file("a.mid", melody(16, notes)));
    player.play();
    ASSERT_TRUE(wait_for([&] { return player.current_tick() >= 300; }, 5000));

    player.stop();
    const int stopped_at = player.current_tick();
    EXPECT_EQ(player.state(), State::stopped);
    EXPECT_FALSE(player.rendering());
    const std::size_t rendered_at_stop = wav_frames(suite_dir_ / "out.wav");
    player.pause();  // a stopped player does not resume
    player.stop();   // and stopping again changes nothing
    sleep_ms(600);
    EXPECT_EQ(player.state(), State::stopped);
    EXPECT_EQ(player.current_tick(), stopped_at);
    EXPECT_EQ(wav_frames(suite_dir_ / "out.wav"), rendered_at_stop) << "rendered while stopped";

    player.play();
    const int continued_at = player.current_tick();
    EXPECT_EQ(player.state(), State::playing);
    EXPECT_GE(continued_at, stopped_at);
    EXPECT_LE(continued_at, stopped_at + 100);
    player.play();  // playing on while playing
    EXPECT_EQ(player.state(), State::playing);
    ASSERT_TRUE(wait_for([&] { return player.state() == State::ended; }, 5000));
    player.close();

    // The notes before the stop and after it: about the melody's length of sound.
    const double loud_seconds = double(count_loud(rendered())) / 100.0;
    EXPECT_NEAR(loud_seconds, melody_ticks(notes) / 1000.0, 0.25);
}

// 试听 from a chosen note: the position reads the note at once and never the
// start; only the rest of the melody sounds, whatever the player was doing.
TEST_F(FluidPlayerTest, PlayFromStartsAtTheTickAskedFor) {
    const auto notes = run_of_notes(12, 100, 20);
    const int total = melody_ticks(notes);
    FluidPlayer& player = FluidPlayerTest::player();
    player.open(file("a.mid", melody(16, notes)));
    player.play();
    ASSERT_TRUE(wait_for([&] { return player.current_tick() >= 200; }, 5000));
    const int from = total / 2;
    player.play_from(from);
    EXPECT_EQ(player.state(), State::playing);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
    while (std::chrono::steady_clock::now() < until) {
        const std::optional<int> position = player.position_ticks();
        ASSERT_TRUE(position.has_value());
        ASSERT_GE(*position, from);
    }
    ASSERT_TRUE(wait_for([&] { return player.state() == State::ended; }, 5000));
    player.close();
    // Half the melody sounded after the first notes: about 0.2 s plus half its length.
    const double loud_seconds = double(count_loud(rendered())) / 100.0;
    EXPECT_NEAR(loud_seconds, 0.2 + (total - from) / 1000.0, 0.3);
}

// Each timbre the window offers: its program change reaches the synthesizer, the
// soundfont has the instrument, and it sounds.
TEST_F(FluidPlayerTest, EveryTimbreSoundsAsItsInstrument) {
    FluidPlayer& player = FluidPlayerTest::player();
    std::vector<double> hold(73, 0.0);
    for (int program : {0, 10, 16, 24, 32, 40, 48, 56, 64, 72}) {
        SCOPED_TRACE(program);
        // Piano and organ get a long note, to tell them apart by how it holds.
        const bool long_note = program == 0 || program == 16;
        player.open(file("p.mid", melody(program, {{0, 60, long_note ? 1000 : 150}})));
        player.play();
        ASSERT_TRUE(wait_for([&] { return player.current_tick() >= 50; }, 5000));
        const auto preset = player.channel_preset(1);
        ASSERT_TRUE(preset.has_value());
        EXPECT_EQ(preset->bank, 0);
        EXPECT_EQ(preset->program, program) << preset->name;
        ASSERT_TRUE(wait_for([&] { return player.state() == State::ended; }, 5000));
        player.close();

        const auto env = rendered();
        const auto [first, last] = sounding_span(env, loud);
        ASSERT_LT(first, last) << "program " << program << " was not heard";
        if (long_note) {
            ASSERT_GT(env.size(), first + 95);
            auto mean = [&](std::size_t from, std::size_t to) {
                return std::accumulate(env.begin() + static_cast<long>(first + from),
                                       env.begin() + static_cast<long>(first + to), 0.0) /
                       double(to - from);
            };
            hold[static_cast<std::size_t>(program)] = mean(75, 95) / mean(0, 20);
        }
    }
    // A piano note fades while an organ note holds.
    EXPECT_LT(hold[0], 0.55);
    EXPECT_GT(hold[16], 0.6);
}

TEST_F(FluidPlayerTest, ANewOpenClosesTheHeldFileAndStartsAtTheStart) {
    FluidPlayer& player = FluidPlayerTest::player();
    player.open(file("a.mid", melody(0, run_of_notes(10, 100, 20))));
    player.play();
    ASSERT_TRUE(wait_for([&] { return player.current_tick() >= 200; }, 5000));

    const auto notes = run_of_notes(2, 100, 0);
    player.open(file("b.mid", melody(0, notes)));
    EXPECT_EQ(player.state(), State::stopped);
    EXPECT_EQ(player.current_tick(), 0);
    EXPECT_EQ(player.total_ticks(), melody_ticks(notes));
}

TEST_F(FluidPlayerTest, CommandsWithNothingOpenRaiseNoDeviceOpen) {
    FluidPlayer own(to_wav());
    FluidPlayer& player = own;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "never opened" : "closed");
        EXPECT_EQ(player.state(), State::closed);
        for (auto command : {&FluidPlayer::play, &FluidPlayer::pause, &FluidPlayer::stop}) {
            try {
                (player.*command)();
                ADD_FAILURE() << "no error raised";
            } catch (const CommandError& e) {
                EXPECT_STREQ(e.what(), "No MCI device open");
            }
        }
        EXPECT_NO_THROW(player.close());
        player.open(file("a.mid", melody(0, run_of_notes(1, 100, 0))));
        player.close();
    }
}

struct BadFile {
    const char* name;
    Bytes bytes;  // written to the file unless `missing`
    bool missing;
    std::string expected;  // the reason, after the quoted path
};

void PrintTo(const BadFile& row, std::ostream* os) { *os << row.name; }

class FluidPlayerBadFileTest : public FluidPlayerTest,
                               public ::testing::WithParamInterface<BadFile> {};

TEST_P(FluidPlayerBadFileTest, RaisesAndLeavesThePlayerClosed) {
    const BadFile& row = GetParam();
    FluidPlayer& player = FluidPlayerTest::player();
    player.open(file("good.mid", melody(0, run_of_notes(1, 100, 0))));
    const std::string path =
        row.missing ? (suite_dir_ / "none.mid").string() : file("bad.mid", row.bytes);
    try {
        player.open(path);
        FAIL() << "no error raised";
    } catch (const CommandError& e) {
        EXPECT_EQ(std::string(e.what()), "无法打开旋律文件“" + path + "”：" + row.expected);
    }
    // The file held before was closed first and stays closed.
    EXPECT_EQ(player.state(), State::closed);
    EXPECT_THROW(player.play(), CommandError);
}

Bytes with_track_length(Bytes file, std::uint32_t length) {
    file[18] = static_cast<unsigned char>(length >> 24);
    file[19] = static_cast<unsigned char>(length >> 16);
    file[20] = static_cast<unsigned char>(length >> 8);
    file[21] = static_cast<unsigned char>(length);
    return file;
}

Bytes with_byte(Bytes file, std::size_t at, unsigned char value) {
    file[at] = value;
    return file;
}

const Bytes good = melody(0, run_of_notes(1, 100, 0));

// Each way of damage is a row of the check's own tests; these show that the player
// refuses the file with the check's reason.
INSTANTIATE_TEST_SUITE_P(
    Rows, FluidPlayerBadFileTest,
    ::testing::Values(BadFile{"missing", {}, true, "No such file or directory"},
                      BadFile{"empty", {}, false, "不是 MIDI 文件"},
                      BadFile{"track_past_the_end", with_track_length(good, 4000), false,
                              "MIDI 文件已损坏：第 1 条音轨超出了文件末尾"},
                      BadFile{"chunk_between_tracks", with_byte(good, 14, 'X'), false,
                              "MIDI 文件已损坏：第 1 条音轨之前有不支持的数据块“XTrk”"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(FluidPlayerTest, AMelodyFromMemoryPlaysAsItsFileWouldAndNoFileIsRead) {
    const auto notes = run_of_notes(4, 100, 50);
    const Bytes bytes = melody(0, notes);
    FluidPlayer& player = FluidPlayerTest::player();
    // No file of that name exists: the bytes are all the player has.
    const std::string name = (suite_dir_ / "never-written.mid").string();
    player.open_melody(name,
                       std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    ASSERT_FALSE(fs::exists(name));
    EXPECT_EQ(player.state(), State::stopped);
    EXPECT_EQ(player.total_ticks(), melody_ticks(notes));
    player.play();
    ASSERT_TRUE(wait_for([&] { return player.state() == State::ended; }, 5000));
    player.close();
    const auto [first, last] = sounding_span(rendered(), loud);
    EXPECT_LT(first, last) << "nothing was heard";

    // Bytes that are not a melody are refused under the name given, as a file is.
    const Bytes damaged = with_track_length(bytes, 4000);
    try {
        player.open_melody("2.mid", std::string_view(reinterpret_cast<const char*>(damaged.data()),
                                                     damaged.size()));
        FAIL() << "no error raised";
    } catch (const CommandError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "无法打开旋律文件“2.mid”：MIDI 文件已损坏：第 1 条音轨超出了文件末尾");
    }
    EXPECT_EQ(player.state(), State::closed);
}

// The window plays the arrangement: the melody on channel 2 and the accompaniment on
// channel 3, each with its own program, both heard.
TEST_F(FluidPlayerTest, AnArrangementPlaysMelodyAndAccompanimentWithTheirPrograms) {
    notation::Melody melody;
    melody.notes = {72, 74, 76, 77, 79, 77, 76, 74, 72};
    melody.ticks = {120, 120, 120, 120, 120, 120, 120, 120, 480};
    melody.mode = 3;
    melody.program = 40;  // violin
    melody.tempo = 200;
    const harmony::Harmony chords = harmony::choose_chords(harmony::request_for(melody));
    const CompositionFile alone = composition_file(
        melody.tempo, melody.program, Sequence(melody.notes.begin(), melody.notes.end()),
        Sequence(melody.ticks.begin(), melody.ticks.end()));
    ASSERT_EQ(alone.error, "");
    const harmony::ArrangementFile arranged =
        harmony::arrangement_file(melody, chords, {harmony::Pattern::pad, 32});  // acoustic bass
    ASSERT_EQ(arranged.error, "");

    FluidPlayer& player = FluidPlayerTest::player();
    const auto energy = [&](const std::string& bytes, bool arrangement) {
        player.open_melody("heard.mid", bytes);
        player.play();
        EXPECT_TRUE(wait_for([&] { return player.current_tick() >= 60; }, 5000));
        const auto melody_preset = player.channel_preset(1);
        EXPECT_TRUE(melody_preset && melody_preset->program == 40);
        if (arrangement) {
            const auto accompaniment = player.channel_preset(2);
            EXPECT_TRUE(accompaniment && accompaniment->program == 32)
                << (accompaniment ? accompaniment->name : "no preset");
        }
        EXPECT_TRUE(wait_for([&] { return player.state() == State::ended; }, 10000));
        player.close();
        const auto env = rendered();
        return std::accumulate(env.begin(), env.end(), 0.0);
    };
    const double melody_only = energy(alone.bytes, false);
    const double both = energy(arranged.bytes, true);
    EXPECT_GT(melody_only, 0.0);
    // The bass and the held chords under the melody are heard besides it.
    EXPECT_GT(both, melody_only * 1.3) << "melody " << melody_only << ", arrangement " << both;
}

// Composing needs no sound: open succeeds without an audio output and without a
// soundfont; play says what is missing, changes nothing, and tries again the next time.
TEST_F(FluidPlayerTest, PlayWithoutAnOutputSaysWhyAndALaterPlayTriesAgain) {
    const std::string midi = file("a.mid", melody(0, run_of_notes(2, 100, 0)));
    struct Row {
        std::vector<std::string> drivers;
        std::string reason;  // the reason line, as far as it does not depend on the machine
    };
    // No sound device here: alsa cannot start; "nosuch" is no driver at all.
    for (const Row& row :
         {Row{{}, "原因：没有指定要尝试的音频驱动\n"}, Row{{"alsa"}, "原因：alsa："},
          Row{{"nosuch", "alsa"}, "原因：nosuch：这个 FluidSynth 没有此音频驱动；alsa："}}) {
        SCOPED_TRACE(row.reason);
        const EnvGuard no_output("QUAVELLA_AUDIO_DRIVER", std::nullopt);
        FluidPlayer::Options options = to_wav();
        options.drivers = row.drivers;
        FluidPlayer player(options);
        loaded(player);
        player.open(midi);
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                player.play();
                FAIL() << "no error raised";
            } catch (const CommandError& e) {
                const std::string text = e.what();
                EXPECT_EQ(text.rfind("没有可用的音频输出，无法播放。\n" + row.reason, 0), 0u)
                    << text;
                EXPECT_NE(text.find("然后再按“播放”"), std::string::npos) << text;
            }
            EXPECT_EQ(player.state(), State::stopped);
            EXPECT_EQ(player.current_tick(), 0);
            EXPECT_FALSE(player.rendering());
        }
    }

    // With no drivers given, the environment names them, read at each play: an output that
    // becomes available is used by the next play without a new open.
    FluidPlayer::Options from_environment;
    from_environment.file_name = (suite_dir_ / "own.wav").string();
    FluidPlayer player(from_environment);
    loaded(player);
    player.open(midi);
    {
        const EnvGuard missing("QUAVELLA_AUDIO_DRIVER", "nosuch");
        EXPECT_THROW(player.play(), CommandError);
    }
    const EnvGuard file_output("QUAVELLA_AUDIO_DRIVER", "file");
    player.play();
    EXPECT_EQ(player.audio_driver(), "file");
    ASSERT_TRUE(wait_for([&] { return player.state() == State::ended; }, 5000));
    player.close();
    const auto [first, last] = sounding_span(envelope(read_wav(suite_dir_ / "own.wav")), loud);
    EXPECT_LT(first, last) << "nothing was heard";
}

TEST_F(FluidPlayerTest, PlayWithoutTheSoundfontNamesItAndThePackage) {
    const fs::path missing = suite_dir_ / "missing.sf2";
    const fs::path not_one = suite_dir_ / "text.sf2";
    write_file(not_one,
               {'n', 'o', 't', ' ', 'a', ' ', 's', 'o', 'u', 'n', 'd', 'f', 'o', 'n', 't'});
    for (const fs::path& soundfont : {missing, not_one}) {
        SCOPED_TRACE(soundfont);
        FluidPlayer player(output_to(suite_dir_ / "own.wav", soundfont.string()));
        LateStarts late;
        player.set_late_start_listener(late.listener());
        loaded(player);
        player.open(file("a.mid", melody(0, run_of_notes(1, 100, 0))));
        const auto names_it = [&soundfont](const std::string& text) {
            EXPECT_EQ(text.rfind("没有可用的音色库，无法播放。\n查找的音色库：" +
                                     soundfont.string() + "\n原因：",
                                 0),
                      0u)
                << text;
            EXPECT_NE(text.find("Debian 软件包 fluid-soundfont-gm"), std::string::npos);
        };
        // The load failed before the play: told at once.
        try {
            player.play();
            ADD_FAILURE() << "no error raised";
        } catch (const CommandError& e) {
            names_it(e.what());
        }
        EXPECT_EQ(player.state(), State::stopped);
        // The next play loads again: it returns at once, and the failure is told later.
        player.play();
        ASSERT_TRUE(wait_for([&] { return !late.told().empty(); }, 5000));
        ASSERT_TRUE(late.told()[0].has_value());
        names_it(*late.told()[0]);
        EXPECT_EQ(player.state(), State::stopped);
    }
}

// The window starts loading the soundfont in the background at start-up; the first play
// takes the loaded synthesizer.
TEST_F(FluidPlayerTest, PreloadedSynthPlays) {
    FluidPlayer::Options options = to_wav();
    FluidPlayer player(options);
    player.preload();
    player.preload();  // a second call neither reloads nor waits
    player.open(file("a.mid", melody(24, run_of_notes(1, 100, 0))));
    player.play();
    ASSERT_TRUE(wait_for([&] { return player.state() == State::ended; }, 5000));
    player.close();
    const auto [first, last] = sounding_span(envelope(read_wav(suite_dir_ / "own.wav")), loud);
    EXPECT_LT(first, last);
}

// The window may be closed while the soundfont still loads: destroying the player at any
// point of the load must neither crash nor leave a thread behind.
TEST_F(FluidPlayerTest, PreloadFollowedAtOnceByDestroyingThePlayer) {
    for (int delay_ms : {0, 1, 20, 200}) {
        SCOPED_TRACE(delay_ms);
        FluidPlayer::Options options = to_wav();
        FluidPlayer player(options);
        player.preload();
        sleep_ms(delay_ms);
    }
}

// Nothing renders while nothing plays: the recording grows only while the melody plays,
// and stops growing once it has ended and rung out.
TEST_F(FluidPlayerTest, TheFileOutputWritesOnlyWhileTheMelodyPlays) {
    const fs::path wav = suite_dir_ / "out.wav";
    fs::remove(wav);
    FluidPlayer& player = FluidPlayerTest::player();
    const auto notes = run_of_notes(3, 100, 0);
    player.open(file("a.mid", melody(0, notes)));
    sleep_ms(200);
    EXPECT_FALSE(fs::exists(wav)) << "written before anything played";

    for (int round = 0; round < 2; ++round) {  // the second play rewinds from the end
        SCOPED_TRACE(round);
        player.play();
        EXPECT_TRUE(player.rendering());
        ASSERT_TRUE(wait_for([&] { return player.state() == State::ended; }, 5000));
        ASSERT_TRUE(wait_for([&] { return !player.rendering(); }, 5000)) << "renders on";
        const std::size_t frames = wav_frames(wav);
        // The melody and at most its ring-out.
        EXPECT_GE(frames, static_cast<std::size_t>((round + 1) * melody_ticks(notes) * 44.1));
        EXPECT_LE(frames,
                  static_cast<std::size_t>((round + 1) * (melody_ticks(notes) + 3100) * 44.1));
        sleep_ms(500);
        EXPECT_EQ(wav_frames(wav), frames) << "written after the end";
        // Complete whenever nothing plays: the header counts every frame written.
        std::ifstream in(wav, std::ios::binary);
        in.seekg(40);
        unsigned char size[4] = {};
        in.read(reinterpret_cast<char*>(size), 4);
        EXPECT_EQ(size[0] | size[1] << 8 | size[2] << 16 | std::uint32_t{size[3]} << 24,
                  fs::file_size(wav) - 44);
    }
    player.close();
    EXPECT_FALSE(player.rendering());
}

// Headless without a file named: the melody plays in real time, and nothing is written,
// not even FluidSynth's own default file in the working directory.
TEST_F(FluidPlayerTest, TheFileOutputWithoutAFileWritesNowhere) {
    const EnvGuard no_file("QUAVELLA_AUDIO_FILE", std::nullopt);
    const fs::path here = fs::current_path();
    const fs::path scratch = suite_dir_ / "cwd";
    fs::create_directories(scratch);
    fs::current_path(scratch);
    {
        FluidPlayer::Options nowhere;
        nowhere.drivers = std::vector<std::string>{"file"};
        FluidPlayer player(nowhere);
        player.open(file("a.mid", melody(0, run_of_notes(2, 100, 0))));
        const auto start = std::chrono::steady_clock::now();
        player.play();
        ASSERT_TRUE(wait_for([&] { return player.state() == State::ended; }, 5000));
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(180));
    }
    fs::current_path(here);
    EXPECT_TRUE(fs::is_empty(scratch)) << fs::directory_iterator(scratch)->path();
}

// Every timbre of the window's list plays a melody in the composer's range and velocity
// near -6 dBFS, and none clips.
TEST_F(FluidPlayerTest, EveryTimbrePeaksNearMinus6Dbfs) {
    FluidPlayer& player = FluidPlayerTest::player();
    const std::vector<TestNote> notes = {
        {0, 55, 250}, {0, 60, 250}, {0, 64, 250}, {0, 67, 250}, {0, 72, 250}};
    for (int program : {0, 10, 16, 24, 32, 40, 48, 56, 64, 72}) {
        SCOPED_TRACE(program);
        player.open(file("p.mid", melody(program, notes, 0, 95)));
        player.play();
        ASSERT_TRUE(wait_for([&] { return player.state() == State::ended; }, 5000));
        player.close();
        const double peak = peak_dbfs(read_wav(suite_dir_ / "out.wav"));
        RecordProperty("peak_dbfs_" + std::to_string(program), std::to_string(peak));
        EXPECT_GT(peak, -10.0);
        EXPECT_LT(peak, -2.0);
    }
}

// The drum kit is chosen only for a file that plays on channel 10; such a file sounds.
TEST_F(FluidPlayerTest, DrumsOnChannel10Sound) {
    Bytes track = {0x00, 0xff, 0x51, 0x03, 0x0f, 0x42, 0x40};  // 1 ms per tick
    for (int i = 0; i < 4; ++i) track.insert(track.end(), {0x00, 0x99, 38, 100, 0x64, 0x89, 38, 0});
    track.insert(track.end(), {0x00, 0xff, 0x2f, 0x00});
    Bytes bytes = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x03, 0xe8, 'M', 'T', 'r', 'k'};
    put_be(bytes, static_cast<std::uint32_t>(track.size()), 4);
    bytes.insert(bytes.end(), track.begin(), track.end());

    FluidPlayer& player = FluidPlayerTest::player();
    player.open(file("drums.mid", bytes));
    player.play();
    ASSERT_TRUE(wait_for([&] { return player.current_tick() >= 50; }, 5000));
    const auto preset = player.channel_preset(9);
    ASSERT_TRUE(preset.has_value());
    EXPECT_EQ(preset->bank, 128);
    ASSERT_TRUE(wait_for([&] { return player.state() == State::ended; }, 5000));
    player.close();
    EXPECT_GT(count_loud(rendered()), 10u) << "the drums were not heard";
}

// The length the player reports comes from its own reading of the file; it must agree
// with FluidSynth's, which ends playback where that reading says the file ends.
TEST_F(FluidPlayerTest, LengthIsTheLongestTrackWhateverTheEncoding) {
    // Running status, a system exclusive event, and a second track longer than the first.
    Bytes t1 = {
        0x00, 0xc1, 0x10, 0x00, 0x91, 60,   100, 0x64, 62,   100,  0x00, 0xf0, 0x03,
        0x7e, 0x7f, 0xf7, 0x81, 0x00, 0x81, 60,  64,   0x00, 0xff, 0x2f, 0x00};  // 100 + 128 ticks
    Bytes t2 = {0x00, 0xff, 0x51, 0x03, 0x0f, 0x42, 0x40, 0x83, 0x60, 0x91,
                64,   90,   0x00, 0x91, 64,   0x00, 0x00, 0xff, 0x2f, 0x00};  // 480 ticks
    Bytes bytes = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 2, 0x03, 0xe8};
    auto chunk = [&](const char* id, const Bytes& body) {
        bytes.insert(bytes.end(), id, id + 4);
        put_be(bytes, static_cast<std::uint32_t>(body.size()), 4);
        bytes.insert(bytes.end(), body.begin(), body.end());
    };
    chunk("MTrk", t1);
    chunk("MTrk", t2);
    chunk("XFIH", {1, 2, 3});  // after the last track: never read

    FluidPlayer& player = FluidPlayerTest::player();
    player.open(file("two.mid", bytes));
    EXPECT_EQ(player.total_ticks(), 480);
    const auto start = std::chrono::steady_clock::now();
    player.play();
    ASSERT_TRUE(wait_for([&] { return player.state() == State::ended; }, 5000));
    const auto played = std::chrono::steady_clock::now() - start;
    EXPECT_GE(played, std::chrono::milliseconds(450)) << "ended before the second track did";
}

// The score window marks the note being heard from this position: present while
// playing or paused, gone once stopped, ended or closed.
TEST_F(FluidPlayerTest, PositionIsKnownWhilePlayingOrPausedOnly) {
    const auto notes = run_of_notes(6, 100, 20);
    FluidPlayer& player = FluidPlayerTest::player();
    EXPECT_EQ(player.position_ticks(), std::nullopt);  // closed
    player.open(file("a.mid", melody(0, notes)));
    EXPECT_EQ(player.position_ticks(), std::nullopt);  // stopped at the start
    player.play();
    ASSERT_TRUE(wait_for([&] { return player.position_ticks().value_or(0) >= 200; }, 5000));

    player.pause();
    const std::optional<int> paused_at = player.position_ticks();
    ASSERT_TRUE(paused_at.has_value());
    EXPECT_EQ(*paused_at, player.current_tick());
    sleep_ms(200);
    EXPECT_EQ(player.position_ticks(), paused_at);

    player.stop();
    EXPECT_EQ(player.position_ticks(), std::nullopt);
    player.play();
    ASSERT_TRUE(wait_for([&] { return player.state() == State::ended; }, 5000));
    EXPECT_EQ(player.position_ticks(), std::nullopt);
    player.close();
    EXPECT_EQ(player.position_ticks(), std::nullopt);
}

/// The longest of the calls `poll` made every millisecond while `busy` ran on another
/// thread, and how many it made, leaving out those the scheduler interrupted.
struct Polled {
    std::chrono::microseconds longest{0};
    int polls = 0;
};
Polled poll_while(const std::function<void()>& busy, const std::function<void()>& poll) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        busy();
        done = true;
    });
    // A poll the scheduler took the processor from (an involuntary context switch, on a
    // loaded machine) says nothing about waiting: only the others count.
    const auto preemptions = [] {
        rusage usage{};
        ::getrusage(RUSAGE_THREAD, &usage);
        return usage.ru_nivcsw;
    };
    Polled polled;
    while (!done) {
        const long preempted = preemptions();
        const auto before = std::chrono::steady_clock::now();
        poll();
        const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - before);
        if (preemptions() == preempted) {
            polled.longest = std::max(polled.longest, took);
            ++polled.polls;
        }
        sleep_ms(1);
    }
    worker.join();
    return polled;
}

/// The loads below take a second, and a poll or a play that waited for one would take
/// about as long. A quarter of that finds such a wait on any machine, however loaded or
/// instrumented (under ThreadSanitizer starting the output once took 110 ms). How quick a
/// poll is on a quiet machine (the target: 5 ms) is reported by
/// scripts/measure-responsiveness.sh.
/// The longest a position poll may take: it never waits for a load, only for the lock
/// while a command runs.
constexpr auto kLongestPoll = std::chrono::milliseconds(250);

/// A FIFO in the temporary folder, removed with the test.
struct Fifo {
    Fifo() : path(fs::temp_directory_path() / ("quavella_sf_" + std::to_string(::getpid()))) {
        fs::remove(path);
        EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
    }
    ~Fifo() {
        // Lets a reader still waiting in open() go on (it reads the end at once).
        const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
        fs::remove(path);
    }
    fs::path path;
};

/// How long a call that returns at once may take.
constexpr auto kAtOnce = std::chrono::milliseconds(250);

// A play while the soundfont loads returns at once; the melody starts when the load is
// done (from the tick asked for, for play_from), or the failure is told to the late start
// listener. Meanwhile the position and state answer at once (the score window polls them).
// The soundfont is the system's own, or a FIFO that a writer opens only after a second (as
// a slow network file system would answer), which FluidSynth then fails to read.
TEST(FluidPlayerLoading, APlayWhileTheSoundfontLoadsReturnsAtOnceAndStartsWhenItIsDone) {
    const fs::path dir =
        fs::temp_directory_path() / ("quavella_load_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path mid = dir / "a.mid";
    write_file(mid, melody(0, run_of_notes(4, 100, 0)));
    struct Row {
        const char* name;
        bool fifo;
        std::optional<int> from;
    };
    for (const Row& row : {Row{"the system's soundfont", false, std::nullopt},
                           Row{"the system's soundfont, from a tick", false, 250},
                           Row{"a FIFO opened after a second", true, std::nullopt}}) {
        SCOPED_TRACE(row.name);
        const Fifo fifo;
        FluidPlayer::Options options;
        options.drivers = std::vector<std::string>{"file"};
        options.file_name = (dir / "out.wav").string();
        if (row.fifo) options.soundfont = fifo.path.string();
        FluidPlayer player(options);
        LateStarts late;
        player.set_late_start_listener(late.listener());
        player.open(mid.string());
        std::thread writer;
        if (row.fifo) {
            writer = std::thread([&fifo] {
                sleep_ms(1000);
                const int fd = ::open(fifo.path.c_str(), O_WRONLY);
                if (fd < 0) return;
                const char riff[] = "RIFF\x10\0\0\0sfbkLIST";
                (void)!::write(fd, riff, sizeof riff - 1);
                ::close(fd);
            });
        }
        const auto start = std::chrono::steady_clock::now();
        if (row.from) {
            player.play_from(*row.from);
        } else {
            player.play();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, kAtOnce);
        EXPECT_TRUE(player.starting());
        EXPECT_EQ(player.state(), State::stopped);
        const Polled polled =
            poll_while([&] { wait_for([&] { return !late.told().empty(); }, 10000); },
                       [&] {
                           (void)player.position_ticks();
                           (void)player.state();
                       });
        const auto waited = std::chrono::steady_clock::now() - start;
        if (writer.joinable()) writer.join();
        // Once the load is done the watcher starts the output under the command lock
        // only; a poll waits for nothing but the state lock's short holds.
        std::printf(
            "the longest position poll while the soundfont loaded: %lld us (%d polls)\n",
            static_cast<long long>(
                std::chrono::duration_cast<std::chrono::microseconds>(polled.longest).count()),
            polled.polls);
        EXPECT_LT(polled.longest, kLongestPoll) << polled.polls << " polls";
        ASSERT_EQ(late.told().size(), 1u);
        EXPECT_FALSE(player.starting());
        const std::optional<std::string> failure = late.told()[0];
        if (row.fifo) {
            EXPECT_GE(waited, std::chrono::milliseconds(900));
            ASSERT_TRUE(failure.has_value());
            EXPECT_EQ(failure->rfind(
                          "没有可用的音色库，无法播放。\n查找的音色库：" + fifo.path.string(), 0),
                      0u)
                << *failure;
            EXPECT_EQ(player.state(), State::stopped);
            EXPECT_FALSE(player.rendering());
        } else {
            EXPECT_EQ(failure, std::nullopt) << *failure;
            EXPECT_GE(player.position_ticks().value_or(0), row.from.value_or(0));
            EXPECT_TRUE(wait_for([&] { return player.state() == State::ended; }, 5000));
        }
    }
    fs::remove_all(dir);
}

// A soundfont nobody ever writes (a FIFO): the play returns at once, its failure is told
// once the deadline after the load began has passed, later plays report it at once; the
// player is destroyed without waiting for the load.
TEST(FluidPlayerLoading, ASoundfontThatNeverOpensIsReportedAfterTheDeadline) {
    const fs::path dir =
        fs::temp_directory_path() / ("quavella_hang_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path mid = dir / "a.mid";
    write_file(mid, melody(0, run_of_notes(2, 100, 0)));
    const Fifo fifo;
    FluidPlayer::Options options;
    options.drivers = std::vector<std::string>{"file"};
    options.soundfont = fifo.path.string();
    options.load_deadline = std::chrono::milliseconds(300);
    auto player = std::make_unique<FluidPlayer>(options);
    LateStarts late;
    player->set_late_start_listener(late.listener());
    player->preload();
    player->open(mid.string());
    const std::string reason = "没有可用的音色库，无法播放。\n查找的音色库：" + fifo.path.string() +
                               "\n原因：1 秒内没能读取音色库";

    const auto start = std::chrono::steady_clock::now();
    player->play();
    EXPECT_LT(std::chrono::steady_clock::now() - start, kAtOnce);
    ASSERT_TRUE(wait_for([&] { return !late.told().empty(); }, 5000));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    EXPECT_LT(waited, std::chrono::milliseconds(3000));
    ASSERT_TRUE(late.told()[0].has_value());
    EXPECT_EQ(late.told()[0]->rfind(reason, 0), 0u) << *late.told()[0];
    EXPECT_EQ(player->state(), State::stopped);
    EXPECT_FALSE(player->starting());

    const auto again = std::chrono::steady_clock::now();
    try {
        player->play();
        ADD_FAILURE() << "no error raised";
    } catch (const CommandError& e) {
        EXPECT_EQ(std::string(e.what()).rfind(reason, 0), 0u) << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - again, kAtOnce);
    EXPECT_EQ(late.told().size(), 1u);

    const auto ending = std::chrono::steady_clock::now();
    player.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - ending, std::chrono::milliseconds(500));
    fs::remove_all(dir);
}

// Stop, pause, close or a new open while a play waits for the load call it off: nothing
// plays when the load is done and the listener hears nothing; a later play plays at once.
TEST(FluidPlayerLoading, ACommandWhileAPlayWaitsForTheLoadCallsItOff) {
    const fs::path dir =
        fs::temp_directory_path() / ("quavella_calloff_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path mid = dir / "a.mid";
    write_file(mid, melody(0, run_of_notes(2, 100, 0)));
    const std::pair<const char*, std::function<void(FluidPlayer&)>> commands[] = {
        {"stop", [](FluidPlayer& p) { p.stop(); }},
        {"pause", [](FluidPlayer& p) { p.pause(); }},
        {"close", [](FluidPlayer& p) { p.close(); }},
        {"open", [&mid](FluidPlayer& p) { p.open(mid.string()); }},
    };
    for (const auto& [name, command] : commands) {
        SCOPED_TRACE(name);
        FluidPlayer::Options options;
        options.drivers = std::vector<std::string>{"file"};
        FluidPlayer player(options);
        LateStarts late;
        player.set_late_start_listener(late.listener());
        player.open(mid.string());
        player.play();
        ASSERT_TRUE(player.starting());
        command(player);
        EXPECT_FALSE(player.starting());
        ASSERT_TRUE(player.wait_until_loaded(std::chrono::seconds(30)));
        sleep_ms(100);  // time for a watcher that would wrongly start it
        EXPECT_TRUE(late.told().empty());
        EXPECT_FALSE(player.rendering());
        if (std::string(name) == "close") {
            EXPECT_EQ(player.state(), State::closed);
            player.open(mid.string());
        }
        EXPECT_EQ(player.state(), State::stopped);
        player.play();
        EXPECT_EQ(player.state(), State::playing);
        EXPECT_TRUE(late.told().empty());
    }
    fs::remove_all(dir);
}

// A recording on a file system that refuses to grow says why, instead of leaving a short
// WAV whose header claims every frame. The child process alone has the size limit.
TEST(FluidPlayerRecording, AWriteBeyondTheFileSizeLimitIsReportedWithTheSystemsReason) {
    struct Case {
        rlim_t limit;
        bool ok;
    };
    const fs::path file =
        fs::temp_directory_path() / ("quavella_wav_limit_" + std::to_string(::getpid()) + ".wav");
    for (const Case c : {Case{RLIM_INFINITY, true}, Case{4096, false}}) {
        SCOPED_TRACE(c.ok ? "no limit" : "4096-byte limit");
        int pipe_ends[2];
        ASSERT_EQ(::pipe(pipe_ends), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(pipe_ends[0]);
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{c.limit, c.limit};
            if (c.limit != RLIM_INFINITY) ::setrlimit(RLIMIT_FSIZE, &limit);
            std::string error;
            try {
                WavRecording recording(file.string(), 44100);
                const std::vector<std::int16_t> block(2 * 1024, 1000);
                for (int i = 0; i < 8; ++i) {
                    recording.append(block.data(), 1024);
                    recording.update();
                }
                if (!recording.finish()) error = recording.error();
            } catch (const std::exception& e) {
                error = e.what();
            }
            (void)!::write(pipe_ends[1], error.data(), error.size());
            ::_exit(0);
        }
        ::close(pipe_ends[1]);
        std::string error;
        char buffer[256];
        for (ssize_t n; (n = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0;)
            error.append(buffer, static_cast<std::size_t>(n));
        ::close(pipe_ends[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        if (c.ok) {
            EXPECT_EQ(error, "");
            EXPECT_EQ(fs::file_size(file), 44u + 8u * 1024u * 4u);
        } else {
            EXPECT_EQ(error, "File too large");
        }
    }
    fs::remove(file);
}

}  // namespace
}  // namespace quavella
