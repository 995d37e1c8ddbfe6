// The main window's commands without the window: compose, play, pause, stop and
// save as, over the window state (play_file, start_dir, the composition in the
// player) and the platform services of app/commands/. The Qt window calls these;
// tests drive them with fakes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/commands/button_panel.h"
#include "app/commands/composition_listener.h"
#include "app/commands/file_copier.h"
#include "app/commands/hearing.h"
#include "app/commands/media_player.h"
#include "app/commands/message_box.h"
#include "app/commands/save_dialog.h"
#include "app/commands/timing.h"
#include "app/commands/work_runner.h"
#include "composer/draws.h"
#include "composer/message_sink.h"
#include "composition/composition.h"
#include "edit/editable_melody.h"
#include "song/document.h"

namespace quavella {

/// The working file every composition is written to first, in the current directory.
inline constexpr const char* kWorkingFile = "temp.mid";
/// Caption of the compose command's messages.
inline constexpr const char* kHintCaption = "提示";
/// The play file before the first composition.
inline constexpr const char* kFirstPlayFile = "1.mid";
/// How long compose and stop block the window, in milliseconds.
inline constexpr int kWaitMs = 2000;

/// What the compose command reads from the window when it runs.
struct ComposeInput {
    std::vector<std::string> lines;  ///< lines of the lyric box, UTF-8, without line breaks
    int speed_pos = 0;               ///< selected position of ComboBox1
    int mode_pos = 0;                ///< selected position of ComboBox2
    int timbre_pos = 0;              ///< selected position of ComboBox3
};

/// The services the commands borrow from the window, which outlives them.
struct CommandServices {
    MessageBox& box;
    FileCopier& copier;
    Sleeper& sleeper;
    SaveDialog& save_dialog;
    ButtonPanel& buttons;
    MediaPlayer& player;
    CompositionListener* listener = nullptr;  ///< optional: told of each composition
    /// Optional: the song being shaped, started with each melody put in the player once
    /// "作曲完成" is acknowledged (before the listener's composed).
    song::Document* document = nullptr;
    /// Optional: runs the composing and the listener's made() off the window's thread;
    /// none runs them in place.
    WorkRunner* runner = nullptr;
};

/// The commands of the main window and the state they share. As a listener of the song
/// document, it puts each change of the song in the player (adopt).
class WindowCommands : public song::Listener {
public:
    /// @param app_title caption of the start-up error message and of the
    ///        composer's internal messages
    WindowCommands(CommandServices services, std::string app_title);
    WindowCommands(const WindowCommands&) = delete;
    WindowCommands& operator=(const WindowCommands&) = delete;

    /// Start-up: seeds the random generators once from `clock`, sets the play
    /// file to "1.mid" and keeps `current_dir` as start_dir; shows "Error!" and
    /// leaves start_dir empty when the directory could not be read.
    void start_up(Clock& clock, const std::optional<std::string>& current_dir);

    /// Composes from the lyric lines and the three list positions, tells the listener
    /// (the history), writes the working file, writes the next play file, hands what is
    /// heard of it (hearing(): its arrangement, or the melody alone) to the player and
    /// reports to the user.
    /// Player errors propagate as exceptions, for the window's error box.
    void compose(const ComposeInput& input);

    /// Puts a composition made earlier in the player as compose puts a new one
    /// there: its bytes written as "temp.mid" and as the next play file, opened, the
    /// buttons as after a composition. Nothing is composed, reported or recorded; the
    /// listener hears that it is the melody in the player now (composed), so that the
    /// score window shapes this melody and not the one before.
    void load(CompositionPtr composition);

    /// Makes an edited melody the one in the player, as a composition is put there:
    /// written as "temp.mid" and as the next play file and opened, so 播放 plays it
    /// and 主旋律另存为 saves it. The buttons keep their states and nothing waits: it
    /// follows every change of the song (changed).
    /// @return false when it could not be written (the user was told why)
    bool adopt(CompositionPtr composition);
    /// An edit, an undo or a redo of the song: its current melody is adopted. A failed
    /// open throws, for the window's error box.
    void changed(const song::Document& document, song::Event event) override;

