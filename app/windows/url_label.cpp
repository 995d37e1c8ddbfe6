// The link label's drawing and its click.
#include "app/windows/url_label.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace quavella {

UrlLabel::UrlLabel(const QString& text, QWidget* parent) : QWidget(parent), text_(text) {
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
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

}  // namespace quavella
