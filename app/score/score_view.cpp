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
#include <utility>

#include "app/score/score_painter.h"

namespace quavella {

ScoreView::ScoreView(QWidget* parent) : QAbstractScrollArea(parent) {
    setObjectName(QStringLiteral("scoreView"));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    verticalScrollBar()->setSingleStep(24);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(false);
}

ScoreView::~ScoreView() {
    // The worker posts to this view: it ends before the view does.
    worker_.request_stop();
    if (worker_.joinable()) worker_.join();
}

QString ScoreView::emptyText() { return QStringLiteral("生成主旋律后，这里显示它的乐谱。"); }

QString ScoreView::layingOutText() { return QStringLiteral("排版中…"); }

void ScoreView::setSheet(std::shared_ptr<const ScoreSheet> sheet) {
    highlight_ = -1;
    selected_ = -1;
    take(std::move(sheet), true);
}

void ScoreView::updateSheet(std::shared_ptr<const ScoreSheet> sheet) {
    const int count = static_cast<int>(sheet->score.melody.notes.size());
    if (selected_ >= count) selected_ = -1;
    if (highlight_ >= count) highlight_ = -1;
    take(std::move(sheet), false);
}

void ScoreView::take(std::shared_ptr<const ScoreSheet> sheet, bool from_top) {
    const std::uint64_t generation = ++generation_;
    // A worker still measuring an older sheet stops now; a layout it already posted is
    // dropped when it arrives.
    worker_ = std::jthread();
    pending_ = 0;
    if (sheet->score.melody.notes.size() <= kLayOutAtOnce) {
        arrived(generation, std::make_shared<ScoreLayout>(std::move(sheet)), from_top);
        return;
    }
    pending_ = generation;
    if (from_top) {
        // Another melody: "排版中…" rather than a score that is not the one given.
        layout_.reset();
        relayout();
        viewport()->update();
    }
    const int viewport_width = viewport()->width();
    worker_ = std::jthread([this, generation, from_top, viewport_width,
                            sheet = std::move(sheet)](const std::stop_token& stop) mutable {
        auto layout = std::make_shared<ScoreLayout>(std::move(sheet), stop);
        if (stop.stop_requested()) return;
        layout->set_width(widthFor(*layout, viewport_width));
        // Queued to the window's thread; the view outlives this thread (its destructor
        // joins it), and a posted call still queued when it goes is dropped with it.
        QMetaObject::invokeMethod(
            this,
            [this, generation, from_top, layout = std::move(layout)]() mutable {
                arrived(generation, std::move(layout), from_top);
            },
            Qt::QueuedConnection);
    });
}

void ScoreView::arrived(std::uint64_t generation, std::shared_ptr<ScoreLayout> layout,
                        bool from_top) {
    if (generation != generation_) return;  // a later sheet was given meanwhile
    pending_ = 0;
    const int scroll = verticalScrollBar()->value();
    layout_ = std::move(layout);
    relayout();
    verticalScrollBar()->setValue(from_top ? 0 : scroll);
    // A note marked while the layout was made comes into sight now.
    if (from_top) bringIntoView(highlight_ >= 0 ? highlight_ : selected_);
    viewport()->update();
    emit laidOut();
}

int ScoreView::widthFor(const ScoreLayout& layout, int viewport_width) {
    // Never narrower than a bar: a narrow view scrolls sideways instead of squeezing.
    return std::max(viewport_width, static_cast<int>(std::ceil(layout.narrowest_width())));
}

void ScoreView::relayout() {
    if (!layout_) {
        horizontalScrollBar()->setRange(0, 0);
        verticalScrollBar()->setRange(0, 0);
        return;
    }
    const int width = widthFor(*layout_, viewport()->width());
    // A layout made on the worker arrives laid out for the width the view had.
    if (layout_->width() != width) layout_->set_width(width);
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
    return QPointF(point.x() + horizontalScrollBar()->value(),
                   point.y() + verticalScrollBar()->value());
}

bool ScoreView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip && layout_) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int pair = layout_->tone_mark_at(toLayout(help->pos()));
        if (pair >= 0) {
            QToolTip::showText(
                help->globalPos(), tone_pair_tip(layout_->sheet(), pair), viewport(),
                layout_->tone_mark_rect(pair)
                    .translated(-horizontalScrollBar()->value(), -verticalScrollBar()->value())
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
        const int change = layout_->chord_at(toLayout(event->position().toPoint()));
        if (change >= 0) {
            const std::int64_t tick =
                layout_->sheet().chords[static_cast<std::size_t>(change)].tick;
            emit chordMenuRequested(static_cast<int>(tick / harmony::kSlotTicks),
                                    event->globalPosition().toPoint());
            return;
        }
        const int note = layout_->note_at(toLayout(event->position().toPoint()));
        if (note >= 0) {
            setSelected(note);
            emit noteChosen(note);
            return;
        }
    }
    QAbstractScrollArea::mousePressEvent(event);
}

