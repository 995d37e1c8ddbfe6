// The melody player as the window's commands use it.
// Qt-free, so the commands run in tests with fakes.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/commands/command_error.h"

namespace quavella {

/// The melody player. play, pause and stop with no file open throw
/// CommandError("No MCI device open"); open throws CommandError with the
/// service's own text when the file cannot be opened. The sound system is needed
/// only to play: play throws CommandError with a message for the user when it is
/// missing (no audio output, no soundfont), and tries again at the next call. A play
/// while the sound system still loads may return at once and start (or fail) later,
/// telling the late start listener.
class MediaPlayer {
public:
    virtual ~MediaPlayer() = default;
    /// Closes a held file first, then opens `file` stopped at its start: a file the user
    /// chose, read from disk.
    virtual void open(const std::string& file) = 0;
    /// As open, with the MIDI file's bytes from memory (copied): the melody the program
    /// just made, which it never reads back from disk. `name` names it in messages.
    virtual void open_melody(const std::string& name, std::string_view bytes) = 0;
    /// Plays from the current position; at the end it starts again from the start.
    virtual void play() = 0;
    /// Plays from `tick` of the file's time base (clamped to the file), whatever it was
    /// doing: the score window's 试听 from a chosen note.
    virtual void play_from(int tick) = 0;
    /// Pauses while playing, resumes while paused, otherwise does nothing.
    virtual void pause() = 0;
    /// Stops; the file stays open and keeps its position.
    virtual void stop() = 0;
    /// Closes the held file, if any. Never throws.
    virtual void close() = 0;
    /// The position in ticks of the file's time base while a melody plays or is
    /// paused; nothing when it is stopped, has ended or no file is open.
    virtual std::optional<int> position_ticks() const = 0;

    /// The outcome of a play that returned before the melody could start (the sound
    /// system was still loading): nothing once it started, else the failure for the user.
    using LateStart = std::function<void(const std::optional<std::string>& failure)>;
    /// Where such plays report, on a thread of the player's; empty: nowhere. Once this
    /// returns, the listener set before is not called any more. A player whose plays
    /// always start or fail at once ignores it.
    virtual void set_late_start_listener(LateStart listener) { (void)listener; }
};

}  // namespace quavella
