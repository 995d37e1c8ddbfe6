// The Qt adapters for real, offscreen: the assertion box (from the window's thread and
// from a worker), the waits and the work runner that keep the window painting, the link
// opener when no browser opens the address, the save dialog in a folder whose files
// block on read, and window placement within the screen's available area.
#include "app/windows/qt_platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/windows/assertion_box.h"
#include "tests/support/env_guard.h"
#include "tests/support/files.h"
#include "tests/support/tick_watch.h"

using namespace quavella;
using namespace quavella::test;
namespace fs = std::filesystem;

namespace {

/// Calls `act` on the first visible top-level widget of type T once it appears,
/// polling from the event loop (so also from inside a modal exec()).
template <typename T>
void whenShown(std::function<void(T*)> act) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* found = qobject_cast<T*>(widget); found != nullptr && found->isVisible()) {
                poll->deleteLater();
                poll->stop();
                act(found);
                return;
            }
        }
    });
    poll->start(10);
}

QMessageBox* linkFailureBox() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QStringLiteral("linkFailure") && widget->isVisible()) {
            return qobject_cast<QMessageBox*>(widget);
        }
    }
    return nullptr;
}

}  // namespace

class QtPlatformTest : public QObject {
    Q_OBJECT

private slots:
    void assertionBoxShowsTheReportUnderTheProgramsName() {
        QString caption, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        whenShown<QMessageBox>([&](QMessageBox* box) {
            caption = box->windowTitle();
            text = box->text();
            icon = box->icon();
            box->accept();
        });
        show_assertion_box("Assertion failed: stc_cnt>0, file parag, line 45");
        QCOMPARE(caption, QStringLiteral("qt_platform_test"));
        QCOMPARE(text, QStringLiteral("Assertion failed: stc_cnt>0, file parag, line 45"));
        QCOMPARE(icon, QMessageBox::Critical);
    }

    void boxesShowTheirTextAsPlainText() {
        // A file name, a lyric or a history row quoted in a box is shown as typed: a first
        // line holding a tag would otherwise be taken for markup and its tags hidden.
        const std::string hostile = "<b>x</b><img src=/etc/passwd>.mid 无法写入";
        const std::vector<std::pair<const char*, std::function<void()>>> boxes{
            {"message", [&] { QtMessageBox(nullptr).show(hostile, "提示"); }},
            {"error", [&] { QtMessageBox(nullptr).error(hostile, "错误"); }},
            {"replace", [&] { QtExportDialogs(nullptr).confirm_replace(hostile); }},
            {"export failure", [&] { QtExportDialogs(nullptr).tell_failure(hostile); }},
            {"assertion", [&] { show_assertion_box(hostile); }},
        };
        for (const auto& [name, show] : boxes) {
            Qt::TextFormat format = Qt::AutoText;
            QString text;
            whenShown<QMessageBox>([&](QMessageBox* box) {
                format = box->textFormat();
                text = box->text();
                box->done(QMessageBox::No);
            });
            show();
            QVERIFY2(format == Qt::PlainText, name);
            QVERIFY2(text.contains(QStringLiteral("<b>x</b>")), name);
        }
    }

