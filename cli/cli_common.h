// The pieces the commands of quavella-cli share: usage, reading the lyric input,
// printing, the exports. Each command lives in its own file; main.cpp dispatches.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "base/staged_file.h"
#include "cli/args.h"
#include "cli/json_out.h"
#include "composer/compose_request.h"
#include "composer/message_sink.h"
#include "composition/composition.h"
#include "edit/beat_check.h"
#include "harmony/accompaniment.h"
#include "lyrics/gbk_text.h"
#include "notation/score.h"
#include "tones/tone_grading.h"

namespace quavella::cli {

/// The whole help text, printed by --help.
extern const char* const kUsage;

/// Prints one line on standard error: "quavella-cli: MESSAGE; try --help", the
/// message's control characters shown escaped.
/// @return the exit status of bad usage
int usage_error(const std::string& message);

/// A converted lyric text, or the exit status of its failure.
using LyricText = std::variant<GbkConversion, Exit>;

/// Reads the whole lyric input and turns it into joined GBK text. Prints the
/// reason on failure.
/// @param given when not null, receives the input's lines as given (in its encoding,
///        without their line breaks), for the history to keep what was typed
LyricText read_lyrics(const LyricSource& src, std::vector<std::string>* given = nullptr);

/// Flushes standard output; a failure to write it fails the command.
Exit flush_output();

/// Where a command's report lines go: standard error when the composition file
/// itself goes to standard output ("-"), standard output otherwise.
std::ostream& report_stream(const std::string& out_file);

/// Columns of the terminal standard output goes to; 80 when it is not a terminal,
/// so piped or redirected output is the same everywhere.
int terminal_width();

/// The composer's messages go to standard error, one per line.
class StderrMessages final : public MessageSink {
public:
    void show(const std::string& text) override;
};

/// The export files asked for ("" for none).
struct ExportFiles {
    const std::string& musicxml;
    const std::string& lyrics_midi;
    const std::string& audio;
    const std::string& karaoke;
    /// The chords chosen under the melody (null when none were asked for): the MusicXML
    /// carries them as chord symbols; with `arrangement`, the audio plays the
    /// accompaniment too.
    const harmony::Harmony* chords = nullptr;
    std::string arrangement = {};  ///< melody and accompaniment as MIDI ("" for none)
    harmony::ArrangementSettings arrangement_settings = {};
    bool any() const {
        return !musicxml.empty() || !lyrics_midi.empty() || !audio.empty() || !karaoke.empty() ||
               !arrangement.empty();
    }
};

/// The chords under a composition's melody when the command asks for them
/// (--chords, --arrangement): the composition's own, as its edits left them.
struct Harmonised {
    std::optional<harmony::Harmony> chords;
    /// The chords as they change, for printing and the MusicXML.
    std::vector<harmony::ChordChange> changes;
};
Harmonised harmonise(const ComposeSettings& settings, const Composition& composition);

/// The export files of a compose command, the chords and arrangement included.
ExportFiles compose_exports(const ComposeSettings& settings, const Harmonised& harmonised);

/// One line per chord as it changes: "tick=T chord=NAME root=R kind=K degree=D".
std::string chord_lines(const std::vector<harmony::ChordChange>& changes);

/// The chords as a JSON list of objects: tick, root, kind, degree.
std::string chords_json(const std::vector<harmony::ChordChange>& changes);

/// Writes the command's main file and the exports asked for, all or nothing: each
/// is written to a temporary beside it (every one is tried; a failure is named on
/// standard error), and only when all are complete do they replace their files.
/// @param main_file the main output, staged and already written by the caller; null when
///        it went to standard output
/// @param score the score; needed only when files.any()
/// @param written gets " label=FILE" for each export asked for
/// @return true when every file was written; otherwise none was replaced
bool write_outputs(files::StagedFile* main_file, const ExportFiles& files,
                   const std::optional<notation::Score>& score, std::string& written);

/// Writes `bytes` to standard output when `path` is "-", otherwise as the file
/// `path` all or nothing; names the real reason of a failure on standard error.
/// @return true when the whole file was written
bool write_bytes(const std::string& path, std::string_view bytes);

/// A tone grading as a JSON object: percent, agreeing, graded and every graded
/// pair (first and second note, counted from 1, interval, grade).
std::string grading_json(const ToneGrading& grading);

/// The beat check of line ends as a JSON object: percent, aligned, lines and the
/// notes (counted from 1) of the line ends off the beat.
std::string beats_json(const edit::BeatCheck& beats);

/// What a compose command composes from: the lyrics and the settings' positions.
/// @param text the lyrics, GBK, already checked
/// @param given the input's lines as read_lyrics gave them: kept as the lyrics (in UTF-8)
///        when they make `text` again as the lines of --lyrics-hex, so that the history
///        shows what was typed and its command line makes the same melody; otherwise, or
///        when empty, `text` itself is kept
std::shared_ptr<const CompositionSource> composition_source(
    const ComposeSettings& settings, const std::string& text,
    const std::vector<std::string>& given = {});

/// Records compositions in the history as the window does (compose --record), in one
/// transaction; their time is now. One composition is an entry of its own; the
/// candidates of a best of N are one press, listed under the chosen one. They are made
/// by `make` one at a time, as they are written, never all held at once.
/// @param count how many compositions: 1, or a best of N's candidates
/// @param chosen index of the chosen candidate
/// @param make the composition at an index; null when it cannot be made
/// @return the (chosen) entry's number, or nothing when nothing could be recorded (told on
///         standard error)
std::optional<std::int64_t> record_in_history(
    std::size_t count, std::size_t chosen,
    const std::function<CompositionPtr(std::size_t index)>& make);

/// The fields every compose result has in --json, in order: the seed (null with
/// --state), the states it started from and was made from, the settings, the melody
/// and the files asked for. The caller adds what its kind of result has besides.
/// @param start the generators' state before anything was composed
JsonObject composition_json(const ComposeSettings& settings, std::uint64_t seed,
                            const Generators::State& start, const Composition& composition);

/// compose with edits, a tone repair or best of N by sentence: the melody is
/// composed, shaped, then written with its exports.
/// @param text the lyrics, GBK, already checked
int compose_shaped(const ComposeSettings& settings, const std::string& text,
                   const std::vector<std::string>& given = {});

/// The commands, each run on the arguments after its name.
int cmd_analyze(std::span<const std::string> args);
int cmd_compose(std::span<const std::string> args);
int cmd_history(std::span<const std::string> args);

}  // namespace quavella::cli
