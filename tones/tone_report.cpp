// Text of the tones and the grading, sentence by sentence.
#include "tones/tone_report.h"

#include "lyrics/gbk_text.h"

namespace quavella {
namespace {

std::string signed_interval(int semitones) {
    return (semitones > 0 ? "+" : "") + std::to_string(semitones);
}

/// The two syllables of a pair, as sung: "春眠".
std::string pair_text(const ToneCheck& check, const TonePair& pair, GbkToUtf8& to_utf8) {
    return to_utf8(check.syllables()[pair.first].text) +
           to_utf8(check.syllables()[pair.second].text);
}

/// The lines of the tones, with the graded pairs of each sentence when given.
std::string sentence_lines(const ToneCheck& check, const ToneGrading* grading) {
    GbkToUtf8 to_utf8;
    const auto& syllables = check.syllables();
    const auto& tones = check.tones();
    std::string out;
    std::size_t next_pair = 0;
    for (std::size_t i = 0; i < syllables.size();) {
        const int sentence = syllables[i].sentence;
        out += "sentence " + std::to_string(sentence + 1) + ":";
        for (; i < syllables.size() && syllables[i].sentence == sentence; ++i) {
            out += ' ';
            if (syllables[i].continuation) {
                out += '~';
                continue;
            }
            out += to_utf8(syllables[i].text);
            out += tone_digit(tones[i].citation);
            if (tones[i].sung != tones[i].citation) {
                out += '>';
                out += tone_digit(tones[i].sung);
            }
        }
        out += '\n';
        if (grading == nullptr) continue;
        std::string pairs;
        for (; next_pair < grading->pairs.size() && grading->pairs[next_pair].second < i;
             ++next_pair) {
            const TonePair& pair = grading->pairs[next_pair];
            pairs += pairs.empty() ? "  " : ", ";
            pairs += pair_text(check, pair, to_utf8) + " " + signed_interval(pair.interval) + " " +
                     std::string(grade_name(pair.grade));
        }
        if (!pairs.empty()) out += pairs + '\n';
    }
    return out;
}

}  // namespace

std::string tone_lines(const ToneCheck& check) { return sentence_lines(check, nullptr); }

std::string grading_lines(const ToneCheck& check, const ToneGrading& grading) {
    std::string out = sentence_lines(check, &grading);
    const auto count = [&](ToneGrade grade) {
        return std::to_string(grading.counts[static_cast<std::size_t>(grade)]);
    };
    out += "tone score: " + std::to_string(grading.percent()) + "% (" +
           std::to_string(grading.agreeing()) + " of " + std::to_string(grading.graded()) +
           " pairs good or fair; good " + count(ToneGrade::good) + ", fair " +
           count(ToneGrade::fair) + ", acceptable " + count(ToneGrade::acceptable) + ", contrary " +
           count(ToneGrade::contrary) + ")\n";
    const std::vector<TonePair> contrary = grading.contrary();
    if (!contrary.empty()) {
        GbkToUtf8 to_utf8;
        out += "contrary:";
        for (std::size_t k = 0; k < contrary.size(); ++k) {
            const TonePair& pair = contrary[k];
            out += (k == 0 ? " " : ", ") + pair_text(check, pair, to_utf8) + " " +
                   signed_interval(pair.interval) + " (sentence " +
                   std::to_string(check.syllables()[pair.first].sentence + 1) + ")";
        }
        out += '\n';
    }
    return out;
}

}  // namespace quavella
