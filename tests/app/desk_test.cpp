// The main window and the score window on one desk, run on offscreen screens of the
// common sizes: the score never covers a control of the main window, both stay on the
// screen, the history list folds away where it is narrow, the remembered place comes
// back onto the screen, the score at its minimum size draws nothing over anything else,
// Tab walks every control in layout order, Qt's own texts read in Chinese, 停止 clears
// the mark at once and 帮助 explains the score. Fakes for the services, real windows.
#include <QAbstractButton>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QFontMetricsF>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "app/commands/placement.h"
#include "app/history/history_panel.h"
#include "app/score/score_painter.h"
#include "app/score/score_view.h"
#include "app/windows/main_window.h"
#include "app/windows/qt_translations.h"
#include "app/windows/score_help.h"
#include "app/windows/score_window.h"
#include "app_fakes.h"
#include "history/record.h"
#include "qt_typing.h"
#include "score_fixture.h"
#include "window_fakes.h"

using namespace quavella;
using namespace quavella::test;

namespace {

const QStringList kSpring{"春眠不觉晓，", "处处闻啼鸟。", "夜来风雨声，", "花落知多少。"};

QStringList names(const QList<QWidget*>& widgets) {
    QStringList out;
    for (QWidget* w : widgets) {
        out << (w ? QStringLiteral("%1:%2").arg(w->metaObject()->className(), w->objectName())
                  : QStringLiteral("none"));
    }
    return out;
}

/// The widget that holds the focus for `widget` (a spin box's line edit is the box).
QWidget* owner(QWidget* focused) {
    for (QWidget* w = focused; w; w = w->parentWidget()) {
        if (qobject_cast<QSpinBox*>(w)) return w;
    }
    return focused;
}

}  // namespace

class DeskTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(install_qt_translations(*QCoreApplication::instance())); }

    void init() {
        dir = std::make_unique<ScratchDir>(ScratchDir::Current::enter);
        ScoreWindow::settings().clear();
        start();
    }

    void cleanup() {
        form.reset();
        dir.reset();
    }

    void scoreCoversNoControlAndBothStayOnTheScreen() {
        compose();
        const QRect area = form->screen()->availableGeometry();
        const QRect beside = score->frameGeometry();
        QVERIFY2(area.contains(form->frameGeometry()), "the main window is off the screen");
        QVERIFY2(area.contains(beside), "the score window is off the screen");
        for (QWidget* control : controls()) {
            const QRect on_screen(control->mapToGlobal(QPoint(0, 0)), control->size());
            QVERIFY2(!on_screen.intersects(beside), qPrintable(control->objectName()));
        }
        // Wide enough for both side by side: nothing of the main window is covered.
        if (area.width() >= 1280) QVERIFY(!form->frameGeometry().intersects(beside));
        // The history list folds away where the score would be too narrow beside it.
        QCOMPARE(score->historyPanel()->isVisible(), beside.width() >= placement::kFoldBelow);
        QCOMPARE(toggle()->isChecked(), score->historyPanel()->isVisible());
    }

    void rememberedPlaceAndListComeBackOntoTheScreen() {
        compose();
        const QRect area = form->screen()->availableGeometry();
        // Left far off the screen (as on a larger monitor since unplugged), list toggled.
        const bool list_shown = score->historyPanel()->isVisible();
        score->resize(700, 500);
        toggle()->trigger();
        QCOMPARE(score->historyPanel()->isVisible(), !list_shown);
        score->move(area.right() + 600, area.bottom() + 300);
        score->close();
        form.reset();

        start();
        compose();
        QVERIFY(area.contains(score->frameGeometry()));
        QCOMPARE(score->size(), QSize(700, 500));
        QCOMPARE(score->historyPanel()->isVisible(), !list_shown);
    }

    void minimumSizeDrawsABarAndNothingOverlaps() {
        compose();
        score->historyPanel()->show();
        score->resize(score->minimumSize());
        QTRY_COMPARE(score->size(), score->minimumSize());
        // The list folded away rather than squeeze the score.
        QVERIFY(!score->historyPanel()->isVisible());
        ScoreView* view = score->view();
        const ScoreLayout& layout = *view->layout();
        QVERIFY(layout.width() >= layout.narrowest_width());
        QCOMPARE(view->horizontalScrollBar()->maximum(),
                 std::max(0, static_cast<int>(layout.width()) - view->viewport()->width()));

        RecordingDevice device(static_cast<int>(layout.width()), static_cast<int>(layout.height()));
        {
            QPainter painter(&device);
            view->paintScore(painter, QRectF(0, 0, layout.width(), layout.height()));
        }
        // Each text's ink box, from where it was drawn; no two share a pixel.
        std::vector<std::pair<QString, QRectF>> boxes;
        for (const Drawn::Text& t : device.drawn.texts) {
            QFont font = layout.text_font;
            font.setPixelSize(t.pixel_size);
            const QRectF ink = QFontMetricsF(font).tightBoundingRect(t.text).translated(t.at);
            if (!ink.isEmpty()) boxes.emplace_back(t.text, ink.adjusted(0.5, 0.5, -0.5, -0.5));
        }
        QVERIFY(boxes.size() > 40);
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            for (std::size_t j = i + 1; j < boxes.size(); ++j) {
                QVERIFY2(!boxes[i].second.intersects(boxes[j].second),
                         qPrintable(boxes[i].first + QStringLiteral(" over ") + boxes[j].first));
            }
        }
    }

    void tabWalksEveryControlInLayoutOrder() {
        compose();
        click("suiButton4");  // stopped: composing is possible again, 择优作曲 too
        // The main window: the three lists, the link, the lyrics, then the buttons.
        const char* main_order[] = {"ComboBox1",  "ComboBox2",  "ComboBox3",  "suiURLLabel1",
                                    "RichEdit1",  "suiButton1", "suiButton2", "suiButton3",
                                    "suiButton4", "suiButton5", "suiButton7", "suiButton8"};
        QList<QWidget*> expected;
        for (const char* name : main_order) {
            auto* widget = form->findChild<QWidget*>(QString::fromLatin1(name));
            QVERIFY2(widget, name);
            if (widget->isEnabled()) expected << widget;
        }
        QCOMPARE(names(walk(form.get(), expected.front(), expected.size())).join(" "),
                 names(expected).join(" "));

        // The score window: the toolbars left to right, the list, its buttons, the score.
        score->activateWindow();
        QList<QWidget*> toolbar;
        for (QToolBar* bar : score->findChildren<QToolBar*>()) {
            for (QAction* action : bar->actions()) {
                QWidget* widget = bar->widgetForAction(action);
                // At the narrowest a bar may hide buttons behind its arrow; their keys stay.
                if (widget && widget->isEnabled() && widget->isVisible()) toolbar << widget;
            }
        }
        // In rows from the top, each from the left.
        std::stable_sort(toolbar.begin(), toolbar.end(), [this](QWidget* a, QWidget* b) {
            const QPoint pa = a->mapTo(score, QPoint(0, 0));
            const QPoint pb = b->mapTo(score, QPoint(0, 0));
            return std::pair(pa.y() / 8, pa.x()) < std::pair(pb.y() / 8, pb.x());
        });
        // Where the bars fit: five exports, best of and its count, the list, help. (At the
        // narrowest some wait behind a bar's arrow; their shortcuts reach them.)
        QVERIFY2(toolbar.size() >= (score->width() >= placement::kFoldBelow ? 9 : 5),
                 qPrintable(names(toolbar).join(" ")));
        QList<QWidget*> expected_score = toolbar;
        if (HistoryPanel* list = score->historyPanel(); list->isVisible()) {
            // An entry selected: 载入 and 删除 are enabled, and in the walk.
            auto* rows = list->findChild<QTreeWidget*>();
            rows->setCurrentItem(rows->topLevelItem(0));
            for (QWidget* child : list->widget()->findChildren<QWidget*>()) {
                if ((child->focusPolicy() & Qt::TabFocus) && child->isEnabled())
                    expected_score << child;
            }
        }
        expected_score << score->view();
        QCOMPARE(names(walk(score, expected_score.front(), expected_score.size())).join(" "),
                 names(expected_score).join(" "));
    }

    void shortcutsAndTooltipsOfTheScoreWindow() {
        for (QToolBar* bar : score->findChildren<QToolBar*>()) {
            for (QAction* action : bar->actions()) {
                if (!bar->widgetForAction(action) ||
                    qobject_cast<QSpinBox*>(bar->widgetForAction(action)))
                    continue;
                QVERIFY2(!action->shortcut().isEmpty(), qPrintable(action->text()));
                QVERIFY2(action->toolTip().contains(
                             action->shortcut().toString(QKeySequence::NativeText)),
                         qPrintable(action->toolTip()));
            }
        }
        // F1 opens the help, in Chinese, over every new part of the window.
        compose();
        score->activateWindow();
        QTest::keyClick(score, Qt::Key_F1);
        auto* help = score->findChild<ScoreHelp*>();
        QVERIFY(help && help->isVisible());
        const QString text = help->findChild<QTextBrowser*>()->toPlainText();
        for (const char* part :
             {"简谱", "✓", "○", "△", "✗", "字调契合", "只计 ✓ 和 ○", "择优作曲", "作品记录", "载入",
              "删除", "PDF", "MusicXML", "音频", "Ctrl+M", "F1",
              // Shaping: the keys, the commands, undo, and what the history's marks mean.
              "← / →", "↑ / ↓", "Shift", "菜单键", "Shift+F10", "F5", "F6", "Shift+F6", "F7", "F8",
              "修正倒字", "全部契合", "重新生成本句", "试听", "Ctrl+Z", "Ctrl+Y", "按句择优",
              "Ctrl+Shift+B", "↳ 修改自第 N 条", "按句择优 N 首", "Esc",
              // Lengths and rests: their keys and their menu.
              "[ / ]", "Backspace", "休止", "节奏", "换词保留旋律", "Ctrl+Shift+W"}) {
            QVERIFY2(text.contains(QString::fromUtf8(part)), part);
        }
    }

    void helpOpensBesideTheWindowsAndEscapeClosesIt() {
        compose();
        QApplication::setActiveWindow(score);
        QVERIFY(QTest::qWaitForWindowActive(score));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
        auto* help = score->findChild<ScoreHelp*>();
        QVERIFY(help && help->isVisible());
        const QRect area = score->screen()->availableGeometry();
        const QRect frame = help->frameGeometry();
        QVERIFY2(area.contains(frame), "the help is off the screen");
        // Over as little of the two windows as any place of its size or narrowest would be
        // (a gap's width either way aside): beside them wherever the screen leaves room.
        const QList<QRect> windows{form->frameGeometry(), score->frameGeometry()};
        const auto covered = [&windows](const QRect& r) {
            long long sum = 0;
            for (const QRect& w : windows) {
                const QRect both = r.intersected(w);
                if (!both.isEmpty()) sum += static_cast<long long>(both.width()) * both.height();
            }
            return sum;
        };
        long long least = covered(frame);
        for (const int w : {ScoreHelp::kWidth, ScoreHelp::kMinimumWidth}) {
            const QSize size(std::min(w, area.width()), std::min(frame.height(), area.height()));
            for (int x = area.left(); x + size.width() <= area.right() + 1; x += 4) {
                for (int y = area.top(); y + size.height() <= area.bottom() + 1; y += 4) {
                    least = std::min(least, covered(QRect(QPoint(x, y), size)));
                }
            }
        }
        QVERIFY2(
            covered(frame) <= least + 2LL * placement::kGap * frame.height(),
            qPrintable(
                QStringLiteral("covers %1 pixels, %2 would do").arg(covered(frame)).arg(least)));
        // Escape closes it, and F1 brings it back where it was.
        QApplication::setActiveWindow(help);
        QVERIFY(QTest::qWaitForWindowActive(help));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!help->isVisible());
        QApplication::setActiveWindow(score);
        QVERIFY(QTest::qWaitForWindowActive(score));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
        QVERIFY(help->isVisible());
        QCOMPARE(help->frameGeometry(), frame);
    }

    void withTheHistoryOpenNothingIsCut() {
        compose();
        QApplication::setActiveWindow(score);
        QVERIFY(QTest::qWaitForWindowActive(score));
        // Opened from the keyboard where it folded away.
        if (!score->historyPanel()->isVisible()) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_H, Qt::ControlModifier);
        }
        QVERIFY(score->historyPanel()->isVisible());
        QTRY_VERIFY(score->historyPanel()->list()->topLevelItemCount() > 0);
        QTest::qWait(50);  // the dock and the score lay out
        ScoreView* view = score->view();
        const int seen = view->viewport()->width();
        // The title, the settings, the key and 字调契合 lie within the view's width.
        const auto headerInView = [&] {
            const ScoreLayout& layout = *view->layout();
            RecordingDevice device(static_cast<int>(layout.width()),
                                   static_cast<int>(layout.header_height()));
            {
                QPainter painter(&device);
                ScorePainter(layout).header(painter, 0);
            }
            QStringList drawn;
            for (const Drawn::Text& t : device.drawn.texts) {
                QFont font = layout.text_font;
                font.setPixelSize(t.pixel_size);
                const QRectF ink = QFontMetricsF(font).tightBoundingRect(t.text).translated(t.at);
                QVERIFY2(ink.left() >= 0 && ink.right() <= seen,
                         qPrintable(QStringLiteral("%1 at %2-%3 of %4")
                                        .arg(t.text)
                                        .arg(ink.left())
                                        .arg(ink.right())
                                        .arg(seen)));
                drawn << t.text;
            }
            QVERIFY2(drawn.join("").contains(
                         QStringLiteral("字调契合 %1%").arg(score->sheet()->tones.percent())),
                     qPrintable(drawn.join(" ")));
        };
        headerInView();
        QCOMPARE(view->horizontalScrollBar()->value(), 0);
        // After 修正倒字 the new 字调契合 is in view: in the header, and in the status bar
        // whatever part of the score is scrolled into view.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
        headerInView();
        QVERIFY2(score->statusBar()->currentMessage().contains(
                     QStringLiteral("字调契合 %1%").arg(score->editing()->grading().percent())),
                 qPrintable(score->statusBar()->currentMessage()));
        // The history's rows show their time and tone score whole.
        QTreeWidget* rows = score->historyPanel()->list();
        const QString first_line = rows->topLevelItem(0)->text(0).section('\n', 0, 0);
        QVERIFY(first_line.contains(QStringLiteral("字调契合")));
        QVERIFY2(
            rows->fontMetrics().horizontalAdvance(first_line) + rows->indentation() <=
                rows->viewport()->width(),
            qPrintable(
                QStringLiteral("%1 in %2 pixels").arg(first_line).arg(rows->viewport()->width())));
        // Every export from the keyboard, the last (导出音频) too: menu 导出 (Alt+X).
        QApplication::setActiveWindow(score);
        QVERIFY(QTest::qWaitForWindowActive(score));
        log.clear();
        QTimer::singleShot(0, this, [] {
            if (QWidget* menu = QApplication::activePopupWidget()) {
                QTest::keyClick(menu, Qt::Key_Up);  // from the top round to the last
                QTest::keyClick(menu, Qt::Key_Return);
            }
        });
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_X, Qt::AltModifier);
        QTRY_VERIFY(!log.empty());
        QVERIFY2(log.front().starts_with("file:") && log.front().ends_with(".wav"),
                 log.front().c_str());
    }

    void qtsOwnButtonsReadInChinese() {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("提示"), QStringLiteral("作曲完成"),
                        QMessageBox::Ok);
        QCOMPARE(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
        QDialogButtonBox buttons(QDialogButtonBox::Cancel | QDialogButtonBox::Save);
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
        QCOMPARE(buttons.button(QDialogButtonBox::Save)->text(), QStringLiteral("保存"));
    }

    void bestOfRunsOnlyTheCountItShows_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("runs");  // the count composed, 0: nothing
        QTest::newRow("zero") << QStringLiteral("0") << 0;
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("five") << QStringLiteral("5") << 5;
        QTest::newRow("beyond the most") << QStringLiteral("5000") << 500;
    }

    void bestOfRunsOnlyTheCountItShows() {
        QFETCH(QString, typed);
        QFETCH(int, runs);
        auto* best = score->findChild<QAction*>(QStringLiteral("composeBestOf"));
        auto* count = score->findChild<QSpinBox*>(QStringLiteral("bestOfCount"));
        score->show();
        QApplication::setActiveWindow(score);
        QVERIFY(QTest::qWaitForWindowActive(score));
        count->setFocus();
        count->selectAll();
        QTest::keyClick(count, Qt::Key_Delete);
        QTest::keyClicks(count, typed);
        QSignalSpy asked(score, &ScoreWindow::composeBestOfRequested);
        QCOMPARE(best->isEnabled(), runs > 0);
        best->trigger();
        if (runs == 0) {
            QCOMPARE(asked.count(), 0);
        } else {
            QCOMPARE(asked.count(), 1);
            QCOMPARE(asked.at(0).at(0).toInt(), runs);
            QCOMPARE(count->value(), runs);
        }
    }

    void historyListFollowsTheScore() {
        HistoryPanel* panel = score->historyPanel();
        const auto shown = [&] {
            // Recorded by the worker, listed when the window's event loop hears of it.
            QTRY_VERIFY(panel->selected().has_value() &&
                        panel->selected()->record.notes == score->sheet()->score.melody.notes);
            QCOMPARE(panel->selected()->record.notes, score->sheet()->score.melody.notes);
            QCOMPARE(panel->list()->indexOfTopLevelItem(panel->list()->currentItem()),
                     0);  // the newest, scrolled into view
            QVERIFY(panel->details()->toPlainText().contains(
                QString::fromStdString(history::reproduce_command(panel->selected()->record))));
        };
        compose();
        shown();
        click("suiButton4");
        // An older entry selected (its score shown), then a new composition: both follow it.
        compose();
        click("suiButton4");
        shown();
        panel->list()->setCurrentItem(panel->list()->topLevelItem(1));
        QCOMPARE(panel->selected()->record.notes, score->sheet()->score.melody.notes);
        compose();
        shown();
        click("suiButton4");
        // Best of 4: four rows recorded, the chosen one (the score's) selected.
        panel->list()->setCurrentItem(panel->list()->topLevelItem(2));
        score->findChild<QSpinBox*>(QStringLiteral("bestOfCount"))->setValue(4);
        score->findChild<QAction*>(QStringLiteral("composeBestOf"))->trigger();
        QCOMPARE(log.back(), std::string("show:提示:作曲完成"));
        shown();
    }

    void stopClearsTheMarkAtOnce() {
        compose();
        const auto& starts = score->sheet()->score.note_start;
        player->position = starts[5];
        click("suiButton2");
        QTRY_COMPARE_WITH_TIMEOUT(score->view()->highlight(), 5, 5000);
        // A player that still reports where it stopped for a while: the mark goes anyway.
        click("suiButton4");
        QCOMPARE(score->view()->highlight(), -1);
        QVERIFY(!score->following());
    }

