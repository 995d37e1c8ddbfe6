// Typing any text into a widget as key events that carry it; QTest::keyClicks
// takes only Latin-1, while Chinese lyrics arrive as key text too.
#pragma once

#include <QtTest>

namespace quavella::test {

/// Sends one key press and release per character of `text` (pairs kept together).
inline void typeText(QWidget* widget, const QString& text) {
    for (int i = 0; i < text.size(); ++i) {
        const int length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString one = text.mid(i, length);
        i += length - 1;
        if (one.size() == 1 && one.at(0).unicode() < 0x80) {
            QTest::keyClick(widget, one.at(0).toLatin1());
            continue;
        }
        QTest::sendKeyEvent(QTest::Press, widget, Qt::Key_unknown, one, Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, widget, Qt::Key_unknown, one, Qt::NoModifier);
    }
}

}  // namespace quavella::test
