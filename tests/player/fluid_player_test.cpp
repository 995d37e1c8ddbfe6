// The FluidSynth player tested for real: FluidSynth's "file" driver renders the audio in
// real time into a WAV, which the tests read back. Timings have wide margins, since the
// tests also run on a loaded machine and under sanitizers.
#include "app/fluid_player.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <numeric>
#include <ostream>
#include <string>

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
        shared_ = new FluidPlayer({{"file"}, (suite_dir_ / "out.wav").string(), ""});
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

    static FluidPlayer::Options to_wav() {
        return {{"file"}, (suite_dir_ / "own.wav").string(), ""};
    }
    static std::vector<double> rendered() { return envelope(read_wav(suite_dir_ / "out.wav")); }

    static inline fs::path suite_dir_;
    static inline FluidPlayer* shared_ = nullptr;
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

// The longest run of silent windows between the first and the last loud one: where it
// starts and how many windows it lasts.
std::pair<std::size_t, std::size_t> longest_silence(const std::vector<double>& env) {
    const auto [first, last] = sounding_span(env, loud);
    std::size_t best_at = 0, best = 0, run = 0;
    for (std::size_t i = first; i < last; ++i) {
        run = env[i] < silent ? run + 1 : 0;
        if (run > best) {
            best = run;
            best_at = i + 1 - run;
        }
    }
    return {best_at, best};
}

std::size_t count_loud(const std::vector<double>& env) {
    return static_cast<std::size_t>(
        std::count_if(env.begin(), env.end(), [](double v) { return v > loud; }));
}

