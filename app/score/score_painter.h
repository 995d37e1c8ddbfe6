// Draws a laid-out score: the header, then each row in layers from the back
// (the played note's mark) to the front (the tone marks). The score view, the
// PDF and the PNG export draw through it.
#pragma once

#include <QPen>
#include <QRectF>
#include <vector>

#include "app/score/score_layout.h"

class QPainter;

namespace quavella {

/// Draws a laid-out sheet.
class ScorePainter {
public:
    explicit ScorePainter(const ScoreLayout& layout) : layout_(layout) {}

    /// Draws the header with its top at `top`.
    void header(QPainter& painter, double top) const;
    /// Draws rows [first, end), moved up or down by `dy`, with `highlight` (the note
    /// being heard) and `selected` (the note being edited) marked; -1 for none.
    void rows(QPainter& painter, int first, int end, double dy, int highlight,
              int selected = -1) const;
    /// Draws what meets `clip` (layout coordinates): the header and the visible rows.
    void visible(QPainter& painter, const QRectF& clip, int highlight, int selected = -1) const;

private:
    /// One row being drawn: where it is and what every layer reads of it.
    struct RowFrame {
        const ScoreLayout& layout;
        const ScoreLayout::Row& row;
        int r;              ///< the row's index
        double dy;          ///< vertical shift of the drawing
        double top;         ///< the row's top, shifted
        double digit_half;  ///< half a digit's width
        double row_left;    ///< where a tie or an extension line from the previous row starts
        double row_right;   ///< where a tie into the next row ends
        int total;          ///< glyphs in the whole score
        QPen thin;          ///< bar lines, dashes, underlines, ties
        const std::vector<notation::Lyric>& lyrics;

        const ScoreLayout::Placed& placed(int g) const {
            return layout.placed_[static_cast<std::size_t>(g)];
        }
        const notation::Glyph& glyph(int g) const;
        /// Right end of a note's syllable (or digit, for a continuation) in row `in_row`;
        /// the row's left edge when the note starts in another row.
        double lyric_end(int note, int in_row) const;
    };

    void row(QPainter& painter, int r, double dy, int highlight, int selected) const;
    void paintHighlight(QPainter& painter, const RowFrame& f, int note) const;
    void paintSelection(QPainter& painter, const RowFrame& f, int note) const;
    void paintBarLines(QPainter& painter, const RowFrame& f) const;
    void paintDigits(QPainter& painter, const RowFrame& f) const;
    void paintUnderlines(QPainter& painter, const RowFrame& f) const;
    void paintTies(QPainter& painter, const RowFrame& f) const;
    void paintSentenceMarks(QPainter& painter, const RowFrame& f) const;
    void paintSyllables(QPainter& painter, const RowFrame& f) const;
    void paintToneMarks(QPainter& painter, const RowFrame& f) const;
    void paintChords(QPainter& painter, const RowFrame& f) const;

    const ScoreLayout& layout_;
};

}  // namespace quavella
