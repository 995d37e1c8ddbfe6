// The scrolling view of a score: lays the sheet out for its width, paints the
// rows in sight and marks the note being heard, keeping it in sight.
#pragma once

#include <QAbstractScrollArea>
#include <memory>

#include "app/score/score_layout.h"

namespace quavella {

class ScoreView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit ScoreView(QWidget* parent = nullptr);
    ~ScoreView() override;

    /// Shows `sheet` from its top, with no note marked.
    void setSheet(std::shared_ptr<const ScoreSheet> sheet);
    /// The layout shown, or null before the first sheet.
    const ScoreLayout* layout() const { return layout_.get(); }

    /// Marks `note` (-1: none) and scrolls its row into sight when it is not.
    void setHighlight(int note);
    int highlight() const { return highlight_; }

    /// Paints what meets `clip` (layout coordinates) as the view does.
    void paintScore(QPainter& painter, const QRectF& clip) const;

    /// The text shown before any score.
    static QString emptyText();

    /// The tooltip at `at` (viewport coordinates): a tone mark's two tones, interval and
    /// grade; empty where there is no mark.
    QString toolTipAt(const QPoint& at) const;

protected:
    bool viewportEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void relayout();

    std::unique_ptr<ScoreLayout> layout_;
    int highlight_ = -1;
};

}  // namespace quavella
