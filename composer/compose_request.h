// One compose request from lyric text to composition file: the text checks and
// the pipeline shared by the main window and the command-line tool.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "composer/draws.h"
#include "composer/message_sink.h"
#include "composer/song.h"
#include "lyrics/gbk_text.h"

namespace quavella {

/// Returns the message that turns a lyric text away (UTF-8), or nothing when it may be composed.
/// @param gbk_text the joined lyric lines, GBK bytes; lengths count bytes.
/// @return "请输入歌词！" for a text empty or without a syllable to sing (spaces and marks
///         only), "歌词太短，没感觉！" below 10 bytes.
std::optional<std::string> lyric_refusal(std::string_view gbk_text);

/// The longest lyrics the window and the command line compose, in bytes of the text as
/// typed or read (line ends included): 64 KiB, about 21,000 Chinese characters, ten times
/// the longest song. Such lyrics compose in a fraction of a second, to at most a quarter of
/// the score's bound (notation::kMaxScoreTicks), and their "make it again" command line
/// stays well within the system's limit on arguments.
inline constexpr std::size_t kMaxLyricBytes = 64 * 1024;

/// The message that turns lyrics of `bytes` bytes away for their size, naming the limit;
/// nothing when they are within it.
std::optional<std::string> lyric_size_refusal(std::size_t bytes);

/// What the user is told about a converted lyric text before it is composed.
struct LyricCheck {
    /// Characters were left out but others remain: a notice, the composition goes on.
    std::optional<std::string> notice;
    /// The text is turned away with this message (UTF-8); nothing is composed.
    std::optional<std::string> refusal;
};

/// Checks a converted lyric text: names the characters the conversion left out (a
/// short list), and refuses a text that is empty, too short, or made only of such
/// characters ("歌词中没有可用于作曲的字符" rather than asking for lyrics).
/// @param text a successful conversion (ok is true)
LyricCheck check_lyrics(const GbkConversion& text);

/// What one composition used and produced.
struct ComposeOutcome {
    int tempo;        ///< beats per minute
    int mode;         ///< mode number 0..3
    int program;      ///< General MIDI program, 0-based
    int notes;        ///< notes in the melody
    Sequence nt_seq;  ///< the melody's MIDI note numbers, as its file holds them
    Sequence tm_seq;  ///< each note's duration in ticks, as its file holds them
};

/// Analyses the text, draws the tempo, configures a Song and composes. The composition
/// file is made from the outcome in memory: composition_file(tempo, program, nt_seq,
/// tm_seq). The text is not checked here: callers ask lyric_refusal first.
/// @param speed_pos,mode_pos,timbre_pos list positions, mapped as the style tables do.
/// @return the settings used, the note count and the melody
ComposeOutcome compose_melody(std::string_view gbk_text, int speed_pos, int mode_pos,
                              int timbre_pos, DrawSource& draws, MessageSink& messages);

}  // namespace quavella