TEST_F(FluidPlayerTest, OpensStoppedAtTheStartAndPlaysToTheEnd) {
    const auto notes = run_of_notes(4, 100, 50);
    FluidPlayer& player = FluidPlayerTest::player();
    player.open(file("a.mid", melody(0, notes)));
    EXPECT_EQ(player.audio_driver(), "file");
    EXPECT_EQ(player.state(), State::stopped);
    EXPECT_EQ(player.current_tick(), 0);
    EXPECT_EQ(player.total_ticks(), melody_ticks(notes));

    sleep_ms(150);  // open must not start playing
    EXPECT_EQ(player.current_tick(), 0);

    player.play();
    ASSERT_TRUE(wait_for([&] { return player.state() == State::ended; }, 5000));
    EXPECT_EQ(player.current_tick(), player.total_ticks());
    player.pause();  // nothing to pause at the end
    EXPECT_EQ(player.state(), State::ended);
    player.close();
    EXPECT_EQ(player.state(), State::closed);

    const auto env = rendered();
    const auto [first, last] = sounding_span(env, loud);
    ASSERT_LT(first, last) << "nothing was heard";
    EXPECT_GE(first, 12u) << "sound began before play";
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
    sleep_ms(500);
    EXPECT_EQ(player.current_tick(), paused_at);
    EXPECT_EQ(player.state(), State::paused);

    player.pause();  // resumes
    const int resumed_at = player.current_tick();
    EXPECT_EQ(player.state(), State::playing);
    EXPECT_GE(resumed_at, paused_at);
    EXPECT_LE(resumed_at, paused_at + 100);
    ASSERT_TRUE(wait_for([&] { return player.state() == State::ended; }, 5000));
    player.close();

    const auto env = rendered();
    const auto [gap_at, gap] = longest_silence(env);
    EXPECT_GE(gap, 20u) << "the pause was not silent";
    // After the gap the rest of the melody sounds once: about total - paused_at ms.
    const auto [first, last] = sounding_span(env, loud);
    ASSERT_GT(last, gap_at + gap) << "no sound after resuming";
    const int after_ms = static_cast<int>(last - (gap_at + gap)) * 10;
    EXPECT_NEAR(after_ms, total - paused_at, 200);
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
    player.pause();  // a stopped player does not resume
    player.stop();   // and stopping again changes nothing
    sleep_ms(600);
    EXPECT_EQ(player.state(), State::stopped);
    EXPECT_EQ(player.current_tick(), stopped_at);

    player.play();
    const int continued_at = player.current_tick();
    EXPECT_EQ(player.state(), State::playing);
    EXPECT_GE(continued_at, stopped_at);
    EXPECT_LE(continued_at, stopped_at + 100);
    player.play();  // playing on while playing
    EXPECT_EQ(player.state(), State::playing);
    ASSERT_TRUE(wait_for([&] { return player.state() == State::ended; }, 5000));
    player.close();

    EXPECT_GE(longest_silence(rendered()).second, 25u) << "the stop was not silent";
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
    std::string expected;  // the message, after the quoted path
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
        const std::string text = e.what();
        EXPECT_NE(text.find("'" + path + "'" + row.expected), std::string::npos) << text;
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

INSTANTIATE_TEST_SUITE_P(
    Rows, FluidPlayerBadFileTest,
    ::testing::Values(BadFile{"missing", {}, true, ": No such file or directory"},
                      BadFile{"empty", {}, false, " is not a MIDI file"},
                      BadFile{"text",
                              {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!', '!',
                               '!'},
                              false,
                              " is not a MIDI file"},
                      BadFile{"track_past_the_end", with_track_length(good, 4000), false,
                              " is a damaged MIDI file: a chunk runs past the end of the file"},
                      BadFile{"cut_inside_an_event",
                              with_track_length(Bytes(good.begin(), good.end() - 1),
                                                static_cast<std::uint32_t>(good.size() - 23)),
                              false, " is a damaged MIDI file: a track ends inside an event"},
                      BadFile{"chunk_between_tracks", with_byte(good, 14, 'X'), false,
                              " is a damaged MIDI file: unsupported chunk 'XTrk' before track 1"},
                      BadFile{"smpte_division", with_byte(good, 12, 0xe7), false,
                              " is a damaged MIDI file: SMPTE time division is not supported"},
                      BadFile{"data_before_any_status", with_byte(good, 23, 0x51), false,
                              " is a damaged MIDI file: a data byte without a status"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(FluidPlayerTest, AnOutputThatCannotStartRaisesAndLeavesThePlayerClosed) {
    const std::string midi = file("a.mid", melody(0, run_of_notes(1, 100, 0)));
    struct Row {
        std::vector<std::string> drivers;
        std::string expected_start;
    };
    // No sound device here: alsa cannot start; "nosuch" is no driver at all.
    for (const Row& row : {Row{{"alsa"}, "no audio output could be started (tried: alsa)"},
                           Row{{"nosuch", "alsa"},
                               "no audio output could be started (tried: nosuch, alsa); nosuch: "
                               "not available; alsa: "}}) {
        SCOPED_TRACE(row.expected_start);
        FluidPlayer player({row.drivers, "", ""});
        try {
            player.open(midi);
            FAIL() << "no error raised";
        } catch (const CommandError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(row.expected_start, 0), 0u) << e.what();
        }
        EXPECT_EQ(player.state(), State::closed);
        EXPECT_THROW(player.play(), CommandError);
    }
}

// The window starts loading the soundfont in the background at start-up; the first open
// takes the loaded synthesizer, or reports why the load failed.
TEST_F(FluidPlayerTest, PreloadedSynthPlaysAndAFailedPreloadIsReportedAtOpen) {
    const std::string midi = file("a.mid", melody(0, run_of_notes(1, 100, 0)));
    {
        FluidPlayer player(to_wav());
        player.preload();
        player.preload();  // a second call neither reloads nor waits
        player.open(midi);
        player.play();
        ASSERT_TRUE(wait_for([&] { return player.state() == State::ended; }, 5000));
        player.close();
        const auto [first, last] = sounding_span(envelope(read_wav(suite_dir_ / "own.wav")), loud);
        EXPECT_LT(first, last);
    }
    {
        FluidPlayer player(
            {{"file"}, (suite_dir_ / "own.wav").string(), (suite_dir_ / "missing.sf2").string()});
        player.preload();
        try {
            player.open(midi);
            FAIL() << "no error raised";
        } catch (const CommandError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("cannot load the soundfont", 0), 0u) << e.what();
        }
        EXPECT_EQ(player.state(), State::closed);
    }
}

// With no drivers given, the environment chooses the output and its file: the way the
// application runs headless.
TEST_F(FluidPlayerTest, TheEnvironmentChoosesTheOutputWhenNoDriverIsGiven) {
    const fs::path wav = suite_dir_ / "env.wav";
    ::setenv("QUAVELLA_AUDIO_DRIVER", "file", 1);
    ::setenv("QUAVELLA_AUDIO_FILE", wav.c_str(), 1);
    FluidPlayer player;
    player.open(file("a.mid", melody(0, run_of_notes(1, 100, 0))));
    ::unsetenv("QUAVELLA_AUDIO_DRIVER");
    ::unsetenv("QUAVELLA_AUDIO_FILE");
    EXPECT_EQ(player.audio_driver(), "file");
    player.play();
    ASSERT_TRUE(wait_for([&] { return player.state() == State::ended; }, 5000));
    player.close();
    const auto [first, last] = sounding_span(envelope(read_wav(wav)), loud);
    EXPECT_LT(first, last);
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

}  // namespace
}  // namespace quavella
