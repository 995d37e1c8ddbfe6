// The two steps of compose() apart, for best of N within composition/: the notes
// composed first, the syllables, bytes and grading added only to a melody kept.
#pragma once

#include <memory>

#include "composition/composition.h"

namespace quavella {

/// A melody just composed: its notes, durations and settings, no syllables yet.
struct ComposedNotes {
    Generators::State state;  ///< the generators just before it was composed
    notation::Melody melody;  ///< lyrics empty
};

/// Composes the notes as compose() does, with the same draws and messages.
ComposedNotes compose_notes(const CompositionSource& source, Generators& gens,
                            MessageSink& messages);

/// The composition of composed notes: syllables, file bytes and grading added.
Composed complete(std::shared_ptr<const CompositionSource> source, ComposedNotes notes,
                  const LyricPart& lyric);

}  // namespace quavella
