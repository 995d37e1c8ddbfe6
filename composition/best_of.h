// Best of N: composes several melodies for one lyric from consecutive states of
// the generators, exactly as that many compose requests in a row would, and keeps
// the one whose intervals suit the tones of the words best. The command line's
// --best-of and the score window's "择优作曲" run it.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "composer/draws.h"
#include "composer/message_sink.h"
#include "composition/composition.h"

namespace quavella {

/// The most candidates one best of N composes: the score window's 择优作曲 and the command
/// line's --best-of N take 1 to this many.
inline constexpr int kMaxBestOf = 1000;

/// What best of N keeps of each candidate: enough to name it and make it again.
struct CandidateGrade {
    Generators::State state;  ///< the generators' state just before it was composed
    int agreeing = 0;         ///< graded pairs whose interval suits the tones (good or fair)
    int graded = 0;           ///< graded pairs
    int percent = 0;          ///< the tone score in whole percent (ToneGrading::percent)
};

/// The outcome of one best-of request.
struct BestOf {
    CompositionPtr best;         ///< the chosen composition; null when `error` is set
    std::size_t best_index = 0;  ///< its index among the candidates: the highest tone score,
                                 ///< the first of equals
    std::vector<CandidateGrade> candidates;  ///< every candidate, in the order composed
    std::string error;  ///< why a candidate's file could not be made; empty on success
};

/// Told of each candidate as it is made, with its index (0-based). Memory stays
/// bounded when nobody keeps them.
using CandidateSink = std::function<void(std::size_t index, const CompositionPtr& candidate)>;

/// Composes `count` melodies from the lyric, grades each and keeps the best; only
/// the best composition and each candidate's grade are held, however large `count`.
/// The first candidate starts from the generators' current state, each next one
/// from the state the previous composition left; afterwards the generators are
/// where `count` compose requests would have left them. Each candidate is the
/// composition a single compose from its state makes, bytes included.
/// The text is not checked here: callers ask lyric_refusal first.
/// @param count number of candidates, 1 or more (less is taken as 1)
/// @param messages receives the composer's messages of every candidate
/// @param each told of every candidate as it is made; may be empty
BestOf compose_best_of(const std::shared_ptr<const CompositionSource>& source, int count,
                       Generators& gens, MessageSink& messages, const CandidateSink& each = {});

/// Candidate `index` of a best of N composed from `source`: the chosen one as kept, any
/// other composed again from its generator state, the same value, bytes included (its
/// messages were shown the first time and go nowhere now). Only the best is held, so
/// whoever wants every candidate (a history recording the press) makes them one at a time.
/// Safe on any thread: it reads `source` and `best` and composes with generators of its own.
/// @param index below best.candidates.size()
/// @return null when the candidate's file could not be made
CompositionPtr candidate_of(const std::shared_ptr<const CompositionSource>& source,
                            const BestOf& best, std::size_t index);

}  // namespace quavella
