// Scores made by hand for the score window's tests and benchmarks, and a paint
// device that records what a painter draws on it.
#pragma once

#include <QPaintDevice>
#include <QPaintEngine>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "app/score/score_sheet.h"
#include "notation/score.h"

namespace quavella::test {

/// Two sentences over three bars with one of each mark: a beamed pair of eighths, a
/// dotted quarter, a dash, octave dots above and below, a tie over a bar line, a
/// continuation and a closing rest.
///   | 1 2_3_ 4. 5_ | 1^ - 5, 6,~ | 6, 7, 1 0 |
///     春 眠不  觉  晓   处    处  闻    __  鸟
inline notation::Score hand_score() {
    using notation::Glyph;
    notation::Score score;
    notation::Melody& m = score.melody;
    m.notes = {60, 62, 64, 65, 67, 72, 55, 57, 59, 60};
    m.ticks = {120, 60, 60, 180, 60, 240, 120, 240, 120, 120};
    const char* texts[] = {"春", "眠", "不", "觉", "晓", "处", "处", "闻", "", "鸟"};
    for (int n = 0; n < 10; ++n) {
        notation::Lyric lyric;
        lyric.text = texts[n];
        lyric.continuation = n == 8;
        lyric.sentence = n < 5 ? 0 : 1;
        lyric.sentence_end = n == 4 || n == 9;
        m.lyrics.push_back(lyric);
    }
    m.tempo = 112;
    m.mode = 0;
    m.program = 0;
    score.note_start = {0, 120, 180, 240, 420, 480, 720, 840, 1080, 1200};
    const auto g = [](int note, int degree, int octave, int start, int ticks) {
        Glyph glyph;
        glyph.note = note;
        glyph.degree = degree;
        glyph.octave = octave;
        glyph.start = start;
        glyph.ticks = ticks;
        glyph.first = note >= 0;
        return glyph;
    };
    notation::Bar b0, b1, b2;
    b0.glyphs = {g(0, 1, 0, 0, 120), g(1, 2, 0, 120, 60), g(2, 3, 0, 180, 60), g(3, 4, 0, 240, 180),
                 g(4, 5, 0, 420, 60)};
    b0.glyphs[1].underlines = b0.glyphs[2].underlines = b0.glyphs[4].underlines = 1;
    b0.glyphs[1].beam_with_next = true;
    b0.glyphs[3].dotted = true;
    b1.glyphs = {g(5, 1, 1, 0, 240), g(6, 5, -1, 240, 120), g(7, 6, -1, 360, 120)};
    b1.glyphs[0].dashes = 1;
    b1.glyphs[2].tie_to_next = true;
    b2.glyphs = {g(7, 6, -1, 0, 120), g(8, 7, -1, 120, 120), g(9, 1, 0, 240, 120),
                 g(-1, 0, 0, 360, 120)};
    b2.glyphs[0].first = false;
    score.bars = {b0, b1, b2};
    return score;
}

/// A long melody of `notes` quarter notes, four to a bar, in four sentences, each
/// syllable one Chinese character; the last bar is filled with a rest.
inline notation::Score long_score(int notes) {
    notation::Score score;
    notation::Melody& m = score.melody;
    static const char* const kChars[] = {"春", "眠", "不", "觉", "晓", "处", "闻", "啼", "鸟"};
    for (int n = 0; n < notes; ++n) {
        m.notes.push_back(60 + (n * 5) % 12);
        m.ticks.push_back(120);
        notation::Lyric lyric;
        lyric.text = kChars[n % 9];
        lyric.sentence = std::min(3, n * 4 / notes);
        lyric.sentence_end = n + 1 == notes || (n + 1) * 4 / notes != n * 4 / notes;
        m.lyrics.push_back(lyric);
        score.note_start.push_back(n * 120);
        if (n % 4 == 0) score.bars.emplace_back();
        notation::Glyph glyph;
        glyph.note = n;
        static const int kDegree[] = {1, 1, 2, 2, 3, 4, 4, 5, 5, 6, 6, 7};
        glyph.degree = kDegree[(n * 5) % 12];
        glyph.start = (n % 4) * 120;
        glyph.ticks = 120;
        glyph.first = true;
        score.bars.back().glyphs.push_back(glyph);
    }
    if (notes % 4 != 0) {
        notation::Glyph rest;
        rest.start = (notes % 4) * 120;
        rest.ticks = 480 - rest.start;
        rest.dashes = 0;
        score.bars.back().glyphs.push_back(rest);
    }
    m.tempo = 120;
    return score;
}

/// What a painter drew: the texts in drawing order with their places, and counts.
struct Drawn {
    struct Text {
        QString text;
        QPointF at;
        int pixel_size;
    };
    std::vector<Text> texts;
    std::vector<QRectF> ellipses;
    int lines = 0;
    int paths = 0;
    int rects = 0;

    /// The texts drawn in fonts of `pixel_size`, in order, joined.
    QString sized(int pixel_size) const {
        QString out;
        for (const Text& t : texts) {
            if (t.pixel_size == pixel_size) out += t.text;
        }
        return out;
    }
    /// Ellipses no wider than `diameter`: the dots.
    int dots(double diameter = 5) const {
        int count = 0;
        for (const QRectF& e : ellipses) count += e.width() <= diameter ? 1 : 0;
        return count;
    }
    /// The drawn texts that hold a character of the CJK block, in order.
    QStringList chinese() const {
        QStringList out;
        for (const Text& t : texts) {
            for (const QChar c : t.text) {
                if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF) {
                    out << t.text;
                    break;
                }
            }
        }
        return out;
    }
};

/// A paint device that records instead of rendering.
class RecordingDevice : public QPaintDevice {
public:
    RecordingDevice(int width, int height) : engine_(this), width_(width), height_(height) {}
    QPaintEngine* paintEngine() const override { return &engine_; }
    Drawn drawn;

protected:
    int metric(PaintDeviceMetric metric) const override {
        switch (metric) {
            case PdmWidth:
                return width_;
            case PdmHeight:
                return height_;
            case PdmDpiX:
            case PdmDpiY:
            case PdmPhysicalDpiX:
            case PdmPhysicalDpiY:
                return 96;
            case PdmDepth:
                return 32;
            case PdmNumColors:
                return 1 << 24;
            case PdmDevicePixelRatio:
                return 1;
            case PdmDevicePixelRatioScaled:
                return static_cast<int>(devicePixelRatioFScale());
            default:
                return 0;
        }
    }

private:
    class Engine : public QPaintEngine {
    public:
        explicit Engine(RecordingDevice* device)
            : QPaintEngine(QPaintEngine::AllFeatures), device_(device) {}
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState&) override {}
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
        void drawTextItem(const QPointF& p, const QTextItem& item) override {
            device_->drawn.texts.push_back(
                {item.text(), painter()->transform().map(p), item.font().pixelSize()});
        }
        void drawEllipse(const QRectF& r) override { device_->drawn.ellipses.push_back(r); }
        void drawLines(const QLineF*, int count) override { device_->drawn.lines += count; }
        void drawPath(const QPainterPath&) override { ++device_->drawn.paths; }
        void drawRects(const QRectF*, int count) override { device_->drawn.rects += count; }
        void drawPolygon(const QPointF*, int, PolygonDrawMode) override { ++device_->drawn.paths; }
        Type type() const override { return User; }

    private:
        RecordingDevice* device_;
    };
    mutable Engine engine_;
    int width_;
    int height_;
};

}  // namespace quavella::test
