// Best-of composing over consecutive generator states.
#include "tones/best_of.h"

#include <algorithm>

namespace quavella {

BestOf compose_best_of(std::string_view gbk_text, const ToneCheck& check, int count, int speed_pos,
                       int mode_pos, int timbre_pos, Generators& gens, MessageSink& messages,
                       const std::string& midi_file) {
    BestOf result;
    const auto n = static_cast<std::size_t>(std::max(count, 1));
    result.candidates.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Generators::State state = gens.state();
        ComposeOutcome outcome =
            compose_melody(gbk_text, speed_pos, mode_pos, timbre_pos, gens, messages);
        ToneGrading grading = check.grade(outcome.nt_seq);
        if (i > 0 && scores_higher(grading, result.candidates[result.best].grading)) {
            result.best = i;
        }
        result.candidates.push_back(BestOfCandidate{state, std::move(outcome), std::move(grading)});
    }

    // The best melody is composed again from its state, this time into the
    // file, so the bytes are those of a single request from that state.
    if (midi_file.empty()) return result;
    const Generators::State after = gens.state();
    BestOfCandidate& best = result.candidates[result.best];
    gens.restore(best.state);
    QuietSink quiet;
    ComposeOutcome written =
        compose_lyrics(gbk_text, speed_pos, mode_pos, timbre_pos, gens, quiet, midi_file);
    result.midi_error = written.midi_error;
    best.outcome.midi_error = written.midi_error;
    gens.restore(after);
    return result;
}

}  // namespace quavella
