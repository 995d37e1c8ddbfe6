// The command line of quavella-cli as data: each command's settings, the table of
// options it accepts, one walk over the arguments that fills the settings or says
// why the line is refused, and the exit statuses. main.cpp runs what this parses.
//
// Adding an option is one row in the command's table, e.g.
//     flag("--score", a.score),
//     file("--musicxml", a.musicxml_file),
// and adding a command is a settings struct, a parse_<command> function and a row
// in main.cpp's command table.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "composer/draws.h"
#include "composition/best_of.h"  // kMaxBestOf
#include "edit/edits.h"
#include "harmony/accompaniment.h"
#include "lyrics/gbk_text.h"

namespace quavella::cli {

/// Where compose writes the composition file when -o names none.
inline constexpr const char* kDefaultOutFile = "temp.mid";

/// What the exit status tells the caller. Several meanings share a number: 1 is
/// "the request was understood but not done", 2 "the request was not understood".
enum class Exit : int {
    ok = 0,
    unreadable_input = 1,    ///< FILE or standard input could not be read
    refused_lyrics = 1,      ///< empty, too short, or no character the composer can use
    output_not_written = 1,  ///< the MIDI file or standard output could not be written
    history_failed = 1,      ///< the history could not be opened or read
    no_such_entry = 1,       ///< the history has no entry with that number
    bad_usage = 2,           ///< a bad command line; the usage is printed
    invalid_text = 2,        ///< the lyrics are not valid UTF-8
    out_of_memory = 1,       ///< memory ran out; the outputs not complete are not written
};

/// The exit status as main returns it.
constexpr int status(Exit exit) { return static_cast<int>(exit); }

/// Why a command line was refused: the text printed before the usage.
struct UsageError {
    std::string message;
    bool operator==(const UsageError&) const = default;
};

/// The settings a command line asks for, or why it was refused.
template <typename Settings>
using Parsed = std::variant<Settings, UsageError>;

/// One option of a command: "NAME VALUE" and "NAME=VALUE" for an option with a
/// value, a bare "NAME" for a flag.
struct Option {
    std::string_view name;
    bool takes_value = true;
    /// What the option needs when its value is missing: "NAME needs <this>". A flag
    /// with a value kind also takes "NAME=VALUE" (its take() checks VALUE); without,
    /// that form is refused.
    std::string_view value_kind = "a value";
    /// Takes the value (empty for a flag) into the command's settings.
    /// @return an error text when the value is refused
    std::function<std::optional<std::string>(const std::string& value)> take;
};

/// Takes one operand (an argument that is not an option) into the settings.
/// @return an error text when the operand is refused
using OperandTaker = std::function<std::optional<std::string>(const std::string& operand)>;

/// Walks a command's arguments in order: "--" ends the options, an argument
/// starting with "-" (other than "-" itself) is one of `options`, anything else an
/// operand. Stops at the first refusal.
/// @param command the command's name, for the unknown-option message
/// @return the refusal's text, or nothing when every argument was taken
std::optional<std::string> walk_arguments(std::span<const std::string> args,
                                          std::string_view command, std::span<const Option> options,
                                          const OperandTaker& operand);

/// Option rows for the common kinds of value.
/// A flag: sets `target` when present; a value is refused.
Option flag(std::string_view name, bool& target);
/// A file name: any non-empty text ("NAME needs a file name" otherwise).
Option file(std::string_view name, std::string& target);
/// A list position: a number from 0 to items.size() - 1 or the text of one of
/// `items`; anything else is refused with the allowed values.
Option position(std::string_view name, int& target, const std::vector<std::string>& items);
/// The allowed values of a list position, as refusals name them: "0 to 2, or 慢 中 快".
std::string allowed_positions(const std::vector<std::string>& items);
/// "--encoding E": utf-8 or gbk.
Option encoding(LyricEncoding& target);

/// Where the lyrics come from and how they are encoded.
struct LyricSource {
    std::string file = "-";  ///< "-" is standard input
    LyricEncoding encoding = LyricEncoding::utf8;
    bool file_given = false;
    /// The lyrics given by --lyrics-hex, decoded: lines separated by "\n" alone
    /// (a "\r" is part of its line), as the window's lyric box holds them.
    std::optional<std::string> text;
};

/// The operand of a command that reads lyrics: one FILE (or "-") at most.
OperandTaker lyric_file(LyricSource& source);

/// "--lyrics-hex HEX": the lyrics as hex digits, two per byte; given again, its
/// values follow one another.
Option lyrics_hex(LyricSource& source);

/// quavella-cli analyze [--encoding E] [--tones] [--lyrics-hex HEX | FILE]
struct AnalyzeSettings {
    LyricSource source;
    bool tones = false;  ///< --tones: also print the tones of the syllables
    bool json = false;   ///< --json: one JSON object instead of the text lines
};
Parsed<AnalyzeSettings> parse_analyze(std::span<const std::string> args);

/// quavella-cli compose [--speed P] [--mode P] [--timbre P] [--seed S] [--encoding E]
///                      [-o OUT] [--score] [--state S:T] [--musicxml FILE]
///                      [--lyrics-midi FILE] [--audio FILE] [--tones] [--best-of N]
///                      [--by-sentence] [--edits LIST] [--fix-tones[=suit]] [--fix-rhythm]
///                      [--chords]
///                      [--arrangement FILE] [--pattern NAME] [--accompaniment PROGRAM]
///                      [--lyrics-hex HEX | FILE]
struct ComposeSettings {
    LyricSource source;
    int speed = 0;  ///< list positions, mapped as the window's lists are
    int mode = 0;
    int timbre = 0;
    std::optional<std::uint64_t> seed;       ///< nothing: seeded from the clock (or the state)
    std::optional<Generators::State> state;  ///< both generators' state to start from
    std::string out_file = kDefaultOutFile;
    bool score = false;             ///< also print the melody in numbered notation
    std::string musicxml_file;      ///< the score as MusicXML; empty: not written
    std::string lyrics_midi_file;   ///< the melody as MIDI with lyric events; empty: not written
    std::string karaoke_file;       ///< the melody as a Soft Karaoke file; empty: not written
    std::string audio_file;         ///< the melody as audio; empty: not written
    bool tones = false;             ///< --tones: also print the tones and the grading of the melody
    int best_of = 1;                ///< --best-of N: candidates composed; the best is written
    bool by_sentence = false;       ///< --by-sentence: best of N chooses each sentence apart
    std::vector<edit::Edit> edits;  ///< --edits LIST: applied in order to the melody
    /// --fix-tones (fix_tones) or --fix-tones=suit (suit_tones): the repair applied last
    std::optional<edit::EditKind> fix_tones;
    /// --fix-rhythm: 对齐节拍 applied after the edits, before or after the tone repair as
    /// the two options come on the command line
    bool fix_rhythm = false;
    bool rhythm_first = false;     ///< --fix-rhythm came before --fix-tones (or alone)
    bool json = false;             ///< --json: one JSON object instead of the text lines
    bool record = false;           ///< --record: the composition is recorded in the history
    bool chords = false;           ///< --chords: print the chords chosen under the melody
    std::string arrangement_file;  ///< melody and accompaniment as MIDI; empty: not written
    /// --pattern and --accompaniment: how the arrangement's accompaniment plays
    harmony::ArrangementSettings arrangement;

