// Composing one melody into a Composition value.
#include "composition/composition.h"

#include <utility>

#include "composer/compose_request.h"
#include "composer/song.h"
#include "composition/compose_steps.h"
#include "lyrics/syllables.h"

namespace quavella {

ToneCheck lyric_tone_check(std::string_view gbk_text) {
    return ToneCheck(syllable_texts(gbk_text));
}

LyricPart lyric_part(std::string_view gbk_text) {
    LyricPart part{lyric_tone_check(gbk_text), {}};
    part.lyrics = notation::lyrics_of(part.check.syllables(), part.check.syllables().size());
    return part;
}

ComposedNotes compose_notes(const CompositionSource& source, Generators& gens,
                            MessageSink& messages) {
    ComposedNotes composed;
    composed.state = gens.state();
    ComposeOutcome outcome = compose_melody(source.gbk_text, source.speed_pos, source.mode_pos,
                                            source.timbre_pos, gens, messages);
    composed.melody.notes = std::move(outcome.nt_seq);
    composed.melody.ticks = std::move(outcome.tm_seq);
    composed.melody.tempo = outcome.tempo;
    composed.melody.mode = outcome.mode;
    composed.melody.program = outcome.program;
    return composed;
}

Composed complete(std::shared_ptr<const CompositionSource> source, ComposedNotes notes,
                  const LyricPart& lyric) {
    notation::Melody& melody = notes.melody;
    // One syllable per note; converted once per lyric, not once per composition.
    melody.lyrics = melody.notes.size() == lyric.lyrics.size()
                        ? lyric.lyrics
                        : notation::lyrics_of(lyric.check.syllables(), melody.notes.size());
    return make_composition(std::move(source), notes.state, std::move(melody), lyric.check);
}

Composed compose(std::shared_ptr<const CompositionSource> source, const LyricPart& lyric,
                 Generators& gens, MessageSink& messages) {
    ComposedNotes notes = compose_notes(*source, gens, messages);
    return complete(std::move(source), std::move(notes), lyric);
}

Composed compose(std::shared_ptr<const CompositionSource> source, Generators& gens,
                 MessageSink& messages) {
    const LyricPart lyric = lyric_part(source->gbk_text);
    return compose(std::move(source), lyric, gens, messages);
}

Composed make_composition(std::shared_ptr<const CompositionSource> source, Generators::State state,
                          notation::Melody melody, const ToneCheck& check, std::string edits) {
    ToneGrading tones;
    if (melody.notes.size() == check.syllables().size()) tones = check.grade(melody.notes);
    return make_composition(std::move(source), state, std::move(melody), std::move(tones),
                            std::move(edits));
}

Composed make_composition(std::shared_ptr<const CompositionSource> source, Generators::State state,
                          notation::Melody melody, ToneGrading tones, std::string edits,
                          std::shared_ptr<const CompositionSource> composed_from,
                          std::optional<SongChords> chords) {
    CompositionFile file =
        composition_file(melody.tempo, melody.program, melody.notes, melody.ticks, melody.rests);
    if (!file.error.empty()) return Composed{nullptr, std::move(file.error)};
    auto made = std::make_shared<Composition>();
    made->source = std::move(source);
    made->state = state;
    made->tones = std::move(tones);
    made->melody = std::move(melody);
    made->midi = std::move(file.bytes);
    made->edits = std::move(edits);
    made->composed_from = std::move(composed_from);
    if (chords) {
        made->chords = std::move(chords->chords);
        made->locks = std::move(chords->locks);
    } else {
        made->chords = harmony::choose_chords(harmony::request_for(made->melody));
    }
    return Composed{std::move(made), {}};
}

std::shared_ptr<const CompositionSource> with_words(const CompositionSource& composed,
                                                    std::string_view words, std::string gbk_text) {
    auto source = std::make_shared<CompositionSource>(composed);
    source->lines.clear();
    for (std::size_t start = 0;;) {
        const std::size_t end = words.find('\n', start);
        source->lines.emplace_back(words.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    source->gbk_text = std::move(gbk_text);
    return source;
}

}  // namespace quavella
