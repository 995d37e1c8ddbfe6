// The tones and the tone grading of a lyric as text, sentence by sentence, for
// the command line (UTF-8).
#pragma once

#include <string>

#include "tones/tone_grading.h"

namespace quavella {

/// One line per sentence: "sentence 1: 春1 眠2 不4 觉2 晓3". A tone the tone
/// changes alter shows both, "你3>2"; 5 is the neutral tone; a syllable without
/// a reading is shown without a digit, a continuation as "~".
/// @param check the tone check of the lyric
std::string tone_lines(const ToneCheck& check);

/// The tone lines, each followed by the graded pairs of its sentence
/// ("  春眠 -3 fair, 眠不 -2 acceptable"), then the tone score and the
/// contrary pairs:
///   tone score: 63% (5 of 8 pairs good or fair; good 1, fair 4, acceptable 3, contrary 0)
///   contrary: 夜来 +5 (sentence 3)
/// @param check the tone check of the lyric
/// @param grading a melody's grading by that check
std::string grading_lines(const ToneCheck& check, const ToneGrading& grading);

}  // namespace quavella
