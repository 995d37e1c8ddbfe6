// The score's drawing: vectors and text, one function per layer of a row.
//
// A row, from its top: sentence numbers, ties, breath marks and upper octave
// dots; the digits with their dashes and bar lines; underlines and lower octave
// dots; the syllables; the tone marks; the chord names over the notes.
#include "app/score/score_painter.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <array>

#include "app/score/score_metrics.h"

namespace quavella {

using namespace score_metrics;

namespace {

const std::array<QString, 8>& digitTexts() {
    static const std::array<QString, 8> texts{
        QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
        QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7")};
    return texts;
}

}  // namespace

const notation::Glyph& ScorePainter::RowFrame::glyph(int g) const {
    const ScoreLayout::Placed& p = placed(g);
    return layout.sheet_->score.bars[static_cast<std::size_t>(p.bar)]
        .glyphs[static_cast<std::size_t>(p.index)];
}

double ScorePainter::RowFrame::lyric_end(int note, int in_row) const {
    const int g = layout.note_first_[static_cast<std::size_t>(note)];
    if (g < 0) return row_left;
    const ScoreLayout::Placed& p = placed(g);
    if (p.row != in_row) return row_left;
    return layout.syllable_end(note);
}

void ScorePainter::header(QPainter& painter, double top) const {
    const ScoreLayout& l = layout_;
    const double w = l.width() - 2 * kScoreMargin;
    painter.setPen(kInk);
    painter.setFont(l.title_font);
    // A long first sentence is cut with an ellipsis rather than clipped at both sides.
    const QString title =
        QFontMetricsF(l.title_font)
            .elidedText(QString::fromStdString(l.sheet().title), Qt::ElideRight, w);
    painter.drawText(QRectF(kScoreMargin, top + 14, w, 36), Qt::AlignCenter, title);
    painter.setFont(l.text_font);
    // The settings on as many lines as the width takes, the key line below them.
    double y = top + 52;
    for (const QString& settings : l.settings_lines()) {
        painter.drawText(QRectF(kScoreMargin, y, w, 22), Qt::AlignCenter, settings);
        y += kHeaderLine;
    }
    const double key_top = y + 28 - kHeaderLine;
    painter.drawText(QRectF(kScoreMargin, key_top, w, 24), Qt::AlignLeft | Qt::AlignVCenter,
                     QString::fromStdString(key_line(l.sheet().score)));

    // The tone score and the legend of the marks, right-aligned on the key line (on a line
    // of their own under it where the width holds not both); the legend only where it fits
    // beside the key.
    const ToneGrading& tones = l.sheet().tones;
    // The share of line ends on the beat, right-aligned under the key line and the tone score.
    const QString beats = l.beat_score_text();
    if (!beats.isEmpty()) {
        const double beat_top = key_top + kHeaderLine * (l.tone_score_apart() ? 2 : 1);
        painter.drawText(QRectF(kScoreMargin, beat_top, w, 24), Qt::AlignRight | Qt::AlignVCenter,
                         beats);
    }
    if (tones.graded() == 0) return;
    const QFontMetricsF metrics(l.text_font);
    const QString score = l.tone_score_text();
    double right = kScoreMargin + w;
    const QRectF line(kScoreMargin, l.tone_score_apart() ? key_top + kHeaderLine : key_top, w, 24);
    painter.drawText(line, Qt::AlignRight | Qt::AlignVCenter, score);
    right -= metrics.horizontalAdvance(score) + 16;
    double legend_w = 0;
    for (int g = 0; g < 4; ++g) {
        const auto grade = static_cast<ToneGrade>(g);
        legend_w += metrics.horizontalAdvance(tone_mark(grade) + tone_grade_label(grade)) + 10;
    }
    const double key_w =
        metrics.horizontalAdvance(QString::fromStdString(key_line(l.sheet().score)));
    const double left = l.tone_score_apart() ? kScoreMargin : kScoreMargin + key_w + 16;
    if (right - legend_w < left) return;
    double x = right - legend_w;
    for (int g = 0; g < 4; ++g) {
        const auto grade = static_cast<ToneGrade>(g);
        const QString mark = tone_mark(grade);
        painter.setPen(kToneColours[static_cast<std::size_t>(g)]);
        painter.drawText(QRectF(x, line.top(), 40, line.height()), Qt::AlignLeft | Qt::AlignVCenter,
                         mark);
        x += metrics.horizontalAdvance(mark) + 2;
        painter.setPen(kInk);
        const QString label = tone_grade_label(grade);
        painter.drawText(QRectF(x, line.top(), 80, line.height()), Qt::AlignLeft | Qt::AlignVCenter,
                         label);
        x += metrics.horizontalAdvance(label) + 8;
    }
}

void ScorePainter::rows(QPainter& painter, int first, int end, double dy, int highlight,
                        int selected) const {
    for (int r = std::max(first, 0); r < end && r < static_cast<int>(layout_.rows().size()); ++r) {
        row(painter, r, dy, highlight, selected);
    }
}

void ScorePainter::visible(QPainter& painter, const QRectF& clip, int highlight,
                           int selected) const {
    if (clip.top() < layout_.header_height()) header(painter, 0);
    const auto [first, end] = layout_.rows_between(clip.top(), clip.bottom());
    rows(painter, first, end, 0, highlight, selected);
}

void ScorePainter::row(QPainter& painter, int r, double dy, int highlight, int selected) const {
    const ScoreLayout& l = layout_;
    const ScoreLayout::Row& row = l.rows_[static_cast<std::size_t>(r)];
    QPen thin(kInk, 1.2);
    thin.setCapStyle(Qt::FlatCap);
    const RowFrame f{l,
                     row,
                     r,
                     dy,
                     row.top + dy,
                     QFontMetricsF(l.digit_font).horizontalAdvance(QLatin1Char('5')) / 2,
                     kScoreMargin,
                     row.bar_lines.empty() ? l.width() - kScoreMargin : row.bar_lines.back(),
                     static_cast<int>(l.placed_.size()),
                     thin,
                     l.sheet_->score.melody.lyrics};

    painter.setRenderHint(QPainter::Antialiasing, true);
    paintHighlight(painter, f, highlight);
    paintSelection(painter, f, selected);
    painter.setPen(thin);
    paintBarLines(painter, f);
    paintDigits(painter, f);
    paintUnderlines(painter, f);
    paintTies(painter, f);
    paintSentenceMarks(painter, f);
    paintSyllables(painter, f);
    paintToneMarks(painter, f);
    paintChords(painter, f);
}

void ScorePainter::paintHighlight(QPainter& painter, const RowFrame& f, int note) const {
    if (note >= 0) {
        for (int g = f.row.first; g < f.row.end; ++g) {
            const notation::Glyph& glyph = f.glyph(g);
            if (glyph.note != note || !(glyph.first || g == f.row.first)) continue;
            QRectF mark = layout_.note_rect(note);
            if (!glyph.first) {
                // The tied remainder at the start of a following row.
                const ScoreLayout::Placed& p = f.placed(g);
                mark = QRectF(p.x - kBeat * 0.4, f.row.top + kDigitTop - 6,
                              p.end_x - p.x + kBeat * 0.4 + 4, kDigitHeight + 12);
            }
            painter.setPen(Qt::NoPen);
            painter.setBrush(kHighlight);
            painter.drawRoundedRect(mark.translated(0, f.dy), 4, 4);
            painter.setBrush(Qt::NoBrush);
        }
    }
}

void ScorePainter::paintSelection(QPainter& painter, const RowFrame& f, int note) const {
    // A frame, so that a selected note being heard shows both marks.
    if (note < 0 || layout_.row_of_note(note) != f.r) return;
    painter.setPen(QPen(kSelection, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(layout_.note_rect(note).translated(0, f.dy), 4, 4);
}

void ScorePainter::paintBarLines(QPainter& painter, const RowFrame& f) const {
    for (std::size_t i = 0; i < f.row.bar_lines.size(); ++i) {
        const double x = f.row.bar_lines[i];
        const bool final_bar = f.row.last_bar && i + 1 == f.row.bar_lines.size();
        if (final_bar) {
            painter.drawLine(QPointF(x - 6, f.top + kDigitTop),
                             QPointF(x - 6, f.top + kDigitTop + kDigitHeight));
            painter.fillRect(QRectF(x - 3, f.top + kDigitTop, 3, kDigitHeight), kInk);
        } else {
            painter.drawLine(QPointF(x, f.top + kDigitTop),
                             QPointF(x, f.top + kDigitTop + kDigitHeight));
        }
    }
}

void ScorePainter::paintDigits(QPainter& painter, const RowFrame& f) const {
    painter.setFont(layout_.digit_font);
    painter.setBrush(kInk);
    for (int g = f.row.first; g < f.row.end; ++g) {
        const ScoreLayout::Placed& p = f.placed(g);
        const notation::Glyph& glyph = f.glyph(g);
        painter.setPen(kInk);
        const int degree = std::clamp(glyph.degree, 0, 7);
        if (p.accidental_x >= 0) {
            // Smaller than the digit and a little above its middle, as printed jianpu has it.
            painter.setFont(layout_.accidental_font);
            painter.drawText(QRectF(p.accidental_x - layout_.sharp_w_, f.top + kDigitTop - 5,
                                    2 * layout_.sharp_w_, kDigitHeight),
                             Qt::AlignCenter, kSharpSign);
            painter.setFont(layout_.digit_font);
        }
        painter.drawText(QRectF(p.x - kBeat / 2, f.top + kDigitTop, kBeat, kDigitHeight),
                         Qt::AlignCenter, digitTexts()[static_cast<std::size_t>(degree)]);
        painter.setPen(Qt::NoPen);
        for (int k = 0; k < glyph.octave; ++k) {
            painter.drawEllipse(QPointF(p.x, f.top + kDigitTop - 3 - k * kDotStep), 1.8, 1.8);
        }
        const double below = kUnderlineTop + std::max(glyph.underlines - 1, 0) * kUnderlineStep + 5;
        for (int k = 0; k < -glyph.octave; ++k) {
            painter.drawEllipse(QPointF(p.x, f.top + below + k * kDotStep), 1.8, 1.8);
        }
        if (glyph.dotted) {
            painter.drawEllipse(QPointF(p.x + f.digit_half + 5, f.top + kDigitMid + 1), 2, 2);
        }
        painter.setPen(f.thin);
        for (int k = 0; k < glyph.dashes; ++k) {
            const double slot = p.dash0 + k * p.dash_step;
            painter.drawLine(QPointF(slot - kBeat * 0.22, f.top + kDigitMid),
                             QPointF(slot + kBeat * 0.22, f.top + kDigitMid));
        }
    }
    painter.setBrush(Qt::NoBrush);
}

void ScorePainter::paintUnderlines(QPainter& painter, const RowFrame& f) const {
    painter.setPen(f.thin);
    for (int g = f.row.first; g < f.row.end; ++g) {
        const notation::Glyph& glyph = f.glyph(g);
        const ScoreLayout::Placed& p = f.placed(g);
        const double left = p.x - f.digit_half - 1;
        const double right = p.x + f.digit_half + 1 + (glyph.dotted ? kDotSpace : 0);
        for (int k = 0; k < glyph.underlines; ++k) {
            double to = right;
            if (glyph.beam_with_next && g + 1 < f.row.end && f.glyph(g + 1).underlines > k) {
                to = f.placed(g + 1).x - f.digit_half - 1;
            }
            const double y = f.top + kUnderlineTop + k * kUnderlineStep;
            painter.drawLine(QPointF(left, y), QPointF(to, y));
        }
    }
}

void ScorePainter::paintTies(QPainter& painter, const RowFrame& f) const {
    const auto arc = [&](double x1, double x2) {
        const double y = f.top + kDigitTop - 4;
        QPainterPath path(QPointF(x1, y));
        path.quadTo(QPointF((x1 + x2) / 2, y - std::min(12.0, 4 + (x2 - x1) / 8)), QPointF(x2, y));
        painter.drawPath(path);
    };
    if (f.row.first > 0 && f.row.first < f.total && f.glyph(f.row.first - 1).tie_to_next) {
        arc(f.row_left, f.placed(f.row.first).x - 2);
    }
    for (int g = f.row.first; g < f.row.end; ++g) {
        if (!f.glyph(g).tie_to_next) continue;
        const double from = f.placed(g).x + 2;
        const double to = g + 1 < f.row.end ? f.placed(g + 1).x - 2 : f.row_right + 4;
        arc(from, to);
    }
}

void ScorePainter::paintSentenceMarks(QPainter& painter, const RowFrame& f) const {
    painter.setFont(layout_.small_font);
    const std::vector<int> off_beat = layout_.sheet_->beats.off_notes();
    for (int g = f.row.first; g < f.row.end; ++g) {
        const notation::Glyph& glyph = f.glyph(g);
        if (glyph.note < 0 || glyph.note >= static_cast<int>(f.lyrics.size())) continue;
        const notation::Lyric& lyric = f.lyrics[static_cast<std::size_t>(glyph.note)];
        const ScoreLayout::Placed& p = f.placed(g);
        if (glyph.first &&
            (glyph.note == 0 ||
             f.lyrics[static_cast<std::size_t>(glyph.note - 1)].sentence != lyric.sentence)) {
            const QRectF circle(p.x - 16, f.top + 1, 15, 15);
            painter.drawEllipse(circle);
            painter.drawText(circle, Qt::AlignCenter, QString::number(lyric.sentence + 1));
        }
        if (lyric.sentence_end && !glyph.tie_to_next) {
            const double x = p.end_x + 7;
            const double y = f.top + kDigitTop - 12;
            painter.drawLine(QPointF(x - 3.5, y), QPointF(x, y + 8));
            painter.drawLine(QPointF(x, y + 8), QPointF(x + 3.5, y));
        }
        if (glyph.first && std::binary_search(off_beat.begin(), off_beat.end(), glyph.note)) {
            // A line end off the beat: marked over its digit, left of any octave dot.
            painter.save();
            painter.setPen(kToneColours[static_cast<std::size_t>(ToneGrade::contrary)]);
            painter.drawText(QRectF(p.x - 15, f.top + kDigitTop - 15, 14, 14), Qt::AlignCenter,
                             off_beat_mark());
            painter.restore();
        }
    }
}

void ScorePainter::paintSyllables(QPainter& painter, const RowFrame& f) const {
    painter.setFont(layout_.lyric_font);
    for (int g = f.row.first; g < f.row.end; ++g) {
        const notation::Glyph& glyph = f.glyph(g);
        if (!glyph.first || glyph.note < 0 || glyph.note >= static_cast<int>(f.lyrics.size()))
            continue;
        const ScoreLayout::Placed& p = f.placed(g);
        const std::size_t n = static_cast<std::size_t>(glyph.note);
        if (f.lyrics[n].continuation) {
            const double from = glyph.note > 0 ? f.lyric_end(glyph.note - 1, f.r) + 2 : f.row_left;
            const double y = f.top + kLyricTop + kLyricHeight - 4;
            painter.setPen(f.thin);
            painter.drawLine(QPointF(from, y), QPointF(std::max(from, p.x + f.digit_half), y));
        } else if (!layout_.syllables_[n].isEmpty()) {
            painter.setPen(kInk);
            painter.drawText(QRectF(p.x - 200, f.top + kLyricTop, 400, kLyricHeight),
                             Qt::AlignHCenter | Qt::AlignVCenter, layout_.syllables_[n]);
        }
    }
}

void ScorePainter::paintToneMarks(QPainter& painter, const RowFrame& f) const {
    const auto& pairs = layout_.sheet_->tones.pairs;
    if (pairs.empty()) return;
    painter.setFont(layout_.small_font);
    for (int g = f.row.first; g < f.row.end; ++g) {
        const notation::Glyph& glyph = f.glyph(g);
        if (!glyph.first || glyph.note < 0 ||
            glyph.note >= static_cast<int>(layout_.pair_from_.size()))
            continue;
        const int pair = layout_.pair_from_[static_cast<std::size_t>(glyph.note)];
        if (pair < 0) continue;
        const TonePair& tp = pairs[static_cast<std::size_t>(pair)];
        painter.setPen(kToneColours[static_cast<std::size_t>(tp.grade)]);
        painter.drawText(layout_.tone_mark_rect(pair).translated(0, f.dy), Qt::AlignCenter,
                         tone_mark(tp.grade));
    }
}

void ScorePainter::paintChords(QPainter& painter, const RowFrame& f) const {
    const auto [from, to] = layout_.chords_in_row(f.r);
    if (from >= to) return;
    painter.setFont(layout_.small_font);
    painter.setPen(kChordInk);
    for (int c = from; c < to; ++c) {
        const QRectF rect = layout_.chord_rect(c);
        if (rect.isEmpty()) continue;
        painter.drawText(rect.translated(0, f.dy), Qt::AlignLeft | Qt::AlignVCenter,
                         layout_.chord_text(c));
    }
}

}  // namespace quavella
