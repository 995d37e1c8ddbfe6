// The measures of the score's drawing, shared by its layout and its painter:
// vertical places inside a row, horizontal slots, colours. Private to app/score.
#pragma once

#include <QColor>
#include <array>

namespace quavella::score_metrics {

// Vertical places inside a row, from its top.
inline constexpr double kDigitTop = 30;
inline constexpr double kDigitHeight = 24;
inline constexpr double kDigitMid = kDigitTop + kDigitHeight / 2;
inline constexpr double kUnderlineTop = kDigitTop + kDigitHeight + 2;
inline constexpr double kUnderlineStep = 4;
inline constexpr double kDotStep = 5;
inline constexpr double kLyricTop = 76;
inline constexpr double kLyricHeight = 22;
inline constexpr double kRowHeight = 110;

// Horizontal measures.
inline constexpr double kBeat = 30;        // the slot of a quarter note or of a dash
inline constexpr double kDotSpace = 9;     // room for an augmentation dot
inline constexpr double kBarLead = 12;     // after a bar line
inline constexpr double kBarTail = 8;      // before a bar line
inline constexpr double kSyllableGap = 8;  // between neighbouring syllables
inline constexpr double kSharpGap = 2;     // between a sharp sign and its digit

inline constexpr double kHeaderHeight = 112;
/// Height a header grows by for each further line (settings broken, tone score apart).
inline constexpr double kHeaderLine = 22;

inline const QColor kInk(0x20, 0x20, 0x20);
inline const QColor kHighlight(0xFF, 0xD8, 0x6B);
inline const QColor kSelection(0x15, 0x65, 0xC0);  // the note being edited
inline const QColor kChordInk(0x5D, 0x40, 0x37);   // chord names, apart from the notes
// Tone grades, good to contrary; the symbols carry the grade without the colour.
inline const std::array<QColor, 4> kToneColours{QColor(0x2E, 0x7D, 0x32), QColor(0x15, 0x65, 0xC0),
                                                QColor(0xB2, 0x6A, 0x00), QColor(0xC6, 0x28, 0x28)};
inline constexpr double kToneMarkTop = kLyricTop + kLyricHeight;  // under the syllables
inline constexpr double kToneMarkHeight = 12;
// Chord names over the notes, at the top of the row (beside the sentence numbers).
inline constexpr double kChordTop = 1;
inline constexpr double kChordHeight = 15;

}  // namespace quavella::score_metrics
