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
    /// Draws rows [first, end), moved up or down by `dy`, with `highlight` (a note
    /// index, -1 for none) marked.
    void rows(QPainter& painter, int first, int end, double dy, int highlight) const;
    /// Draws what meets `clip` (layout coordinates): the header and the visible rows.
    void visible(QPainter& painter, const QRectF& clip, int highlight) const;

    /// The tone mark under `at` (layout coordinates): its pair's index in the sheet's
    /// grading, or -1.
    int toneMarkAt(const QPointF& at) const;
    /// The area a tone mark takes (layout coordinates), or an empty rectangle when the
    /// pair has no mark drawn.
    QRectF toneMarkRect(int pair) const;
    /// The tooltip of a tone mark: both syllables with their tones, the interval and
    /// its grade, e.g. "春（阴平）→ 眠（阳平）：上行 2 个半音 —— ✓ 契合".
    QString toneMarkTip(int pair) const;

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

    void row(QPainter& painter, int r, double dy, int highlight) const;
    void paintHighlight(QPainter& painter, const RowFrame& f, int note) const;
    void paintBarLines(QPainter& painter, const RowFrame& f) const;
    void paintDigits(QPainter& painter, const RowFrame& f) const;
    void paintUnderlines(QPainter& painter, const RowFrame& f) const;
    void paintTies(QPainter& painter, const RowFrame& f) const;
    void paintSentenceMarks(QPainter& painter, const RowFrame& f) const;
    void paintSyllables(QPainter& painter, const RowFrame& f) const;
    void paintToneMarks(QPainter& painter, const RowFrame& f) const;
    /// Row `r`'s frame, moved by `dy`.
    RowFrame frameOf(int r, double dy, const QPen& thin) const;
    /// Where the mark of the pair beginning at glyph `g` goes in `f`, or -1 when the
    /// glyph begins no graded pair; `rect` receives the mark's area.
    int toneMarkOf(const RowFrame& f, int g, QRectF& rect) const;

    const ScoreLayout& layout_;
};

}  // namespace quavella
