// Composing one melody into a Composition value.
#include "composition/composition.h"

#include <utility>

#include "composer/compose_request.h"
#include "composer/song.h"
#include "lyrics/syllables.h"

namespace quavella {

ToneCheck lyric_tone_check(std::string_view gbk_text) {
    return ToneCheck(syllable_texts(gbk_text));
}

Composed compose(std::shared_ptr<const CompositionSource> source, const ToneCheck& check,
                 Generators& gens, MessageSink& messages) {
    const Generators::State state = gens.state();
    ComposeOutcome outcome = compose_melody(source->gbk_text, source->speed_pos, source->mode_pos,
                                            source->timbre_pos, gens, messages);
    notation::Melody melody;
    melody.notes = std::move(outcome.nt_seq);
    melody.ticks = std::move(outcome.tm_seq);
    melody.lyrics = notation::lyrics_of(check.syllables(), melody.notes.size());
    melody.tempo = outcome.tempo;
    melody.mode = outcome.mode;
    melody.program = outcome.program;
    return make_composition(std::move(source), state, std::move(melody), check);
}

Composed compose(std::shared_ptr<const CompositionSource> source, Generators& gens,
                 MessageSink& messages) {
    const ToneCheck check = lyric_tone_check(source->gbk_text);
    return compose(std::move(source), check, gens, messages);
}

Composed make_composition(std::shared_ptr<const CompositionSource> source, Generators::State state,
                          notation::Melody melody, const ToneCheck& check, std::string edits) {
    CompositionFile file =
        composition_file(melody.tempo, melody.program, melody.notes, melody.ticks);
    if (!file.error.empty()) return Composed{nullptr, std::move(file.error)};
    auto made = std::make_shared<Composition>();
    made->source = std::move(source);
    made->state = state;
    if (melody.notes.size() == check.syllables().size()) made->tones = check.grade(melody.notes);
    made->melody = std::move(melody);
    made->midi = std::move(file.bytes);
    made->edits = std::move(edits);
    return Composed{std::move(made), {}};
}

}  // namespace quavella
