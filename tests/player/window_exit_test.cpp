// The main window with the real FluidSynth player: the program's exit while the soundfont
// still loads (closed through "退出" at once and destroyed, as main() does; a hang would
// leave the test to its time limit), and 播放 while it loads: the window's event loop
// answers throughout, the melody starts once the load is done, and a soundfont that never
// opens (a FIFO nobody writes) is reported in the window's error box after the deadline.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "app/player/fluid_player.h"
#include "app/windows/main_window.h"
#include "app/windows/score_window.h"
#include "tests/app/window_fakes.h"
#include "tests/support/files.h"
#include "tests/support/tick_watch.h"

namespace quavella {

namespace fs = std::filesystem;

class WindowExitTest : public QObject {
    Q_OBJECT

private slots:
    void closingWhileTheSoundfontLoadsEndsAtOnce() {
        for (int delay_ms : {0, 30}) {
            auto player = std::make_unique<FluidPlayer>();
            player->preload();
            WindowServices services;
            services.player = std::move(player);
            auto form = std::make_unique<TForm1>(std::move(services));
            form->show();
            QTest::qWait(delay_ms);
            auto* exit_button = form->findChild<QPushButton*>(QStringLiteral("suiButton8"));
            QVERIFY(exit_button != nullptr);
            QTest::mouseClick(exit_button, Qt::LeftButton);
            QVERIFY(!form->isVisible());
            form.reset();  // the window closes its player; the services then delete it
        }
    }

    // 播放 at once after the start, while the soundfont loads: the click returns at once
    // and a timer every 5 ms is never blocked by the load. The system's soundfont then
    // plays; a FIFO nobody writes is reported in the error box once the deadline passed,
    // and the next 播放 reports it at once.
    void playWhileTheSoundfontLoadsLeavesTheWindowAnswering() {
        const test::ScratchDir work(test::ScratchDir::Current::enter);
        const fs::path fifo = work.path() / "hung.sf2";
        QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
        for (const bool hung : {false, true}) {
            const QString row = hung ? QStringLiteral("FIFO") : QStringLiteral("system");
            FluidPlayer::Options options;
            options.drivers = std::vector<std::string>{"file"};
            options.load_deadline = std::chrono::milliseconds(1500);
            if (hung) options.soundfont = fifo.string();
            auto owned = std::make_unique<FluidPlayer>(options);
            FluidPlayer* player = owned.get();
            player->preload();
            test::EventLog log;
            test::WindowFakes fakes;
            WindowServices services = test::fake_window_services(log, fakes);
            services.player = std::move(owned);
            auto form = std::make_unique<TForm1>(std::move(services));
            form->show();
            QVERIFY(QTest::qWaitForWindowExposed(form.get()));
            form->findChild<QPlainTextEdit*>(QStringLiteral("RichEdit1"))
                ->setPlainText(
                    QStringLiteral("春眠不觉晓，处处闻啼鸟。\n夜来风雨声，花落知多少。"));
            QTest::mouseClick(form->findChild<QPushButton*>(QStringLiteral("suiButton1")),
                              Qt::LeftButton);
            QCOMPARE(log.back(), std::string("show:提示:作曲完成"));
            log.clear();

            test::TickWatch watch;
            QElapsedTimer click;
            click.start();
            auto* play = form->findChild<QPushButton*>(QStringLiteral("suiButton2"));
            QTest::mouseClick(play, Qt::LeftButton);
            const qint64 click_ms = click.elapsed();
            QVERIFY2(click_ms < test::kBlockedMs, qPrintable(row));
            if (hung) {
                QVERIFY(player->starting());
                QTRY_VERIFY_WITH_TIMEOUT(!log.empty(), 10000);
                QVERIFY2(click.elapsed() >= 500, qPrintable(QString::number(click.elapsed())));
                // The window's error box, with the player's reason.
                const std::string expected = ":没有可用的音色库，无法播放。\n查找的音色库：" +
                                             fifo.string() + "\n原因：2 秒内没能读取音色库";
                QVERIFY2(log[0].starts_with("error:") && log[0].find(expected) != std::string::npos,
                         log[0].c_str());
                QCOMPARE(log.size(), std::size_t(1));
                QCOMPARE(player->state(), FluidPlayer::State::stopped);
                // Reported at once from now on, through the same box.
                click.restart();
                QTest::mouseClick(play, Qt::LeftButton);
                QVERIFY(click.elapsed() < test::kBlockedMs);
                QCOMPARE(log.size(), std::size_t(2));
                QVERIFY(log[1] == log[0]);
            } else {
                QTRY_VERIFY_WITH_TIMEOUT(player->state() == FluidPlayer::State::playing, 10000);
                QVERIFY2(log.empty(), log.empty() ? "" : log[0].c_str());
                // The window hears of the start: the score follows the melody.
                QTRY_VERIFY_WITH_TIMEOUT(form->scoreWindow()->following(), 5000);
            }
            qInfo("%s: 播放 returned in %lld ms; the timer was at most %lld ms late",
                  qPrintable(row), click_ms, watch.worstLateMs());
            QVERIFY2(watch.worstLateMs() < test::kBlockedMs,
                     qPrintable(row + ": " + QString::number(watch.worstLateMs())));
            form.reset();
        }
        // Lets the load still waiting in open() go on, so that it ends with the test.
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace quavella

QTEST_MAIN(quavella::WindowExitTest)
#include "window_exit_test.moc"
