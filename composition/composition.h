// One composition as a value: what it was made from, the melody the composer made,
// its file's bytes and its tone grading, made once and shared read-only by every
// listener (the window's score and history, the command line, the exports).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "composer/draws.h"
#include "composer/message_sink.h"
#include "harmony/chord_model.h"
#include "notation/score.h"
#include "tones/tone_grading.h"

namespace quavella {

/// What a composition is made from; shared by the candidates of one request and by
/// the melodies edited from them.
struct CompositionSource {
    std::vector<std::string> lines;  ///< the lyric lines as typed, UTF-8; empty when not known
    std::string gbk_text;            ///< the joined lyric text that is composed, GBK
    int speed_pos = 0;               ///< list positions of the three settings
    int mode_pos = 0;
    int timbre_pos = 0;
};

/// One finished composition. Nobody changes it once made: an edited melody is a
/// new Composition with the same source.
struct Composition {
    std::shared_ptr<const CompositionSource> source;  ///< never null
    Generators::State state;  ///< both generators just before it was composed
    notation::Melody melody;  ///< notes, durations, syllables with sentences, tempo, mode, program
    std::string midi;         ///< the composition file's bytes (composition_file)
    ToneGrading tones;        ///< the melody's intervals graded by the tones of the words
    std::string edits;        ///< how it was edited from the composed melody; empty as composed
    /// The lyric and settings `state` composed and `edits` start from, when a word edit
    /// among the edits changed the words: `source` then holds the new words (what the
    /// score, the tone marks and the exports show). Null when it is `source`.
    std::shared_ptr<const CompositionSource> composed_from;

    /// What `state` composed and `edits` start from: composed_from, else source.
    const std::shared_ptr<const CompositionSource>& composed_source() const {
        return composed_from ? composed_from : source;
    }
    /// The chords under the melody, one per slot (half bar), and the slots locked: as
    /// chosen for the melody as composed, or as the song's edits left them. The
    /// chord views, the arrangement and the exports read them.
    harmony::Harmony chords;
    std::vector<harmony::Lock> locks;
};

/// How compositions are passed around: one immutable value, shared.
using CompositionPtr = std::shared_ptr<const Composition>;

/// What compose returns: the composition, or why its file could not be made.
struct Composed {
    CompositionPtr composition;  ///< null when `error` is set
    std::string error;           ///< the MIDI writer's error text; empty on success
};

/// The tone check of a lyric text (GBK): its syllables and the pairs graded. Made
/// once per lyric and shared by every composition of it.
ToneCheck lyric_tone_check(std::string_view gbk_text);

/// What every composition of one lyric shares, made once per lyric text: the tone
/// check and the sung syllables in UTF-8 (one per note of a composed melody).
struct LyricPart {
    ToneCheck check;
    std::vector<notation::Lyric> lyrics;
};

/// The shared part of compositions of a lyric text (GBK).
LyricPart lyric_part(std::string_view gbk_text);

/// Composes one melody from `source`, exactly as a compose request does (the same
/// draws, the same messages), and makes its file's bytes and its tone grading.
/// The text is not checked here: callers ask lyric_refusal first.
/// @param lyric lyric_part(source->gbk_text), made once for many compositions
/// @param gens the generators, left where the composition leaves them
/// @param messages receives the composer's messages
Composed compose(std::shared_ptr<const CompositionSource> source, const LyricPart& lyric,
                 Generators& gens, MessageSink& messages);

/// compose with the lyric's part made here, for a single composition.
Composed compose(std::shared_ptr<const CompositionSource> source, Generators& gens,
                 MessageSink& messages);

/// A composition of `melody`: its file's bytes made by composition_file and its
/// grading by `check`. Composed melodies are made so, and so are edited ones.
/// @param state the generators' state the melody was composed from
/// @param check the tone check of source->gbk_text; a melody whose note count is not
///        the lyric's syllable count gets no graded pairs
/// @param edits how the melody was edited from the composed one; empty as composed
Composed make_composition(std::shared_ptr<const CompositionSource> source, Generators::State state,
                          notation::Melody melody, const ToneCheck& check, std::string edits = {});

/// The chords of a composition: under an edited melody, as its edits left them.
struct SongChords {
    harmony::Harmony chords;
    std::vector<harmony::Lock> locks;
};

/// make_composition with the melody's grading already made (an edited melody is graded
/// as it is edited): the composition takes `tones` as it is, and grades nothing again.
/// @param composed_from what `state` composed, when word edits gave `source` other words
/// @param chords the chords as the edits left them; without them, the chords chosen for
///        the melody (harmony::choose_chords)
Composed make_composition(std::shared_ptr<const CompositionSource> source, Generators::State state,
                          notation::Melody melody, ToneGrading tones, std::string edits,
                          std::shared_ptr<const CompositionSource> composed_from = nullptr,
                          std::optional<SongChords> chords = std::nullopt);

/// `composed` singing other words: its settings, the lines of `words` (UTF-8 lines joined
/// by "\n", as a word edit carries them) and their joined GBK text `gbk_text`.
std::shared_ptr<const CompositionSource> with_words(const CompositionSource& composed,
                                                    std::string_view words, std::string gbk_text);

}  // namespace quavella
