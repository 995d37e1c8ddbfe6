// The interval ranges of each tone pair, and the grading of a melody with them.
#include "tones/tone_grading.h"

#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

namespace quavella {
namespace {

/// Inclusive range of intervals in semitones (second note minus first).
struct Range {
    int low;
    int high;
};

// Three tiers of intervals for each pair of tones, as published with ReLyMe
// (C. Zhang, L. Chang, S. Wu, X. Tan, T. Qin, T.-Y. Liu, K. Zhang, "ReLyMe:
// Improving Lyric-to-Melody Generation by Incorporating Lyric-Melody
// Relationships", ACM Multimedia 2022, arXiv:2207.05688). The paper states the
// principle; the numbers are the `interval_range` table of its public code,
// github.com/microsoft/muzic, relyme/score/config.py (the same table in
// relyme/telemelody_zh/config.py), commit a68d2b1c902b1b6b3b1574917d5df4c24e267fa8.
// Rows: the first syllable's tone, columns: the second's, both in the order
// first, second, third, fourth, neutral. An interval in the first tier is good,
// in the second fair, in the third acceptable (the first tier that holds it
// counts); outside all three it is contrary.
// Kept exactly as published, including neutral -> third, whose first tier
// (-4, 3) is wider than its second where every other pair into a third tone has
// (-4, -3): intervals of -2..3 there grade good, not fair or acceptable.
constexpr Range kTiers[5][5][3] = {
    // from the first tone
    {{{0, 1}, {-1, 2}, {-3, 4}},
     {{-5, -4}, {-8, -3}, {-10, -1}},
     {{-7, -6}, {-12, -5}, {-14, -2}},
     {{-4, -3}, {-6, 1}, {-8, 3}},
     {{-7, -6}, {-12, -3}, {-14, -1}}},
    // from the second tone
    {{{2, 3}, {2, 5}, {1, 7}},
     {{-2, -1}, {-3, 1}, {-5, 3}},
     {{-4, -3}, {-6, 1}, {-8, 3}},
     {{1, 2}, {-1, 3}, {-3, 6}},
     {{-4, -3}, {-6, 1}, {-8, 3}}},
    // from the third tone
    {{{4, 5}, {3, 9}, {1, 10}},
     {{1, 2}, {-1, 2}, {-3, 5}},
     {{-4, -3}, {-6, 1}, {-8, 3}},
     {{3, 4}, {0, 7}, {-2, 8}},
     {{1, 2}, {-1, 3}, {-3, 5}}},
    // from the fourth tone
    {{{-1, 0}, {-2, 2}, {-4, 4}},
     {{-4, -3}, {-7, -1}, {-9, 1}},
     {{-7, -6}, {-12, -3}, {-14, 0}},
     {{-6, -3}, {-7, 1}, {-12, 3}},
     {{-7, -6}, {-12, -3}, {-14, 0}}},
    // from the neutral tone
    {{{2, 3}, {2, 5}, {1, 7}},
     {{1, 2}, {-1, 3}, {-3, 6}},
     {{-4, 3}, {-6, 1}, {-8, 3}},
     {{2, 3}, {2, 5}, {1, 7}},
     {{2, 3}, {2, 5}, {1, 7}}},
};

/// Row or column of a tone in kTiers.
std::size_t tier_index(Tone tone) {
    switch (tone) {
        case Tone::first:
            return 0;
        case Tone::second:
            return 1;
        case Tone::third:
            return 2;
        case Tone::fourth:
            return 3;
        case Tone::neutral:
            return 4;
        case Tone::none:
            break;
    }
    throw std::invalid_argument("a syllable without a tone is not graded");
}

}  // namespace

std::string_view grade_name(ToneGrade grade) {
    switch (grade) {
        case ToneGrade::good:
            return "good";
        case ToneGrade::fair:
            return "fair";
        case ToneGrade::acceptable:
            return "acceptable";
        case ToneGrade::contrary:
            return "contrary";
    }
    return "";
}

ToneGrade grade_interval(Tone from, Tone to, int semitones) {
    const auto& tiers = kTiers[tier_index(from)][tier_index(to)];
    for (std::size_t tier = 0; tier < 3; ++tier) {
        if (semitones >= tiers[tier].low && semitones <= tiers[tier].high) {
            return static_cast<ToneGrade>(tier);
        }
    }
    return ToneGrade::contrary;
}

int ToneGrading::agreeing() const {
    return counts[static_cast<std::size_t>(ToneGrade::good)] +
           counts[static_cast<std::size_t>(ToneGrade::fair)];
}

double ToneGrading::score() const {
    return pairs.empty() ? 0.0 : static_cast<double>(agreeing()) / graded();
}

int ToneGrading::percent() const {
    return pairs.empty() ? 0 : (agreeing() * 200 + graded()) / (graded() * 2);
}

std::vector<TonePair> ToneGrading::contrary() const {
    std::vector<TonePair> found;
    for (const TonePair& pair : pairs) {
        if (pair.grade == ToneGrade::contrary) found.push_back(pair);
    }
    return found;
}

bool scores_higher(const ToneGrading& a, const ToneGrading& b) {
    // a.agreeing / a.graded > b.agreeing / b.graded, with nothing graded as 0.
    const long long a_num = a.agreeing(), b_num = b.agreeing();
    const long long a_den = a.graded() == 0 ? 1 : a.graded();
    const long long b_den = b.graded() == 0 ? 1 : b.graded();
    return a_num * b_den > b_num * a_den;
}

ToneCheck::ToneCheck(std::vector<SyllableText> syllables)
    : syllables_(std::move(syllables)), tones_(syllable_tones(syllables_)) {
    // Each sung syllable is paired with the next sung syllable of its sentence;
    // a sentence end, on the syllable or on a continuation of it, closes the pairing.
    bool open = false;
    std::size_t last = 0;  // the previous sung syllable, while open
    for (std::size_t i = 0; i < syllables_.size(); ++i) {
        const SyllableText& syl = syllables_[i];
        if (!syl.continuation) {
            if (open && syllables_[last].sentence == syl.sentence &&
                tones_[last].sung != Tone::none && tones_[i].sung != Tone::none) {
                pairs_.push_back(
                    TonePair{last, i, tones_[last].sung, tones_[i].sung, 0, ToneGrade::good});
            }
            last = i;
            open = true;
        }
        if (syl.sentence_end) open = false;
    }
}

ToneGrading ToneCheck::grade(std::span<const std::int32_t> notes) const {
    if (notes.size() != syllables_.size()) {
        throw std::invalid_argument("tone check: " + std::to_string(notes.size()) + " notes for " +
                                    std::to_string(syllables_.size()) + " syllables");
    }
    ToneGrading grading;
    grading.pairs = pairs_;
    for (TonePair& pair : grading.pairs) {
        pair.interval = notes[pair.second] - notes[pair.second - 1];
        pair.grade = grade_interval(pair.first_tone, pair.second_tone, pair.interval);
        ++grading.counts[static_cast<std::size_t>(pair.grade)];
    }
    return grading;
}

ToneGrading grade_melody(std::string_view gbk_text, std::span<const std::int32_t> notes) {
    const ToneCheck check(syllable_texts(gbk_text));
    if (check.syllables().size() != notes.size()) return {};
    return check.grade(notes);
}

int score_percent(double score) {
    // A fraction of small whole numbers that ends in exactly one half may land a
    // hair below it as a double; the nudge keeps it rounding up.
    return static_cast<int>(std::floor(score * 100.0 + 0.5 + 1e-9));
}

}  // namespace quavella
