// The score view.
#include "app/score/score_view.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <cmath>

#include "app/score/score_painter.h"

namespace quavella {

ScoreView::ScoreView(QWidget* parent) : QAbstractScrollArea(parent) {
    setObjectName(QStringLiteral("scoreView"));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    verticalScrollBar()->setSingleStep(24);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(false);
}

ScoreView::~ScoreView() = default;

QString ScoreView::emptyText() { return QStringLiteral("生成主旋律后，这里显示它的乐谱。"); }

void ScoreView::setSheet(std::shared_ptr<const ScoreSheet> sheet) {
    layout_ = std::make_unique<ScoreLayout>(std::move(sheet));
    highlight_ = -1;
    selected_ = -1;
    relayout();
    verticalScrollBar()->setValue(0);
    viewport()->update();
}

void ScoreView::updateSheet(std::shared_ptr<const ScoreSheet> sheet) {
    const int scroll = verticalScrollBar()->value();
    const int count = static_cast<int>(sheet->score.melody.notes.size());
    layout_ = std::make_unique<ScoreLayout>(std::move(sheet));
    if (selected_ >= count) selected_ = -1;
    if (highlight_ >= count) highlight_ = -1;
    relayout();
    verticalScrollBar()->setValue(scroll);
    viewport()->update();
}

void ScoreView::relayout() {
    if (!layout_) return;
    layout_->set_width(viewport()->width());
    const int height = static_cast<int>(std::ceil(layout_->height()));
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, std::max(0, height - viewport()->height()));
    bar->setPageStep(viewport()->height());
}

void ScoreView::setHighlight(int note) {
    if (note == highlight_) return;
    highlight_ = note;
    bringIntoView(note);
    viewport()->update();
}

void ScoreView::setSelected(int note) {
    const int count = layout_ ? static_cast<int>(layout_->sheet().score.melody.notes.size()) : 0;
    if (note >= count) note = -1;
    if (note == selected_) return;
    selected_ = note;
    bringIntoView(note);
    viewport()->update();
}

void ScoreView::bringIntoView(int note) {
    if (!layout_ || note < 0) return;
    const int row = layout_->row_of_note(note);
    if (row < 0) return;
    const double top = layout_->rows()[static_cast<std::size_t>(row)].top;
    const double bottom = top + layout_->row_height();
    QScrollBar* bar = verticalScrollBar();
    const int view_h = viewport()->height();
    if (top < bar->value() || bottom > bar->value() + view_h) {
        // The row comes in a third of the way down, so the next ones show too.
        bar->setValue(static_cast<int>(top - std::max(0.0, (view_h - bottom + top) / 3)));
    }
}

QPointF ScoreView::toLayout(const QPoint& point) const {
    return QPointF(point.x(), point.y() + verticalScrollBar()->value());
}

bool ScoreView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip && layout_) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int pair = layout_->tone_mark_at(toLayout(help->pos()));
        if (pair >= 0) {
            QToolTip::showText(help->globalPos(), tone_pair_tip(layout_->sheet(), pair), viewport(),
                               layout_->tone_mark_rect(pair)
                                   .translated(0, -verticalScrollBar()->value())
                                   .toAlignedRect());
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void ScoreView::mousePressEvent(QMouseEvent* event) {
    if (layout_ && editable_ && event->button() == Qt::LeftButton) {
        const int note = layout_->note_at(toLayout(event->position().toPoint()));
        if (note >= 0) {
            setSelected(note);
            emit noteChosen(note);
            return;
        }
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void ScoreView::contextMenuEvent(QContextMenuEvent* event) {
    if (layout_ && editable_) {
        const int pair = layout_->tone_mark_at(toLayout(event->pos()));
        if (pair >= 0) {
            emit toneMarkMenuRequested(pair, event->globalPos());
            return;
        }
    }
    QAbstractScrollArea::contextMenuEvent(event);
}

void ScoreView::keyPressEvent(QKeyEvent* event) {
    const int count = layout_ ? static_cast<int>(layout_->sheet().score.melody.notes.size()) : 0;
    if (!editable_ || count == 0) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    int chosen = -1;
    switch (event->key()) {
        case Qt::Key_Left:
            chosen = selected_ < 0 ? count - 1 : std::max(selected_ - 1, 0);
            break;
        case Qt::Key_Right:
            chosen = selected_ < 0 ? 0 : std::min(selected_ + 1, count - 1);
            break;
        case Qt::Key_Home:
            chosen = 0;
            break;
        case Qt::Key_End:
            chosen = count - 1;
            break;
        case Qt::Key_Up:
        case Qt::Key_Down: {
            if (selected_ < 0) break;
            const int direction = event->key() == Qt::Key_Up ? 1 : -1;
            if (mods == Qt::NoModifier) {
                emit moveRequested(edit::EditKind::step, direction);
            } else if (mods == Qt::ShiftModifier) {
                emit moveRequested(edit::EditKind::semitone, direction);
            } else if (mods == Qt::ControlModifier) {
                emit moveRequested(edit::EditKind::octave, direction);
            } else {
                break;
            }
            return;
        }
        default:
            break;
    }
    if (chosen >= 0 && (mods == Qt::NoModifier)) {
        setSelected(chosen);
        emit noteChosen(chosen);
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void ScoreView::paintScore(QPainter& painter, const QRectF& clip) const {
    if (!layout_) return;
    ScorePainter(*layout_).visible(painter, clip, highlight_, selected_);
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
    painter.translate(0, -scroll);
    paintScore(painter, QRectF(area).translated(0, scroll));
}

void ScoreView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void ScoreView::scrollContentsBy(int, int) { viewport()->update(); }

}  // namespace quavella
