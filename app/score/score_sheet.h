// What the score window shows of one composition: the score in bars and the
// settings it was composed with, as the main window's lists name them. Qt-free.
#pragma once

#include <string>
#include <vector>

#include "composition/composition.h"
#include "edit/beat_check.h"
#include "harmony/chord_model.h"
#include "notation/score.h"
#include "tones/tone_grading.h"

namespace quavella {

/// One composition as the score window and its exports show it. Texts are UTF-8.
struct ScoreSheet {
    notation::Score score;
    std::string title;  ///< the first sentence as printed (notation::print_title)
    std::string speed;  ///< item texts of the three lists: 速度, 调式, 音色
    std::string mode;
    std::string timbre;
    /// How the intervals suit the tones of the words; no pairs when none is graded
    /// (Latin lyrics) or the sheet was made without it.
    ToneGrading tones;
    /// Whether each line ends on the beat (节拍契合); no line ends when the sheet was made
    /// without it.
    edit::BeatCheck beats;
    /// The chords under the melody as they change, named above the notes; none for a
    /// sheet made without them.
    std::vector<harmony::ChordChange> chords;
    /// The same chords one per slot (half bar): what an accompaniment is played on.
    harmony::Harmony harmony;
    /// Whether the chords are named by their scale degrees ("6m") rather than letters ("Am").
    bool chord_degrees = false;
};

/// A chord as the score names it: its symbol ("Am", "Gsus4"), or with `degrees` its root's
/// scale degree with the same kind ("6m", "5sus4"; the letter where the root has no degree).
std::string chord_label(harmony::Chord chord, bool degrees);

/// Names the settings by their list items and takes the title from the score, or, when
/// the score has none, from the syllables of its first sentence.
/// @param speed_pos,mode_pos,timbre_pos list positions; one outside its list is named empty
ScoreSheet make_sheet(notation::Score score, int speed_pos, int mode_pos, int timbre_pos);

/// The sheet of a composition: its melody and syllables in bars, the grading of its
/// intervals by the tones of the words and its chords, as the composition holds them,
/// and the beat check of its line ends.
ScoreSheet sheet_of(const Composition& composition);

/// "1=C 4/4 ♩=T": key, time and tempo as the header of the score prints them.
std::string key_line(const notation::Score& score);

}  // namespace quavella