    /// True when chords are chosen under the melody (printed, in MusicXML, arranged).
    bool harmonised() const { return chords || !arrangement_file.empty(); }

    /// True when the composition file goes to standard output ("-o -").
    bool to_stdout() const { return out_file == "-"; }

    /// True when the melody is shaped after it is composed.
    bool shaped() const {
        return by_sentence || !edits.empty() || fix_tones.has_value() || fix_rhythm;
    }
};

Parsed<ComposeSettings> parse_compose(std::span<const std::string> args);

/// quavella-cli history list [--limit N] [--all | --candidates ID] | show ID |
/// export ID [-o FILE] [--musicxml FILE] [--lyrics-midi FILE] [--audio FILE]
struct HistorySettings {
    enum class Action { list, show, export_file };
    Action action = Action::list;
    int limit = 20;             ///< list: how many entries, newest first; 0 for all
    std::int64_t id = 0;        ///< show, export: the entry
    std::string out_file;       ///< export: where the composition file goes ("" for history-ID.mid)
    std::string musicxml_file;  ///< export: also the score as MusicXML ("" for none)
    std::string lyrics_midi_file;    ///< export: also a MIDI file with the syllables as lyrics
    std::string karaoke_file;        ///< export: also a Soft Karaoke file (.kar)
    std::string audio_file;          ///< export: also the melody rendered as audio
    bool json = false;               ///< list, show: JSON objects instead of the text lines
    bool all = false;                ///< list: each best-of press followed by its candidates
    std::int64_t candidates_of = 0;  ///< list: the candidates of this press instead (0: none)
};
Parsed<HistorySettings> parse_history(std::span<const std::string> args);

/// Parses a list position: an integer (any value; those outside the list map
/// like "any other", an integer too large for int gives -1) or the text of one
/// of the list's items.
std::optional<int> parse_position(const std::string& value, const std::vector<std::string>& items);

/// Parses the accompaniment's instrument: a General MIDI program from 0 to 127, or
/// the text of a timbre list item (its program: 吉他 is 24).
std::optional<int> accompaniment_program(const std::string& value);

/// Parses a seed: a decimal integer from 0 to 2^64 - 1.
std::optional<std::uint64_t> parse_seed(const std::string& value);

/// True when the arguments ask for the usage: "-h" or "--help" before any "--".
bool asks_for_help(std::span<const std::string> args);
/// True when the arguments ask for the version: "--version" before any "--".
bool asks_for_version(std::span<const std::string> args);

}  // namespace quavella::cli