int ScoreView::toneMarkBeside(int note) const {
    if (!layout_ || note < 0) return -1;
    const auto& pairs = layout_->sheet().tones.pairs;
    const auto n = static_cast<std::size_t>(note);
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        if (pairs[k].second == n) return static_cast<int>(k);
    }
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        if (pairs[k].first == n) return static_cast<int>(k);
    }
    return -1;
}

bool ScoreView::requestMenuFromKeys() {
    if (!layout_ || !editable_) return false;
    const int pair = toneMarkBeside(selected_);
    if (pair < 0) return false;
    const QRectF mark = layout_->tone_mark_rect(pair).translated(-horizontalScrollBar()->value(),
                                                                 -verticalScrollBar()->value());
    emit toneMarkMenuRequested(pair, viewport()->mapToGlobal(mark.bottomLeft().toPoint()));
    return true;
}

void ScoreView::contextMenuEvent(QContextMenuEvent* event) {
    // From the keyboard the menu is that of the chosen note's mark, wherever the pointer is.
    // The platform may follow the Menu key with this event: the key opened the menu already.
    if (event->reason() == QContextMenuEvent::Keyboard) {
        if (std::exchange(menu_key_taken_, false) || requestMenuFromKeys()) return;
    } else if (layout_ && editable_) {
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
    // The keys of a context menu, taken here so that they work whatever the platform
    // makes of them.
    menu_key_taken_ = false;
    if ((event->key() == Qt::Key_Menu && mods == Qt::NoModifier) ||
        (event->key() == Qt::Key_F10 && mods == Qt::ShiftModifier)) {
        menu_key_taken_ = event->key() == Qt::Key_Menu;
        if (requestMenuFromKeys()) return;
        menu_key_taken_ = false;
    }
    if (event->key() == Qt::Key_C && mods == Qt::NoModifier && selected_ >= 0) {
        // The chord under the chosen note's start, its menu below the note.
        const auto& starts = layout_->sheet().score.note_start;
        const auto n = static_cast<std::size_t>(selected_);
        if (n < starts.size()) {
            const QRectF at = layout_->note_rect(selected_).translated(
                -horizontalScrollBar()->value(), -verticalScrollBar()->value());
            emit chordMenuRequested(static_cast<int>(starts[n] / harmony::kSlotTicks),
                                    viewport()->mapToGlobal(at.bottomLeft().toPoint()));
            return;
        }
    }
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
        painter.drawText(viewport()->rect(), Qt::AlignCenter,
                         layingOut() ? layingOutText() : emptyText());
    } else {
        const int scroll = verticalScrollBar()->value();
        const int across = horizontalScrollBar()->value();
        painter.save();
        painter.translate(-across, -scroll);
        paintScore(painter, QRectF(area).translated(across, scroll));
        painter.restore();
    }
    if (hasFocus()) {
        // Where the keys go: a frame inside the edge, in the desktop's highlight colour.
        painter.setPen(QPen(palette().color(QPalette::Highlight), kFocusFrameWidth));
        painter.setBrush(Qt::NoBrush);
        const int inset = kFocusFrameWidth / 2;
        painter.drawRect(viewport()->rect().adjusted(inset, inset, -inset - 1, -inset - 1));
    }
}

void ScoreView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void ScoreView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void ScoreView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void ScoreView::scrollContentsBy(int, int) { viewport()->update(); }

}  // namespace quavella
