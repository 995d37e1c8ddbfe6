// Best of N: composes several melodies for one lyric from consecutive states of
// the generators, exactly as that many compose requests in a row would, and
// writes the one whose intervals suit the tones of the words best. The command
// line's --best-of runs it; so will the score window.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "composer/compose_request.h"
#include "composer/draws.h"
#include "composer/message_sink.h"
#include "tones/tone_grading.h"

namespace quavella {

/// One composed candidate.
struct BestOfCandidate {
    Generators::State state;  ///< the generators' state just before it was composed
    ComposeOutcome outcome;   ///< its settings and melody (no file was written for it)
    ToneGrading grading;      ///< its tone grading
};

/// The candidates of one best-of request and the one that was written.
struct BestOf {
    std::vector<BestOfCandidate> candidates;  ///< in the order they were composed
    std::size_t best = 0;    ///< index of the written candidate: the highest tone score, the
                             ///< first of equals
    std::string midi_error;  ///< the writer's error text; empty when the file is complete
};

/// Composes `count` melodies from the lyric, grades each, and writes the best.
/// The first candidate starts from the generators' current state, each next one
/// from the state the previous composition left; afterwards the generators are
/// where `count` compose requests would have left them. The written file is
/// byte for byte the one a single compose request from the best candidate's
/// state writes. The text is not checked here: callers ask lyric_refusal first.
/// @param gbk_text the joined lyric lines, GBK
/// @param check the tone check of the same lyric
/// @param count number of candidates, 1 or more (less is taken as 1)
/// @param speed_pos,mode_pos,timbre_pos list positions, as for compose_lyrics
/// @param messages receives the composer's messages of every candidate
/// @param midi_file the composition file written for the best candidate; empty
///        for none (the caller writes the best outcome's melody itself)
BestOf compose_best_of(std::string_view gbk_text, const ToneCheck& check, int count, int speed_pos,
                       int mode_pos, int timbre_pos, Generators& gens, MessageSink& messages,
                       const std::string& midi_file);

}  // namespace quavella
