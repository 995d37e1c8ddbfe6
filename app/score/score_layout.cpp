// Numbered notation laid out in rows: the measures of every glyph and syllable,
// and the rows they are broken into for a width. Every row has the same height,
// so the rows in view are found by arithmetic.
#include "app/score/score_layout.h"

#include <QFontMetricsF>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "app/score/score_metrics.h"

namespace quavella {

using namespace score_metrics;

namespace {

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

}  // namespace

ScoreLayout::ScoreLayout(std::shared_ptr<const ScoreSheet> sheet, std::stop_token stop)
    : title_font(makeFont(24, true)),
      text_font(makeFont(14)),
      digit_font(makeFont(22)),
      small_font(makeFont(11, true)),
      lyric_font(makeFont(17)),
      accidental_font(makeFont(15)),
      sheet_(std::move(sheet)),
      header_height_(kHeaderHeight),
      row_height_(kRowHeight) {
    // The sign from a font whose sharp is as narrow as a letter, where there is one.
    accidental_font.setFamilies(
        {QStringLiteral("DejaVu Sans"), QStringLiteral("WenQuanYi Micro Hei")});
    sharp_w_ = QFontMetricsF(accidental_font).horizontalAdvance(kSharpSign);
    measure(stop);
}

void ScoreLayout::measure(const std::stop_token& stop) {
    const notation::Score& score = sheet_->score;
    const auto& lyrics = score.melody.lyrics;
    const QFontMetricsF lyric_metrics(lyric_font);

    syllables_.assign(score.melody.notes.size(), QString());
    std::vector<double> syllable_w(syllables_.size(), 0.0);
    // Measuring the syllables is most of the work: a request to stop is heeded between them.
    constexpr std::size_t kStopCheck = 256;
    for (std::size_t n = 0; n < syllables_.size() && n < lyrics.size(); ++n) {
        if (n % kStopCheck == 0 && stop.stop_requested()) return;
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
            // A sharp takes room of its own before the digit, which stays centred over
            // its syllable.
            const double sharp = glyph.sharp ? sharp_w_ + kSharpGap : 0.0;
            m.digit_w = base + dot + sharp;
            const bool sung =
                glyph.first && glyph.note >= 0 && glyph.note < static_cast<int>(note_first_.size());
            if (sung) {
                note_first_[static_cast<std::size_t>(glyph.note)] =
                    static_cast<int>(measured_.size());
                m.digit_w =
                    std::max(m.digit_w, syllable_w[glyph.note] + kSyllableGap + dot + sharp);
            }
            m.lead = (m.digit_w - dot + sharp) / 2;
            m.dash_w = kBeat;
            width += m.digit_w + glyph.dashes * m.dash_w;
            measured_.push_back(m);
        }
        bar_natural_.push_back(width);
    }
    bar_first_.push_back(static_cast<int>(measured_.size()));
}

void ScoreLayout::lay_out_header() {
    // Each setting whole, as many to a line as fit; the tone score beside the key, or under it.
    const QFontMetricsF metrics(text_font);
    const double available = width_ - 2 * kScoreMargin;
    const QString gap = QStringLiteral("    ");
    settings_lines_.clear();
    for (const QString& part : settings_parts()) {
        if (!settings_lines_.isEmpty() &&
            metrics.horizontalAdvance(settings_lines_.back() + gap + part) <= available) {
            settings_lines_.back() += gap + part;
        } else {
            settings_lines_.push_back(part);
        }
    }
    const QString score = tone_score_text();
    tone_score_apart_ = !score.isEmpty() &&
                        metrics.horizontalAdvance(QString::fromStdString(key_line(sheet_->score))) +
                                16 + metrics.horizontalAdvance(score) >
                            available;
    header_height_ =
        kHeaderHeight +
        kHeaderLine * static_cast<double>(std::max<qsizetype>(settings_lines_.size(), 1) - 1) +
        (tone_score_apart_ ? kHeaderLine : 0.0) + (beat_score_text().isEmpty() ? 0.0 : kHeaderLine);
}

