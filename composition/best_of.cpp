// Best-of composing over consecutive generator states.
#include "composition/best_of.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "composition/compose_steps.h"

namespace quavella {

namespace {

CandidateGrade grade_of(const Generators::State& state, const ToneGrading& grading) {
    return CandidateGrade{state, grading.agreeing(), grading.graded(), grading.percent()};
}

}  // namespace

BestOf compose_best_of(const std::shared_ptr<const CompositionSource>& source, int count,
                       Generators& gens, MessageSink& messages, const CandidateSink& each) {
    BestOf result;
    const auto n = static_cast<std::size_t>(std::max(count, 1));
    result.candidates.reserve(n);
    const LyricPart lyric = lyric_part(source->gbk_text);

    if (each) {
        // Every candidate is wanted whole: each made complete as it is composed.
        for (std::size_t i = 0; i < n; ++i) {
            Composed made = compose(source, lyric, gens, messages);
            if (!made.error.empty()) return BestOf{nullptr, 0, {}, std::move(made.error)};
            const ToneGrading& grading = made.composition->tones;
            result.candidates.push_back(grade_of(made.composition->state, grading));
            each(i, made.composition);
            if (!result.best || scores_higher(grading, result.best->tones)) {
                result.best = std::move(made.composition);
                result.best_index = i;
            }
        }
        return result;
    }

    // Only the best is wanted: candidates are graded on their notes, and the
    // syllables and bytes are made for the one kept.
    std::optional<ComposedNotes> best;
    ToneGrading best_grading;
    for (std::size_t i = 0; i < n; ++i) {
        ComposedNotes notes = compose_notes(*source, gens, messages);
        ToneGrading grading = notes.melody.notes.size() == lyric.check.syllables().size()
                                  ? lyric.check.grade(notes.melody.notes)
                                  : ToneGrading{};
        result.candidates.push_back(grade_of(notes.state, grading));
        if (!best || scores_higher(grading, best_grading)) {
            best = std::move(notes);
            best_grading = std::move(grading);
            result.best_index = i;
        }
    }
    Composed made = complete(source, std::move(*best), lyric);
    if (!made.error.empty()) return BestOf{nullptr, 0, {}, std::move(made.error)};
    result.best = std::move(made.composition);
    return result;
}

CompositionPtr candidate_of(const std::shared_ptr<const CompositionSource>& source,
                            const BestOf& best, std::size_t index) {
    if (index == best.best_index) return best.best;
    Generators again;
    again.restore(best.candidates.at(index).state);
    QuietSink quiet;
    Composed made = compose(source, again, quiet);
    return made.error.empty() ? std::move(made.composition) : nullptr;
}

}  // namespace quavella