private:
    void start() {
        log.clear();
        WindowFakes fakes;
        form = std::make_unique<TForm1>(fake_window_services(log, fakes));
        player = fakes.player;
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        score = form->scoreWindow();
    }

    void compose() {
        auto* box = form->findChild<QPlainTextEdit*>(QStringLiteral("RichEdit1"));
        box->clear();
        box->setFocus();
        for (int i = 0; i < kSpring.size(); ++i) {
            if (i > 0) QTest::keyClick(box, Qt::Key_Return);
            typeText(box, kSpring[i]);
        }
        click("suiButton1");
        QCOMPARE(log.back(), std::string("show:提示:作曲完成"));
        QVERIFY(QTest::qWaitForWindowExposed(score));
    }

    QAction* toggle() const { return score->findChild<QAction*>(QStringLiteral("toggleHistory")); }

    void click(const char* name) const {
        auto* button = form->findChild<QPushButton*>(QString::fromLatin1(name));
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
    }

    /// The main window's controls: its buttons (not the label buttons), lists and lyrics.
    QList<QWidget*> controls() const {
        QList<QWidget*> out;
        for (QWidget* w : form->findChildren<QWidget*>()) {
            if (w->isVisible() && w->focusPolicy() != Qt::NoFocus) out << w;
        }
        return out;
    }

    /// Focuses `first` and presses Tab `count` times, collecting where the focus goes;
    /// the walk must come back to `first`.
    static QList<QWidget*> walk(QWidget* window, QWidget* first, qsizetype count) {
        QApplication::setActiveWindow(window);
        if (!QTest::qWaitForWindowActive(window)) return {};
        first->setFocus(Qt::TabFocusReason);
        QList<QWidget*> seen;
        for (qsizetype i = 0; i < count; ++i) {
            seen << owner(QApplication::focusWidget());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        if (owner(QApplication::focusWidget()) != first) seen << QApplication::focusWidget();
        return seen;
    }

    std::unique_ptr<ScratchDir> dir;
    EventLog log;
    FakePlayer* player = nullptr;
    std::unique_ptr<TForm1> form;
    ScoreWindow* score = nullptr;
};

QTEST_MAIN(DeskTest)
#include "desk_test.moc"