void ScoreLayout::set_width(double width) {
    width_ = width;
    lay_out_header();
    const double digit_half = QFontMetricsF(digit_font).horizontalAdvance(QLatin1Char('5')) / 2;
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
                if (glyph.sharp) p.accidental_x = p.x - digit_half - kSharpGap - sharp_w_ / 2;
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

double ScoreLayout::narrowest_width() const {
    double bars = 0;
    for (const double natural : bar_natural_) bars = std::max(bars, natural);
    // The header breaks into lines rather than be cut: only its widest part counts.
    const QFontMetricsF metrics(text_font);
    double header =
        std::max(metrics.horizontalAdvance(QString::fromStdString(key_line(sheet_->score))),
                 metrics.horizontalAdvance(tone_score_text()));
    header = std::max(header, metrics.horizontalAdvance(beat_score_text()));
    for (const QString& part : settings_parts()) {
        header = std::max(header, metrics.horizontalAdvance(part));
    }
    return std::ceil(std::max(bars, header)) + 2 * kScoreMargin;
}

template <typename Found>
int ScoreLayout::first_found_at(QPointF point, Found found) const {
    const auto [first, end] = rows_between(point.y(), point.y() + 1);
    for (int r = first; r < end; ++r) {
        const Row& row = rows_[static_cast<std::size_t>(r)];
        for (int g = row.first; g < row.end; ++g) {
            const Placed& p = placed_[static_cast<std::size_t>(g)];
            const notation::Glyph& glyph = sheet_->score.bars[p.bar].glyphs[p.index];
            if (!glyph.first || glyph.note < 0) continue;
            if (const int answer = found(glyph.note); answer >= 0) return answer;
        }
    }
    return -1;
}

int ScoreLayout::note_at(QPointF point) const {
    return first_found_at(point,
                          [&](int note) { return note_rect(note).contains(point) ? note : -1; });
}

double ScoreLayout::syllable_end(int note) const {
    const int g = note < 0 || note >= static_cast<int>(note_first_.size())
                      ? -1
                      : note_first_[static_cast<std::size_t>(note)];
    if (g < 0) return kScoreMargin;
    const Placed& p = placed_[static_cast<std::size_t>(g)];
    const auto& lyrics = sheet_->score.melody.lyrics;
    if (static_cast<std::size_t>(note) < lyrics.size() &&
        lyrics[static_cast<std::size_t>(note)].continuation) {
        return p.x + QFontMetricsF(digit_font).horizontalAdvance(QLatin1Char('5')) / 2;
    }
    return p.x +
           QFontMetricsF(lyric_font).horizontalAdvance(syllables_[static_cast<std::size_t>(note)]) /
               2;
}

QRectF ScoreLayout::tone_mark_rect(int pair) const {
    const auto& pairs = sheet_->tones.pairs;
    if (pair < 0 || pair >= static_cast<int>(pairs.size())) return {};
    const TonePair& tp = pairs[static_cast<std::size_t>(pair)];
    if (tp.first >= note_first_.size() || tp.second >= note_first_.size()) return {};
    const int g = note_first_[tp.first];
    if (g < 0) return {};
    const Placed& p = placed_[static_cast<std::size_t>(g)];
    // Between the two digits when both stand in one row, else just after the first syllable.
    double x = syllable_end(static_cast<int>(tp.first)) + kSyllableGap / 2;
    const int second = note_first_[tp.second];
    if (second >= 0 && placed_[static_cast<std::size_t>(second)].row == p.row) {
        x = (p.x + placed_[static_cast<std::size_t>(second)].x) / 2;
    }
    const double top = rows_[static_cast<std::size_t>(p.row)].top;
    return QRectF(x - 10, top + kToneMarkTop, 20, kToneMarkHeight);
}

int ScoreLayout::tone_mark_at(QPointF point) const {
    return first_found_at(point, [&](int note) {
        if (note >= static_cast<int>(pair_from_.size())) return -1;
        const int pair = pair_from_[static_cast<std::size_t>(note)];
        // A little wider than the mark, so that the pointer finds it easily.
        return pair >= 0 && tone_mark_rect(pair).adjusted(-3, -3, 3, 3).contains(point) ? pair : -1;
    });
}

QString ScoreLayout::chord_text(int change) const {
    const auto& chords = sheet_->chords;
    if (change < 0 || change >= static_cast<int>(chords.size())) return {};
    return QString::fromStdString(
        chord_label(chords[static_cast<std::size_t>(change)].chord, sheet_->chord_degrees));
}

QRectF ScoreLayout::chord_rect(int change) const {
    const auto& chords = sheet_->chords;
    if (change < 0 || change >= static_cast<int>(chords.size())) return {};
    const std::int64_t tick = chords[static_cast<std::size_t>(change)].tick;
    const std::int64_t bar = tick / notation::kBarTicks;
    if (tick < 0 || bar + 1 >= static_cast<std::int64_t>(bar_first_.size())) return {};
    const int offset = static_cast<int>(tick % notation::kBarTicks);
    const auto b = static_cast<std::size_t>(bar);
    const double digit_half = QFontMetricsF(digit_font).horizontalAdvance(QLatin1Char('5')) / 2;
    for (int g = bar_first_[b]; g < bar_first_[b + 1]; ++g) {
        const Placed& p = placed_[static_cast<std::size_t>(g)];
        const notation::Glyph& glyph =
            sheet_->score.bars[b].glyphs[static_cast<std::size_t>(p.index)];
        if (offset < glyph.start || offset >= glyph.start + glyph.ticks) continue;
        // Over the digit where the chord starts with it, over the dash of its beat where
        // it starts while the note holds.
        double left = p.x - digit_half;
        const int beats_in = (offset - glyph.start) / notation::kTicksPerBeat;
        if (beats_in >= 1 && beats_in <= glyph.dashes) {
            left = p.dash0 + (beats_in - 1) * p.dash_step - digit_half;
        } else if (offset == glyph.start && glyph.first && glyph.note >= 0) {
            // Beside the sentence number a sentence's first note carries.
            const auto& lyrics = sheet_->score.melody.lyrics;
            const auto n = static_cast<std::size_t>(glyph.note);
            if (n < lyrics.size() && (n == 0 || lyrics[n - 1].sentence != lyrics[n].sentence))
                left = p.x + 1;
        }
        const double width = QFontMetricsF(small_font).horizontalAdvance(chord_text(change)) + 2;
        return QRectF(left, rows_[static_cast<std::size_t>(p.row)].top + kChordTop, width,
                      kChordHeight);
    }
    return {};
}

std::pair<int, int> ScoreLayout::chords_in_row(int row) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return {0, 0};
    const Row& r = rows_[static_cast<std::size_t>(row)];
    if (r.first >= r.end) return {0, 0};
    const std::int64_t from =
        static_cast<std::int64_t>(placed_[static_cast<std::size_t>(r.first)].bar) *
        notation::kBarTicks;
    const std::int64_t to =
        static_cast<std::int64_t>(placed_[static_cast<std::size_t>(r.end - 1)].bar + 1) *
        notation::kBarTicks;
    const auto& chords = sheet_->chords;
    const auto at = [&](std::int64_t tick) {
        return static_cast<int>(std::lower_bound(chords.begin(), chords.end(), tick,
                                                 [](const harmony::ChordChange& c, std::int64_t t) {
                                                     return c.tick < t;
                                                 }) -
                                chords.begin());
    };
    return {at(from), at(to)};
}

