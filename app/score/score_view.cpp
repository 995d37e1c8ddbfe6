// The score view.
#include "app/score/score_view.h"

#include <QHelpEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <cmath>

#include "app/score/score_painter.h"

namespace quavella {

ScoreView::ScoreView(QWidget* parent) : QAbstractScrollArea(parent) {
    setObjectName(QStringLiteral("scoreView"));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    verticalScrollBar()->setSingleStep(24);
}

ScoreView::~ScoreView() = default;

QString ScoreView::emptyText() { return QStringLiteral("生成主旋律后，这里显示它的乐谱。"); }

void ScoreView::setSheet(std::shared_ptr<const ScoreSheet> sheet) {
    layout_ = std::make_unique<ScoreLayout>(std::move(sheet));
    highlight_ = -1;
    relayout();
    verticalScrollBar()->setValue(0);
    viewport()->update();
}

void ScoreView::relayout() {
    if (!layout_) return;
    // Never narrower than a bar: a narrow view scrolls sideways instead of squeezing.
    const int width =
        std::max(viewport()->width(), static_cast<int>(std::ceil(layout_->narrowest_width())));
    layout_->set_width(width);
    QScrollBar* across = horizontalScrollBar();
    across->setRange(0, std::max(0, width - viewport()->width()));
    across->setPageStep(viewport()->width());
    across->setSingleStep(24);
    const int height = static_cast<int>(std::ceil(layout_->height()));
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, std::max(0, height - viewport()->height()));
    bar->setPageStep(viewport()->height());
}

void ScoreView::setHighlight(int note) {
    if (note == highlight_) return;
    highlight_ = note;
    if (layout_ && note >= 0) {
        const int row = layout_->row_of_note(note);
        if (row >= 0) {
            const double top = layout_->rows()[static_cast<std::size_t>(row)].top;
            const double bottom = top + layout_->row_height();
            QScrollBar* bar = verticalScrollBar();
            const int view_h = viewport()->height();
            if (top < bar->value() || bottom > bar->value() + view_h) {
                // The row comes in a third of the way down, so the next ones show too.
                bar->setValue(static_cast<int>(top - std::max(0.0, (view_h - bottom + top) / 3)));
            }
            // Sideways too, where the view is narrower than the score.
            const QRectF note_area = layout_->note_rect(note);
            QScrollBar* across = horizontalScrollBar();
            const int view_w = viewport()->width();
            if (note_area.left() < across->value() || note_area.right() > across->value() + view_w)
                across->setValue(static_cast<int>(note_area.left() - view_w / 3.0));
        }
    }
    viewport()->update();
}

void ScoreView::paintScore(QPainter& painter, const QRectF& clip) const {
    if (!layout_) return;
    ScorePainter(*layout_).visible(painter, clip, highlight_);
}

QString ScoreView::toolTipAt(const QPoint& at) const {
    if (!layout_) return {};
    const QPointF in_layout(at.x() + horizontalScrollBar()->value(),
                            at.y() + verticalScrollBar()->value());
    const ScorePainter painter(*layout_);
    return painter.toneMarkTip(painter.toneMarkAt(in_layout));
}

bool ScoreView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString tip = toolTipAt(help->pos());
        if (tip.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), tip, viewport());
        }
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void ScoreView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect area = event->rect();
    // Paper is white whatever the desktop's colours, as in the exports.
    painter.fillRect(area, Qt::white);
    if (!layout_) {
        painter.setPen(Qt::gray);
        painter.drawText(viewport()->rect(), Qt::AlignCenter, emptyText());
        return;
    }
    const int scroll = verticalScrollBar()->value();
    const int across = horizontalScrollBar()->value();
    painter.translate(-across, -scroll);
    paintScore(painter, QRectF(area).translated(across, scroll));
}

void ScoreView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void ScoreView::scrollContentsBy(int, int) { viewport()->update(); }

}  // namespace quavella
