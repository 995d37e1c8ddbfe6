// Grading a melody against the tones of its lyric: each pair of consecutive
// sung syllables of a sentence is judged by the interval between their notes.
// The command line prints the grading, best-of composing compares it, and the
// score window marks each graded pair.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "lyrics/syllables.h"
#include "tones/tone_changes.h"
#include "tones/tone_table.h"

namespace quavella {

/// How well an interval suits the tones of the two syllables it joins, from
/// best to worst.
enum class ToneGrade : std::uint8_t { good, fair, acceptable, contrary };

/// The grade's name as the command line prints it: "good", "fair", "acceptable", "contrary".
std::string_view grade_name(ToneGrade grade);

/// Grades the interval between two consecutive syllables.
/// @param from,to the sung tones of the first and the second syllable; neither is `none`
/// @param semitones the second note minus the first, in semitones
ToneGrade grade_interval(Tone from, Tone to, int semitones);

/// One graded pair of consecutive sung syllables.
struct TonePair {
    std::size_t first = 0;         ///< entry of the first syllable in the syllable texts (its note)
    std::size_t second = 0;        ///< entry of the second syllable (its first note)
    Tone first_tone = Tone::none;  ///< sung tone of the first syllable
    Tone second_tone = Tone::none;  ///< sung tone of the second syllable
    int interval = 0;  ///< semitones from the first syllable's last note to the second's note
    ToneGrade grade = ToneGrade::good;
};

/// The grading of one melody.
struct ToneGrading {
    std::vector<TonePair> pairs;  ///< every graded pair, in melody order
    std::array<int, 4> counts{};  ///< pairs per grade, indexed by ToneGrade

    /// Number of graded pairs.
    int graded() const { return static_cast<int>(pairs.size()); }
    /// Number of pairs graded good or fair.
    int agreeing() const;
    /// The tone score: the share of graded pairs that are good or fair, 0..1;
    /// 0 when no pair is graded.
    double score() const;
    /// The score in whole percent, rounded to nearest; 0 when no pair is graded.
    int percent() const;
    /// The pairs graded contrary, in melody order.
    std::vector<TonePair> contrary() const;
};

/// True when `a` has the strictly higher tone score. Exact: compares the
/// fractions, not rounded numbers.
bool scores_higher(const ToneGrading& a, const ToneGrading& b);

/// The tone check of one lyric: its syllables, their tones, and the pairs that
/// are graded. Built once per lyric; grades any number of melodies for it.
class ToneCheck {
public:
    /// Looks up the tones of the syllables and applies the tone changes.
    /// A pair is graded when both syllables have a reading, the second follows
    /// the first in the same sentence (pauses and continuations between them
    /// allowed), and the first does not end its sentence.
    /// @param syllables the syllable texts of the lyric, one per note
    explicit ToneCheck(std::vector<SyllableText> syllables);

    const std::vector<SyllableText>& syllables() const { return syllables_; }
    const std::vector<SyllableTone>& tones() const { return tones_; }

    /// Grades a melody of this lyric.
    /// @param notes MIDI note numbers, one per syllable text
    /// @throw std::invalid_argument when the note count differs from the syllable count
    ToneGrading grade(std::span<const std::int32_t> notes) const;

private:
    std::vector<SyllableText> syllables_;
    std::vector<SyllableTone> tones_;
    std::vector<TonePair> pairs_;  // the graded pairs without intervals and grades
};

/// The grading of a melody composed from a GBK lyric text; no pairs when the
/// melody's note count is not the text's syllable count.
ToneGrading grade_melody(std::string_view gbk_text, std::span<const std::int32_t> notes);

/// A tone score of 0..1 in whole percent, rounded as ToneGrading::percent rounds.
int score_percent(double score);

}  // namespace quavella
