// Numbered notation on a page: where every digit, dash, syllable and bar line of a
// ScoreSheet goes for a given width. ScorePainter (score_painter.h) draws it; the
// score view, the PDF and the PNG export share both, so they show the same drawing.
//
// Units are logical pixels (1/96 inch); painters scale for the device, so the
// drawing is vector-clean at any scale factor. The sheet is measured once; a new
// width only breaks the bars into rows again, and painting touches only the rows
// that meet the clip, so a long lyric stays cheap to show and scroll.
#pragma once

#include <QFont>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <memory>
#include <stop_token>
#include <vector>

#include "app/score/score_sheet.h"

namespace quavella {

/// A sheet measured once and laid out in rows for a width.
class ScoreLayout {
public:
    /// One written glyph (a digit and its dashes) at its place.
    struct Placed {
        int bar = 0;           ///< index in Score::bars
        int index = 0;         ///< index in Bar::glyphs
        int row = 0;           ///< row it stands in
        double x = 0;          ///< centre of the digit
        double end_x = 0;      ///< right end of its last dash, or of the digit and dot
        double dash0 = 0;      ///< centre of its first dash
        double dash_step = 0;  ///< from one dash's centre to the next
        /// Centre of the sign written before the digit (kSharpSign for a raised degree,
        /// as the terminal score writes "#"); negative when there is none.
        double accidental_x = -1;
    };
    /// One line of music with the syllables under it.
    struct Row {
        double top = 0;  ///< top of the row, header included above
        int first = 0;   ///< its glyphs: placed()[first, end)
        int end = 0;
        std::vector<double> bar_lines;  ///< x of the bar line closing each of its bars
        bool last_bar = false;          ///< closes the score: final double bar line
    };

    /// Measures the sheet's glyphs and syllables. May run on any thread (a long melody is
    /// laid out on a worker); once `stop` is requested the measuring ends early, leaving a
    /// layout that is only to be dropped.
    explicit ScoreLayout(std::shared_ptr<const ScoreSheet> sheet, std::stop_token stop = {});

    /// Breaks the bars into rows that fit `width`, justified but for the last row.
    void set_width(double width);

    const ScoreSheet& sheet() const { return *sheet_; }
    double width() const { return width_; }
    /// The narrowest width that draws nothing over anything else: the widest bar at its
    /// natural width, and the widest part of the header (a setting, the key, the tone score).
    /// The view scrolls sideways when it is narrower.
    double narrowest_width() const;
    /// Height of the header and every row.
    double height() const;
    /// Height of the header block (title, settings, key line), which grows where a narrow
    /// width breaks the settings into lines and puts the tone score under the key.
    double header_height() const { return header_height_; }
    /// The settings as the header shows them at this width: one line where it fits, else
    /// as many lines as it takes.
    const QStringList& settings_lines() const { return settings_lines_; }
    /// Whether the tone score stands on a line of its own under the key (too narrow for both).
    bool tone_score_apart() const { return tone_score_apart_; }
    /// Height of one row of music with its syllables.
    double row_height() const { return row_height_; }
    const std::vector<Row>& rows() const { return rows_; }
    const std::vector<Placed>& placed() const { return placed_; }

    /// The rows that meet [top, bottom), as a half-open index range.
    std::pair<int, int> rows_between(double top, double bottom) const;
    /// The row holding the first glyph of `note`, or -1.
    int row_of_note(int note) const;
    /// The area a note takes in its first row (digits, dashes and syllable).
    QRectF note_rect(int note) const;

    /// The note whose area (note_rect) holds `point`, or -1.
    int note_at(QPointF point) const;
    /// Where the mark of graded pair `pair` (an index in the sheet's tone pairs) stands;
    /// empty when it is not drawn.
    QRectF tone_mark_rect(int pair) const;
    /// The graded pair whose mark holds `point`, or -1.
    int tone_mark_at(QPointF point) const;
    /// Right end of a note's syllable (of its digit, for a continuation) in its first row.
    double syllable_end(int note) const;

    /// The name of chord change `change` (an index in the sheet's chords) as drawn.
    QString chord_text(int change) const;
    /// Where that name stands, above the notes at its tick; empty when it is not drawn.
    QRectF chord_rect(int change) const;
    /// The chord change whose name holds `point`, or -1.
    int chord_at(QPointF point) const;
    /// The chord changes that stand in row `row`, as a half-open index range.
    std::pair<int, int> chords_in_row(int row) const;

    /// The settings line: "速度：慢（112 bpm）  调式：七声调式  音色：钢琴".
    QString settings_text() const;
    /// Its three parts, each kept whole on a line.
    QStringList settings_parts() const;
    /// "字调契合 N%", or nothing when no pair is graded.
    QString tone_score_text() const;
    /// "节拍契合 N%" (the line ends on the beat), on a line of its own under the key and
    /// the tone score; nothing when the sheet checked no line end.
    QString beat_score_text() const;

    /// Fonts of the drawing (pixel sizes).
    QFont title_font, text_font, digit_font, small_font, lyric_font, accidental_font;

private:
    /// Walks the notes written in the rows under `point`, first glyph of each, and
    /// returns the first non-negative answer of `found(note)`, or -1.
    template <typename Found>
    int first_found_at(QPointF point, Found found) const;

    struct Measured {
        double digit_w = 0;  ///< the cell the digit takes (with its dot)
        double lead = 0;     ///< space before the digit's centre
        double dash_w = 0;   ///< each dash's slot
    };

    void measure(const std::stop_token& stop);

    std::shared_ptr<const ScoreSheet> sheet_;
    std::vector<QString> syllables_;   ///< per note, UTF-16 once
    std::vector<Measured> measured_;   ///< per glyph, bars flattened
    std::vector<int> bar_first_;       ///< first flattened glyph of each bar, plus the end
    std::vector<double> bar_natural_;  ///< natural width of each bar
    std::vector<int> note_first_;      ///< first flattened glyph of each note
    std::vector<int> pair_from_;       ///< per note: the graded pair it begins, or -1
    std::vector<Placed> placed_;
    std::vector<Row> rows_;
    double width_ = 0;
    double sharp_w_ = 0;  ///< width of kSharpSign in accidental_font
    double header_height_ = 0;
    QStringList settings_lines_;
    bool tone_score_apart_ = false;
    /// Breaks the header for the width (settings_lines_, tone_score_apart_, header_height_).
    void lay_out_header();
    double row_height_ = 0;

    friend class ScorePainter;
};

/// The mark of a tone grade between two syllables: a symbol, so that the grade
/// reads without its colour ("✓", "○", "△", "✗"), and its name in the legend.
QString tone_mark(ToneGrade grade);
/// The mark over a line end off the beat (or shorter than a beat): "拍".
QString off_beat_mark();
QString tone_grade_label(ToneGrade grade);

/// The name of a sung tone in Chinese: "阴平", "阳平", "上声", "去声", "轻声".
QString tone_name(Tone tone);

/// What the mark of graded pair `pair` means, in Chinese, for its tooltip: the two
/// syllables and their tones, the interval between their notes, and its grade.
/// e.g. "春（阴平）→ 眠（阳平）：上行 2 个半音 — ✓ 契合"
QString tone_pair_tip(const ScoreSheet& sheet, int pair);

/// The sign before the digit of a raised degree: jianpu writes a sharp before the note.
inline const QString kSharpSign = QStringLiteral("\u266F");

/// The margins of the drawing, left and right, in logical pixels.
inline constexpr double kScoreMargin = 24;

}  // namespace quavella
