// Numbered notation laid out in rows and painted with vectors and text.
//
// A row, from its top: sentence numbers, ties, breath marks and upper octave
// dots; the digits with their dashes and bar lines; underlines and lower octave
// dots; the syllables. Every row has the same height, so the rows in view are
// found by arithmetic.
#include "app/score/score_layout.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <array>
#include <cmath>

namespace quavella {

namespace {

// Vertical places inside a row, from its top.
constexpr double kDigitTop = 30;
constexpr double kDigitHeight = 24;
constexpr double kDigitMid = kDigitTop + kDigitHeight / 2;
constexpr double kUnderlineTop = kDigitTop + kDigitHeight + 2;
constexpr double kUnderlineStep = 4;
constexpr double kDotStep = 5;
constexpr double kLyricTop = 76;
constexpr double kLyricHeight = 22;
constexpr double kRowHeight = 110;

// Horizontal measures.
constexpr double kBeat = 30;        // the slot of a quarter note or of a dash
constexpr double kDotSpace = 9;     // room for an augmentation dot
constexpr double kBarLead = 12;     // after a bar line
constexpr double kBarTail = 8;      // before a bar line
constexpr double kSyllableGap = 8;  // between neighbouring syllables

constexpr double kHeaderHeight = 112;

const QColor kInk(0x20, 0x20, 0x20);
const QColor kHighlight(0xFF, 0xD8, 0x6B);
// Tone grades, good to contrary; the symbols carry the grade without the colour.
const std::array<QColor, 4> kToneColours{QColor(0x2E, 0x7D, 0x32), QColor(0x15, 0x65, 0xC0),
                                         QColor(0xB2, 0x6A, 0x00), QColor(0xC6, 0x28, 0x28)};
constexpr double kToneMarkTop = kLyricTop + kLyricHeight;  // under the syllables
constexpr double kToneMarkHeight = 12;

QFont makeFont(int pixel_size, bool bold = false) {
    QFont font;
    font.setFamilies({QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("DejaVu Sans")});
    font.setPixelSize(pixel_size);
    font.setBold(bold);
    // Outlines scale with the painter: the same drawing on screen, in a PDF and a PNG.
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

const std::array<QString, 8>& digitTexts() {
    static const std::array<QString, 8> texts{
        QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
        QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7")};
    return texts;
}

}  // namespace

ScoreLayout::ScoreLayout(std::shared_ptr<const ScoreSheet> sheet)
    : title_font(makeFont(24, true)),
      text_font(makeFont(14)),
      digit_font(makeFont(22)),
      small_font(makeFont(11, true)),
      lyric_font(makeFont(17)),
      sheet_(std::move(sheet)),
      header_height_(kHeaderHeight),
      row_height_(kRowHeight) {
    measure();
}

void ScoreLayout::measure() {
    const notation::Score& score = sheet_->score;
    const auto& lyrics = score.melody.lyrics;
    const QFontMetricsF lyric_metrics(lyric_font);

    syllables_.assign(score.melody.notes.size(), QString());
    std::vector<double> syllable_w(syllables_.size(), 0.0);
    for (std::size_t n = 0; n < syllables_.size() && n < lyrics.size(); ++n) {
        if (!lyrics[n].continuation) {
            syllables_[n] = QString::fromStdString(lyrics[n].text);
            syllable_w[n] = lyric_metrics.horizontalAdvance(syllables_[n]);
        }
    }

    note_first_.assign(score.melody.notes.size(), -1);
    pair_from_.assign(score.melody.notes.size(), -1);
    const auto& pairs = sheet_->tones.pairs;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        if (pairs[i].first < pair_from_.size() && pairs[i].second < pair_from_.size()) {
            pair_from_[pairs[i].first] = static_cast<int>(i);
        }
    }
    measured_.clear();
    bar_first_.clear();
    bar_natural_.clear();
    for (const notation::Bar& bar : score.bars) {
        bar_first_.push_back(static_cast<int>(measured_.size()));
        double width = kBarLead + kBarTail;
        for (const notation::Glyph& glyph : bar.glyphs) {
            Measured m;
            const double base = glyph.underlines == 0   ? kBeat
                                : glyph.underlines == 1 ? 0.75 * kBeat
                                                        : 0.6 * kBeat;
            const double dot = glyph.dotted ? kDotSpace : 0.0;
            m.digit_w = base + dot;
            const bool sung =
                glyph.first && glyph.note >= 0 && glyph.note < static_cast<int>(note_first_.size());
            if (sung) {
                note_first_[static_cast<std::size_t>(glyph.note)] =
                    static_cast<int>(measured_.size());
                m.digit_w = std::max(m.digit_w, syllable_w[glyph.note] + kSyllableGap + dot);
            }
            m.lead = (m.digit_w - dot) / 2;
            m.dash_w = kBeat;
            width += m.digit_w + glyph.dashes * m.dash_w;
            measured_.push_back(m);
        }
        bar_natural_.push_back(width);
    }
    bar_first_.push_back(static_cast<int>(measured_.size()));
}

void ScoreLayout::set_width(double width) {
    width_ = width;
    rows_.clear();
    placed_.assign(measured_.size(), Placed{});
    const auto& bars = sheet_->score.bars;
    const double available = std::max(1.0, width - 2 * kScoreMargin);

    std::size_t b = 0;
    while (b < bars.size()) {
        // As many whole bars as fit; at least one.
        std::size_t end = b;
        double natural = 0;
        while (end < bars.size() && (end == b || natural + bar_natural_[end] <= available)) {
            natural += bar_natural_[end];
            ++end;
        }
        const bool last = end == bars.size();
        const double scale = (!last || natural > available) ? available / natural : 1.0;

        Row row;
        row.top = header_height_ + static_cast<double>(rows_.size()) * row_height_;
        row.first = bar_first_[b];
        row.end = bar_first_[end];
        row.last_bar = last;
        const int r = static_cast<int>(rows_.size());
        double offset = 0;
        for (std::size_t i = b; i < end; ++i) {
            double at = offset + kBarLead;
            for (int g = bar_first_[i]; g < bar_first_[i + 1]; ++g) {
                const Measured& m = measured_[static_cast<std::size_t>(g)];
                const notation::Glyph& glyph = bars[i].glyphs[g - bar_first_[i]];
                Placed& p = placed_[static_cast<std::size_t>(g)];
                p.bar = static_cast<int>(i);
                p.index = g - bar_first_[i];
                p.row = r;
                p.x = kScoreMargin + scale * (at + m.lead);
                const double cell_end = at + m.digit_w;
                p.dash_step = scale * m.dash_w;
                p.dash0 = kScoreMargin + scale * cell_end + p.dash_step / 2;
                p.end_x = glyph.dashes > 0
                              ? p.dash0 + (glyph.dashes - 1) * p.dash_step + kBeat * 0.25
                              : p.x + kBeat * 0.25 + (glyph.dotted ? kDotSpace : 0.0);
                at = cell_end + glyph.dashes * m.dash_w;
            }
            offset += bar_natural_[i];
            row.bar_lines.push_back(kScoreMargin + scale * offset);
        }
        rows_.push_back(std::move(row));
        b = end;
    }
}

double ScoreLayout::height() const {
    return header_height_ + static_cast<double>(rows_.size()) * row_height_ + 16;
}

std::pair<int, int> ScoreLayout::rows_between(double top, double bottom) const {
    const int count = static_cast<int>(rows_.size());
    const auto clampRow = [count](double v) {
        return static_cast<int>(std::clamp(v, 0.0, static_cast<double>(count)));
    };
    const int first = clampRow(std::floor((top - header_height_) / row_height_));
    const int end = clampRow(std::ceil((bottom - header_height_) / row_height_));
    return {first, std::max(first, end)};
}

int ScoreLayout::row_of_note(int note) const {
    if (note < 0 || note >= static_cast<int>(note_first_.size())) return -1;
    const int g = note_first_[static_cast<std::size_t>(note)];
    return g < 0 || placed_.empty() ? -1 : placed_[static_cast<std::size_t>(g)].row;
}

QRectF ScoreLayout::note_rect(int note) const {
    const int r = row_of_note(note);
    if (r < 0) return {};
    const auto& bars = sheet_->score.bars;
    int g = note_first_[static_cast<std::size_t>(note)];
    const Placed& first = placed_[static_cast<std::size_t>(g)];
    const Measured& m = measured_[static_cast<std::size_t>(g)];
    double right = first.end_x;
    // Tied pieces in the same row belong to the same mark.
    while (g + 1 < static_cast<int>(placed_.size()) &&
           bars[placed_[g].bar].glyphs[placed_[g].index].tie_to_next &&
           placed_[static_cast<std::size_t>(g + 1)].row == r) {
        ++g;
        right = placed_[static_cast<std::size_t>(g)].end_x;
    }
    const double left = first.x - std::max(m.lead, kBeat * 0.35);
    const double top = rows_[static_cast<std::size_t>(r)].top;
    return QRectF(left, top + kDigitTop - 6, right - left + 4,
                  kLyricTop + kLyricHeight - kDigitTop + 8);
}

QString ScoreLayout::settings_text() const {
    const ScoreSheet& s = *sheet_;
    return QStringLiteral("速度：%1（%2 bpm）    调式：%3    音色：%4")
        .arg(QString::fromStdString(s.speed))
        .arg(s.score.melody.tempo)
        .arg(QString::fromStdString(s.mode), QString::fromStdString(s.timbre));
}

QString tone_mark(ToneGrade grade) {
    static const std::array<QString, 4> marks{QStringLiteral("✓"), QStringLiteral("○"),
                                              QStringLiteral("△"), QStringLiteral("✗")};
    return marks[static_cast<std::size_t>(grade)];
}

QString tone_grade_label(ToneGrade grade) {
    static const std::array<QString, 4> labels{QStringLiteral("契合"), QStringLiteral("较契合"),
                                               QStringLiteral("尚可"), QStringLiteral("倒字")};
    return labels[static_cast<std::size_t>(grade)];
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
    painter.drawText(QRectF(kScoreMargin, top + 52, w, 22), Qt::AlignCenter, l.settings_text());
    painter.drawText(QRectF(kScoreMargin, top + 80, w, 24), Qt::AlignLeft | Qt::AlignVCenter,
                     QString::fromStdString(key_line(l.sheet().score)));

    // The tone score and the legend of the marks, right-aligned on the key line; the
    // legend only where it fits beside the key.
    const ToneGrading& tones = l.sheet().tones;
    if (tones.graded() == 0) return;
    const QFontMetricsF metrics(l.text_font);
    const QString score = QStringLiteral("字调契合 %1%").arg(tones.percent());
    double right = kScoreMargin + w;
    const QRectF line(kScoreMargin, top + 80, w, 24);
    painter.drawText(line, Qt::AlignRight | Qt::AlignVCenter, score);
    right -= metrics.horizontalAdvance(score) + 16;
    double legend_w = 0;
    for (int g = 0; g < 4; ++g) {
        const auto grade = static_cast<ToneGrade>(g);
        legend_w += metrics.horizontalAdvance(tone_mark(grade) + tone_grade_label(grade)) + 10;
    }
    const double key_w =
        metrics.horizontalAdvance(QString::fromStdString(key_line(l.sheet().score)));
    if (right - legend_w < kScoreMargin + key_w + 16) return;
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

void ScorePainter::rows(QPainter& painter, int first, int end, double dy, int highlight) const {
    for (int r = std::max(first, 0); r < end && r < static_cast<int>(layout_.rows().size()); ++r) {
        row(painter, r, dy, highlight);
    }
}

void ScorePainter::visible(QPainter& painter, const QRectF& clip, int highlight) const {
    if (clip.top() < layout_.header_height()) header(painter, 0);
    const auto [first, end] = layout_.rows_between(clip.top(), clip.bottom());
    rows(painter, first, end, 0, highlight);
}

void ScorePainter::row(QPainter& painter, int r, double dy, int highlight) const {
    const ScoreLayout& l = layout_;
    const ScoreLayout::Row& row = l.rows_[static_cast<std::size_t>(r)];
    const auto& bars = l.sheet_->score.bars;
    const auto& lyrics = l.sheet_->score.melody.lyrics;
    const double top = row.top + dy;
    const double digit_half = QFontMetricsF(l.digit_font).horizontalAdvance(QLatin1Char('5')) / 2;
    const auto glyphAt = [&](int g) -> const notation::Glyph& {
        const ScoreLayout::Placed& p = l.placed_[static_cast<std::size_t>(g)];
        return bars[static_cast<std::size_t>(p.bar)].glyphs[static_cast<std::size_t>(p.index)];
    };
    const int total = static_cast<int>(l.placed_.size());

    painter.setRenderHint(QPainter::Antialiasing, true);

    // The note being heard, behind everything else.
    if (highlight >= 0) {
        for (int g = row.first; g < row.end; ++g) {
            const notation::Glyph& glyph = glyphAt(g);
            if (glyph.note != highlight || !(glyph.first || g == row.first)) continue;
            QRectF mark = l.note_rect(highlight);
            if (!glyph.first) {
                // The tied remainder at the start of a following row.
                const ScoreLayout::Placed& p = l.placed_[static_cast<std::size_t>(g)];
                mark = QRectF(p.x - kBeat * 0.4, row.top + kDigitTop - 6,
                              p.end_x - p.x + kBeat * 0.4 + 4, kDigitHeight + 12);
            }
            painter.setPen(Qt::NoPen);
            painter.setBrush(kHighlight);
            painter.drawRoundedRect(mark.translated(0, dy), 4, 4);
            painter.setBrush(Qt::NoBrush);
        }
    }

    QPen thin(kInk, 1.2);
    thin.setCapStyle(Qt::FlatCap);
    painter.setPen(thin);

    // Bar lines; the last one of the score is a thin and a thick line.
    for (std::size_t i = 0; i < row.bar_lines.size(); ++i) {
        const double x = row.bar_lines[i];
        const bool final_bar = row.last_bar && i + 1 == row.bar_lines.size();
        if (final_bar) {
            painter.drawLine(QPointF(x - 6, top + kDigitTop),
                             QPointF(x - 6, top + kDigitTop + kDigitHeight));
            painter.fillRect(QRectF(x - 3, top + kDigitTop, 3, kDigitHeight), kInk);
        } else {
            painter.drawLine(QPointF(x, top + kDigitTop),
                             QPointF(x, top + kDigitTop + kDigitHeight));
        }
    }

    // Digits, dots, dashes.
    painter.setFont(l.digit_font);
    painter.setBrush(kInk);
    for (int g = row.first; g < row.end; ++g) {
        const ScoreLayout::Placed& p = l.placed_[static_cast<std::size_t>(g)];
        const notation::Glyph& glyph = glyphAt(g);
        painter.setPen(kInk);
        const int degree = std::clamp(glyph.degree, 0, 7);
        painter.drawText(QRectF(p.x - kBeat / 2, top + kDigitTop, kBeat, kDigitHeight),
                         Qt::AlignCenter, digitTexts()[static_cast<std::size_t>(degree)]);
        painter.setPen(Qt::NoPen);
        for (int k = 0; k < glyph.octave; ++k) {
            painter.drawEllipse(QPointF(p.x, top + kDigitTop - 3 - k * kDotStep), 1.8, 1.8);
        }
        const double below = kUnderlineTop + std::max(glyph.underlines - 1, 0) * kUnderlineStep + 5;
        for (int k = 0; k < -glyph.octave; ++k) {
            painter.drawEllipse(QPointF(p.x, top + below + k * kDotStep), 1.8, 1.8);
        }
        if (glyph.dotted) {
            painter.drawEllipse(QPointF(p.x + digit_half + 5, top + kDigitMid + 1), 2, 2);
        }
        painter.setPen(thin);
        for (int k = 0; k < glyph.dashes; ++k) {
            const double slot = p.dash0 + k * p.dash_step;
            painter.drawLine(QPointF(slot - kBeat * 0.22, top + kDigitMid),
                             QPointF(slot + kBeat * 0.22, top + kDigitMid));
        }
    }
    painter.setBrush(Qt::NoBrush);

    // Underlines, joined across a beam.
    painter.setPen(thin);
    for (int g = row.first; g < row.end; ++g) {
        const notation::Glyph& glyph = glyphAt(g);
        const ScoreLayout::Placed& p = l.placed_[static_cast<std::size_t>(g)];
        const double left = p.x - digit_half - 1;
        const double right = p.x + digit_half + 1 + (glyph.dotted ? kDotSpace : 0);
        for (int k = 0; k < glyph.underlines; ++k) {
            double to = right;
            if (glyph.beam_with_next && g + 1 < row.end && glyphAt(g + 1).underlines > k) {
                to = l.placed_[static_cast<std::size_t>(g + 1)].x - digit_half - 1;
            }
            const double y = top + kUnderlineTop + k * kUnderlineStep;
            painter.drawLine(QPointF(left, y), QPointF(to, y));
        }
    }

    // Ties: an arc over the digits, cut at the row's ends when it crosses rows.
    const auto arc = [&](double x1, double x2) {
        const double y = top + kDigitTop - 4;
        QPainterPath path(QPointF(x1, y));
        path.quadTo(QPointF((x1 + x2) / 2, y - std::min(12.0, 4 + (x2 - x1) / 8)), QPointF(x2, y));
        painter.drawPath(path);
    };
    const double row_left = kScoreMargin;
    const double row_right =
        row.bar_lines.empty() ? l.width() - kScoreMargin : row.bar_lines.back();
    if (row.first > 0 && row.first < total && glyphAt(row.first - 1).tie_to_next) {
        arc(row_left, l.placed_[static_cast<std::size_t>(row.first)].x - 2);
    }
    for (int g = row.first; g < row.end; ++g) {
        if (!glyphAt(g).tie_to_next) continue;
        const double from = l.placed_[static_cast<std::size_t>(g)].x + 2;
        const double to =
            g + 1 < row.end ? l.placed_[static_cast<std::size_t>(g + 1)].x - 2 : row_right + 4;
        arc(from, to);
    }

    // Sentence numbers at each sentence's first note; breath marks after its last.
    painter.setFont(l.small_font);
    for (int g = row.first; g < row.end; ++g) {
        const notation::Glyph& glyph = glyphAt(g);
        if (glyph.note < 0 || glyph.note >= static_cast<int>(lyrics.size())) continue;
        const notation::Lyric& lyric = lyrics[static_cast<std::size_t>(glyph.note)];
        const ScoreLayout::Placed& p = l.placed_[static_cast<std::size_t>(g)];
        if (glyph.first &&
            (glyph.note == 0 ||
             lyrics[static_cast<std::size_t>(glyph.note - 1)].sentence != lyric.sentence)) {
            const QRectF circle(p.x - 16, top + 1, 15, 15);
            painter.drawEllipse(circle);
            painter.drawText(circle, Qt::AlignCenter, QString::number(lyric.sentence + 1));
        }
        if (lyric.sentence_end && !glyph.tie_to_next) {
            const double x = p.end_x + 7;
            const double y = top + kDigitTop - 12;
            painter.drawLine(QPointF(x - 3.5, y), QPointF(x, y + 8));
            painter.drawLine(QPointF(x, y + 8), QPointF(x + 3.5, y));
        }
    }

    // Syllables centred under their notes; continuations as an extension line.
    painter.setFont(l.lyric_font);
    const QFontMetricsF lyric_metrics(l.lyric_font);
    const auto lyricEnd = [&](int note, int in_row) -> double {
        const int g = l.note_first_[static_cast<std::size_t>(note)];
        if (g < 0) return row_left;
        const ScoreLayout::Placed& p = l.placed_[static_cast<std::size_t>(g)];
        if (p.row != in_row) return row_left;
        const notation::Lyric& lyric = lyrics[static_cast<std::size_t>(note)];
        if (lyric.continuation) return p.x + digit_half;
        return p.x +
               lyric_metrics.horizontalAdvance(l.syllables_[static_cast<std::size_t>(note)]) / 2;
    };
    for (int g = row.first; g < row.end; ++g) {
        const notation::Glyph& glyph = glyphAt(g);
        if (!glyph.first || glyph.note < 0 || glyph.note >= static_cast<int>(lyrics.size()))
            continue;
        const ScoreLayout::Placed& p = l.placed_[static_cast<std::size_t>(g)];
        const std::size_t n = static_cast<std::size_t>(glyph.note);
        if (lyrics[n].continuation) {
            const double from = glyph.note > 0 ? lyricEnd(glyph.note - 1, r) + 2 : row_left;
            const double y = top + kLyricTop + kLyricHeight - 4;
            painter.setPen(thin);
            painter.drawLine(QPointF(from, y), QPointF(std::max(from, p.x + digit_half), y));
        } else if (!l.syllables_[n].isEmpty()) {
            painter.setPen(kInk);
            painter.drawText(QRectF(p.x - 200, top + kLyricTop, 400, kLyricHeight),
                             Qt::AlignHCenter | Qt::AlignVCenter, l.syllables_[n]);
        }
    }

    // Each graded pair marked under the gap between its two syllables (at the row's
    // end when the second syllable starts the next row).
    const auto& pairs = l.sheet_->tones.pairs;
    if (pairs.empty()) return;
    painter.setFont(l.small_font);
    for (int g = row.first; g < row.end; ++g) {
        const notation::Glyph& glyph = glyphAt(g);
        if (!glyph.first || glyph.note < 0 || glyph.note >= static_cast<int>(l.pair_from_.size()))
            continue;
        const int pair = l.pair_from_[static_cast<std::size_t>(glyph.note)];
        if (pair < 0) continue;
        const TonePair& tp = pairs[static_cast<std::size_t>(pair)];
        const ScoreLayout::Placed& p = l.placed_[static_cast<std::size_t>(g)];
        const int second = l.note_first_[tp.second];
        double x = lyricEnd(glyph.note, r) + kSyllableGap / 2;
        if (second >= 0 && l.placed_[static_cast<std::size_t>(second)].row == r) {
            x = (p.x + l.placed_[static_cast<std::size_t>(second)].x) / 2;
        }
        painter.setPen(kToneColours[static_cast<std::size_t>(tp.grade)]);
        painter.drawText(QRectF(x - 10, top + kToneMarkTop, 20, kToneMarkHeight), Qt::AlignCenter,
                         tone_mark(tp.grade));
    }
}

}  // namespace quavella