    void assertionOnAWorkerIsShownByTheWindowsThread() {
        // Widgets belong to the window's thread: a check failing on a worker has its box
        // shown there, and the worker waits until the user has closed it.
        const QThread* shown_on = nullptr;
        QString text;
        std::atomic<bool> returned{false};
        bool returned_before_closed = false;
        whenShown<QMessageBox>([&](QMessageBox* box) {
            shown_on = QThread::currentThread();
            text = box->text();
            QTest::qWait(50);
            returned_before_closed = returned;
            box->accept();
        });
        std::thread worker([&] {
            show_assertion_box("Assertion failed: cnt1==cnt2, file song, line 214");
            returned = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(returned, 10000);
        worker.join();
        QCOMPARE(shown_on, qApp->thread());
        QCOMPARE(text, QStringLiteral("Assertion failed: cnt1==cnt2, file song, line 214"));
        QVERIFY(!returned_before_closed);
    }

    void waitsLetTheWindowPaint() {
        // The commands' two-second waits: the time passes in full while the window's
        // timers and queued calls (a player's word, the history's notices) go on.
        TickWatch watch;
        QTest::qWait(20);
        watch.restart();
        bool queued_ran = false;
        QMetaObject::invokeMethod(
            qApp, [&] { queued_ran = true; }, Qt::QueuedConnection);
        QElapsedTimer waited;
        waited.start();
        QtSleeper().sleep_ms(400);
        const qint64 took = waited.elapsed();
        const qint64 late = watch.worstLateMs();
        qInfo("a wait of 400 ms took %lld ms; the timer was at most %lld ms late", took, late);
        QVERIFY2(took >= 400, qPrintable(QString::number(took)));
        QVERIFY2(late < kBlockedMs, qPrintable(QStringLiteral("blocked for %1 ms").arg(late)));
        QVERIFY(watch.ticks() > 10);
        QVERIFY(queued_ran);
    }

    void workRunsOnAThreadOfItsOwnWhileTheWindowPaints() {
        TickWatch watch;
        QTest::qWait(20);
        watch.restart();
        std::thread::id ran_on;
        QtWorkRunner runner;
        runner.run([&] {
            ran_on = std::this_thread::get_id();
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        });
        const qint64 late = watch.worstLateMs();
        QVERIFY(ran_on != std::this_thread::get_id());
        QVERIFY2(late < kBlockedMs, qPrintable(QStringLiteral("blocked for %1 ms").arg(late)));
        QVERIFY(watch.ticks() > 10);
        // What the work throws is thrown to the command, for the window's error box.
        bool caught = false;
        try {
            runner.run([] { throw std::runtime_error("no memory left"); });
        } catch (const std::runtime_error& error) {
            caught = std::string(error.what()) == "no memory left";
        }
        QVERIFY(caught);
    }

    void linkThatNoBrowserOpensIsShownAsSelectableText_data() {
        QTest::addColumn<QString>("opener");  // the xdg-open found on the PATH
        QTest::addColumn<bool>("told");
        QTest::newRow("no xdg-open at all") << QString() << true;
        QTest::newRow("no browser configured") << QStringLiteral("exit 3") << true;
        QTest::newRow("browser opened it") << QStringLiteral("exit 0") << false;
    }

    void linkThatNoBrowserOpensIsShownAsSelectableText() {
        QFETCH(QString, opener);
        QFETCH(bool, told);
        const ScratchDir bin;
        if (!opener.isEmpty()) {
            write_file(bin.path() / "xdg-open", "#!/bin/sh\n" + opener.toStdString() + "\n");
            fs::permissions(bin.path() / "xdg-open", fs::perms::owner_all);
        }
        const EnvGuard path("PATH", bin.path().string());
        QWidget window;
        DesktopLinkOpener link(&window);
        link.open_url("https://quavella.example.org");
        // The opener runs in the background; the window is told when it has ended.
        QTRY_VERIFY_WITH_TIMEOUT(window.findChildren<QProcess*>().isEmpty(), 10000);
        QMessageBox* box = nullptr;
        if (told) {
            QTRY_VERIFY_WITH_TIMEOUT((box = linkFailureBox()) != nullptr, 5000);
            QVERIFY(box->text().contains(QStringLiteral("https://quavella.example.org")));
            const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            QVERIFY(label != nullptr);
            QVERIFY(label->textInteractionFlags() & Qt::TextSelectableByMouse);
            box->accept();
        } else {
            QCoreApplication::processEvents();
            QVERIFY(linkFailureBox() == nullptr);
        }
    }

    void saveDialogStaysResponsiveInAFolderOfBlockingFiles() {
        const ScratchDir folder;
        const std::string pipe = folder.file("pipe");
        QVERIFY(::mkfifo(pipe.c_str(), 0600) == 0);
        if (fs::exists("/dev/ptmx")) fs::create_symlink("/dev/ptmx", folder.path() / "device");
        // A MIDI file without a name extension: only reading it tells its type.
        write_file(folder.path() / "melody", std::string("MThd\0\0\0\6\0\1\0\2\0\x78", 14));

        // The heartbeat shows the event loop is running; should it stall, the watchdog
        // opens the pipe for writing, which ends any read blocked on it, so the test
        // fails instead of hanging.
        std::atomic<int> beats{0};
        std::atomic<bool> stalled{false}, done{false};
        QTimer heartbeat;
        connect(&heartbeat, &QTimer::timeout, [&] { ++beats; });
        heartbeat.start(20);
        std::thread watchdog([&] {
            int last = -1;
            auto since = std::chrono::steady_clock::now();
            while (!done) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                if (beats != last) {
                    last = beats;
                    since = std::chrono::steady_clock::now();
                } else if (std::chrono::steady_clock::now() - since > std::chrono::seconds(5)) {
                    stalled = true;
                    const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
                    if (fd >= 0) ::close(fd);
                    since = std::chrono::steady_clock::now();
                }
            }
        });

        QWidget window;
        QtSaveDialog save(&window);
        QString type_of_melody;
        int beats_while_listed = 0;
        whenShown<QFileDialog>([&](QFileDialog* dialog) {
            dialog->setDirectory(QString::fromStdString(folder.path().string()));
            auto* model = dialog->findChild<QFileSystemModel*>();
            auto* wait = new QTimer(dialog);
            const int start = beats;
            connect(wait, &QTimer::timeout, dialog, [&, dialog, model, wait, start] {
                const QModelIndex root = model->index(QString::fromStdString(folder.path()));
                const QModelIndex melody =
                    model->index(QString::fromStdString(folder.file("melody")));
                if (model->rowCount(root) < 1 || !melody.isValid() || beats - start < 10) return;
                wait->stop();
                type_of_melody = model->type(melody);
                beats_while_listed = beats - start;
                // Typed into the name box, as the user would.
                dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                    ->setText(QStringLiteral("song"));
                QMetaObject::invokeMethod(dialog, "accept");
            });
            wait->start(20);
        });
        const auto chosen = save.ask();
        done = true;
        watchdog.join();

        QVERIFY2(!stalled, "the event loop stalled while the dialog listed the folder");
        QVERIFY(beats_while_listed >= 10);
        QCOMPARE(chosen, std::optional<std::string>(folder.file("song")));
        QVERIFY2(!type_of_melody.contains(QStringLiteral("MIDI")),
                 qPrintable("the dialog read the file to type it: " + type_of_melody));

        // Nothing could be saved there: the next dialog starts elsewhere, with the name.
        save.save_failed();
        QString reopened_in, offered;
        whenShown<QFileDialog>([&](QFileDialog* dialog) {
            reopened_in = dialog->directory().absolutePath();
            const QStringList selected = dialog->selectedFiles();
            offered = selected.isEmpty() ? QString() : QFileInfo(selected.first()).fileName();
            dialog->reject();
        });
        QCOMPARE(save.ask(), std::nullopt);
        QVERIFY(reopened_in != QString::fromStdString(folder.path().string()));
        QCOMPARE(offered, QStringLiteral("song"));
    }

    void placementStaysWithinTheAvailableArea_data() {
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QPoint>("expected");
        QTest::newRow("centred") << QSize(729, 515) << QRect(0, 0, 1280, 900) << QPoint(275, 192);
        QTest::newRow("below a top panel")
            << QSize(600, 434) << QRect(0, 32, 1280, 868) << QPoint(340, 249);
        QTest::newRow("second screen")
            << QSize(729, 515) << QRect(1280, 0, 1920, 1080) << QPoint(1875, 282);
        // 1280x900 at scale factor 2 is 640x450: the window starts at the corner.
        QTest::newRow("larger than the area")
            << QSize(729, 515) << QRect(0, 0, 640, 450) << QPoint(0, 0);
        QTest::newRow("wider only") << QSize(729, 300) << QRect(0, 20, 640, 450) << QPoint(0, 95);
    }

    void placementStaysWithinTheAvailableArea() {
        QFETCH(QSize, frame);
        QFETCH(QRect, available);
        QFETCH(QPoint, expected);
        QCOMPARE(centredPosition(frame, available), expected);
    }
};

QTEST_MAIN(QtPlatformTest)
#include "qt_platform_test.moc"
