// Platform services that the window's commands need, as small interfaces.
// Qt-free, so the commands run in tests with fakes: no display, no real waits.
// The main window owns the real adapters; the commands only borrow them.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "composer/compose_request.h"
#include "composer/draws.h"

namespace quavella {

/// An error raised by a window command and shown in the standard error box
/// (the error text, the application's title, an error icon, one OK button).
class CommandError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Modal message boxes with one OK button.
class MessageBox {
public:
    virtual ~MessageBox() = default;
    /// A message to the user: no icon.
    virtual void show(const std::string& text, const std::string& caption) = 0;
    /// The standard error box: error icon.
    virtual void error(const std::string& text, const std::string& caption) = 0;
};

/// Copies files. Texts are UTF-8 paths.
class FileCopier {
public:
    virtual ~FileCopier() = default;
    /// Copies `from` onto `to`. With `replace` false an existing target is
    /// never touched and the copy fails.
    /// @return empty on success, otherwise why the copy failed.
    virtual std::optional<std::string> copy(const std::string& from, const std::string& to,
                                            bool replace) = 0;
};

/// Blocks the calling thread; the window shows a wait cursor meanwhile.
class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void sleep_ms(int ms) = 0;
};

/// The wall clock, read once to seed the random generators.
class Clock {
public:
    virtual ~Clock() = default;
    /// A value that differs from run to run (nanoseconds since the epoch).
    virtual std::uint64_t now() = 0;
};

/// The modal save-file dialog.
class SaveDialog {
public:
    virtual ~SaveDialog() = default;
    /// @return the chosen path, or nothing when the user cancelled.
    virtual std::optional<std::string> ask() = 0;
    /// Told when nothing could be saved under the chosen path, so that the next
    /// ask does not start in that folder again.
    virtual void save_failed() {}
};

/// The numbers of the buttons whose states the commands change, as in their
/// names suiButton1 to suiButton5.
inline constexpr int kComposeButton = 1;  ///< "生成主旋律"
inline constexpr int kPlayButton = 2;     ///< "播放"
inline constexpr int kPauseButton = 3;    ///< "暂停"
inline constexpr int kStopButton = 4;     ///< "停止"
inline constexpr int kSaveAsButton = 5;   ///< "主旋律另存为"

/// The five buttons whose states the commands change (suiButton1 to suiButton5).
class ButtonPanel {
public:
    virtual ~ButtonPanel() = default;
    /// @param button kComposeButton to kSaveAsButton, the number in the button's name.
    virtual void set_enabled(int button, bool enabled) = 0;
};

/// Opens a web address in the user's browser.
class LinkOpener {
public:
    virtual ~LinkOpener() = default;
    /// Asks the desktop to open `url`.
    virtual void open_url(const std::string& url) = 0;
};

/// One composition as the compose command finished it.
struct FinishedComposition {
    std::vector<std::string> lines;  ///< the lyric box's lines as typed, UTF-8
    std::string gbk_text;            ///< the joined GBK text that was composed
    int speed_pos = 0;               ///< list positions of the three settings
    int mode_pos = 0;
    int timbre_pos = 0;
    Generators::State state;  ///< both generators just before the composition
    ComposeOutcome outcome;   ///< tempo, mode, program, notes and durations
    std::string play_file;    ///< the play file that now holds the melody; empty for a
                              ///< best-of candidate that was passed over (no file holds it)
    int candidate = 0;        ///< 1..N among the candidates of a best-of composition;
                              ///< 0 for a single composition
};

/// Told about every composition once the user has acknowledged "作曲完成".
class CompositionListener {
public:
    virtual ~CompositionListener() = default;
    /// A composition now in the player: a single one, or the candidate a best-of
    /// composition chose.
    virtual void composed(const FinishedComposition& composition) = 0;
    /// A candidate of a best-of composition that was not chosen. Told for each of
    /// them in the order they were composed, before composed() for the chosen one.
    /// Its state makes it again. Ignored unless a listener wants every candidate.
    virtual void passed_over(const FinishedComposition& candidate) { (void)candidate; }
};

/// A yes/no question to the user, e.g. before something is deleted.
class Confirmer {
public:
    virtual ~Confirmer() = default;
    /// @return true when the user answered yes
    virtual bool confirm(const std::string& question, const std::string& caption) = 0;
};

/// The melody player. play, pause and stop with no file open throw
/// CommandError("No MCI device open"); open throws CommandError with the
/// service's own text when the file cannot be opened. The sound system is needed
/// only to play: play throws CommandError with a message for the user when it is
/// missing (no audio output, no soundfont), and tries again at the next call.
class MediaPlayer {
public:
    virtual ~MediaPlayer() = default;
    /// Closes a held file first, then opens `file` stopped at its start.
    virtual void open(const std::string& file) = 0;
    /// Plays from the current position; at the end it starts again from the start.
    virtual void play() = 0;
    /// Pauses while playing, resumes while paused, otherwise does nothing.
    virtual void pause() = 0;
    /// Stops; the file stays open and keeps its position.
    virtual void stop() = 0;
    /// Closes the held file, if any. Never throws.
    virtual void close() = 0;
    /// The position in ticks of the file's time base while a melody plays or is
    /// paused; nothing when it is stopped, has ended or no file is open.
    virtual std::optional<int> position_ticks() const = 0;
};

/// The questions and reports of an export: where to write, whether an existing
/// file may be replaced, and what went wrong. Texts are UTF-8.
class ExportDialogs {
public:
    virtual ~ExportDialogs() = default;
    /// Asks for the file to write.
    /// @param suggested a proposed file name
    /// @param filter the dialog's file filter, e.g. "PDF (*.pdf)"
    /// @return the chosen path, or nothing when the user cancelled
    virtual std::optional<std::string> ask_file(const std::string& suggested,
                                                const std::string& filter) = 0;
    /// Asks whether the existing file `path` may be replaced.
    /// @return true to replace it
    virtual bool confirm_replace(const std::string& path) = 0;
    /// Tells the user that an export failed and why.
    virtual void tell_failure(const std::string& text) = 0;
};

}  // namespace quavella
