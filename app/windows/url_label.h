// The link label of the main window ("拜访作者"): a text drawn like a web link
// that reports a click. Only the main window uses it.
#pragma once

#include <QString>
#include <QWidget>

namespace quavella {

/// A link label: blue and underlined, red under the pointer; emits clicked() on
/// a left click released over it, or on Space or Return while it has the focus
/// (Tab reaches it; a dotted frame shows the focus).
class UrlLabel : public QWidget {
    Q_OBJECT

public:
    UrlLabel(const QString& text, QWidget* parent);
    QString text() const { return text_; }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QString text_;
    bool hovered_ = false;
};

}  // namespace quavella
