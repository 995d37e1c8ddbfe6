// Shaping the melody in the score window, driven like a user with the main window:
// notes chosen by mouse and keys, moved by ↑/↓ with Shift and Ctrl, undone and
// redone back to the exact bytes, 修正倒字 and 全部契合, a tone mark's menu,
// 重新生成本句, 对齐节拍 with 修正倒字, 换词保留旋律, 试听 after the main window's 停止, and
// 按句择优. Every edited melody becomes the one in the player (temp.mid and the play file) and is
// made again, byte for byte, by quavella-cli compose --state S:T --edits LIST.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolTip>
#include <QTreeWidget>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "app/history/history_panel.h"
#include "app/score/score_layout.h"
#include "app/score/score_view.h"
#include "app/windows/main_window.h"
#include "app/windows/score_window.h"
#include "app_fakes.h"
#include "composer/draws.h"
#include "composer/song.h"
#include "history/store.h"
#include "qt_typing.h"
#include "tests/support/cli_runner.h"
#include "window_fakes.h"

using namespace quavella;
using namespace quavella::test;
namespace fs = std::filesystem;

namespace {

const QStringList kSpring{"春眠不觉晓，", "处处闻啼鸟。", "夜来风雨声，", "花落知多少。"};

}  // namespace

class ScoreEditingTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        dir = std::make_unique<ScratchDir>(ScratchDir::Current::enter);
        log.clear();
        WindowFakes fakes;
        WindowServices services = fake_window_services(log, fakes);
        player = fakes.player;
        form = std::make_unique<TForm1>(std::move(services));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        score = form->scoreWindow();
    }

    void cleanup() {
        form.reset();
        dir.reset();
    }

    void notesAreChosenByMouseAndKeys() {
        compose();
        ScoreView* view = score->view();
        const ScoreLayout& layout = *view->layout();
        const int last = static_cast<int>(score->editing()->melody().notes.size()) - 1;
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          layout.note_rect(2).center().toPoint());
        QCOMPARE(view->selected(), 2);
        QVERIFY(score->statusBar()->currentMessage().startsWith(QStringLiteral("第 3 个音：不")));
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Right);
        QCOMPARE(view->selected(), 3);
        QTest::keyClick(view, Qt::Key_End);
        QCOMPARE(view->selected(), last);
        QTest::keyClick(view, Qt::Key_Right);
        QCOMPARE(view->selected(), last);
        QTest::keyClick(view, Qt::Key_Home);
        QCOMPARE(view->selected(), 0);
        QTest::keyClick(view, Qt::Key_Left);
        QCOMPARE(view->selected(), 0);
    }

    void editsUndoAndRedoToTheExactBytesTheCommandLineMakesAgain() {
        compose();
        const std::string composed = readBytes("temp.mid");
        QCOMPARE(composed, score->editing()->file().bytes);
        ScoreView* view = score->view();
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Right);  // note 1
        QTest::keyClick(view, Qt::Key_Right);  // note 2
        const int before = score->editing()->melody().notes[1];
        QTest::keyClick(view, Qt::Key_Up);
        QVERIFY(score->editing()->melody().notes[1] > before);
        QTest::keyClick(view, Qt::Key_Right);
        QTest::keyClick(view, Qt::Key_Down, Qt::ShiftModifier);
        QTest::keyClick(view, Qt::Key_Right);
        QTest::keyClick(view, Qt::Key_Up, Qt::ControlModifier);
        QCOMPARE(edit::edits_text(score->editing()->edits()), std::string("2+,3-h,4+o"));

        // What the score shows is what the player holds and what 主旋律另存为 copies.
        const std::string edited = readBytes("temp.mid");
        QCOMPARE(edited, score->editing()->file().bytes);
        const std::string play_file = lastOpened();
        QCOMPARE(readBytes(play_file), edited);
        // The player was handed the bytes (of the arrangement on the song's chords); it read
        // no file to learn them.
        QCOMPARE(player->melody, heard_bytes(*score->document().current(), score->hearing()));
        QCOMPARE(player->files_read, 0);
        QCOMPARE(score->sheet()->score.melody.notes, score->editing()->melody().notes);
        QCOMPARE(score->sheet()->tones.graded(), score->editing()->grading().graded());
        QCOMPARE(remade(), edited);

        auto* undo = score->findChild<QAction*>(QStringLiteral("undoEdit"));
        QVERIFY(undo && undo->isEnabled());
        QCOMPARE(undo->text(), QStringLiteral("撤销 升八度"));
        // The keys reach the undo stack's shortcuts in the active score window.
        score->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(score));
        for (int k = 0; k < 3; ++k) QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(readBytes("temp.mid"), composed);
        QVERIFY(!undo->isEnabled());
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(view, Qt::Key_Y, Qt::ControlModifier);
        QTest::keyClick(view, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(readBytes("temp.mid"), edited);
    }

    void lengthAndRestKeysAreMenuItemsThatUndoToTheExactBytes() {
        compose();
        const std::string composed = readBytes("temp.mid");
        ScoreView* view = score->view();
        // The menu 节奏 names each item with its key; none acts before a note is chosen.
        QMenu* rhythm = nullptr;
        for (QAction* menu : score->menuBar()->actions()) {
            if (menu->text() == QStringLiteral("节奏(&R)")) rhythm = menu->menu();
        }
        QVERIFY(rhythm);
        const std::vector<std::pair<const char*, QString>> items = {
            {"shortenNote", QStringLiteral("[")},
            {"lengthenNote", QStringLiteral("]")},
            {"addRest", QStringLiteral(".")},
            {"removeRest", QStringLiteral("Backspace")}};
        for (const auto& [name, key] : items) {
            auto* action = score->findChild<QAction*>(QString::fromLatin1(name));
            QVERIFY(action);
            QVERIFY(rhythm->actions().contains(action));
            QCOMPARE(action->shortcut().toString(), key);
            QVERIFY(!action->isEnabled());
        }

        activateScore();
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Right);  // note 1
        QTest::keyClick(view, Qt::Key_Right);  // note 2
        const notation::Melody before = score->editing()->melody();
        const int unit = time_unit(static_cast<int>(before.notes.size()));
        QTest::keyClick(view, Qt::Key_BracketRight);
        QCOMPARE(score->editing()->melody().ticks[1], before.ticks[1] + unit);
        QTest::keyClick(view, Qt::Key_Period);
        QTest::keyClick(view, Qt::Key_Period);
        QCOMPARE(notation::rest_after(score->editing()->melody(), 1), 2 * unit);
        QTest::keyClick(view, Qt::Key_Backspace);
        QTest::keyClick(view, Qt::Key_BracketLeft);
        QTest::keyClick(view, Qt::Key_BracketLeft);
        QTest::keyClick(view, Qt::Key_Right);
        QTest::keyClick(view, Qt::Key_Period);
        const std::string expected = "2d+,2r+,2r+,2r-,2d-,2d-,3r+";
        // A note of one unit is not made shorter: the status bar says why.
        if (before.ticks[1] == unit) {
            QCOMPARE(edit::edits_text(score->editing()->edits()),
                     std::string("2d+,2r+,2r+,2r-,2d-,3r+"));
        } else {
            QCOMPARE(edit::edits_text(score->editing()->edits()), expected);
        }
        const std::string edited = readBytes("temp.mid");
        QCOMPARE(edited, score->editing()->file().bytes);
        QCOMPARE(player->melody, heard_bytes(*score->document().current(), score->hearing()));
        QCOMPARE(score->sheet()->score.melody.rests, score->editing()->melody().rests);
        QCOMPARE(score->sheet()->score.note_start[2],
                 score->sheet()->score.note_start[1] + score->editing()->melody().ticks[1] + unit);
        QCOMPARE(remade(), edited);

        auto* undo = score->findChild<QAction*>(QStringLiteral("undoEdit"));
        QCOMPARE(undo->text(), QStringLiteral("撤销 第 3 个音后加休止"));
        while (undo->isEnabled()) undo->trigger();
        QCOMPARE(readBytes("temp.mid"), composed);

        // The menu item does what its key does.
        auto* lengthen = score->findChild<QAction*>(QStringLiteral("lengthenNote"));
        QVERIFY(lengthen->isEnabled());
        lengthen->trigger();
        QCOMPARE(edit::edits_text(score->editing()->edits()), std::string("3d+"));
        QVERIFY(score->statusBar()->currentMessage().startsWith(QStringLiteral("第 3 个音：")));
    }

    void chordsAreShapedThroughTheirMenuAndTheMelodyCanBeHeardAlone() {
        compose();
        ScoreView* view = score->view();
        const song::Document& song = score->document();
        const std::string melody = readBytes("temp.mid");
        // Heard: the arrangement; the working file stays the melody.
        QCOMPARE(player->melody, heard_bytes(*song.current(), score->hearing()));
        QVERIFY(player->melody != melody);
        const std::vector<harmony::Chord> composed = song.melody().chords().chords;

        // A click on a chord's name opens its menu: the chords that fit there, best first.
        const ScoreLayout& layout = *view->layout();
        QVERIFY(layout.sheet().chords.size() >= 2);
        const int change = 1;
        const int slot = static_cast<int>(layout.sheet().chords[change].tick / harmony::kSlotTicks);
        const QRectF name = layout.chord_rect(change);
        QVERIFY(!name.isEmpty());
        const QString shown = layout.chord_text(change);  // the layout goes with the edit
        const std::vector<harmony::Lock> none;
        const std::vector<harmony::Chord> fitting =
            harmony::chord_choices(song.melody().chord_request(none), song.melody().chords(), slot);
        QStringList offered;
        QString header;
        QString chosen;
        QTimer::singleShot(0, this, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            if (auto* label = menu->findChild<QLabel*>(QStringLiteral("chordMenuHeader")))
                header = label->text();
            for (QAction* action : menu->actions()) {
                if (action->objectName() != QStringLiteral("chordChoice")) continue;
                offered << action->text();
                if (chosen.isEmpty() && !action->isChecked()) {
                    chosen = action->text();
                    action->trigger();
                }
            }
            menu->close();
        });
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, name.center().toPoint());
        QVERIFY2(header.contains(shown), qPrintable(header));
        QStringList expected;
        for (const harmony::Chord chord : fitting)
            expected << QString::fromStdString(harmony::chord_name(chord));
        QCOMPARE(offered, expected);
        QVERIFY(!chosen.isEmpty());
        const auto k = static_cast<std::size_t>(slot);
        QCOMPARE(QString::fromStdString(harmony::chord_name(song.melody().chords().chords[k])),
                 chosen);
        QVERIFY(song.melody().locked()[k]);
        QCOMPARE(readBytes("temp.mid"), melody);  // the melody's file is as it was
        QCOMPARE(player->melody, heard_bytes(*song.current(), score->hearing()));
        auto* undo = score->findChild<QAction*>(QStringLiteral("undoEdit"));
        QCOMPARE(undo->text(), QStringLiteral("撤销 和弦改为 %1").arg(chosen));

        // A note sounding under the locked chord moves: the chord stays.
        int note = 0;
        while (song.current()->melody.ticks.size() > static_cast<std::size_t>(note + 1) &&
               score->sheet()->score.note_start[static_cast<std::size_t>(note + 1)] <=
                   slot * harmony::kSlotTicks)
            ++note;
        view->setFocus();
        view->setSelected(note);
        QTest::keyClick(view, Qt::Key_Up, Qt::ShiftModifier);
        QCOMPARE(song.melody().steps().back().edit.kind, edit::EditKind::semitone);
        QCOMPARE(QString::fromStdString(harmony::chord_name(song.melody().chords().chords[k])),
                 chosen);
        QVERIFY(song.melody().locked()[k]);

        // Undone twice: the chords are as composed, unlocked, and heard so.
        undo->trigger();
        undo->trigger();
        QCOMPARE(song.melody().chords().chords, composed);
        QVERIFY(song.melody().locks().empty());
        QCOMPARE(player->melody, heard_bytes(*song.current(), score->hearing()));

        // C opens the menu of the chosen note's chord from the keys: 锁定 locks it.
        QTimer::singleShot(0, this, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            if (auto* lock = menu->findChild<QAction*>(QStringLiteral("chordLock"))) {
                QCOMPARE(lock->text(), QStringLiteral("锁定"));
                lock->trigger();
            }
            menu->close();
        });
        view->setSelected(0);
        QTest::keyClick(view, Qt::Key_C);
        QVERIFY(song.melody().locked()[0]);
        QCOMPARE(undo->text(), QStringLiteral("撤销 锁定和弦"));

        // 只听旋律: the player gets the melody's bytes, and the arrangement again after.
        auto* alone = score->findChild<QAction*>(QStringLiteral("melodyAlone"));
        QVERIFY(alone && alone->isCheckable());
        alone->trigger();
        QCOMPARE(player->melody, readBytes("temp.mid"));
        auto* broken = score->findChild<QAction*>(QStringLiteral("pattern-broken"));
        QVERIFY(broken);
        broken->trigger();
        QCOMPARE(player->melody, readBytes("temp.mid"));  // still alone
        alone->trigger();
        QCOMPARE(player->melody,
                 harmony::arrangement_file(song.current()->melody, song.current()->chords,
                                           {harmony::Pattern::broken, 0})
                     .bytes);

        // Chord names as scale degrees.
        score->findChild<QAction*>(QStringLiteral("chordDegrees"))->trigger();
        const harmony::Chord first = song.current()->chords.chords[0];
        QCOMPARE(view->layout()->chord_text(0),
                 QString::fromStdString(std::to_string(harmony::degree_of(first)) +
                                        harmony::chord_name(first).substr(
                                            std::string(harmony::root_name(first.root)).size())));
    }

    void repairsAreOneUndoableEditEach() {
        compose();
        const std::string composed = readBytes("temp.mid");
        QVERIFY(!score->editing()->grading().contrary().empty());
        auto* fix = score->findChild<QAction*>(QStringLiteral("fixTones"));
        auto* suit = score->findChild<QAction*>(QStringLiteral("suitTones"));
        QVERIFY(fix && suit && fix->isEnabled());
        fix->trigger();
        const edit::Step& step = score->editing()->steps().back();
        QCOMPARE(score->editing()->grading().contrary().size(), step.left.size());
        QVERIFY(score->statusBar()->currentMessage().startsWith(
            QStringLiteral("修正倒字：改动 %1 个音").arg(step.changes.size())));
        QCOMPARE(score->sheet()->tones.contrary().size(), step.left.size());
        suit->trigger();
        const ToneGrading& grading = score->editing()->grading();
        QCOMPARE(static_cast<std::size_t>(grading.graded() - grading.agreeing()),
                 score->editing()->steps().back().left.size());
        QCOMPARE(readBytes("temp.mid"), score->editing()->file().bytes);
        QCOMPARE(remade(), readBytes("temp.mid"));
        auto* undo = score->findChild<QAction*>(QStringLiteral("undoEdit"));
        QCOMPARE(undo->text(), QStringLiteral("撤销 全部契合"));
        undo->trigger();
        QCOMPARE(undo->text(), QStringLiteral("撤销 修正倒字"));
        undo->trigger();
        QVERIFY(!undo->isEnabled());
        QCOMPARE(score->findChild<QAction*>(QStringLiteral("redoEdit"))->text(),
                 QStringLiteral("重做 修正倒字"));
        QCOMPARE(readBytes("temp.mid"), composed);
    }

    void rhythmIsAlignedByItsKeyAndComposesWithTheToneRepair() {
        compose();
        QVERIFY(!score->sheet()->beats.off_notes().empty());
        auto* rhythm = score->findChild<QAction*>(QStringLiteral("fixRhythm"));
        QVERIFY(rhythm && rhythm->isEnabled());
        QCOMPARE(rhythm->shortcut(), QKeySequence(Qt::Key_F9));
        QVERIFY(rhythm->toolTip().contains(QStringLiteral("F9")));
        const std::vector<int> pitches = score->editing()->melody().notes;
        activateScore();
        QTest::keyClick(score->view(), Qt::Key_F9);
        QCOMPARE(edit::edits_text(score->editing()->edits()), std::string("beat"));
        QCOMPARE(score->editing()->melody().notes, pitches);
        QCOMPARE(score->sheet()->beats.percent(), 100);
        QCOMPARE(score->view()->layout()->beat_score_text(), QStringLiteral("节拍契合 100%"));
        QVERIFY2(score->statusBar()->currentMessage().startsWith(QStringLiteral("对齐节拍：改动")),
                 qPrintable(score->statusBar()->currentMessage()));
        QVERIFY(score->statusBar()->currentMessage().endsWith(QStringLiteral("节拍契合 100%")));
        // Then 修正倒字: the line ends stay on the beat, the rhythm as it was.
        const std::vector<int> aligned = score->editing()->melody().ticks;
        QTest::keyClick(score->view(), Qt::Key_F6);
        QCOMPARE(edit::edits_text(score->editing()->edits()), std::string("beat,fix"));
        QCOMPARE(score->editing()->melody().ticks, aligned);
        QCOMPARE(score->sheet()->beats.percent(), 100);
        QCOMPARE(score->editing()->grading().contrary().size(),
                 score->editing()->steps().back().left.size());
        QCOMPARE(readBytes("temp.mid"), score->editing()->file().bytes);
        QCOMPARE(remade(), readBytes("temp.mid"));
        auto* undo = score->findChild<QAction*>(QStringLiteral("undoEdit"));
        undo->trigger();
        QCOMPARE(undo->text(), QStringLiteral("撤销 对齐节拍"));
        // Pressed again on an aligned melody it changes nothing and says so.
        QTest::keyClick(score->view(), Qt::Key_F9);
        QCOMPARE(edit::edits_text(score->editing()->edits()), std::string("beat"));
        QVERIFY(score->statusBar()->currentMessage().startsWith(
            QStringLiteral("对齐节拍：改动 0 个音的时值")));
    }

    void aToneMarksMenuOffersPitchesThatSuitItsPair() {
        compose();
        const ToneGrading grading = score->editing()->grading();
        int pair = -1;
        for (int k = 0; k < grading.graded(); ++k) {
            if (grading.pairs[static_cast<std::size_t>(k)].grade == ToneGrade::contrary) pair = k;
        }
        QVERIFY(pair >= 0);
        const TonePair tp = grading.pairs[static_cast<std::size_t>(pair)];
        ScoreView* view = score->view();
        const QPoint at = view->layout()->tone_mark_rect(pair).center().toPoint();
        QCOMPARE(view->layout()->tone_mark_at(at), pair);
        QString tip = tone_pair_tip(*score->sheet(), pair);
        QVERIFY(tip.contains(QStringLiteral("倒字")));
        QVERIFY(tip.contains(tone_name(tp.first_tone)));

        // The menu opens on the mark; its first pitch is chosen.
        QString chosen;
        QTimer::singleShot(0, this, [&chosen] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            for (QAction* action : menu->actions()) {
                if (!action->isSeparator() && action->isEnabled()) {
                    chosen = action->text();
                    action->trigger();
                    break;
                }
            }
            menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view->viewport(), &event);
        QVERIFY2(chosen.startsWith(QStringLiteral("把「")), qPrintable(chosen));
        const ToneGrade now =
            score->editing()->grading().pairs[static_cast<std::size_t>(pair)].grade;
        QVERIFY(now == ToneGrade::good || now == ToneGrade::fair);
        QCOMPARE(remade(), readBytes("temp.mid"));
    }

    void regenerationReplacesTheChosenNotesSentenceOnly() {
        compose();
        const notation::Melody before = score->editing()->melody();
        const auto [first, end] = score->editing()->sentence_notes(2);
        score->findChild<QSpinBox*>(QStringLiteral("bestOfCount"))->setValue(6);
        QTest::mouseClick(score->view()->viewport(), Qt::LeftButton, {},
                          score->view()->layout()->note_rect(first + 1).center().toPoint());
        auto* regenerate = score->findChild<QAction*>(QStringLiteral("regenerateSentence"));
        QVERIFY(regenerate->isEnabled());
        regenerate->trigger();
        const notation::Melody& after = score->editing()->melody();
        for (int i = 0; i < static_cast<int>(before.notes.size()); ++i) {
            if (i >= first && i < end) continue;
            QCOMPARE(after.notes[static_cast<std::size_t>(i)],
                     before.notes[static_cast<std::size_t>(i)]);
            QCOMPARE(after.ticks[static_cast<std::size_t>(i)],
                     before.ticks[static_cast<std::size_t>(i)]);
        }
        QCOMPARE(score->findChild<QAction*>(QStringLiteral("undoEdit"))->text(),
                 QStringLiteral("撤销 重新生成第 3 句"));
        QCOMPARE(remade(), readBytes("temp.mid"));
    }

    void auditionPlaysFromTheChosenNoteAfterTheMainWindowsStop() {
        compose();
        auto* play = form->findChild<QPushButton*>(QStringLiteral("suiButton2"));
        auto* stop = form->findChild<QPushButton*>(QStringLiteral("suiButton4"));
        QTest::mouseClick(stop, Qt::LeftButton);
        const bool play_enabled = play->isEnabled();
        QTest::mouseClick(score->view()->viewport(), Qt::LeftButton, {},
                          score->view()->layout()->note_rect(5).center().toPoint());
        log.clear();
        score->findChild<QAction*>(QStringLiteral("audition"))->trigger();
        const int tick = static_cast<int>(score->sheet()->score.note_start[5]);
        QCOMPARE(log, (EventLog{"play_from:" + std::to_string(tick)}));
        QCOMPARE(play->isEnabled(), play_enabled);
        QVERIFY(score->following());
        // The score window's own 停止, and the mark goes at once.
        player->position.reset();
        score->findChild<QAction*>(QStringLiteral("stopPlaying"))->trigger();
        QCOMPARE(log.back(), std::string("stop"));
        QCOMPARE(score->view()->highlight(), -1);
    }

    void theKeysActOnTheNotesAfterEachCommand() {
        // Composed in the main window: the score window's own focus is the score.
        compose();
        ScoreView* view = score->view();
        QCOMPARE(score->focusWidget(), view);
        activateScore();
        QCOMPARE(QApplication::focusWidget(), view);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
        QCOMPARE(view->selected(), 0);

        // A frame shows where the keys go, and goes with the focus.
        const auto frame = [view] {
            const QImage shown = view->viewport()->grab().toImage();
            return shown.pixelColor(0, shown.height() / 2);
        };
        QCOMPARE(frame(), view->palette().color(QPalette::Highlight));
        buttonFor("exportPdf")->setFocus();
        QCOMPARE(frame(), QColor(Qt::white));
        auto* count = score->findChild<QSpinBox*>(QStringLiteral("bestOfCount"));

        // Each command pressed from its button by the keyboard hands the keys back to the
        // notes: 重新生成本句, an export's questions (answered with 取消), 择优作曲.
        for (const char* name : {"regenerateSentence", "exportPdf", "composeBestOf"}) {
            if (QString::fromLatin1(name) == QStringLiteral("composeBestOf")) {
                click("suiButton4");  // stopped: composing is possible again
                count->setValue(3);
                activateScore();
            }
            QWidget* button = buttonFor(name);
            QVERIFY2(button && button->isEnabled(), name);
            button->setFocus(Qt::TabFocusReason);
            QCOMPARE(QApplication::focusWidget(), button);
            QTest::keyClick(button, Qt::Key_Space);
            QVERIFY2(QApplication::focusWidget() == view, name);
        }
        QCOMPARE(log.back(), std::string("show:提示:作曲完成"));

        // Ctrl+Z where the keys are undoes the last edit.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Home);
        const int before = score->editing()->melody().notes[0];
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
        QVERIFY(score->editing()->melody().notes[0] != before);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(score->editing()->melody().notes[0], before);
        QVERIFY(!score->document().can_undo());
    }

    void theToneMarksMenuOpensFromTheKeyboard_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Menu") << int(Qt::Key_Menu) << int(Qt::NoModifier);
        QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier);
    }

    void theToneMarksMenuOpensFromTheKeyboard() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        compose();
        activateScore();
        const ToneGrading grading = score->editing()->grading();
        int pair = -1;
        for (int k = 0; k < grading.graded() && pair < 0; ++k) {
            if (grading.pairs[static_cast<std::size_t>(k)].grade == ToneGrade::contrary) pair = k;
        }
        QVERIFY(pair >= 0);
        const auto second = static_cast<int>(grading.pairs[static_cast<std::size_t>(pair)].second);
        // The second syllable of the pair chosen by the keys: its mark is the one before it.
        QWidget* keys = QApplication::focusWidget();
        QCOMPARE(keys, score->view());
        QTest::keyClick(keys, Qt::Key_Home);
        for (int k = 0; k < second; ++k) QTest::keyClick(keys, Qt::Key_Right);
        QCOMPARE(score->view()->toneMarkBeside(second), pair);
        const QString tip = tone_pair_tip(*score->sheet(), pair);

        QString header;
        QString chosen;
        int header_room = 0;
        int header_width = 0;
        QTimer::singleShot(0, this, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            menu->grab().save(QCoreApplication::applicationDirPath() + "/tone-mark-menu.png");
            if (auto* label = menu->findChild<QLabel*>(QStringLiteral("pitchMenuHeader"))) {
                header = label->text();
                header_width = label->fontMetrics().horizontalAdvance(header);
                header_room = label->contentsRect().width();
            }
            for (QAction* action : menu->actions()) {
                if (chosen.isEmpty() && action->isEnabled() && !action->isSeparator() &&
                    action->text().startsWith(QStringLiteral("把「"))) {
                    chosen = action->text();
                    action->trigger();
                }
            }
            menu->close();
        });
        QTest::keyClick(keys, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(header, tip);
        QVERIFY2(chosen.startsWith(QStringLiteral("把「")), qPrintable(chosen));
        const ToneGrade now =
            score->editing()->grading().pairs[static_cast<std::size_t>(pair)].grade;
        QVERIFY(now == ToneGrade::good || now == ToneGrade::fair);
        // The header names the pair whole.
        QVERIFY2(header_room >= header_width, qPrintable(QStringLiteral("%1: %2 of %3 pixels")
                                                             .arg(header)
                                                             .arg(header_room)
                                                             .arg(header_width)));
    }

    void stopInTheScoreWindowThenPlayStartsFromTheStart() {
        compose();
        click("suiButton2");
        player->position = 600;
        log.clear();
        activateScore();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F8);
        QCOMPARE(log, EventLog{"stop"});
        player->position.reset();  // stopped: the player reports no position
        click("suiButton2");
        QCOMPARE(log, (EventLog{"stop", "play_from:0"}));
    }

    void bestOfBySentenceComposesAShapedMelody() {
        auto* by_sentence = score->findChild<QAction*>(QStringLiteral("bySentence"));
        QVERIFY(by_sentence && by_sentence->isCheckable());
        typeLyrics();
        score->findChild<QSpinBox*>(QStringLiteral("bestOfCount"))->setValue(30);
        by_sentence->setChecked(true);
        score->findChild<QAction*>(QStringLiteral("composeBestOf"))->trigger();
        QCOMPARE(log.back(), std::string("show:提示:作曲完成"));
        QVERIFY(score->editing() != nullptr);
        QVERIFY(!score->editing()->edits().empty());
        QVERIFY(!score->document().can_undo());
        QVERIFY(!score->findChild<QAction*>(QStringLiteral("undoEdit"))->isEnabled());
        QCOMPARE(readBytes("temp.mid"), score->editing()->file().bytes);
        QCOMPARE(remade(), readBytes("temp.mid"));
    }

    void aShapedMelodyIsRecordedOncePerPauseUnderItsOrigin() {
        compose();
        history::Store store(std::filesystem::path(qgetenv("XDG_DATA_HOME").toStdString()) /
                             "quavella" / "history.sqlite3");
        std::vector<history::Summary> before;
        QCOMPARE(store.list(before, 0), history::Status::ok);
        QVERIFY(!before.empty());
        const std::int64_t origin = before.front().id;

        // Three key presses, then a pause: one entry.
        ScoreView* view = score->view();
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Home);
        for (int k = 0; k < 3; ++k) QTest::keyClick(view, Qt::Key_Up);
        std::vector<history::Summary> during;
        QCOMPARE(store.list(during, 0), history::Status::ok);
        QCOMPARE(during.size(), before.size());
        QTRY_COMPARE_WITH_TIMEOUT(listed(store).size(), before.size() + 1,
                                  ScoreWindow::kSettleMs * 4);
        const history::Summary shaped = listed(store).front();
        QVERIFY(shaped.edited);
        QCOMPARE(shaped.origin, std::optional<std::int64_t>(origin));
        history::Entry entry;
        QCOMPARE(store.get(shaped.id, entry), history::Status::ok);
        QCOMPARE(entry.record.edits, std::string("1+,1+,1+"));
        QCOMPARE(entry.record.midi, readBytes("temp.mid"));
        // Listed under its origin, marked.
        auto* list = score->historyPanel()->findChild<QTreeWidget*>();
        QVERIFY(list);
        score->historyPanel()->refresh();
        int origin_row = -1;
        int shaped_row = -1;
        for (int k = 0; k < list->topLevelItemCount(); ++k) {
            const qlonglong id = list->topLevelItem(k)->data(0, Qt::UserRole).toLongLong();
            if (id == origin) origin_row = k;
            if (id == shaped.id) shaped_row = k;
        }
        QVERIFY(origin_row >= 0);
        QCOMPARE(shaped_row, origin_row + 1);
        QVERIFY(list->topLevelItem(shaped_row)
                    ->text(0)
                    .startsWith(QStringLiteral("↳ 修改自第 %1 条").arg(origin)));

        // An edit not yet settled is recorded before the next composition replaces it.
        QTest::keyClick(view, Qt::Key_Down);
        QTest::mouseClick(form->findChild<QPushButton*>(QStringLiteral("suiButton4")),
                          Qt::LeftButton);  // 停止, so that 生成主旋律 composes again
        compose();
        const std::vector<history::Summary> after = listed(store);
        QCOMPARE(after.size(), before.size() + 3);  // the edit, then the new composition
        QVERIFY(after[1].edited);
        QVERIFY(!after[0].edited);
    }

    // 换词保留旋律 takes the lyric box's words for the melody's in one undoable edit: the
    // sentences of unchanged syllable count keep their notes, the score and the player sing
    // the new words, and quavella-cli makes the same bytes from the origin's state, lyric and
    // edit list. Words that cannot be composed are refused in the status bar.
    void newWordsKeepTheMelodyInOneUndoableEdit() {
        compose();
        const std::string composed = readBytes("temp.mid");
        const std::vector<int> before = score->editing()->melody().notes;
        auto* words = score->findChild<QAction*>(QStringLiteral("reviseWords"));
        QVERIFY(words && words->isEnabled());
        QCOMPARE(words->text(), QStringLiteral("换词保留旋律"));
        bool in_edit_menu = false;
        for (QMenu* menu : score->menuBar()->findChildren<QMenu*>()) {
            in_edit_menu |=
                menu->title() == QStringLiteral("编辑(&E)") && menu->actions().contains(words);
        }
        QVERIFY(in_edit_menu);

        ScoreView* view = score->view();
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Home);
        QTest::keyClick(view, Qt::Key_Up);  // a pitch edit the first sentence keeps
        typeLyrics({QStringLiteral("春眠不觉晓，处处闻啼燕。"),
                    QStringLiteral("夜来风雨声声急，花落知多少。")});
        activateScore();
        QTest::keyClick(view, Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY2(score->statusBar()->currentMessage().startsWith(
                     QStringLiteral("换词保留旋律：3 句保留原来的音，1 句重新生成，字调契合 ")),
                 qPrintable(score->statusBar()->currentMessage()));
        const notation::Melody& now = score->editing()->melody();
        QCOMPARE(now.notes.size(), before.size() + 2);
        QVERIFY(now.notes[0] != before[0]);
        for (std::size_t k = 1; k < 10; ++k) QCOMPARE(now.notes[k], before[k]);
        QCOMPARE(now.lyrics[9].text, std::string("燕"));
        QCOMPARE(score->sheet()->score.melody.lyrics[9].text, std::string("燕"));
        QCOMPARE(score->sheet()->tones.graded(), score->editing()->grading().graded());
        const std::string reworded = readBytes("temp.mid");
        QCOMPARE(reworded, score->editing()->file().bytes);
        QCOMPARE(player->melody, heard_bytes(*score->document().current(), score->hearing()));
        QCOMPARE(remade(), reworded);

        auto* undo = score->findChild<QAction*>(QStringLiteral("undoEdit"));
        QCOMPARE(undo->text(), QStringLiteral("撤销 换词"));
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(score->sheet()->score.melody.lyrics[9].text, std::string("鸟"));
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(readBytes("temp.mid"), composed);
        QTest::keyClick(view, Qt::Key_Y, Qt::ControlModifier);
        QTest::keyClick(view, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(readBytes("temp.mid"), reworded);

        typeLyrics({QStringLiteral("春眠")});
        activateScore();
        words->trigger();
        QCOMPARE(score->statusBar()->currentMessage(),
                 QStringLiteral("没有修改：歌词太短，没感觉！"));
        QCOMPARE(readBytes("temp.mid"), reworded);
        QCOMPARE(undo->text(), QStringLiteral("撤销 换词"));
    }

private:
    static std::string readBytes(const fs::path& file) { return read_file(file); }

    static std::vector<history::Summary> listed(history::Store& store) {
        std::vector<history::Summary> page;
        store.list(page, 0);
        return page;
    }

    /// The play file the player opened last.
    std::string lastOpened() const {
        for (auto it = log.rbegin(); it != log.rend(); ++it) {
            if (it->rfind("open:", 0) == 0) return it->substr(5);
        }
        return {};
    }

    void click(const char* name) const {
        auto* button = form->findChild<QPushButton*>(QString::fromLatin1(name));
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
    }

    void activateScore() const {
        QApplication::setActiveWindow(score);
        QVERIFY(QTest::qWaitForWindowActive(score));
    }

    /// The tool button of the score window's action `name`.
    QWidget* buttonFor(const char* name) const {
        auto* action = score->findChild<QAction*>(QString::fromLatin1(name));
        for (QToolBar* bar : score->findChildren<QToolBar*>()) {
            if (QWidget* widget = bar->widgetForAction(action)) return widget;
        }
        return nullptr;
    }

    void typeLyrics(const QStringList& lines = kSpring) {
        auto* box = form->findChild<QPlainTextEdit*>(QStringLiteral("RichEdit1"));
        box->clear();
        box->setFocus();
        for (int i = 0; i < lines.size(); ++i) {
            if (i > 0) QTest::keyClick(box, Qt::Key_Return);
            typeText(box, lines[i]);
        }
    }

    void compose() {
        typeLyrics();
        QTest::mouseClick(form->findChild<QPushButton*>(QStringLiteral("suiButton1")),
                          Qt::LeftButton);
        QCOMPARE(log.back(), std::string("show:提示:作曲完成"));
        QVERIFY(score->editing() != nullptr);
    }

    /// The file quavella-cli makes from the melody's state, settings and edit list.
    std::string remade() const {
        const edit::EditableMelody& m = *score->editing();
        std::string lyrics;
        for (const QString& line : kSpring) lyrics += line.toStdString() + "\n";
        const CliRun run = run_cli(
            {"compose", "--state", state_text(m.source().state), "--speed",
             std::to_string(m.source().speed_pos), "--mode", std::to_string(m.source().mode_pos),
             "--timbre", std::to_string(m.source().timbre_pos), "--edits",
             edit::edits_text(m.edits()), "-o", "remade.mid"},
            lyrics, dir->path());
        if (run.status != 0) return "quavella-cli failed: " + run.err;
        return read_file(dir->path() / "remade.mid");
    }

    std::unique_ptr<ScratchDir> dir;
    EventLog log;
    FakePlayer* player = nullptr;
    std::unique_ptr<TForm1> form;
    ScoreWindow* score = nullptr;
};

QTEST_MAIN(ScoreEditingTest)
#include "score_editing_test.moc"