int ScoreLayout::chord_at(QPointF point) const {
    const auto [first, end] = rows_between(point.y(), point.y() + 1);
    for (int r = first; r < end; ++r) {
        const auto [from, to] = chords_in_row(r);
        for (int c = from; c < to; ++c)
            if (chord_rect(c).adjusted(-3, -2, 3, 2).contains(point)) return c;
    }
    return -1;
}

QString ScoreLayout::settings_text() const { return settings_parts().join(QStringLiteral("    ")); }

QStringList ScoreLayout::settings_parts() const {
    const ScoreSheet& s = *sheet_;
    return {QStringLiteral("速度：%1（%2 bpm）")
                .arg(QString::fromStdString(s.speed))
                .arg(s.score.melody.tempo),
            QStringLiteral("调式：%1").arg(QString::fromStdString(s.mode)),
            QStringLiteral("音色：%1").arg(QString::fromStdString(s.timbre))};
}

QString ScoreLayout::tone_score_text() const {
    if (sheet_->tones.graded() == 0) return QString();
    return QStringLiteral("字调契合 %1%").arg(sheet_->tones.percent());
}

QString ScoreLayout::beat_score_text() const {
    if (sheet_->beats.checked() == 0) return QString();
    return QStringLiteral("节拍契合 %1%").arg(sheet_->beats.percent());
}

QString off_beat_mark() { return QStringLiteral("拍"); }

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

QString tone_name(Tone tone) {
    switch (tone) {
        case Tone::first:
            return QStringLiteral("阴平");
        case Tone::second:
            return QStringLiteral("阳平");
        case Tone::third:
            return QStringLiteral("上声");
        case Tone::fourth:
            return QStringLiteral("去声");
        case Tone::neutral:
            return QStringLiteral("轻声");
        case Tone::none:
            break;
    }
    return QString();
}

QString tone_pair_tip(const ScoreSheet& sheet, int pair) {
    const auto& pairs = sheet.tones.pairs;
    if (pair < 0 || pair >= static_cast<int>(pairs.size())) return QString();
    const TonePair& tp = pairs[static_cast<std::size_t>(pair)];
    const auto& lyrics = sheet.score.melody.lyrics;
    auto syllable = [&lyrics](std::size_t note) {
        return note < lyrics.size() ? QString::fromStdString(lyrics[note].text) : QString();
    };
    QString interval;
    if (tp.interval == 0) {
        interval = QStringLiteral("同音");
    } else {
        interval = QStringLiteral("%1 %2 个半音")
                       .arg(tp.interval > 0 ? QStringLiteral("上行") : QStringLiteral("下行"))
                       .arg(std::abs(tp.interval));
    }
    return QStringLiteral("%1（%2）→ %3（%4）：%5 — %6 %7")
        .arg(syllable(tp.first), tone_name(tp.first_tone), syllable(tp.second),
             tone_name(tp.second_tone), interval, tone_mark(tp.grade), tone_grade_label(tp.grade));
}

}  // namespace quavella