    /// Composes `count` melodies as `count` compose commands in a row would, from
    /// consecutive generator states, and goes on as compose does with the one whose
    /// intervals suit the tones of the words best (the first of equals). The
    /// listener hears of every candidate: the chosen one held, the others made again
    /// from their states when asked for. The composing runs through the runner.
    /// @param count number of candidates; less than 1 is taken as 1
    void compose_best_of(const ComposeInput& input, int count);

    /// Composes `count` melodies as compose_best_of does and takes each sentence, note
    /// for note with its rhythm, from the one whose sentence suits the tones best; the
    /// first candidate gives the rest. Goes on as compose does with the melody made.
    /// The listener hears of the press as of a best of N: the `count` candidates in the
    /// order composed and, last and chosen, the melody made, with its edits (the first
    /// candidate with those edits); when every sentence comes from the first candidate,
    /// the candidates alone with the first chosen.
    void compose_by_sentence(const ComposeInput& input, int count);

    /// What the player plays of each composition from now on: the arrangement (the
    /// default) or the melody alone. The composition in the player is opened again so
    /// heard, at its start; the working files stay as they are (the melody).
    /// A failed open throws, for the window's error box.
    void set_hearing(const Hearing& hearing);
    const Hearing& hearing() const { return hearing_; }

    /// Plays the loaded melody; after stopped_elsewhere(), from its start.
    void play();
    /// Pauses while playing, resumes while paused.
    void pause();
    /// Stops the melody, waits and sets the buttons of the Stopped state.
    void stop();
    /// The player was stopped from elsewhere (the score window's 停止), without the wait
    /// and the button states of stop(): the next play starts from the melody's start,
    /// unless it plays again meanwhile (试听).
    void stopped_elsewhere() { rewind_ = true; }
    /// Asks for a name and writes the melody in the player there, never replacing a
    /// file. The melody comes from memory, so another program rewriting the play
    /// files cannot change what is saved.
    void save_as();

    /// The bare name of the current play file, "1.mid" or "2.mid".
    const std::string& play_file() const { return play_file_; }
    /// The current directory as read at start-up; empty when that failed.
    const std::string& start_dir() const { return start_dir_; }
    /// The composition in the player (or whose open failed); null before the first.
    const CompositionPtr& current() const { return current_; }

private:
    /// Shows the composer's internal messages in a plain message box.
    class BoxSink : public MessageSink {
    public:
        BoxSink(MessageBox& box, const std::string& caption) : box_(box), caption_(caption) {}
        void show(const std::string& text) override { box_.show(text, caption_); }

    private:
        MessageBox& box_;
        const std::string& caption_;
    };

    /// What the lyric lines compose from, or nothing when the user was told why not.
    std::shared_ptr<const CompositionSource> source_of(const ComposeInput& input);
    /// Writes "temp.mid"; false when that failed (reported).
    bool write_working_file(const Composition& composition);
    /// Writes the next play file and makes it the play file, `composition` the one
    /// in the player; false when that failed (reported).
    bool rotate_play_file(CompositionPtr composition);
    /// To the player: the next play file written, the bytes opened, the buttons set.
    /// @return false when the write failed (reported); a failed open throws
    bool deliver(CompositionPtr composition);
    /// The road of one new composition: the listener's record, "temp.mid", the
    /// player, "作曲完成", the listener's score.
    /// @param shaped the melody `composition` was shaped from, handed to the song
    void finish(const Press& press, const CompositionPtr& composition,
                std::optional<edit::EditableMelody> shaped = std::nullopt);
    /// Starts the song from the melody just put in the player.
    void start_song(const CompositionPtr& composition,
                    std::optional<edit::EditableMelody> shaped = std::nullopt);
    /// Runs `work` through the runner, or in place without one.
    void off_thread(const std::function<void()>& work);
    /// The melody the song shapes from `composition`, made beside it on the worker so that
    /// the window's thread does not grade a long melody; nothing without a song.
    std::optional<edit::EditableMelody> shaped_for_song(const Composition& composition) const;

    CommandServices svc_;
    std::string title_;
    BoxSink sink_;
    Generators gens_;
    std::string play_file_;
    std::string start_dir_;
    CompositionPtr current_;
    bool rewind_ = false;  ///< the next play starts from the start
    Hearing hearing_;
};

/// The save-as target for a chosen name: ".mid" is appended unless the name
/// already ends in ".mid" (any letter case).
std::string save_target(std::string_view chosen);

}  // namespace quavella
