// Who is told about each finished composition: the score window, the history.
// Qt-free, so the commands run in tests with fakes.
#pragma once

#include <string>
#include <vector>

#include "composer/compose_request.h"
#include "composer/draws.h"

namespace quavella {

/// One composition as the compose command finished it.
struct FinishedComposition {
    std::vector<std::string> lines;  ///< the lyric box's lines as typed, UTF-8
    std::string gbk_text;            ///< the joined GBK text that was composed
    int speed_pos = 0;               ///< list positions of the three settings
    int mode_pos = 0;
    int timbre_pos = 0;
    Generators::State state;  ///< both generators just before the composition
    ComposeOutcome outcome;   ///< tempo, mode, program, notes and durations
    std::string play_file;    ///< the play file that now holds the melody; empty for a
                              ///< best-of candidate that was passed over (no file holds it)
    int candidate = 0;        ///< 1..N among the candidates of a best-of composition;
                              ///< 0 for a single composition
    /// The edits that made the melody from the composition of `state`, in their text
    /// form (best of N by sentence); empty for a melody as composed. `outcome` holds
    /// the melody with the edits made.
    std::string edits{};
};

/// Told about every composition once the user has acknowledged "作曲完成".
class CompositionListener {
public:
    virtual ~CompositionListener() = default;
    /// A composition now in the player: a single one, or the candidate a best-of
    /// composition chose.
    virtual void composed(const FinishedComposition& composition) = 0;
    /// A candidate of a best-of composition that was not chosen. Told for each of
    /// them in the order they were composed, before composed() for the chosen one.
    /// Its state makes it again. Ignored unless a listener wants every candidate.
    virtual void passed_over(const FinishedComposition& candidate) { (void)candidate; }
};

}  // namespace quavella
