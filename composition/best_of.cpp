// Best-of composing over consecutive generator states.
#include "composition/best_of.h"

#include <algorithm>
#include <utility>

namespace quavella {

BestOf compose_best_of(const std::shared_ptr<const CompositionSource>& source, int count,
                       Generators& gens, MessageSink& messages, const CandidateSink& each) {
    BestOf result;
    const auto n = static_cast<std::size_t>(std::max(count, 1));
    result.candidates.reserve(n);
    const ToneCheck check = lyric_tone_check(source->gbk_text);
    for (std::size_t i = 0; i < n; ++i) {
        Composed made = compose(source, check, gens, messages);
        if (!made.error.empty()) {
            result.best.reset();
            result.error = std::move(made.error);
            return result;
        }
        const ToneGrading& grading = made.composition->tones;
        result.candidates.push_back(CandidateGrade{made.composition->state, grading.agreeing(),
                                                   grading.graded(), grading.percent()});
        if (each) each(i, made.composition);
        if (!result.best || scores_higher(grading, result.best->tones)) {
            result.best = std::move(made.composition);
            result.best_index = i;
        }
    }
    return result;
}

}  // namespace quavella
