// The score window's audio export, which renders on a thread of its own: the window's
// event loop answers throughout, 取消 stops it at once leaving no file, no temporary and
// an existing file as it was, the progress reaches its end with a WAV of the melody's
// length, and closing or destroying the window stops it. The exports are real
// (FluidSynth, the system's soundfont); the other services are fakes.
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "app/windows/main_window.h"
#include "app/windows/score_window.h"
#include "app_fakes.h"
#include "notation/score.h"
#include "score_fixture.h"
#include "tests/support/files.h"
#include "tests/support/tick_watch.h"
#include "tests/support/tools.h"
#include "window_fakes.h"

using namespace quavella;
using namespace quavella::test;
namespace fs = std::filesystem;

namespace {

/// `count` quarter notes at 120 bpm (half a second each), twenty to a sentence.
ScoreSheet long_sheet(int count) {
    notation::Melody melody;
    for (int i = 0; i < count; ++i) {
        melody.notes.push_back(60 + (i * 5) % 13);
        melody.ticks.push_back(notation::kTicksPerBeat);
        notation::Lyric lyric;
        lyric.text = "啊";
        lyric.sentence = i / 20;
        lyric.sentence_end = i % 20 == 19 || i + 1 == count;
        melody.lyrics.push_back(lyric);
    }
    melody.tempo = 120;
    return make_sheet(notation::build_score(std::move(melody)), 1, 0, 0);
}

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

class AudioExportWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        dir = std::make_unique<ScratchDir>(ScratchDir::Current::enter);
        out = std::make_unique<ScratchDir>();
        ScoreWindow::settings().clear();
        log.clear();
        WindowFakes fakes;
        WindowServices services = fake_window_services(log, fakes);
        dialogs = fakes.export_dialogs;
        form = std::make_unique<TForm1>(std::move(services));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        score = form->scoreWindow();
    }

    void cleanup() {
        form.reset();
        out.reset();
        dir.reset();
    }

    // Twenty-five minutes of melody take seconds to render: meanwhile the window answers
    // (a timer every 5 ms is never blocked), the progress dialog shows the fraction, only
    // the exports are disabled; 取消 stops the render without waiting for its end.
    void theWindowAnswersWhileALongExportRunsAndCancelLeavesTheOldFile() {
        score->showSheet(long_sheet(3000));
        const fs::path target = out->path() / "long.wav";
        write_file(target, "old content");
        dialogs->files = {target.string()};
        dialogs->replace = true;

        test::TickWatch watch;
        QElapsedTimer call;
        call.start();
        score->exportAudio();
        const qint64 call_ms = call.elapsed();
        QVERIFY2(call_ms < test::kBlockedMs, qPrintable(QString::number(call_ms)));
        QVERIFY(score->exportingAudio());
        QCOMPARE(log.size(), std::size_t(2));
        QCOMPARE(log[1], "replace?:" + target.string());
        for (const char* name : {"exportAudio", "exportPdf", "exportMusicXml"}) {
            QVERIFY2(!score->findChild<QAction*>(QLatin1String(name))->isEnabled(), name);
        }
        QVERIFY(score->findChild<QAction*>(QStringLiteral("help"))->isEnabled());

        auto* progress = score->findChild<QProgressDialog*>(QStringLiteral("audioExportProgress"));
        QVERIFY(progress);
        QCOMPARE(progress->labelText(), QStringLiteral("正在导出音频…"));
        QTest::qWait(1500);
        QVERIFY2(score->exportingAudio(), "rendered in under 1.5 s: the melody is too short");
        QVERIFY(progress->isVisible());
        QVERIFY2(progress->value() > 0 && progress->value() < progress->maximum(),
                 qPrintable(QString::number(progress->value())));

        const int progress_at = progress->value();  // the dialog goes once the export ends
        const int maximum = progress->maximum();
        auto* cancel = progress->findChild<QPushButton*>();
        QVERIFY(cancel);
        QCOMPARE(cancel->text(), QStringLiteral("取消"));
        QElapsedTimer stopping;
        stopping.start();
        QTest::mouseClick(cancel, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!score->exportingAudio(), 2000);
        const qint64 stopped_ms = stopping.elapsed();
        qInfo(
            "after 1.5 s of rendering: progress %d of %d; 导出音频 returned in %lld ms; 取消 "
            "took %lld ms; the timer was at most %lld ms late over %d ticks",
            progress_at, maximum, call_ms, stopped_ms, watch.worstLateMs(), watch.ticks());
        QVERIFY2(stopped_ms < test::kBlockedMs, qPrintable(QString::number(stopped_ms)));
        QVERIFY2(watch.worstLateMs() < test::kBlockedMs,
                 qPrintable(QString::number(watch.worstLateMs())));
        QVERIFY(watch.ticks() > 100);

        QCOMPARE(read_file(target), std::string("old content"));
        QCOMPARE(names_in(out->path()), std::vector<std::string>{"long.wav"});
        QCOMPARE(log.size(), std::size_t(2));  // no failure told
        QVERIFY(score->statusBar()->currentMessage().startsWith(QStringLiteral("音频导出已取消")));
        QVERIFY(score->findChild<QAction*>(QStringLiteral("exportAudio"))->isEnabled());
    }

    // A short melody: the progress bar rises to its end, the status bar names the file,
    // and the WAV (read back by Python's wave module) holds the melody and its ring-out.
    void progressReachesTheEndAndTheWavHoldsTheMelody() {
        if (const std::string missing =
                missing_tool("/usr/bin/python3 -c 'import wave'", "python3", "python3");
            !missing.empty())
            QFAIL(missing.c_str());
        score->showSheet(make_sheet(hand_score(), 1, 0, 0));
        const fs::path target = out->path() / "hand.wav";
        dialogs->files = {target.string()};
        score->exportAudio();
        auto* progress = score->findChild<QProgressDialog*>(QStringLiteral("audioExportProgress"));
        QVERIFY(progress);
        std::vector<int> values;
        connect(progress->findChild<QProgressBar*>(), &QProgressBar::valueChanged,
                [&values](int value) { values.push_back(value); });
        QTRY_VERIFY_WITH_TIMEOUT(!score->exportingAudio(), 30000);
        QVERIFY(!values.empty());
        QVERIFY(std::is_sorted(values.begin(), values.end()));
        QCOMPARE(values.back(), 1000);
        QCOMPARE(score->statusBar()->currentMessage(),
                 QStringLiteral("已导出：%1").arg(QString::fromStdString(target.string())));

        const std::string info = shell_output(
            "/usr/bin/python3 -c 'import sys, wave; w = wave.open(sys.argv[1]); "
            "print(w.getnchannels(), w.getframerate(), w.getsampwidth(), w.getnframes())' " +
            shell_quoted(target.string()));
        int channels = 0, rate = 0, width = 0;
        long frames = 0;
        QCOMPARE(std::sscanf(info.c_str(), "%d %d %d %ld", &channels, &rate, &width, &frames), 4);
        QCOMPARE(channels, 2);
        QCOMPARE(rate, 44100);
        QCOMPARE(width, 2);
        // 1440 ticks at 112 bpm, then the last note rings out (at most ten seconds).
        const double music = 1440.0 / notation::kTicksPerBeat * 60 / 112;
        const double seconds = static_cast<double>(frames) / rate;
        QVERIFY2(seconds > music && seconds < music + 10, qPrintable(QString::number(seconds)));
        QCOMPARE(names_in(out->path()), std::vector<std::string>{"hand.wav"});
    }

    // Closing the score window stops the export; so does destroying the windows (the
    // program's end): no file, no temporary, no crash, nothing leaked.
    void closingOrDestroyingTheWindowStopsTheExport() {
        score->showSheet(long_sheet(3000));
        dialogs->files = {(out->path() / "a.wav").string()};
        score->exportAudio();
        QTest::qWait(300);
        QVERIFY(score->exportingAudio());
        score->close();
        QTRY_VERIFY_WITH_TIMEOUT(!score->exportingAudio(), 3000);
        QVERIFY(names_in(out->path()).empty());

        score->showInFront();
        dialogs->files = {(out->path() / "b.wav").string()};
        score->exportAudio();
        QTest::qWait(300);
        QVERIFY(score->exportingAudio());
        QElapsedTimer ending;
        ending.start();
        form.reset();
        QVERIFY2(ending.elapsed() < 1500, qPrintable(QString::number(ending.elapsed())));
        QVERIFY(names_in(out->path()).empty());
    }

    // An export that fails at once (its folder is missing) tells why with its progress
    // dialog gone: one that had not shown itself yet must not come up over the error
    // box, whose event loop runs meanwhile.
    void aFailedExportLeavesNoProgressOverItsErrorBox() {
        score->showSheet(make_sheet(hand_score(), 1, 0, 0));
        dialogs->files = {(out->path() / "no" / "such.wav").string()};
        bool progress_shown = false;
        dialogs->while_told = [&] {
            QEventLoop box;  // as QMessageBox's exec: no deferred deletion of the caller's
            QTimer::singleShot(1000, &box, &QEventLoop::quit);
            box.exec();
            for (const auto* progress : score->findChildren<QProgressDialog*>())
                progress_shown = progress_shown || progress->isVisible();
        };
        score->exportAudio();
        QTRY_VERIFY_WITH_TIMEOUT(!score->exportingAudio(), 10000);
        QVERIFY(log.back().rfind("failure:乐谱没有导出到 ", 0) == 0);
        QVERIFY(!progress_shown);
        dialogs->while_told = nullptr;
    }

private:
    std::unique_ptr<ScratchDir> dir;
    std::unique_ptr<ScratchDir> out;
    EventLog log;
    FakeExportDialogs* dialogs = nullptr;
    std::unique_ptr<TForm1> form;
    ScoreWindow* score = nullptr;
};

QTEST_MAIN(AudioExportWindowTest)
#include "audio_export_window_test.moc"
