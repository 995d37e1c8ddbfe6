// The link label's drawing and its click.
#include "app/windows/url_label.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace quavella {

UrlLabel::UrlLabel(const QString& text, QWidget* parent) : QWidget(parent), text_(text) {
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::TabFocus);
}

void UrlLabel::paintEvent(QPaintEvent*) {
    // The CJK glyphs nearly fill the 13-pixel label, so the underline is drawn on
    // the bottom row rather than where the font puts it (which would be clipped).
    QPainter painter(this);
    const QColor colour = hovered_ ? Qt::red : Qt::blue;
    painter.setPen(colour);
    painter.drawText(rect().adjusted(0, 0, 0, -1), Qt::AlignLeft | Qt::AlignVCenter, text_);
    const int width = std::min(fontMetrics().horizontalAdvance(text_), this->width());
    painter.drawLine(0, height() - 1, width - 1, height() - 1);
    if (hasFocus()) {
        painter.setPen(QPen(colour, 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void UrlLabel::enterEvent(QEnterEvent*) {
    hovered_ = true;
    update();
}

void UrlLabel::leaveEvent(QEvent*) {
    hovered_ = false;
    update();
}

void UrlLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit clicked();
    }
}

void UrlLabel::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if ((key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) &&
        !event->isAutoRepeat()) {
        emit clicked();
        return;
    }
    QWidget::keyPressEvent(event);
}

void UrlLabel::focusInEvent(QFocusEvent* event) {
    update();
    QWidget::focusInEvent(event);
}

void UrlLabel::focusOutEvent(QFocusEvent* event) {
    update();
    QWidget::focusOutEvent(event);
}

}  // namespace quavella
